#pragma once

#include "Listener.h"
#include "LineQueue.h"
#include "http/Access.h"
#include "http/Transport.h"
#include "mqtt/Topics.h"
#include "pjlink/Session.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class Events;
class HttpFrontEnd;
class LineFrontEnd;
class Metrics;
class Poller;
class ProjectorLine;
class Readings;
class SerialComponent;
class WebPage;

namespace pjlink {
class Bridge;
class FrontEnd;
} // namespace pjlink

namespace mqtt {
class FrontEnd;
} // namespace mqtt

// Everything tavo-server is made of, as its options give it.
struct ServerOptions {
    QString port; // the projector's port as given ("3", "/dev/ttyUSB0", "socket://..."), for answers
    int replyTimeoutMs = 1000;
    LineQueue::Limits queue;
    int pollSeconds = 10; // 0: no poll

    std::optional<ListenAddress> pjlink = ListenAddress{QHostAddress::LocalHost, 4352};
    ConnectionRules pjlinkConnections{256, 32, {}};
    pjlink::SessionRules pjlinkSession;
    QByteArray pjlinkName = "TAVO QT735";

    std::optional<ListenAddress> line; // off unless given
    ConnectionRules lineConnections{16, 16, {}};

    std::optional<ListenAddress> http = ListenAddress{QHostAddress::LocalHost, 8735};
    ConnectionRules httpConnections{64, 32, {}};
    http::Limits httpLimits;
    http::Tls httpTls; // HTTPS alone on the HTTP listener when on
    HttpRules httpRules; // its hostNames are added to with ownHostNames()

    std::optional<mqtt::Settings> mqtt; // off unless given; the device is named pjlinkName

    // This server's name among others (--instance), for the metrics; empty: this machine's name.
    QString instance;
};

// Why the options must not start: a listener beyond this machine without what keeps it safe
// (the HTTP password or read-only opening, the line front end's allow-list). Empty when fine.
QString wideListenerProblem(const ServerOptions &options);

// The names and addresses an HTTP listener on `listen` answers to: this machine's own names,
// loopback, and the listen address (every address of the machine for a wildcard).
QStringList ownHostNames(const std::optional<ListenAddress> &listen);

// The one owner of the projector line and every front end on it.
class ProjectorServer : public QObject {
    Q_OBJECT
public:
    ProjectorServer(ServerOptions options, SerialComponent &port, QObject *parent = nullptr);
    ~ProjectorServer() override;

    // Listens on every front end that is on and opens the line; false with the reason (naming
    // the front end) when an address cannot be listened on.
    bool start(QString *error);
    // Lets go of the port (a connection to a device server still under way is told).
    void stop();

    // "127.0.0.1:4352" as bound, or empty when the front end is off.
    QString address(const QString &frontEnd) const;
    // The front end's connections open now.
    int clients(const QString &frontEnd) const;
    LineQueue &queue() { return *m_queue; }
    Readings &readings() { return *m_readings; }
    Events &events() { return *m_events; }
    HttpFrontEnd *http() { return m_http.get(); }
    pjlink::FrontEnd *pjlink() { return m_pjlinkFrontEnd.get(); }
    const ServerOptions &options() const { return m_options; }

private:
    const Listener *listener(const QString &frontEnd) const;

    ServerOptions m_options;
    SerialComponent &m_port;
    std::unique_ptr<ProjectorLine> m_line;
    std::unique_ptr<Readings> m_readings;
    std::unique_ptr<LineQueue> m_queue;
    std::unique_ptr<Poller> m_poller;
    std::unique_ptr<Events> m_events;
    std::unique_ptr<Metrics> m_metrics;
    std::unique_ptr<Listener> m_pjlinkListener;
    std::unique_ptr<pjlink::Bridge> m_bridge;
    std::unique_ptr<pjlink::FrontEnd> m_pjlinkFrontEnd;
    std::unique_ptr<Listener> m_lineListener;
    std::unique_ptr<LineFrontEnd> m_lineFrontEnd;
    std::unique_ptr<HttpFrontEnd> m_http;
    std::unique_ptr<mqtt::FrontEnd> m_mqtt;
    std::unique_ptr<WebPage> m_webPage; // the page at "/" and its held arrows, on m_http
};
