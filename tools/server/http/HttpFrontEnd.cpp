#include "HttpFrontEnd.h"

#include "Events.h"
#include "Log.h"
#include "Metrics.h"

#include "exchange/CommandOutcome.h"
#include "exchange/CommandWords.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>

namespace {

// A command as JSON is a few dozen bytes.
constexpr qsizetype largestBody = 4096;
constexpr QByteArrayView sessionCookie = "tavo_session";
constexpr qsizetype mostSessions = 1024;

std::string standard(const QByteArray &bytes) { return std::string(bytes.constData(), std::size_t(bytes.size())); }
QByteArray qt(const std::string &text) { return QByteArray(text.data(), qsizetype(text.size())); }

HttpRequest fromTransport(http::Request &given) {
    HttpRequest request;
    request.method = qt(given.method);
    request.target = qt(given.target);
    request.path = QUrl::fromEncoded(request.target).path();
    for (const auto &[name, value] : given.headers)
        request.headers.append({qt(name), qt(value)});
    request.body = qt(given.body);
    request.peer = QHostAddress(QString::fromStdString(given.peer));
    request.peerPort = given.peerPort;
    request.upgrade = given.upgrade;
    request.secure = given.secure;
    return request;
}

} // namespace

QByteArray HttpRequest::value(const QByteArray &name) const {
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpReply::HttpReply(std::weak_ptr<http::Transport> transport, quint64 connection, quint64 sequence)
    : m_transport(std::move(transport)), m_connection(connection), m_sequence(sequence) {}

HttpReply::HttpReply(HttpReply &&other) noexcept
    : m_transport(std::move(other.m_transport)), m_connection(other.m_connection), m_sequence(other.m_sequence),
      m_done(other.m_done) {
    other.m_done = true;
}

HttpReply::~HttpReply() {
    if (!m_done)
        sendError(500, QStringLiteral("the request was dropped unanswered"));
}

void HttpReply::send(int status, const QByteArray &body, const QByteArray &contentType, const HttpHeaders &headers) {
    if (m_done)
        return;
    m_done = true;
    const auto transport = m_transport.lock();
    if (!transport)
        return;
    http::Response response;
    response.status = status;
    // A header given here takes the place of a common one of the same name.
    for (const auto &[name, value] : HttpFrontEnd::commonHeaders())
        if (std::none_of(headers.begin(), headers.end(),
                         [&](const auto &given) { return given.first.compare(name, Qt::CaseInsensitive) == 0; }))
            response.headers.emplace_back(standard(name), standard(value));
    for (const auto &[name, value] : headers)
        response.headers.emplace_back(standard(name), standard(value));
    response.headers.emplace_back("Content-Type", standard(contentType));
    response.body = standard(body);
    transport->answer(m_connection, m_sequence, std::move(response));
}

void HttpReply::sendJson(int status, const QJsonObject &object) {
    send(status, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', "application/json");
}

void HttpReply::sendError(int status, const QString &why, const HttpHeaders &headers) {
    send(status, QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}).toJson(QJsonDocument::Compact) + '\n',
         "application/json", headers);
}

void HttpReply::acceptWebSocket() {
    if (m_done)
        return;
    m_done = true;
    if (const auto transport = m_transport.lock())
        transport->accept(m_connection, m_sequence);
}

HttpHeaders HttpFrontEnd::commonHeaders() {
    return {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}};
}

HttpFrontEnd::HttpFrontEnd(ConnectionRules connections, http::Limits limits, HttpRules rules, LineQueue &queue,
                           Events &events, Metrics &metrics, QString port, QObject *parent)
    : QObject(parent), m_rules(std::move(rules)), m_queue(queue), m_events(events), m_metrics(metrics),
      m_port(std::move(port)) {
    // The transport's thread only wakes this one; what it hands over is taken here.
    m_transport = std::make_shared<http::Transport>(QStringLiteral("http"), std::move(connections), limits, [this] {
        QMetaObject::invokeMethod(this, &HttpFrontEnd::drain, Qt::QueuedConnection);
    });

    route("GET", QStringLiteral("/api/status"),
          [this](const HttpRequest &, HttpReply reply) { reply.sendJson(200, m_events.status()); });
    route("POST", QStringLiteral("/api/commands"),
          [this](const HttpRequest &request, HttpReply reply) { postCommand(request, std::move(reply)); });
    route("GET", QStringLiteral("/metrics"), [this](const HttpRequest &, HttpReply reply) {
        reply.send(200, m_metrics.render(), "text/plain; version=0.0.4; charset=utf-8");
    });
    route("POST", QStringLiteral("/api/session"),
          [this](const HttpRequest &request, HttpReply reply) { openSession(request, std::move(reply)); });
    route("DELETE", QStringLiteral("/api/session"),
          [this](const HttpRequest &request, HttpReply reply) { endSession(request, std::move(reply)); });
    m_clock.start();
}

HttpFrontEnd::~HttpFrontEnd() {
    m_transport.reset(); // every connection ends, and the transport's thread
    for (const AddressClient &client : std::as_const(m_clients))
        m_queue.removeClient(client.id);
}

bool HttpFrontEnd::listen(const ListenAddress &address, QString *error) { return m_transport->listen(address, error); }

void HttpFrontEnd::route(const QByteArray &method, const QString &path, Handler handler) {
    m_routes.append({method, path, std::move(handler)});
}

void HttpFrontEnd::drain() {
    for (http::Inbound &item : m_transport->take()) {
        switch (item.kind) {
        case http::Inbound::Kind::request: {
            HttpReply reply(m_transport, item.connection, item.request.sequence);
            const HttpRequest request = fromTransport(item.request);
            if (request.upgrade)
                upgrade(request, std::move(reply));
            else
                handle(request, std::move(reply));
            break;
        }
        case http::Inbound::Kind::message:
            m_events.received(item.connection, QString::fromUtf8(qt(item.text)));
            m_transport->taken(item.connection);
            break;
        case http::Inbound::Kind::closed:
            m_events.closed(item.connection);
            break;
        case http::Inbound::Kind::event:
            // The transport's own lines: connections refused or closed for misbehaving.
            qCWarning(logHttp).noquote() << QString::fromStdString(item.text);
            break;
        }
    }
}

QHostAddress HttpFrontEnd::clientOf(const HttpRequest &request) const {
    if (m_rules.publicOrigin.isEmpty() || !request.peer.isLoopback())
        return request.peer;
    // The proxy adds the address it was reached from at the end; what comes before it is
    // whatever the client chose to send.
    QByteArray forwarded;
    for (const auto &[name, value] : request.headers)
        if (name.compare("X-Forwarded-For", Qt::CaseInsensitive) == 0)
            forwarded = value;
    if (forwarded.isEmpty())
        return request.peer;
    const QHostAddress last(QString::fromLatin1(forwarded.split(',').last().trimmed()));
    return last.isNull() ? request.peer : plainAddress(last);
}

HttpRequestFacts HttpFrontEnd::factsOf(const HttpRequest &request, const QHostAddress &client) const {
    HttpRequestFacts facts{request.method, request.path, client.isLoopback(), request.value("Host"),
                           request.value("Origin"), request.value("Authorization")};
    if (request.secure)
        facts.scheme = "https";
    for (const QByteArray &pair : request.value("Cookie").split(';')) {
        const QByteArray cookie = pair.trimmed();
        if (cookie.startsWith(sessionCookie.toByteArray() + '=')) {
            const auto found = m_sessions.constFind(cookie.mid(sessionCookie.size() + 1));
            facts.session = facts.session || (found != m_sessions.cend() && *found > m_clock.elapsed());
        }
    }
    if (!m_rules.publicOrigin.isEmpty() && request.peer.isLoopback()) {
        const QByteArray scheme = request.value("X-Forwarded-Proto").trimmed().toLower();
        if (scheme == "https" || scheme == "http")
            facts.scheme = scheme;
        if (const QByteArray host = request.value("X-Forwarded-Host").trimmed(); !host.isEmpty())
            facts.host = host;
    }
    return facts;
}

bool HttpFrontEnd::passesGuard(const HttpRequestFacts &facts, const QHostAddress &client, HttpReply &reply) {
    if (m_rules.password.isEmpty() || facts.authorization.isEmpty())
        return true;
    if (const int waitMs = m_guard.waitMs(client); waitMs > 0) {
        reply.sendError(429, QStringLiteral("too many wrong passwords from this address; try again later"),
                        {{"Retry-After", QByteArray::number((waitMs + 999) / 1000)}});
        return false;
    }
    if (carriesPassword(facts.authorization, m_rules.password))
        m_guard.succeeded(client);
    else
        m_guard.failed(client);
    return true;
}

void HttpFrontEnd::handle(const HttpRequest &request, HttpReply reply) {
    const QHostAddress client = clientOf(request);
    HttpRequestFacts facts = factsOf(request, client);
    // The page sends the password in the body, where no browser's own prompt comes up.
    const bool opensSession = facts.method == "POST" && facts.path == QLatin1String("/api/session");
    if (opensSession && facts.authorization.isEmpty())
        if (const QJsonValue given = QJsonDocument::fromJson(request.body).object().value(QStringLiteral("password"));
            given.isString() && !given.toString().isEmpty())
            facts.authorization = "Bearer " + given.toString().toUtf8();
    if (!passesGuard(facts, client, reply))
        return;
    const HttpVerdict verdict = judge(m_rules, facts);
    if (verdict.status != 0) {
        // Wrong passwords are the guard's to log, a line a minute at most.
        if (verdict.status != 421 && !(verdict.status == 401 && !facts.authorization.isEmpty()))
            qCWarning(logHttp).noquote() << QStringLiteral("http: %1 %2 from %3 refused: %4")
                                                .arg(QString::fromLatin1(facts.method), facts.path,
                                                     client.toString(), verdict.reason);
        // A page's own request (it carries an Origin) is not challenged: the browser would
        // hold it behind its own password prompt, where the page's Unlock takes the password.
        reply.sendError(verdict.status, verdict.reason,
                        verdict.askForPassword && !opensSession && facts.origin.isEmpty()
                            ? HttpHeaders{{"WWW-Authenticate", "Basic realm=\"tavo-server\", charset=\"UTF-8\""}}
                            : HttpHeaders{});
        return;
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
            return;
        }
    }
    if (pathKnown)
        reply.sendError(405, QStringLiteral("%1 is not taken here").arg(QString::fromLatin1(facts.method)));
    else
        reply.sendError(404, QStringLiteral("nothing at %1").arg(facts.path));
}

// A WebSocket is granted only to the events, under the rules of any read; every refusal is
// a plain HTTP answer, before any upgrade.
void HttpFrontEnd::upgrade(const HttpRequest &request, HttpReply reply) {
    const QHostAddress client = clientOf(request);
    HttpRequestFacts facts = factsOf(request, client);
    facts.method = "GET";
    if (!passesGuard(facts, client, reply))
        return;
    HttpVerdict verdict = judge(m_rules, facts);
    // Reading the events is harmless, but a page of another site has no business here:
    // the socket also takes held buttons.
    if (verdict.status == 0 && !fromOwnPage(m_rules, facts))
        verdict = {403, QStringLiteral("a page of another origin"), false};
    if (verdict.status == 0 && facts.path != QLatin1String("/api/events"))
        verdict = {404, QStringLiteral("no events at %1").arg(facts.path), false};
    if (verdict.status != 0) {
        qCWarning(logHttp).noquote()
            << QStringLiteral("http: events socket from %1 refused: %2").arg(client.toString(), verdict.reason);
        reply.sendError(verdict.status, verdict.reason,
                        verdict.askForPassword
                            ? HttpHeaders{{"WWW-Authenticate", "Basic realm=\"tavo-server\", charset=\"UTF-8\""}}
                            : HttpHeaders{});
        return;
    }
    const quint64 connection = reply.connection();
    reply.acceptWebSocket();
    m_events.add(std::make_unique<EventsSocket>(m_transport, connection, client, facts));
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

void HttpFrontEnd::postCommand(const HttpRequest &request, HttpReply reply) {
    if (!request.value("Content-Type").startsWith("application/json")) {
        reply.sendError(415, QStringLiteral("send the command as JSON: {\"command\": \"status\"}"));
        return;
    }
    const QByteArray &body = request.body;
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
    const QHostAddress address = clientOf(request);
    LineRequest lineRequest;
    lineRequest.commands = {command.code};
    lineRequest.sentIn = sentInOf(command.code);
    auto shared = std::make_shared<HttpReply>(std::move(reply));
    lineRequest.refused = [this, shared, command, address](const CommandRefusal &refusal) {
        releaseClient(address);
        LineExchange notSent;
        notSent.command = command.code;
        notSent.failure = refusal.words();
        shared->sendJson(409, jsonObject(Outcome{m_port, command, notSent, false, m_queue.line().timeoutMs()}));
    };
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

// A session stands for the password for a day, in a cookie no script can read and no other
// site's page can send.
void HttpFrontEnd::openSession(const HttpRequest &request, HttpReply reply) {
    const qint64 now = m_clock.elapsed();
    m_sessions.removeIf([now](const auto &session) { return session.value() <= now; });
    if (m_sessions.size() >= mostSessions)
        m_sessions.erase(std::min_element(m_sessions.begin(), m_sessions.end()));
    QByteArray token(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(token.data()), token.size() / 4);
    token = token.toHex();
    m_sessions.insert(token, now + qint64(sessionSeconds) * 1000);
    const bool secure = factsOf(request, clientOf(request)).scheme == "https";
    reply.send(200, QJsonDocument(QJsonObject{{QStringLiteral("expires_in"), sessionSeconds}}).toJson(QJsonDocument::Compact) + '\n',
               "application/json",
               {{"Set-Cookie", sessionCookie.toByteArray() + '=' + token + "; Path=/; Max-Age=" +
                                   QByteArray::number(sessionSeconds) + "; HttpOnly; SameSite=Strict" +
                                   (secure ? "; Secure" : "")}});
}

void HttpFrontEnd::endSession(const HttpRequest &request, HttpReply reply) {
    for (const QByteArray &pair : request.value("Cookie").split(';')) {
        const QByteArray cookie = pair.trimmed();
        if (cookie.startsWith(sessionCookie.toByteArray() + '='))
            m_sessions.remove(cookie.mid(sessionCookie.size() + 1));
    }
    reply.send(200, "{}\n", "application/json",
               {{"Set-Cookie", sessionCookie.toByteArray() + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"}});
}
