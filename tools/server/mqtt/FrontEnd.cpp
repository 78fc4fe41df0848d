#include "FrontEnd.h"

#include "Connection.h"
#include "Log.h"
#include "exchange/CommandOutcome.h"
#include "exchange/Readings.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimer>

namespace mqtt {

namespace {

// Two servers with the same client id would take the broker's connection from each other.
QByteArray clientIdFor(const Topics &topics) { return "tavo-server-" + topics.nodeId; }

// Where an earlier version of this server left its discovery messages, when its ids differ.
QByteArray formerConfigs(const Topics &topics) {
    return QByteArray(discoveryPrefix) + "/+/" + topics.formerNodeId + "/+/config";
}

bool isFormerConfig(const Topics &topics, const QByteArray &topic) {
    const QList<QByteArray> levels = topic.split('/');
    return topics.formerNodeId != topics.nodeId && levels.size() == 5 && levels[0] == discoveryPrefix &&
           levels[2] == topics.formerNodeId && levels[4] == "config";
}

// Whether a discovery message is this server's: another server's new ids may be this
// server's former ones, and its messages stay.
bool isOwnConfig(const Topics &topics, const QByteArray &payload) {
    const QJsonArray availability = QJsonDocument::fromJson(payload).object()[QLatin1String("availability")].toArray();
    return std::any_of(availability.begin(), availability.end(), [&](const QJsonValue &each) {
        return each[QLatin1String("topic")].toString().toUtf8() == topics.availability;
    });
}

} // namespace

FrontEnd::FrontEnd(Settings settings, QString deviceName, LineQueue &queue, Readings &readings, QString port,
                   QObject *parent)
    : QObject(parent), m_settings(std::move(settings)),
      m_topics(m_settings.base), m_device{m_settings.deviceName.isEmpty() ? std::move(deviceName)
                                                                          : m_settings.deviceName,
                                          m_settings.configurationUrl},
      m_queue(queue), m_readings(readings), m_port(std::move(port)),
      m_client(queue.addClient(QStringLiteral("mqtt"), m_settings.broker.host)) {
    m_connection = std::make_unique<Connection>(m_settings, clientIdFor(m_topics),
                                                Connection::Will{m_topics.availability, "offline"});
    connect(m_connection.get(), &Connection::connected, this, &FrontEnd::announce);
    connect(m_connection.get(), &Connection::message, this, &FrontEnd::take);
    connect(&readings, &Readings::changed, this, &FrontEnd::publishReading);
    connect(&readings, &Readings::answersChanged, this, &FrontEnd::publishProjector);
    connect(&readings, &Readings::settingsChanged, this, &FrontEnd::publishSettings);
}

FrontEnd::~FrontEnd() {
    m_queue.removeClient(m_client);
    // Said by the server itself: a clean leave does not set off the will.
    m_connection->publish(m_topics.availability, "offline", true);
    m_connection->close();
}

void FrontEnd::start() { m_connection->open(); }

bool FrontEnd::connected() const { return m_connection->isConnected(); }

void FrontEnd::announce() {
    if (!std::exchange(m_announced, true)) {
        if (m_topics.formerNodeId != m_topics.nodeId)
            m_connection->subscribe(formerConfigs(m_topics));
        for (const QByteArray &topic : retiredDiscoveryTopics(m_topics))
            m_connection->publish(topic, {}, true);
    }
    m_connection->subscribe(m_settings.birthTopic);
    for (const QByteArray &topic : m_topics.commandTopics())
        m_connection->subscribe(topic);
    publishAll();
}

void FrontEnd::publishAll() {
    // A broker that restarted may have lost every retained message, and a Home Assistant
    // that restarted against a broker without persistence everything it knew: all of it again.
    for (const Message &message : discoveryMessages(m_topics, m_device))
        m_connection->publish(message.topic, message.payload, true);
    for (const Readings::Reading &reading : m_readings.all())
        publishReading(reading);
    publishSettings();
    publishProjector();
    m_connection->publish(m_topics.availability, "online", true);
}

void FrontEnd::publishSettings() {
    for (const Message &message : settingMessages(m_topics, m_readings))
        m_connection->publish(message.topic, message.payload, true);
}

void FrontEnd::publishProjector() {
    m_connection->publish(m_topics.projector, m_readings.answers() ? "online" : "offline", true);
}

void FrontEnd::publishReading(const Readings::Reading &reading) {
    QList<Message> messages = stateMessages(m_topics, reading);
    if (reading.held == Held::power || reading.held == Held::lampStatus)
        messages += problemMessages(m_topics, m_readings);
    for (const Message &message : messages)
        m_connection->publish(message.topic, message.payload, true);
}

void FrontEnd::take(const QByteArray &topic, const QByteArray &payload, bool retained) {
    // An empty message is how a retained command is cleared: nothing to do, nothing to say.
    if (payload.isEmpty())
        return;
    // Home Assistant's birth message: it may have forgotten the device. A retained one came
    // with the subscription, right after everything was published.
    if (topic == m_settings.birthTopic) {
        if (payload == "online" && !retained) {
            qCInfo(logMqtt).noquote() << QStringLiteral(
                                             "mqtt: Home Assistant announced itself on %1; publishing the device again")
                                             .arg(QString::fromUtf8(topic));
            publishAll();
        }
        return;
    }
    if (isFormerConfig(m_topics, topic)) {
        if (retained && isOwnConfig(m_topics, payload)) {
            m_connection->publish(topic, {}, true);
            if (!std::exchange(m_formerCleared, true))
                qCInfo(logMqtt).noquote()
                    << QStringLiteral("mqtt: removing the Home Assistant discovery an earlier version left under "
                                      "the former id %1; the device is now %2")
                           .arg(QString::fromUtf8(m_topics.formerNodeId), QString::fromUtf8(m_topics.nodeId));
        }
        return;
    }
    // A retained command comes again with every subscription: after each reconnect of this
    // server or restart of the broker, a power off would switch the projector off once more.
    if (retained) {
        qCWarning(logMqtt).noquote()
            << QStringLiteral("mqtt: ignored the retained message on %1: a command is taken only as it is sent; "
                              "clear it with an empty retained message, e.g. mosquitto_pub -r -n -t '%1'")
                   .arg(QString::fromUtf8(topic));
        return;
    }
    const auto asked = commandFor(m_topics, topic, payload, m_settings.raw);
    if (const QString *why = std::get_if<QString>(&asked)) {
        refuse(Command{QString::fromUtf8(payload.left(64)), {}}, *why);
        return;
    }
    const Command command = std::get<Command>(asked);
    LineRequest request;
    request.commands = {command.code};
    request.sentIn = sentInOf(command.code);
    request.refused = [this, command](const CommandRefusal &refusal) { refuse(command, refusal.words()); };
    request.done = [this, command](const QList<LineExchange> &exchanges) {
        report(Outcome{m_port, command, exchanges.value(0), true, m_queue.line().timeoutMs()});
    };
    if (m_queue.submit(m_client, std::move(request)) != LineQueue::Refusal::none)
        refuse(command, QStringLiteral("the projector line is too busy; try again"));
}

void FrontEnd::refuse(const Command &command, const QString &why) {
    LineExchange notSent;
    notSent.command = command.code;
    notSent.failure = why;
    report(Outcome{m_port, command, notSent, false, m_queue.line().timeoutMs()});
}

void FrontEnd::report(const Outcome &outcome) {
    const QJsonObject result = jsonObject(outcome);
    m_connection->publish(m_topics.result, QJsonDocument(result).toJson(QJsonDocument::Compact), false);
    for (const Message &message : lastCommandMessages(m_topics, result))
        m_connection->publish(message.topic, message.payload, true);
}

bool unpublish(const Settings &settings, int timeoutMs) {
    const Topics topics(settings.base);
    const QList<QByteArray> retained =
        discoveryTopics(topics) + retiredDiscoveryTopics(topics) + topics.retainedTopics();
    // Its own client id, so that a server still running is not thrown off; and no will,
    // which would leave an "offline" behind.
    Connection connection(settings, clientIdFor(topics) + "-unpublish", std::nullopt);
    QSet<int> waiting;
    bool done = false;
    QObject::connect(&connection, &Connection::connected, &connection, [&] {
        waiting.clear();
        for (const QByteArray &topic : retained)
            waiting.insert(connection.publish(topic, {}, true));
    });
    QObject::connect(&connection, &Connection::delivered, &connection, [&](int id) {
        if (!waiting.remove(id) || !waiting.isEmpty())
            return;
        done = true;
        connection.close();
        qCInfo(logMqtt).noquote()
            << QStringLiteral("mqtt: removed the retained messages under %1 and the Home Assistant discovery of %2")
                   .arg(settings.base, QString::fromUtf8(topics.nodeId));
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(
        timeoutMs, &connection, [&] {
            qCCritical(logMqtt).noquote()
                << QStringLiteral("mqtt: the broker did not take the removals within %1 s").arg(timeoutMs / 1000);
            QCoreApplication::exit(1);
        });
    connection.open();
    QCoreApplication::exec();
    return done;
}

} // namespace mqtt
