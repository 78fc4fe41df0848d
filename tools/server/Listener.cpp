#include "Listener.h"

#include "Log.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

std::variant<std::optional<ListenAddress>, QString> readListenAddress(const QString &text) {
    if (text == QLatin1String("off"))
        return std::optional<ListenAddress>();
    const QString wrong = QStringLiteral("needs ADDRESS:PORT with a numeric address, e.g. 127.0.0.1:4352 or [::1]:4352, "
                                         "or off, not \"%1\"")
                              .arg(text);
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return wrong;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return wrong; // an IPv6 address needs its brackets
    bool ok = false;
    const QString portText = text.mid(colon + 1);
    const uint port = portText.toUInt(&ok);
    ListenAddress listen{QHostAddress(host), quint16(port)};
    if (!ok || port > 65535 || portText.isEmpty() || !portText.front().isDigit() || listen.address.isNull())
        return wrong;
    return std::optional<ListenAddress>(listen);
}

QHostAddress plainAddress(const QHostAddress &address) {
    // Only ::ffff:a.b.c.d: Qt's own conversion would also turn [::] and [::1] into IPv4.
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < 10; ++i)
        if (bytes[i] != 0)
            return address;
    if (bytes[10] != 0xff || bytes[11] != 0xff)
        return address;
    return QHostAddress(quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 | quint32(bytes[14]) << 8 | bytes[15]);
}

QString endpointName(const QHostAddress &address, quint16 port) {
    const QHostAddress plain = plainAddress(address);
    const QString host = plain.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(plain.toString())
                                                                           : plain.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

std::variant<QList<Subnet>, QString> readAllowList(const QString &text) {
    QList<Subnet> list;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString entry = item.trimmed();
        Subnet subnet = entry.contains(QLatin1Char('/')) ? QHostAddress::parseSubnet(entry)
                                                         : Subnet{QHostAddress(entry), -1};
        if (subnet.first.isNull())
            return QStringLiteral("\"%1\" is not an address or subnet (e.g. 192.0.2.7 or 192.0.2.0/24)").arg(entry);
        if (subnet.second < 0)
            subnet.second = subnet.first.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
        list << subnet;
    }
    if (list.isEmpty())
        return QStringLiteral("the allow-list is empty");
    return list;
}

Listener::Listener(QString frontEnd, ConnectionRules rules, QObject *parent)
    : QTcpServer(parent), m_frontEnd(std::move(frontEnd)), m_rules(std::move(rules)) {
    // Qt stops accepting for good when an accept fails for want of resources (no descriptor
    // left): every later client would hang unanswered. Try again a moment later instead.
    connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        logAt(logOf(m_frontEnd), QtWarningMsg,
              QStringLiteral("%1: cannot accept a connection: %2; trying again in a second")
                  .arg(m_frontEnd, errorString()));
        QTimer::singleShot(1000, this, &QTcpServer::resumeAccepting);
    });
}

bool Listener::listenOn(const ListenAddress &address, QString *error) {
    // Clients that connect for each command may come in bursts; beyond the kernel's queue
    // of unaccepted connections they would wait a whole second to try again.
    setListenBacklogSize(m_rules.total);
    if (listen(address.address, address.port))
        return true;
    *error = errorString();
    return false;
}

void Listener::incomingConnection(qintptr descriptor) {
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    const QHostAddress peer = plainAddress(socket->peerAddress());
    const QString name = endpointName(peer, socket->peerPort());
    const QString key = peer.toString();
    const bool local = peer.isLoopback();
    QString refusal;
    if (!local && !m_rules.allowed.isEmpty() &&
        std::none_of(m_rules.allowed.begin(), m_rules.allowed.end(),
                     [&](const Subnet &subnet) { return peer.isInSubnet(subnet); }))
        refusal = QStringLiteral("not on the allow-list");
    else if (m_open >= m_rules.total)
        refusal = QStringLiteral("%1 connections open").arg(m_open);
    else if (!(local && m_rules.loopbackExempt) && m_byAddress.value(key) >= m_rules.perAddress)
        refusal = QStringLiteral("%1 connections open from that address").arg(m_byAddress.value(key));
    if (!refusal.isEmpty()) {
        logAt(logOf(m_frontEnd), QtWarningMsg,
              QStringLiteral("%1: connection from %2 refused: %3").arg(m_frontEnd, name, refusal));
        socket->abort();
        delete socket;
        return;
    }
    ++m_open;
    ++m_byAddress[key];
    connect(socket, &QObject::destroyed, this, [this, key] {
        --m_open;
        if (--m_byAddress[key] <= 0)
            m_byAddress.remove(key);
        emit openChanged(m_open);
    });
    addPendingConnection(socket);
    emit openChanged(m_open);
}
