#pragma once

#include "Holds.h"
#include "PageFiles.h"
#include "http/Access.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>

class Events;
class HttpFrontEnd;
class LineQueue;

// The control page at "/": its files (compiled in, so the server needs nothing beside
// itself; each with an ETag, and deflated for the clients that take it), the tables it is drawn from (GET /api/panel, GET /api/catalogues) and the held
// arrows its events socket carries. Everything else the page does goes through the HTTP
// API, under the same rules as any other client.
class WebPage : public QObject {
    Q_OBJECT
public:
    // `name` is the projector's, as the page shows it.
    WebPage(HttpFrontEnd &http, Events &events, LineQueue &queue, const HttpRules &rules, const QString &name,
            QObject *parent = nullptr);
    ~WebPage() override;

    Holds &holds() { return m_holds; }

    // What the page's answers carry: no script, style, connection or picture from anywhere
    // but this server, nothing inline, and no framing by another site.
    static QByteArray contentSecurityPolicy();

private:
    Holds m_holds;
    std::map<QString, PageFile> m_files; // index.html, panel.css, ... as served
    PageFile m_panel;
    PageFile m_catalogues;
};
