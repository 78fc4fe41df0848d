#include "ProjectorServer.h"

#include "LineFrontEnd.h"
#include "Log.h"
#include "Poller.h"
#include "exchange/Readings.h"
#include "http/Events.h"
#include "http/HttpFrontEnd.h"
#include "http/Metrics.h"
#include "mqtt/FrontEnd.h"
#include "pjlink/Bridge.h"
#include "web/WebPage.h"

#include "exchange/ProjectorLine.h"
#include "host/SerialComponent.h"

#include <QHostInfo>
#include <QNetworkInterface>

QString wideListenerProblem(const ServerOptions &options) {
    const auto wide = [](const std::optional<ListenAddress> &listen) { return listen && !listen->address.isLoopback(); };
    if (wide(options.http) && options.httpRules.password.isEmpty() && !options.httpRules.publicRead)
        return QStringLiteral("--http %1 reaches other machines: give --http-password-file (changes then need the "
                              "password), or --http-public-read to open only /metrics and GET /api/status to them")
            .arg(endpointName(options.http->address, options.http->port));
    if (wide(options.line) && options.lineConnections.allowed.isEmpty())
        return QStringLiteral("--line %1 reaches other machines and its protocol has no password: give --line-allow "
                              "with the addresses that may use it")
            .arg(endpointName(options.line->address, options.line->port));
    return {};
}

namespace {

// Every exchange, for whoever turns the debug category on:
// exchange: pjlink 127.0.0.1:50312: "CR0" -> "00\r" in 2.3 ms
void logExchanged(const LineExchange &exchange, const QString &frontEnd, const QString &client) {
    if (!logExchange().isDebugEnabled())
        return;
    const auto shown = [](QString text) {
        return QLatin1Char('"') + text.replace(QLatin1Char('\r'), QLatin1String("\\r")) + QLatin1Char('"');
    };
    const QString outcome =
        !exchange.failure.isEmpty() ? QStringLiteral("failed: ") + exchange.failure
        : exchange.fromMemory       ? shown(exchange.reply) + QStringLiteral(" from the readings")
        : !exchange.answered
            ? QStringLiteral("no reply in %1 ms").arg(exchange.elapsedUs / 1000)
            : shown(exchange.reply) + QStringLiteral(" in %1 ms").arg(double(exchange.elapsedUs) / 1000.0, 0, 'f', 1);
    qCDebug(logExchange).noquote()
        << QStringLiteral("exchange: %1 %2: %3 -> %4").arg(frontEnd, client, shown(exchange.command), outcome);
}

} // namespace

QStringList ownHostNames(const std::optional<ListenAddress> &listen) {
    QStringList names{QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
    const QString host = QHostInfo::localHostName().toLower();
    names << host;
    if (const QString domain = QHostInfo::localDomainName().toLower(); !domain.isEmpty())
        names << host + QLatin1Char('.') + domain;
    if (listen && !listen->address.isLoopback() && listen->address != QHostAddress::Any &&
        listen->address != QHostAddress::AnyIPv4 && listen->address != QHostAddress::AnyIPv6)
        names << listen->address.toString().toLower();
    else if (listen && !listen->address.isLoopback())
        for (const QHostAddress &address : QNetworkInterface::allAddresses())
            names << QHostAddress(address.toString().section(QLatin1Char('%'), 0, 0)).toString().toLower();
    names.removeDuplicates();
    return names;
}

ProjectorServer::ProjectorServer(ServerOptions options, SerialComponent &port, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_port(port) {
    m_options.httpRules.hostNames += ownHostNames(m_options.http);
    m_line = std::make_unique<ProjectorLine>(port, m_options.replyTimeoutMs);
    m_line->reopenWhenClosed = true;
    m_readings = std::make_unique<Readings>();
    m_queue = std::make_unique<LineQueue>(*m_line, *m_readings, m_options.queue);
    connect(m_queue.get(), &LineQueue::exchanged, this, &logExchanged);
    m_events = std::make_unique<Events>(*m_queue, *m_readings, m_options.port);
    m_metrics = std::make_unique<Metrics>(*m_queue, *m_readings);
    m_metrics->setNames(m_options.instance.isEmpty() ? QHostInfo::localHostName() : m_options.instance,
                        QString::fromUtf8(m_options.pjlinkName));
    if (m_options.pollSeconds > 0) {
        m_poller = std::make_unique<Poller>(*m_queue, m_options.pollSeconds);
        m_metrics->setPoller(m_poller.get());
    }
    if (m_options.pjlink) {
        m_pjlinkListener = std::make_unique<Listener>(QStringLiteral("pjlink"), m_options.pjlinkConnections);
        m_bridge = std::make_unique<pjlink::Bridge>(*m_queue, m_options.pjlinkName);
        m_pjlinkFrontEnd = std::make_unique<pjlink::FrontEnd>(*m_pjlinkListener, m_options.pjlinkSession, *m_bridge,
                                                              *m_queue);
        m_metrics->addClients(QStringLiteral("pjlink"), [listener = m_pjlinkListener.get()] { return listener->open(); });
    }
    if (m_options.line) {
        m_lineListener = std::make_unique<Listener>(QStringLiteral("line"), m_options.lineConnections);
        m_lineFrontEnd = std::make_unique<LineFrontEnd>(*m_lineListener, *m_queue);
        m_metrics->addClients(QStringLiteral("line"), [listener = m_lineListener.get()] { return listener->open(); });
    }
    if (m_options.http) {
        m_http = std::make_unique<HttpFrontEnd>(m_options.httpConnections, m_options.httpLimits, m_options.httpRules,
                                                *m_queue, *m_events, *m_metrics, m_options.port);
        m_metrics->addClients(QStringLiteral("http"), [http = m_http.get()] { return http->open(); });
        m_metrics->addClients(QStringLiteral("events"), [events = m_events.get()] { return events->count(); });
        m_webPage = std::make_unique<WebPage>(*m_http, *m_events, *m_queue, m_options.httpRules,
                                              QString::fromUtf8(m_options.pjlinkName));
    }
    if (m_options.mqtt) {
        m_mqtt = std::make_unique<mqtt::FrontEnd>(*m_options.mqtt, QString::fromUtf8(m_options.pjlinkName), *m_queue,
                                                  *m_readings, m_options.port);
        m_metrics->addClients(QStringLiteral("mqtt"), [mqtt = m_mqtt.get()] { return mqtt->connected() ? 1 : 0; });
    }
}

ProjectorServer::~ProjectorServer() {
    // The front ends go first: their clients leave the queue before it goes.
    m_mqtt.reset();
    m_webPage.reset();
    m_http.reset();
    m_lineFrontEnd.reset();
    m_lineListener.reset();
    m_pjlinkFrontEnd.reset();
    m_pjlinkListener.reset();
    m_bridge.reset();
    m_poller.reset();
    m_metrics.reset();
    m_events.reset();
}

bool ProjectorServer::start(QString *error) {
    const auto listen = [error](Listener *listener, const std::optional<ListenAddress> &address, const char *option) {
        if (!listener)
            return true;
        QString why;
        if (listener->listenOn(*address, &why))
            return true;
        *error = QStringLiteral("cannot listen on %1 (--%2): %3")
                     .arg(endpointName(address->address, address->port), QLatin1String(option), why);
        return false;
    };
    if (!listen(m_pjlinkListener.get(), m_options.pjlink, "pjlink") || !listen(m_lineListener.get(), m_options.line, "line"))
        return false;
    if (QString why; m_http && m_options.httpTls.on() && !m_http->serveTls(m_options.httpTls, &why)) {
        *error = QStringLiteral("cannot serve HTTPS: %1").arg(why);
        return false;
    }
    if (QString why; m_http && !m_http->listen(*m_options.http, &why)) {
        *error = QStringLiteral("cannot listen on %1 (--http): %2")
                     .arg(endpointName(m_options.http->address, m_options.http->port), why);
        return false;
    }
    m_queue->openLine();
    if (m_mqtt)
        m_mqtt->start();
    if (m_poller)
        m_poller->start();
    return true;
}

void ProjectorServer::stop() {
    m_queue->disconnect(this); // what it would say now is no news
    m_line->reopenWhenClosed = false;
    m_port.setPortOpen(false);
}

const Listener *ProjectorServer::listener(const QString &frontEnd) const {
    return frontEnd == QLatin1String("pjlink") ? m_pjlinkListener.get()
           : frontEnd == QLatin1String("line") ? m_lineListener.get()
                                                : nullptr;
}

QString ProjectorServer::address(const QString &frontEnd) const {
    if (frontEnd == QLatin1String("http"))
        return m_http ? m_http->address() : QString();
    const Listener *found = listener(frontEnd);
    return found && found->isListening() ? found->address() : QString();
}

int ProjectorServer::clients(const QString &frontEnd) const {
    if (frontEnd == QLatin1String("http"))
        return m_http ? m_http->open() : 0;
    const Listener *found = listener(frontEnd);
    return found ? found->open() : 0;
}
