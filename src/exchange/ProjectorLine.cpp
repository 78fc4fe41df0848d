#include "exchange/ProjectorLine.h"

#include "exchange/ReplyReading.h"
#include "host/PortError.h"
#include "host/SerialComponent.h"

#include <QPointer>

ProjectorLine::ProjectorLine(SerialComponent &port, int timeoutMs, QObject *parent)
    : QObject(parent), m_port(port), m_timeoutMs(timeoutMs) {
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, &ProjectorLine::timedOut);
    connect(&m_port, &SerialComponent::OnComm, this, &ProjectorLine::charactersArrived);
    connect(&m_port, &SerialComponent::portLost, this, &ProjectorLine::lineFailed);
    connect(&m_port, &SerialComponent::writeFailed, this, &ProjectorLine::lineFailed);
}

ProjectorLine::~ProjectorLine() = default;

void ProjectorLine::send(const QString &command, Done done) {
    m_queue.push_back({command, std::move(done)});
    // From the event loop, so that `done` never runs inside this call.
    if (!m_current && !m_opening && !m_dispatchQueued) {
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
            (void)m_port.input();
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
    if (!m_current || m_opening)
        return;
    m_exchange.reply += piece;
    const qsizetype end = replyLength(m_exchange.reply);
    if (end == 0)
        return;
    m_exchange.reply.truncate(end); // anything behind the end belongs to no command
    m_exchange.answered = true;
    m_exchange.elapsedUs = m_clock.nsecsElapsed() / 1000;
    finish();
}

void ProjectorLine::timedOut() {
    if (!m_current)
        return;
    m_exchange.elapsedUs = m_clock.nsecsElapsed() / 1000;
    finish();
}

void ProjectorLine::lineFailed(const QString &reason) {
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
    const LineExchange exchange = m_exchange;
    const QPointer<ProjectorLine> alive(this);
    if (done.done)
        done.done(exchange);
    if (alive)
        dispatch();
}
