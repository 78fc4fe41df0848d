#include "Topics.h"

#include "exchange/ReplyReading.h"
#include "panel/Actions.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace mqtt {

namespace {

// An action name or a raw code is a few dozen bytes at most.
constexpr qsizetype longestCommand = 64;
// A topic level's name as the command line gives it, kept readable in Home Assistant.
constexpr qsizetype longestName = 64;

enum class Kind { powerSwitch, inputSelect, powerState, lampHours, temperature, button };

struct Entity {
    const char *component;
    const char *object; // the last part of its unique id and of its config topic
    const char *name;   // Home Assistant puts the device's name before it
    Kind kind;
    int sensor = 0;              // Kind::temperature: which of the three
    const char *press = nullptr; // Kind::button: the action name it sends
};

// clang-format off
constexpr Entity entities[] = {
    {"switch", "power",         "Power",         Kind::powerSwitch},
    {"select", "input",         "Input",         Kind::inputSelect},
    {"sensor", "power_state",   "Power state",   Kind::powerState},
    {"sensor", "lamp_hours",    "Lamp hours",    Kind::lampHours},
    {"sensor", "temperature_1", "Temperature 1", Kind::temperature, 0},
    {"sensor", "temperature_2", "Temperature 2", Kind::temperature, 1},
    {"sensor", "temperature_3", "Temperature 3", Kind::temperature, 2},
    {"button", "volume_up",     "Volume up",     Kind::button, 0, "volume-up"},
    {"button", "volume_down",   "Volume down",   Kind::button, 0, "volume-down"},
    {"button", "freeze",        "Freeze",        Kind::button, 0, "freeze-on"},
    {"button", "freeze_off",    "Freeze off",    Kind::button, 0, "freeze-off"},
};
// clang-format on

// Every state the power query can report: the power state sensor's options.
constexpr PowerStatus powerStates[] = {
    PowerStatus::standby,    PowerStatus::countDown,        PowerStatus::on,
    PowerStatus::cooling,    PowerStatus::powerAbnormality, PowerStatus::temperatureAbnormality,
    PowerStatus::lampFailure};

QJsonObject availabilityOf(const QByteArray &topic) {
    return {{QStringLiteral("topic"), QString::fromUtf8(topic)},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")}};
}

// The command a terminal is chosen by, as its action name where it has one.
Command choiceCommand(const InputTerminal &terminal) {
    const InputCommand &choice = inputChoice(terminal);
    const QString code = QString::fromLatin1(choice.code.data(), qsizetype(choice.code.size()));
    for (const panel::Action &action : panel::actions())
        if (action.code == code)
            return Command{code, action.name};
    return Command{code, {}};
}

QString text(const QByteArray &bytes) { return QString::fromUtf8(bytes); }

// Home Assistant takes letters, digits, '_' and '-' in a node id; '_' is kept for escapes.
bool isIdCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

QByteArray configTopic(const Topics &topics, const Entity &entity) {
    return QByteArray(discoveryPrefix) + '/' + entity.component + '/' + topics.nodeId + '/' + entity.object + "/config";
}

QJsonObject config(const Topics &topics, const Entity &entity, const QJsonObject &device) {
    QJsonObject config{
        {QStringLiteral("name"), QString::fromLatin1(entity.name)},
        {QStringLiteral("unique_id"), text(topics.nodeId + '_' + entity.object)},
        // What reads the projector is unavailable while the server is gone or the
        // projector does not answer; a button only while the server is gone.
        {QStringLiteral("availability"), entity.kind == Kind::button ? QJsonArray{availabilityOf(topics.availability)}
                                                                     : QJsonArray{availabilityOf(topics.availability),
                                                                                  availabilityOf(topics.projector)}},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"), QJsonObject{{QStringLiteral("name"), QStringLiteral("tavo-server")}}},
    };
    const auto set = [&config](const char *key, const QJsonValue &value) { config.insert(QLatin1String(key), value); };
    switch (entity.kind) {
    case Kind::powerSwitch:
        set("state_topic", text(topics.power));
        set("command_topic", text(topics.powerSet));
        set("payload_on", QStringLiteral("ON"));
        set("payload_off", QStringLiteral("OFF"));
        set("icon", QStringLiteral("mdi:projector"));
        break;
    case Kind::inputSelect: {
        QJsonArray options;
        for (const InputTerminal &terminal : inputTerminals)
            options.append(inputName(terminal));
        set("state_topic", text(topics.input));
        set("command_topic", text(topics.inputSet));
        set("options", options);
        set("icon", QStringLiteral("mdi:video-input-hdmi"));
        break;
    }
    case Kind::powerState: {
        QJsonArray options;
        for (const PowerStatus state : powerStates)
            options.append(powerStatusName(state));
        set("state_topic", text(topics.powerState));
        set("device_class", QStringLiteral("enum"));
        set("options", options);
        set("icon", QStringLiteral("mdi:power-settings"));
        break;
    }
    case Kind::lampHours:
        set("state_topic", text(topics.lampHours));
        set("unit_of_measurement", QStringLiteral("h"));
        set("device_class", QStringLiteral("duration"));
        set("state_class", QStringLiteral("total_increasing"));
        set("icon", QStringLiteral("mdi:lightbulb-on-outline"));
        break;
    case Kind::temperature:
        set("state_topic", text(topics.temperatures[std::size_t(entity.sensor)]));
        set("unit_of_measurement", QStringLiteral("°C"));
        set("device_class", QStringLiteral("temperature"));
        set("state_class", QStringLiteral("measurement"));
        break;
    case Kind::button:
        set("command_topic", text(topics.command));
        set("payload_press", QString::fromLatin1(entity.press));
        break;
    }
    return config;
}

Command actionCommand(const char *name) {
    return std::get<QList<Command>>(commandsFrom({QString::fromLatin1(name)})).front();
}

} // namespace

std::variant<Broker, QString> readBrokerUrl(const QString &given) {
    const QUrl url(given, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("mqtt") || url.host().isEmpty())
        return QStringLiteral("give the broker as mqtt://host:port, e.g. mqtt://127.0.0.1:1883");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("put the user name and password in --mqtt-password-file, not in the URL: the command "
                              "line shows in the process list");
    if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() || url.hasFragment())
        return QStringLiteral("the broker's URL takes nothing after host:port");
    const int port = url.port(1883);
    if (port < 1)
        return QStringLiteral("the broker's port is 1 to 65535");
    return Broker{url.host(), quint16(port)};
}

QString topicSafe(const QString &name) {
    QString safe;
    for (const QChar c : name.left(longestName))
        safe += c == u'/' || c == u'+' || c == u'#' || c.isSpace() || c.category() == QChar::Other_Control ? u'_' : c;
    return safe.isEmpty() ? QStringLiteral("default") : safe;
}

QString baseFor(const QString &instance) {
    return QStringLiteral("tavo/") + topicSafe(instance.isEmpty() ? QHostInfo::localHostName() : instance);
}

QByteArray nodeIdFor(const QString &base) {
    const QByteArray bytes = base.toUtf8();
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return isIdCharacter(c) || c == '/'; }))
        return QByteArray(bytes).replace('/', '_');
    QByteArray id = "_";
    for (const char c : bytes)
        id += isIdCharacter(c) ? QByteArray(1, c) : '_' + QByteArray(1, c).toHex();
    return id;
}

QString baseProblem(const QString &base) {
    if (base.isEmpty())
        return QStringLiteral("the base is empty");
    if (base.size() > 200)
        return QStringLiteral("the base is longer than 200 characters");
    if (base.contains(u'+') || base.contains(u'#'))
        return QStringLiteral("the base holds a wildcard (+ or #)");
    if (base.startsWith(u'/') || base.endsWith(u'/') || base.contains(QLatin1String("//")))
        return QStringLiteral("the base has an empty level (a / at either end, or //)");
    if (base.startsWith(u'$'))
        return QStringLiteral("topics starting with $ belong to the broker");
    if (std::any_of(base.begin(), base.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("the base holds a control character");
    return {};
}

Topics::Topics(const QString &base) {
    const QByteArray under = base.toUtf8() + '/';
    availability = under + "availability";
    projector = under + "projector/availability";
    command = under + "command";
    result = under + "result";
    power = under + "power";
    powerSet = under + "power/set";
    powerState = under + "power_state";
    input = under + "input";
    inputSet = under + "input/set";
    lampHours = under + "lamp_hours";
    for (std::size_t i = 0; i < temperatures.size(); ++i)
        temperatures[i] = under + "temperature/" + QByteArray::number(qsizetype(i) + 1);
    nodeId = nodeIdFor(base);
    formerNodeId = base.toUtf8();
    for (char &c : formerNodeId)
        if (!isIdCharacter(c))
            c = '_';
}

QList<QByteArray> Topics::retainedTopics() const {
    return QList<QByteArray>{availability, projector, power, powerState, input, lampHours} +
           QList<QByteArray>(temperatures.begin(), temperatures.end());
}

QList<Message> discoveryMessages(const Topics &topics, const QString &deviceName) {
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{text(topics.nodeId)}},
        {QStringLiteral("name"), deviceName},
        {QStringLiteral("manufacturer"), QStringLiteral("TAVO")},
        {QStringLiteral("model"), QStringLiteral("QT735")},
    };
    QList<Message> messages;
    for (const Entity &entity : entities)
        messages.append({configTopic(topics, entity),
                         QJsonDocument(config(topics, entity, device)).toJson(QJsonDocument::Compact)});
    return messages;
}

QList<QByteArray> discoveryTopics(const Topics &topics) {
    QList<QByteArray> all;
    for (const Entity &entity : entities)
        all.append(configTopic(topics, entity));
    return all;
}

QList<Message> stateMessages(const Topics &topics, const Readings::Reading &reading) {
    const QLatin1String name(reading.name);
    if (name == QLatin1String("power") && reading.value.isString()) {
        const QString state = reading.value.toString();
        const bool lit = state == powerStatusName(PowerStatus::on) || state == powerStatusName(PowerStatus::countDown);
        return {{topics.power, lit ? "ON" : "OFF"}, {topics.powerState, state.toUtf8()}};
    }
    // Home Assistant's select takes "None" as an unknown option.
    if (name == QLatin1String("input") && reading.taken.isValid())
        return {{topics.input, reading.value.isString() ? reading.value.toString().toUtf8() : QByteArray("None")}};
    if (name == QLatin1String("lamp_hours") && reading.value.isDouble())
        return {{topics.lampHours, QByteArray::number(reading.value.toInt())}};
    if (name == QLatin1String("temperatures") && reading.value.isArray()) {
        const QJsonArray degrees = reading.value.toArray();
        QList<Message> messages;
        for (std::size_t i = 0; i < topics.temperatures.size() && qsizetype(i) < degrees.size(); ++i)
            messages.append({topics.temperatures[i], QByteArray::number(degrees.at(qsizetype(i)).toDouble(), 'f', 1)});
        return messages;
    }
    return {};
}

std::variant<Command, QString> commandFor(const Topics &topics, const QByteArray &topic, const QByteArray &payload,
                                          bool rawTaken) {
    if (payload.size() > longestCommand)
        return QStringLiteral("a command is at most %1 bytes").arg(longestCommand);
    const QString given = QString::fromUtf8(payload).trimmed();
    if (topic == topics.powerSet) {
        if (given.compare(QLatin1String("ON"), Qt::CaseInsensitive) == 0)
            return actionCommand("power-on");
        if (given.compare(QLatin1String("OFF"), Qt::CaseInsensitive) == 0)
            return actionCommand("power-off");
        return QStringLiteral("send ON or OFF to %1").arg(text(topic));
    }
    if (topic == topics.inputSet) {
        if (const InputTerminal *terminal = inputTerminalNamed(given))
            return choiceCommand(*terminal);
        QStringList options;
        for (const InputTerminal &terminal : inputTerminals)
            options << inputName(terminal);
        return QStringLiteral("send one of %1 to %2").arg(options.join(QLatin1String(", ")), text(topic));
    }
    if (topic == topics.command) {
        const auto commands = commandsFrom({given});
        if (const QString *error = std::get_if<QString>(&commands))
            return *error;
        const Command command = std::get<QList<Command>>(commands).front();
        if (command.action.isEmpty() && !rawTaken)
            return QStringLiteral("raw codes are taken here only when tavo-server runs with --mqtt-raw; send an "
                                  "action name such as status or volume-up (tavo-send --list shows them all)");
        return command;
    }
    return QStringLiteral("%1 takes no commands").arg(text(topic));
}

} // namespace mqtt
