#pragma once

#include "Session.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace pjlink {

class Bridge;

// Listens for PJLink clients and gives each connection a Session, up to a bound.
class Server : public QObject {
    Q_OBJECT
public:
    Server(const SessionRules &rules, Bridge &bridge, int maxConnections, QObject *parent = nullptr);

    // False with the reason when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // "127.0.0.1:4352", the port as bound (so a port 0 shows the one chosen).
    QString address() const;

signals:
    void event(const QString &line);

private:
    void accept();

    QTcpServer m_server;
    SessionRules m_rules;
    Bridge &m_bridge;
    int m_maxConnections;
    int m_open = 0;
};

} // namespace pjlink
