#include "Events.h"

#include "exchange/CommandOutcome.h"
#include "exchange/Readings.h"

#include "exchange/Transcript.h"
#include "panel/Actions.h"

#include "http/Transport.h"

#include <QDateTime>
#include <QJsonDocument>

#include <algorithm>

namespace {

QJsonValue now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

QString actionFor(const QString &code) {
    for (const panel::Action &action : panel::actions())
        if (action.code == code)
            return action.name;
    return {};
}

} // namespace

QJsonObject transcriptOf(const LineExchange &exchange) {
    const TranscriptLine tx = renderTranscript(exchange.sent);
    const TranscriptLine rx = renderTranscript(exchange.reply);
    QJsonObject transcript{
        {QStringLiteral("tx"), tx.text},
        {QStringLiteral("rx"), rx.text},
        {QStringLiteral("space_legend"), tx.showsSpace || rx.showsSpace},
        {QStringLiteral("cr_legend"), tx.showsCarriageReturn || rx.showsCarriageReturn},
    };
    if (exchange.reading.statusBox)
        transcript.insert(QStringLiteral("status_box"), *exchange.reading.statusBox);
    return transcript;
}

Events::Events(LineQueue &queue, const Readings &readings, QString port, QObject *parent)
    : QObject(parent), m_queue(queue), m_readings(readings), m_port(std::move(port)) {
    connect(&queue, &LineQueue::exchanged, this,
            [this](const LineExchange &exchange, const QString &frontEnd, const QString &client) {
                const Outcome outcome{m_port, {exchange.command, actionFor(exchange.command)}, exchange, true, 1000};
                broadcast({{QStringLiteral("type"), QStringLiteral("exchange")},
                           {QStringLiteral("time"), now()},
                           {QStringLiteral("front_end"), frontEnd},
                           {QStringLiteral("client"), client},
                           {QStringLiteral("from_memory"), exchange.fromMemory},
                           {QStringLiteral("result"), jsonObject(outcome)},
                           {QStringLiteral("transcript"), transcriptOf(exchange)}});
            });
    connect(&queue.line(), &ProjectorLine::discarded, this, [this](const QString &characters) {
        broadcast({{QStringLiteral("type"), QStringLiteral("discarded")},
                   {QStringLiteral("time"), now()},
                   {QStringLiteral("characters"), characters},
                   {QStringLiteral("shown"), renderTranscript(characters).text}});
    });
    connect(&readings, &Readings::changed, this, [this](const Readings::Reading &reading) {
        QJsonObject event = m_readings.toJson().value(QLatin1String(reading.name)).toObject();
        event.insert(QStringLiteral("type"), QStringLiteral("reading"));
        event.insert(QStringLiteral("time"), now());
        event.insert(QStringLiteral("name"), QLatin1String(reading.name));
        broadcast(event);
    });
    connect(&readings, &Readings::answersChanged, this, [this] {
        QJsonObject event = m_readings.availabilityJson();
        event.insert(QStringLiteral("type"), QStringLiteral("line"));
        event.insert(QStringLiteral("time"), now());
        broadcast(event);
    });
}

Events::~Events() = default;

EventsSocket::EventsSocket(std::weak_ptr<http::Transport> transport, quint64 connection, QHostAddress peer,
                           HttpRequestFacts handshake)
    : m_transport(std::move(transport)), m_connection(connection), m_peer(std::move(peer)),
      m_handshake(std::move(handshake)) {}

void EventsSocket::send(std::shared_ptr<const std::string> text) {
    if (const auto transport = m_transport.lock())
        transport->send(m_connection, std::move(text));
}

void EventsSocket::send(const QJsonObject &message) {
    send(std::make_shared<const std::string>(QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString()));
}

void EventsSocket::close() {
    if (const auto transport = m_transport.lock())
        transport->close(m_connection);
}

QJsonObject Events::status() const {
    QJsonObject status = m_readings.toJson();
    QJsonObject line = m_readings.availabilityJson();
    line.insert(QStringLiteral("port"), m_port);
    line.insert(QStringLiteral("queue"), m_queue.length());
    status.insert(QStringLiteral("line"), line);
    return status;
}

void Events::add(std::unique_ptr<EventsSocket> socket) {
    QJsonObject hello = status();
    hello.insert(QStringLiteral("type"), QStringLiteral("status"));
    socket->send(hello);
    m_sockets.push_back(std::move(socket));
}

void Events::received(quint64 connection, const QString &text) {
    for (const auto &socket : m_sockets)
        if (socket->connection() == connection) {
            emit message(socket.get(), text);
            return;
        }
}

void Events::closed(quint64 connection) {
    const auto found = std::find_if(m_sockets.begin(), m_sockets.end(),
                                    [&](const auto &socket) { return socket->connection() == connection; });
    if (found == m_sockets.end())
        return;
    std::unique_ptr<EventsSocket> socket = std::move(*found);
    m_sockets.erase(found);
    emit socketClosed(socket.get());
}

void Events::broadcast(const QJsonObject &event) {
    if (m_sockets.empty())
        return;
    // One text for every socket; a socket that does not take its messages is closed by the
    // transport rather than buffered for without end.
    const auto text = std::make_shared<const std::string>(QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString());
    for (const auto &socket : m_sockets)
        socket->send(text);
}
