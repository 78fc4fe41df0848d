#pragma once

#include "Access.h"
#include "LineQueue.h"
#include "Listener.h"
#include "PasswordGuard.h"
#include "Transport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>

class Events;
class Metrics;

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

// A request as the handlers see it.
struct HttpRequest {
    QByteArray method; // "GET"
    QByteArray target; // "/page/panel.js?v=2", as sent
    QString path;      // "/page/panel.js", decoded
    HttpHeaders headers;
    QByteArray body;
    QHostAddress peer; // an IPv4 client as itself
    quint16 peerPort = 0;
    bool upgrade = false; // asks for a WebSocket
    bool secure = false;  // came over TLS

    // The first header of that name, in any case; empty when absent.
    QByteArray value(const QByteArray &name) const;
};

// The one answer to a request; it may come later than the request's handler returns (the
// line takes its time). Sends nothing if the client has gone meanwhile, and a 500 if it is
// dropped unsent, so that the answers after it on the connection are not held up.
class HttpReply {
public:
    HttpReply(std::weak_ptr<http::Transport> transport, quint64 connection, quint64 sequence);
    HttpReply(HttpReply &&other) noexcept;
    HttpReply &operator=(HttpReply &&) = delete;
    ~HttpReply();

    void send(int status, const QByteArray &body, const QByteArray &contentType, const HttpHeaders &headers = {});
    void sendJson(int status, const QJsonObject &object);
    // {"error": "..."} with the status.
    void sendError(int status, const QString &why, const HttpHeaders &headers = {});
    // Grants a WebSocket upgrade; the connection becomes the socket `connection()`.
    void acceptWebSocket();

    quint64 connection() const { return m_connection; }
    const std::weak_ptr<http::Transport> &transport() const { return m_transport; }

private:
    std::weak_ptr<http::Transport> m_transport;
    quint64 m_connection = 0;
    quint64 m_sequence = 0;
    bool m_done = false;
};

// The HTTP API over the projector line: GET /api/status, POST /api/commands, the events
// WebSocket at /api/events and GET /metrics, with the access rules applied to every request.
// Further routes (the web page) are added with route(). The connections themselves are the
// transport's, on its own thread.
class HttpFrontEnd : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const HttpRequest &request, HttpReply reply)>;

    HttpFrontEnd(ConnectionRules connections, http::Limits limits, HttpRules rules, LineQueue &queue, Events &events,
                 Metrics &metrics, QString port, QObject *parent = nullptr);
    ~HttpFrontEnd() override;

    // HTTPS alone from listen() on; false with the reason when the certificate or key cannot be used.
    bool serveTls(const http::Tls &tls, QString *error) { return m_transport->serveTls(tls, error); }
    // False with the reason when the address cannot be listened on.
    bool listen(const ListenAddress &address, QString *error);
    // "127.0.0.1:8735" as bound; empty before listen().
    QString address() const { return m_transport->address(); }
    // Connections open now, events sockets included.
    int open() const { return m_transport->open(); }

    // `path` exactly, or every path under it when it ends in "/" ("/" itself is only "/").
    void route(const QByteArray &method, const QString &path, Handler handler);

    // The headers every answer carries.
    static HttpHeaders commonHeaders();
    // How long a session opened with POST /api/session lasts.
    static constexpr int sessionSeconds = 24 * 3600;

    PasswordGuard &guard() { return m_guard; }


private:
    void drain();
    void handle(const HttpRequest &request, HttpReply reply);
    void upgrade(const HttpRequest &request, HttpReply reply);
    void postCommand(const HttpRequest &request, HttpReply reply);
    // Who sent it: the peer, or behind a proxy on loopback the address the proxy added.
    QHostAddress clientOf(const HttpRequest &request) const;
    HttpRequestFacts factsOf(const HttpRequest &request, const QHostAddress &client) const;
    // False once it has answered 429: the address is waiting out its delay.
    bool passesGuard(const HttpRequestFacts &facts, const QHostAddress &client, HttpReply &reply);
    void openSession(const HttpRequest &request, HttpReply reply);
    void endSession(const HttpRequest &request, HttpReply reply);
    LineQueue::ClientId clientFor(const QHostAddress &address);
    void releaseClient(const QHostAddress &address);

    struct Route {
        QByteArray method;
        QString path;
        Handler handler;
    };

    HttpRules m_rules;
    LineQueue &m_queue;
    Events &m_events;
    Metrics &m_metrics;
    QString m_port;
    QList<Route> m_routes;
    // One queue client per address, for as long as it has requests under way.
    struct AddressClient {
        LineQueue::ClientId id;
        int requests = 0;
    };
    QHash<QString, AddressClient> m_clients;
    PasswordGuard m_guard{QStringLiteral("http")};
    QElapsedTimer m_clock;
    QHash<QByteArray, qint64> m_sessions; // cookie value, and when it expires on m_clock
    std::shared_ptr<http::Transport> m_transport;
};
