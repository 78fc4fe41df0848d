#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <optional>

class QHostAddress;
class QTcpSocket;

namespace pjlink {

class Bridge;

struct SessionRules {
    QByteArray password; // empty: no authentication
    int idleMs = 30000;  // a connection that sends no command for this long is closed
};

// "192.0.2.7:4352" or "[2001:db8::7]:4352", as the log names an address and port.
QString endpointName(const QHostAddress &address, quint16 port);

// One PJLink connection: the greeting, the authentication on the first command, then
// one command at a time, each answered before the next line is read. Deletes itself
// (and its socket) once the connection is gone.
class Session : public QObject {
    Q_OBJECT
public:
    Session(QTcpSocket *socket, const SessionRules &rules, Bridge &bridge, QObject *parent = nullptr);

signals:
    // One line for the log, already naming the client.
    void event(const QString &line);

private:
    void readMore();
    std::optional<QByteArray> takeLine();
    void handle(QByteArray line);
    void answer(const QByteArray &header, const QByteArray &result);
    void drop(const QString &why);

    QTcpSocket *m_socket;
    const SessionRules &m_rules;
    Bridge &m_bridge;
    QString m_peer;
    QByteArray m_random; // set until the client has authenticated
    QByteArray m_inbox;  // received, not yet handled
    bool m_waiting = false;
    bool m_closing = false;
    QTimer m_idle;
};

} // namespace pjlink
