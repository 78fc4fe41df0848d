#include "WebPage.h"

#include "PanelJson.h"
#include "http/Events.h"
#include "http/HttpFrontEnd.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <map>

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

// Every file compiled in under :/page, by name.
std::map<QString, PageFile> pageFiles() {
    std::map<QString, PageFile> files;
    for (const QString &name : QDir(QStringLiteral(":/page")).entryList(QDir::Files)) {
        QFile file(QStringLiteral(":/page/") + name);
        if (file.open(QIODevice::ReadOnly))
            files.emplace(name, PageFile(file.readAll(), typeOf(name)));
    }
    return files;
}

void serve(const PageFile &file, const HttpRequest &request, HttpReply reply, HttpHeaders headers = {}) {
    PageAnswer answer = pageAnswer(file, request.value("If-None-Match"), request.value("Accept-Encoding"));
    headers += answer.headers;
    reply.send(answer.status, answer.body, file.type, headers);
}

} // namespace

QByteArray WebPage::contentSecurityPolicy() {
    return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
           "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

WebPage::WebPage(HttpFrontEnd &http, Events &events, LineQueue &queue, const HttpRules &rules, const QString &name,
                 QObject *parent)
    : QObject(parent), m_holds(queue, rules), m_files(pageFiles()),
      m_panel(QJsonDocument(panelJson(name)).toJson(QJsonDocument::Compact), "application/json"),
      m_catalogues(QJsonDocument(cataloguesJson()).toJson(QJsonDocument::Compact), "application/json") {
    const auto file = [this](const QString &name, const HttpRequest &request, HttpReply reply) {
        const auto found = m_files.find(name);
        if (found == m_files.end()) {
            reply.sendError(404, QStringLiteral("no page file %1").arg(name));
            return;
        }
        serve(found->second, request, std::move(reply), {{"Content-Security-Policy", contentSecurityPolicy()}});
    };
    http.route("GET", QStringLiteral("/"), [file](const HttpRequest &request, HttpReply reply) {
        file(QStringLiteral("index.html"), request, std::move(reply));
    });
    http.route("GET", QStringLiteral("/page/"), [file](const HttpRequest &request, HttpReply reply) {
        file(request.path.mid(int(sizeof "/page/") - 1), request, std::move(reply));
    });
    http.route("GET", QStringLiteral("/api/panel"),
               [this](const HttpRequest &request, HttpReply reply) { serve(m_panel, request, std::move(reply)); });
    http.route("GET", QStringLiteral("/api/catalogues"), [this](const HttpRequest &request, HttpReply reply) {
        serve(m_catalogues, request, std::move(reply));
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
