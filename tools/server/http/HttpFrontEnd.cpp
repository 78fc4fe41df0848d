#include "HttpFrontEnd.h"

#include "exchange/CommandWords.h"
#include "Events.h"
#include "Listener.h"
#include "Metrics.h"
#include "exchange/CommandOutcome.h"

#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QWebSocket>

namespace {

// A command as JSON is a few dozen bytes.
constexpr qsizetype largestBody = 4096;

QByteArray methodName(QHttpServerRequest::Method method) {
    return QByteArray(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method))).toUpper();
}

} // namespace

HttpReply::HttpReply(QHttpServerResponder &&responder, QTcpSocket *socket)
    : m_responder(std::make_unique<QHttpServerResponder>(std::move(responder))), m_socket(socket) {}

HttpReply::~HttpReply() = default;

void HttpReply::send(int status, const QByteArray &body, const QByteArray &contentType,
                     const QList<std::pair<QByteArray, QByteArray>> &headers) {
    if (!m_responder || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_responder->writeStatusLine(QHttpServerResponder::StatusCode(status));
    for (const auto &[name, value] : HttpFrontEnd::commonHeaders())
        m_responder->writeHeader(name, value);
    for (const auto &[name, value] : headers)
        m_responder->writeHeader(name, value);
    m_responder->writeHeader("Content-Type", contentType);
    m_responder->writeHeader("Content-Length", QByteArray::number(body.size()));
    m_responder->writeBody(body);
    m_responder.reset();
}

void HttpReply::sendJson(int status, const QJsonObject &object) {
    send(status, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', "application/json");
}

void HttpReply::sendError(int status, const QString &why, const QList<std::pair<QByteArray, QByteArray>> &headers) {
    send(status, QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}).toJson(QJsonDocument::Compact) + '\n',
         "application/json", headers);
}

QList<std::pair<QByteArray, QByteArray>> HttpFrontEnd::commonHeaders() {
    return {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}};
}

HttpFrontEnd::HttpFrontEnd(Listener &listener, HttpRules rules, LineQueue &queue, Events &events, Metrics &metrics,
                           QString port, QObject *parent)
    : QAbstractHttpServer(parent), m_rules(std::move(rules)), m_queue(queue), m_events(events), m_metrics(metrics),
      m_port(std::move(port)) {
    m_listener = &listener;
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &HttpFrontEnd::acceptWebSockets);

    route("GET", QStringLiteral("/api/status"),
          [this](const QHttpServerRequest &, HttpReply reply) { reply.sendJson(200, m_events.status()); });
    route("POST", QStringLiteral("/api/commands"),
          [this](const QHttpServerRequest &request, HttpReply reply) { postCommand(request, std::move(reply)); });
    route("GET", QStringLiteral("/metrics"), [this](const QHttpServerRequest &, HttpReply reply) {
        reply.send(200, m_metrics.render(), "text/plain; version=0.0.4; charset=utf-8");
    });
}

HttpFrontEnd::~HttpFrontEnd() {
    for (const AddressClient &client : std::as_const(m_clients))
        m_queue.removeClient(client.id);
}

void HttpFrontEnd::serve() { bind(m_listener); }

void HttpFrontEnd::route(const QByteArray &method, const QString &path, Handler handler) {
    m_routes.append({method, path, std::move(handler)});
}

bool HttpFrontEnd::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    // The server hands a WebSocket handshake here as well before it upgrades the connection;
    // an answer now would spoil the handshake. acceptWebSockets() judges it.
    if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    const HttpRequestFacts facts{methodName(request.method()), request.url().path(),
                                 plainAddress(request.remoteAddress()).isLoopback(), request.value("Host"),
                                 request.value("Origin"), request.value("Authorization")};
    HttpReply reply(makeResponder(request, socket), socket);
    const HttpVerdict verdict = judge(m_rules, facts);
    if (verdict.status != 0) {
        if (verdict.status != 421)
            emit event(QStringLiteral("http: %1 %2 from %3 refused: %4")
                           .arg(QString::fromLatin1(facts.method), facts.path,
                                plainAddress(request.remoteAddress()).toString(), verdict.reason));
        reply.sendError(verdict.status, verdict.reason,
                        verdict.askForPassword
                            ? QList<std::pair<QByteArray, QByteArray>>{{"WWW-Authenticate",
                                                                        "Basic realm=\"tavo-server\", charset=\"UTF-8\""}}
                            : QList<std::pair<QByteArray, QByteArray>>{});
        return true;
    }
    bool pathKnown = false;
    for (const Route &route : std::as_const(m_routes)) {
        const bool under = route.path.size() > 1 && route.path.endsWith(QLatin1Char('/'));
        const bool matches = under ? facts.path.startsWith(route.path) : facts.path == route.path;
        if (!matches)
            continue;
        pathKnown = true;
        if (route.method == facts.method || (facts.method == "HEAD" && route.method == "GET")) {
            route.handler(request, std::move(reply));
            return true;
        }
    }
    if (pathKnown)
        reply.sendError(405, QStringLiteral("%1 is not taken here").arg(QString::fromLatin1(facts.method)));
    else
        reply.sendError(404, QStringLiteral("nothing at %1").arg(facts.path));
    return true;
}

void HttpFrontEnd::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) {
    HttpReply(makeResponder(request, socket), socket).sendError(404, QStringLiteral("not found"));
}

LineQueue::ClientId HttpFrontEnd::clientFor(const QHostAddress &address) {
    AddressClient &client = m_clients[address.toString()];
    if (client.requests++ == 0)
        client.id = m_queue.addClient(QStringLiteral("http"), address.toString(), address);
    return client.id;
}

void HttpFrontEnd::releaseClient(const QHostAddress &address) {
    const auto found = m_clients.find(address.toString());
    if (found == m_clients.end() || --found->requests > 0)
        return;
    m_queue.removeClient(found->id);
    m_clients.erase(found);
}

void HttpFrontEnd::postCommand(const QHttpServerRequest &request, HttpReply reply) {
    if (!request.value("Content-Type").startsWith("application/json")) {
        reply.sendError(415, QStringLiteral("send the command as JSON: {\"command\": \"status\"}"));
        return;
    }
    const QByteArray body = request.body();
    if (body.size() > largestBody) {
        reply.sendError(413, QStringLiteral("a command is at most %1 bytes of JSON").arg(largestBody));
        return;
    }
    const QJsonValue given = QJsonDocument::fromJson(body).object().value(QStringLiteral("command"));
    if (!given.isString()) {
        reply.sendError(400, QStringLiteral("send {\"command\": \"<action name or raw code>\"}"));
        return;
    }
    const auto commands = commandsFrom({given.toString()});
    if (const QString *error = std::get_if<QString>(&commands)) {
        reply.sendError(400, *error);
        return;
    }
    const Command command = std::get<QList<Command>>(commands).front();
    const QHostAddress address = plainAddress(request.remoteAddress());
    LineRequest lineRequest;
    lineRequest.commands = {command.code};
    auto shared = std::make_shared<HttpReply>(std::move(reply));
    lineRequest.done = [this, shared, command, address](const QList<LineExchange> &exchanges) {
        releaseClient(address);
        const Outcome outcome{m_port, command, exchanges.value(0), true, m_queue.line().timeoutMs()};
        shared->sendJson(200, jsonObject(outcome));
    };
    const LineQueue::Refusal refusal = m_queue.submit(clientFor(address), std::move(lineRequest));
    if (refusal != LineQueue::Refusal::none) {
        releaseClient(address);
        shared->sendError(refusal == LineQueue::Refusal::clientFull ? 429 : 503,
                          QStringLiteral("the projector line is too busy; try again"), {{"Retry-After", "1"}});
    }
}

void HttpFrontEnd::acceptWebSockets() {
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            break;
        const QNetworkRequest &handshake = socket->request();
        const HttpRequestFacts facts{"GET", socket->requestUrl().path(),
                                     plainAddress(socket->peerAddress()).isLoopback(), handshake.rawHeader("Host"),
                                     socket->origin().toLatin1(), handshake.rawHeader("Authorization")};
        HttpVerdict verdict = judge(m_rules, facts);
        // Reading the events is harmless, but a page of another site has no business here:
        // the socket also takes held buttons.
        if (verdict.status == 0 && !facts.origin.isEmpty() && facts.origin != "http://" + facts.host)
            verdict = {403, QStringLiteral("a page of another origin"), false};
        if (verdict.status == 0 && facts.path != QLatin1String("/api/events"))
            verdict = {404, QStringLiteral("no events at %1").arg(facts.path), false};
        if (verdict.status != 0) {
            emit event(QStringLiteral("http: events socket from %1 refused: %2")
                           .arg(plainAddress(socket->peerAddress()).toString(), verdict.reason));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, verdict.reason);
            socket.release()->deleteLater();
            continue;
        }
        m_events.add(std::move(socket));
    }
}
