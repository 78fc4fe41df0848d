#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>

#include <optional>
#include <utility>
#include <variant>

// "127.0.0.1:4352", "0.0.0.0:4352", "[::1]:4352" (port 0 takes any free one), or "off".
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};
// Nothing for "off"; a string is what is wrong with the text.
std::variant<std::optional<ListenAddress>, QString> readListenAddress(const QString &text);

// An IPv4 address as itself where a dual-stack socket gives it as "::ffff:192.0.2.7".
QHostAddress plainAddress(const QHostAddress &address);

// "192.0.2.7:4352" or "[2001:db8::7]:4352", as the log names an address and port.
QString endpointName(const QHostAddress &address, quint16 port);

// An address and the length of its prefix: "192.0.2.0/24", "2001:db8::/32", "192.0.2.7".
using Subnet = std::pair<QHostAddress, int>;
// A comma-separated list of addresses and subnets; a string is what is wrong.
std::variant<QList<Subnet>, QString> readAllowList(const QString &text);

// The connections a front end accepts: no more than `total` at once, no more than
// `perAddress` from one address (loopback is one machine's own users, and exempt), and
// only from the allowed addresses when a list is given (loopback is always allowed).
struct ConnectionRules {
    int total = 64;
    int perAddress = 32;
    QList<Subnet> allowed; // empty: any address
    bool loopbackExempt = true;
};

// Listens for a front end's clients and turns away those its rules refuse before any byte is
// read from them. Accepted connections come out as QTcpServer's pending connections; each
// counts until its socket is destroyed.
class Listener : public QTcpServer {
    Q_OBJECT
public:
    Listener(QString frontEnd, ConnectionRules rules, QObject *parent = nullptr);

    // False with the reason when the address cannot be listened on.
    bool listenOn(const ListenAddress &address, QString *error);
    // "127.0.0.1:4352", the port as bound (so a port 0 shows the one chosen).
    QString address() const { return endpointName(serverAddress(), serverPort()); }
    int open() const { return m_open; }
    const QString &frontEnd() const { return m_frontEnd; }

signals:
    void openChanged(int open);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QString m_frontEnd;
    ConnectionRules m_rules;
    int m_open = 0;
    QHash<QString, int> m_byAddress;
};
