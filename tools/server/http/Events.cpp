#include "Events.h"

#include "Readings.h"
#include "exchange/CommandOutcome.h"

#include "exchange/ReplyReading.h"
#include "exchange/StatusDecoding.h"
#include "exchange/Transcript.h"
#include "panel/Actions.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QWebSocket>

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
    if (const auto status = decodeStatus(rx.text, exchange.reply.size(), exchange.sent))
        transcript.insert(QStringLiteral("status_box"), *status);
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
        broadcast({{QStringLiteral("type"), QStringLiteral("reading")},
                   {QStringLiteral("time"), now()},
                   {QStringLiteral("name"), QLatin1String(reading.name)},
                   {QStringLiteral("value"), reading.value},
                   {QStringLiteral("status"), reading.status}});
    });
    connect(&queue, &LineQueue::answersChanged, this, [this](bool answers) {
        broadcast({{QStringLiteral("type"), QStringLiteral("line")},
                   {QStringLiteral("time"), now()},
                   {QStringLiteral("answers"), answers}});
    });
}

Events::~Events() {
    for (QWebSocket *socket : m_sockets) {
        socket->disconnect(this);
        delete socket;
    }
}

QJsonObject Events::status() const {
    QJsonObject status = m_readings.toJson();
    status.insert(QStringLiteral("line"), QJsonObject{{QStringLiteral("answers"), m_queue.answers()},
                                                      {QStringLiteral("port"), m_port},
                                                      {QStringLiteral("queue"), m_queue.length()}});
    return status;
}

void Events::add(std::unique_ptr<QWebSocket> owned) {
    QWebSocket *socket = owned.release();
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(4096);
    m_sockets.push_back(socket);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { remove(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString &text) { emit message(socket, text); });
    QJsonObject hello = status();
    hello.insert(QStringLiteral("type"), QStringLiteral("status"));
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(hello).toJson(QJsonDocument::Compact)));
}

void Events::broadcast(const QJsonObject &event) {
    if (m_sockets.empty())
        return;
    const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    const std::vector<QWebSocket *> sockets = m_sockets;
    for (QWebSocket *socket : sockets) {
        if (socket->bytesToWrite() > unsentLimit) {
            socket->abort(); // a page that stopped reading
            continue;
        }
        socket->sendTextMessage(text);
    }
}

void Events::remove(QWebSocket *socket) {
    std::erase(m_sockets, socket);
    emit socketClosed(socket);
    socket->deleteLater();
}
