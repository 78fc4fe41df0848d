#pragma once

#include "Access.h"
#include "LineQueue.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QPointer>

#include <functional>
#include <memory>

class Events;
class Listener;
class Metrics;
class QTcpSocket;

// An answer to an HTTP request that may come later than the request's handler returns:
// the line takes its time. Sends nothing if the client has gone meanwhile.
class HttpReply {
public:
    HttpReply(QHttpServerResponder &&responder, QTcpSocket *socket);
    HttpReply(HttpReply &&) = default;
    ~HttpReply();

    void send(int status, const QByteArray &body, const QByteArray &contentType,
              const QList<std::pair<QByteArray, QByteArray>> &headers = {});
    void sendJson(int status, const QJsonObject &object);
    // {"error": "..."} with the status.
    void sendError(int status, const QString &why, const QList<std::pair<QByteArray, QByteArray>> &headers = {});

private:
    std::unique_ptr<QHttpServerResponder> m_responder;
    QPointer<QTcpSocket> m_socket;
};

// The HTTP API over the projector line: GET /api/status, POST /api/commands, the events
// WebSocket at /api/events and GET /metrics, with the access rules applied to every request.
// Further routes (the web page) are added with route().
class HttpFrontEnd : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Handler = std::function<void(const QHttpServerRequest &request, HttpReply reply)>;

    HttpFrontEnd(Listener &listener, HttpRules rules, LineQueue &queue, Events &events, Metrics &metrics,
                 QString port, QObject *parent = nullptr);
    ~HttpFrontEnd() override;

    // Takes the listener's connections; call once it listens.
    void serve();
    // `path` exactly, or every path under it when it ends in "/" ("/" itself is only "/").
    void route(const QByteArray &method, const QString &path, Handler handler);

    // The headers every answer carries.
    static QList<std::pair<QByteArray, QByteArray>> commonHeaders();

signals:
    void event(const QString &line);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void postCommand(const QHttpServerRequest &request, HttpReply reply);
    void acceptWebSockets();
    LineQueue::ClientId clientFor(const QHostAddress &address);
    void releaseClient(const QHostAddress &address);

    struct Route {
        QByteArray method;
        QString path;
        Handler handler;
    };

    Listener *m_listener;
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
};
