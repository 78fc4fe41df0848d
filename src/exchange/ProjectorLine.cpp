#include "exchange/ProjectorLine.h"

#include "exchange/ReplyReading.h"
#include "host/PortError.h"
#include "host/SerialComponent.h"

#include <QPointer>

#include <algorithm>

ProjectorLine::ProjectorLine(SerialComponent &port, int timeoutMs, QObject *parent)
    : QObject(parent), m_port(port), m_timeoutMs(timeoutMs) {
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, &ProjectorLine::timedOut);
    m_hold.setSingleShot(true);
    m_hold.setTimerType(Qt::PreciseTimer);
    connect(&m_hold, &QTimer::timeout, this, &ProjectorLine::endHold);
    connect(&m_port, &SerialComponent::OnComm, this, &ProjectorLine::charactersArrived);
    connect(&m_port, &SerialComponent::portLost, this, &ProjectorLine::lineFailed);
    connect(&m_port, &SerialComponent::writeFailed, this, &ProjectorLine::lineFailed);
}

ProjectorLine::~ProjectorLine() = default;

void ProjectorLine::send(const QString &command, Done done) {
    m_queue.push_back({command, std::move(done)});
    // From the event loop, so that `done` never runs inside this call.
    if (!m_current && !m_opening && !m_holding && !m_dispatchQueued) {
        m_dispatchQueued = true;
        QMetaObject::invokeMethod(this, &ProjectorLine::dispatch, Qt::QueuedConnection);
    }
}

void ProjectorLine::dispatch() {
    m_dispatchQueued = false;
    if (m_current || m_opening)
        return;
    if (m_queue.empty()) {
        emit idle();
        return;
    }
    if (m_holding)
        return; // endHold() dispatches
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    m_exchange = LineExchange{};
    m_exchange.command = m_current->command;

    if (m_port.portOpen() || !reopenWhenClosed) {
        writeCurrent();
        return;
    }
    m_opening = true;
    // The port may settle the open after this line is gone (a connection still under way
    // when the program stops); then there is no one left to tell.
    m_port.openAsync([this, alive = QPointer<ProjectorLine>(this)](const std::optional<PortError> &failure) {
        if (!alive)
            return;
        m_opening = false;
        if (failure) {
            m_exchange.failure = failure->detail();
            finish();
            return;
        }
        writeCurrent();
    });
}

void ProjectorLine::writeCurrent() {
    try {
        // Whatever came before this command is nobody's reply.
        if (m_port.portOpen())
            if (const QString before = m_port.input(); !before.isEmpty())
                emit discarded(before);
        const QString text = m_exchange.command + QLatin1Char('\r');
        m_clock.start();
        m_port.setOutput(text);
        m_exchange.sent = text;
    } catch (const PortError &error) {
        m_exchange.failure = error.detail();
        finish();
        return;
    }
    m_timeout.start(m_timeoutMs);
}

void ProjectorLine::charactersArrived() {
    if (m_port.commEvent() != SerialComponent::comEvReceive)
        return;
    QString piece;
    try {
        piece = m_port.input();
    } catch (const PortError &) {
        return; // the loss is reported on its own
    }
    if (piece.isEmpty())
        return;
    if (!m_current || m_opening) {
        lateCharacters(piece);
        return;
    }
    const qsizetype before = m_exchange.reply.size();
    m_exchange.reply += piece;
    const qsizetype end = replyLength(m_exchange.reply);
    if (end == 0) {
        if (m_exchange.reply.size() <= maxReplyLength)
            return;
        m_exchange.reply.truncate(maxReplyLength);
        m_exchange.problem = ExchangeProblem::tooLong;
        m_exchange.failure =
            QStringLiteral("%1 sent more than %2 characters without ending its reply.").arg(m_port.deviceName()).arg(maxReplyLength);
        m_exchange.elapsedUs = m_clock.nsecsElapsed() / 1000;
        holdBack();
        finish();
        return;
    }
    m_exchange.reply.truncate(end);
    m_exchange.answered = true;
    m_exchange.elapsedUs = m_clock.nsecsElapsed() / 1000;
    if (const qsizetype behind = before + piece.size() - end; behind > 0)
        emit discarded(piece.right(behind)); // anything behind the end belongs to no command
    finish();
}

void ProjectorLine::timedOut() {
    if (!m_current)
        return;
    m_exchange.elapsedUs = m_clock.nsecsElapsed() / 1000;
    holdBack();
    finish();
}

void ProjectorLine::holdBack() {
    m_holding = true;
    m_lateReplyEnded = false;
    m_holdEnd.setRemainingTime(m_timeoutMs, Qt::PreciseTimer);
    m_hold.start(m_timeoutMs);
}

void ProjectorLine::lateCharacters(const QString &piece) {
    emit discarded(piece);
    if (!m_holding)
        return;
    if (piece.contains(QChar(u'\r')) || piece.contains(QChar(u'\x06')))
        m_lateReplyEnded = true;
    // Once a late reply has ended, a short quiet is enough; anything else waits the hold out.
    if (m_lateReplyEnded)
        m_hold.start(int(std::min<qint64>(quietAfterLateReplyMs, m_holdEnd.remainingTime())));
}

void ProjectorLine::endHold() {
    m_holding = false;
    m_hold.stop();
    if (!m_current && !m_opening && !m_queue.empty())
        dispatch();
}

void ProjectorLine::lineFailed(const QString &reason) {
    if (m_holding && !m_current)
        endHold(); // the commands waiting fail now (or reopen the port), rather than after the hold
    if (!m_current || m_opening)
        return;
    m_exchange.failure = reason;
    m_exchange.elapsedUs = m_clock.isValid() ? m_clock.nsecsElapsed() / 1000 : 0;
    finish();
}

void ProjectorLine::finish() {
    m_timeout.stop();
    const Waiting done = std::move(*m_current);
    m_current.reset();
    LineExchange exchange = m_exchange;
    decodeExchange(exchange, m_timeoutMs);
    const QPointer<ProjectorLine> alive(this);
    if (done.done)
        done.done(exchange);
    if (alive)
        dispatch();
}
