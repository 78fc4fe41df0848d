#include "Server.h"

#include <QTcpSocket>

namespace pjlink {

Server::Server(const SessionRules &rules, Bridge &bridge, int maxConnections, QObject *parent)
    : QObject(parent), m_rules(rules), m_bridge(bridge), m_maxConnections(maxConnections) {
    connect(&m_server, &QTcpServer::newConnection, this, &Server::accept);
}

bool Server::listen(const QHostAddress &address, quint16 port, QString *error) {
    // Clients that connect for each command may come in bursts; beyond the kernel's queue
    // of unaccepted connections they would wait a whole second to try again.
    m_server.setListenBacklogSize(m_maxConnections);
    if (m_server.listen(address, port))
        return true;
    *error = m_server.errorString();
    return false;
}

QString Server::address() const { return endpointName(m_server.serverAddress(), m_server.serverPort()); }

void Server::accept() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = endpointName(socket->peerAddress(), socket->peerPort());
        if (m_open >= m_maxConnections) {
            emit event(QStringLiteral("connection from %1 refused: %2 connections open").arg(peer).arg(m_open));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        auto *session = new Session(socket, m_rules, m_bridge, this);
        connect(session, &Session::event, this, &Server::event);
        connect(session, &QObject::destroyed, this, [this] { --m_open; });
        emit event(QStringLiteral("connection from %1").arg(peer));
    }
}

} // namespace pjlink
