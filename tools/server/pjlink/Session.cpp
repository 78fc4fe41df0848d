#include "Session.h"

#include "Bridge.h"
#include "Listener.h"
#include "Log.h"
#include "Mapping.h"
#include "Protocol.h"

#include <QPointer>
#include <QTcpSocket>

namespace pjlink {

Session::Session(LineConnection *connection, const SessionRules &rules, Bridge &bridge, LineQueue &queue,
                 PasswordGuard &guard)
    : QObject(connection), m_connection(connection), m_rules(rules), m_bridge(bridge), m_queue(queue), m_guard(guard),
      m_client(queue.addClient(QStringLiteral("pjlink"), connection->peer(), connection->address())) {
    if (!rules.password.isEmpty()) {
        m_random = freshRandom();
        connection->setFirstLineAllowance(digestLength);
    }
    connect(connection, &LineConnection::lineReceived, this, &Session::handle);
    connection->send(greeting(m_random));
    connection->start();
}

Session::~Session() { m_queue.removeClient(m_client); }

void Session::handle(QByteArray line) {
    if (!m_random.isEmpty()) {
        // While the address is being slowed, the connection waits, without a word, for its turn.
        m_guard.whenFree(m_connection->address(), this, [this, line] { authenticate(line); });
        return;
    }
    const CommandLine command = readCommandLine(line);
    if (command.verdict == CommandLine::Verdict::unreadable) {
        m_connection->close(QStringLiteral("closed: not a PJLink command"));
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
    const QPointer<Session> alive(this);
    const bool queued = m_bridge.request(*row, m_client, [alive, header = command.header](const QByteArray &result) {
        if (alive)
            alive->answer(header, result);
    });
    if (!queued)
        answer(command.header, "ERR3"); // the line is too busy to wait for
}

void Session::authenticate(QByteArray line) {
    if (!digestMatches(QByteArrayView(line).first(std::min(line.size(), digestLength)),
                       digestFor(m_random, m_rules.password))) {
        m_guard.failed(m_connection->address());
        m_connection->send(authenticationError.toByteArray());
        m_connection->close({}); // the guard logs wrong passwords, a line a minute at most
        return;
    }
    m_guard.succeeded(m_connection->address());
    m_random.clear();
    line.remove(0, digestLength);
    handle(std::move(line));
}

void Session::answer(const QByteArray &header, const QByteArray &result) {
    m_connection->send(answerLine(header, result));
    m_connection->lineDone();
}

FrontEnd::FrontEnd(Listener &listener, SessionRules rules, Bridge &bridge, LineQueue &queue, QObject *parent)
    : QObject(parent), m_listener(listener), m_rules(std::move(rules)), m_bridge(bridge), m_queue(queue) {
    connect(&listener, &QTcpServer::newConnection, this, &FrontEnd::accept);
}

void FrontEnd::accept() {
    while (QTcpSocket *socket = m_listener.nextPendingConnection()) {
        auto *connection = new LineConnection(socket, m_rules.limits, this);
        connect(connection, &LineConnection::event, this, [](QtMsgType level, const QString &line) {
            logAt(logPjlink(), level, QStringLiteral("pjlink: %1").arg(line));
        });
        qCInfo(logPjlink).noquote() << QStringLiteral("pjlink: connection from %1").arg(connection->peer());
        new Session(connection, m_rules, m_bridge, m_queue, m_guard);
    }
}

} // namespace pjlink
