#pragma once

#include "LineConnection.h"
#include "LineQueue.h"
#include "PasswordGuard.h"

#include <QByteArray>
#include <QObject>

class Listener;

namespace pjlink {

class Bridge;

struct SessionRules {
    QByteArray password; // empty: no authentication
    LineLimits limits;   // lines of at most 136 bytes, closed after 30 s without a command
};

// One PJLink connection: the greeting, the authentication on the first command, then one
// command at a time, each answered before the next line is read. Lives as long as its
// connection.
class Session : public QObject {
    Q_OBJECT
public:
    Session(LineConnection *connection, const SessionRules &rules, Bridge &bridge, LineQueue &queue,
            PasswordGuard &guard);
    ~Session() override;

private:
    void handle(QByteArray line);
    void authenticate(QByteArray line);
    void answer(const QByteArray &header, const QByteArray &result);

    LineConnection *m_connection;
    const SessionRules &m_rules;
    Bridge &m_bridge;
    LineQueue &m_queue;
    PasswordGuard &m_guard;
    LineQueue::ClientId m_client;
    QByteArray m_random; // set until the client has authenticated
};

// Gives every connection the listener accepts a Session.
class FrontEnd : public QObject {
    Q_OBJECT
public:
    FrontEnd(Listener &listener, SessionRules rules, Bridge &bridge, LineQueue &queue, QObject *parent = nullptr);
    SessionRules &rules() { return m_rules; }
    PasswordGuard &guard() { return m_guard; }

private:
    void accept();

    Listener &m_listener;
    SessionRules m_rules;
    Bridge &m_bridge;
    LineQueue &m_queue;
    PasswordGuard m_guard{QStringLiteral("pjlink")};
};

} // namespace pjlink
