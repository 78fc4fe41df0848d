#include "Session.h"

#include "Bridge.h"
#include "Mapping.h"
#include "Protocol.h"

#include <QPointer>
#include <QTcpSocket>

namespace pjlink {

QString endpointName(const QHostAddress &address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

Session::Session(QTcpSocket *socket, const SessionRules &rules, Bridge &bridge, QObject *parent)
    : QObject(parent), m_socket(socket), m_rules(rules), m_bridge(bridge),
      m_peer(endpointName(socket->peerAddress(), socket->peerPort())) {
    socket->setParent(this);
    // Bytes beyond this stay with the kernel (and the client) until the lines before them
    // are answered, so a client cannot make the bridge hold more than this for it.
    socket->setReadBufferSize(4096);
    connect(socket, &QTcpSocket::readyRead, this, &Session::readMore);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this,
            [this] { drop(QStringLiteral("closed: no command for %1 s").arg(m_rules.idleMs / 1000)); });
    if (!rules.password.isEmpty())
        m_random = freshRandom();
    m_socket->write(greeting(m_random));
    m_idle.start(m_rules.idleMs);
}

void Session::readMore() {
    while (!m_waiting && !m_closing) {
        const std::optional<QByteArray> line = takeLine();
        if (!line)
            return;
        handle(*line);
    }
}

std::optional<QByteArray> Session::takeLine() {
    // The first line also carries the digest when a password is set.
    const qsizetype longest = maxLineLength + (m_random.isEmpty() ? 0 : digestLength);
    for (;;) {
        // Clients that end their lines with CR LF leave an LF in front of the next one.
        while (m_inbox.startsWith('\n'))
            m_inbox.remove(0, 1);
        const qsizetype end = m_inbox.indexOf('\r');
        if (end >= 0 && end < longest) {
            const QByteArray line = m_inbox.left(end);
            m_inbox.remove(0, end + 1);
            return line;
        }
        if (end >= 0 || m_inbox.size() >= longest) {
            drop(QStringLiteral("closed: a line longer than %1 bytes").arg(maxLineLength));
            return std::nullopt;
        }
        const QByteArray more = m_socket->read(longest);
        if (more.isEmpty())
            return std::nullopt;
        m_inbox += more;
    }
}

void Session::handle(QByteArray line) {
    if (line.isEmpty())
        return;
    if (!m_random.isEmpty()) {
        if (!digestMatches(QByteArrayView(line).first(std::min(line.size(), digestLength)),
                           digestFor(m_random, m_rules.password))) {
            m_socket->write(authenticationError.toByteArray());
            drop(QStringLiteral("authentication refused"));
            return;
        }
        m_random.clear();
        line.remove(0, digestLength);
    }
    const CommandLine command = readCommandLine(line);
    if (command.verdict == CommandLine::Verdict::unreadable) {
        drop(QStringLiteral("closed: not a PJLink command"));
        return;
    }
    const Row *row =
        command.verdict == CommandLine::Verdict::command ? findRow(command.name, command.parameter) : nullptr;
    if (!row) {
        const bool outOfRange = command.verdict == CommandLine::Verdict::command && isKnownCommand(command.name);
        answer(command.header, outOfRange ? "ERR2" : "ERR1");
        return;
    }
    if (!row->needsLine()) {
        answer(command.header, m_bridge.answerAtOnce(*row));
        return;
    }
    m_waiting = true;
    m_idle.stop();
    const QPointer<Session> alive(this);
    const bool queued = m_bridge.request(*row, this, [alive, header = command.header](const QByteArray &result) {
        if (!alive)
            return;
        alive->m_waiting = false;
        alive->answer(header, result);
        alive->readMore();
    });
    if (!queued) {
        m_waiting = false;
        answer(command.header, "ERR3"); // the line is too busy to wait for
    }
}

void Session::answer(const QByteArray &header, const QByteArray &result) {
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return; // the client left while the projector answered
    m_socket->write(answerLine(header, result));
    m_idle.start(m_rules.idleMs);
}

void Session::drop(const QString &why) {
    emit event(QStringLiteral("%1: %2").arg(m_peer, why));
    m_closing = true;
    m_idle.stop();
    m_socket->disconnectFromHost(); // after what is written has gone out
}

} // namespace pjlink
