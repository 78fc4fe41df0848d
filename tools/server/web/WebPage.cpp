#include "WebPage.h"

#include "PanelJson.h"
#include "http/Events.h"
#include "http/HttpFrontEnd.h"

#include <QFile>
#include <QJsonDocument>

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
    http.route("GET", QStringLiteral("/"), [file](const HttpRequest &, HttpReply reply) {
        file(QStringLiteral("index.html"), std::move(reply));
    });
    http.route("GET", QStringLiteral("/page/"), [file](const HttpRequest &request, HttpReply reply) {
        file(request.path.mid(int(sizeof "/page/") - 1), std::move(reply));
    });
    http.route("GET", QStringLiteral("/api/panel"),
               [this](const HttpRequest &, HttpReply reply) { reply.send(200, m_panel, "application/json"); });
    http.route("GET", QStringLiteral("/api/catalogues"), [this](const HttpRequest &, HttpReply reply) {
        reply.send(200, m_catalogues, "application/json");
    });

    connect(&events, &Events::message, this, [this](EventsSocket *socket, const QString &text) {
        HttpRequestFacts facts = socket->handshake();
        facts.method = "POST";
        const QJsonObject answer = m_holds.take(socket, facts, socket->peer().toString(), text);
        if (!answer.isEmpty())
            socket->send(answer);
    });
    connect(&events, &Events::socketClosed, this, [this](EventsSocket *socket) { m_holds.pageGone(socket); });
}

WebPage::~WebPage() = default;
