#include "WebPage.h"

#include "Listener.h"
#include "PanelJson.h"
#include "http/Events.h"
#include "http/HttpFrontEnd.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QWebSocket>

namespace {

QByteArray typeOf(const QString &path) {
    if (path.endsWith(QLatin1String(".html")))
        return "text/html; charset=utf-8";
    if (path.endsWith(QLatin1String(".css")))
        return "text/css; charset=utf-8";
    if (path.endsWith(QLatin1String(".js")))
        return "text/javascript; charset=utf-8";
    if (path.endsWith(QLatin1String(".png")))
        return "image/png";
    return "application/octet-stream";
}

QByteArray resource(const QString &path) {
    QFile file(QStringLiteral(":/page/") + path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QByteArray WebPage::contentSecurityPolicy() {
    return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
           "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

WebPage::WebPage(HttpFrontEnd &http, Events &events, LineQueue &queue, const HttpRules &rules, const QString &name,
                 QObject *parent)
    : QObject(parent), m_holds(queue, rules), m_panel(QJsonDocument(panelJson(name)).toJson(QJsonDocument::Compact)),
      m_catalogues(QJsonDocument(cataloguesJson()).toJson(QJsonDocument::Compact)) {
    const auto file = [](const QString &path, HttpReply reply) {
        const QByteArray body = path.contains(QLatin1Char('/')) ? QByteArray() : resource(path);
        if (body.isEmpty()) {
            reply.sendError(404, QStringLiteral("no page file %1").arg(path));
            return;
        }
        reply.send(200, body, typeOf(path), {{"Content-Security-Policy", contentSecurityPolicy()}});
    };
    http.route("GET", QStringLiteral("/"), [file](const QHttpServerRequest &, HttpReply reply) {
        file(QStringLiteral("index.html"), std::move(reply));
    });
    http.route("GET", QStringLiteral("/page/"), [file](const QHttpServerRequest &request, HttpReply reply) {
        file(request.url().path().mid(int(sizeof "/page/") - 1), std::move(reply));
    });
    http.route("GET", QStringLiteral("/api/panel"),
               [this](const QHttpServerRequest &, HttpReply reply) { reply.send(200, m_panel, "application/json"); });
    http.route("GET", QStringLiteral("/api/catalogues"), [this](const QHttpServerRequest &, HttpReply reply) {
        reply.send(200, m_catalogues, "application/json");
    });

    connect(&events, &Events::message, this, [this](QWebSocket *socket, const QString &text) {
        const QNetworkRequest &handshake = socket->request();
        const QHostAddress peer = plainAddress(socket->peerAddress());
        const HttpRequestFacts facts{"POST",
                                     socket->requestUrl().path(),
                                     peer.isLoopback(),
                                     handshake.rawHeader("Host"),
                                     socket->origin().toLatin1(),
                                     handshake.rawHeader("Authorization")};
        const QJsonObject answer = m_holds.take(socket, facts, peer.toString(), text);
        if (!answer.isEmpty())
            socket->sendTextMessage(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
    });
    connect(&events, &Events::socketClosed, this, [this](QWebSocket *socket) { m_holds.pageGone(socket); });
}

WebPage::~WebPage() = default;
