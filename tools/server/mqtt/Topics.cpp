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

enum class Kind {
    powerSwitch,
    inputSelect,
    powerState,
    problem,
    lampHours,
    temperature,
    lampStatus,
    lampModeRead,
    lampModeSelect,
    setting,
    button,
    lastCommand
};

struct Entity {
    const char *component;
    const char *object; // the last part of its unique id and of its config topic
    const char *name;   // Home Assistant puts the device's name before it
    Kind kind;
    int index = 0;               // Kind::temperature: which of the three; Kind::setting: Readings::Setting
    const char *press = nullptr; // Kind::button: the action name it sends
    bool diagnostic = false;     // shown apart from the controls
};

// clang-format off
constexpr Entity entities[] = {
    {"switch",        "power",          "Power",            Kind::powerSwitch},
    {"select",        "input",          "Input",            Kind::inputSelect},
    {"sensor",        "power_state",    "Power state",      Kind::powerState},
    {"binary_sensor", "problem",        "Problem",          Kind::problem},
    {"switch",        "audio_mute",     "Audio mute",       Kind::setting, 0},
    {"switch",        "picture_mute",   "Picture mute",     Kind::setting, 1},
    {"switch",        "freeze",         "Freeze",           Kind::setting, 2},
    {"select",        "lamp_mode",      "Lamp mode",        Kind::lampModeSelect},
    {"button",        "volume_up",      "Volume up",        Kind::button, 0, "volume-up"},
    {"button",        "volume_down",    "Volume down",      Kind::button, 0, "volume-down"},
    {"sensor",        "lamp_hours",     "Lamp hours",       Kind::lampHours, 0, nullptr, true},
    {"sensor",        "temperature_1",  "Temperature 1",    Kind::temperature, 0, nullptr, true},
    {"sensor",        "temperature_2",  "Temperature 2",    Kind::temperature, 1, nullptr, true},
    {"sensor",        "temperature_3",  "Temperature 3",    Kind::temperature, 2, nullptr, true},
    {"sensor",        "lamp_status",    "Lamp status",      Kind::lampStatus, 0, nullptr, true},
    {"sensor",        "lamp_mode_read", "Lamp mode (read)", Kind::lampModeRead, 0, nullptr, true},
    {"sensor",        "last_command",   "Last command",     Kind::lastCommand, 0, nullptr, true},
};

// Entities of earlier versions: freeze was two buttons before it was one switch.
constexpr const char *retiredEntities[][2] = {{"button", "freeze"}, {"button", "freeze_off"}};

// Every state the power query can report, and the power state sensor's options: the
// panel's words in sentence case.
struct PowerWords {
    PowerStatus status;
    const char *words;
};
constexpr PowerWords powerStates[] = {
    {PowerStatus::standby,                "Stand by"},
    {PowerStatus::countDown,              "Count down"},
    {PowerStatus::on,                     "Power on"},
    {PowerStatus::cooling,                "Cooling down"},
    {PowerStatus::powerAbnormality,       "Power abnormality"},
    {PowerStatus::temperatureAbnormality, "Temperature abnormality"},
    {PowerStatus::lampFailure,            "Lamp failure"},
};

// The panel's lamp modes: what the select offers, and the setting each sends.
struct LampMode {
    const char *option;
    const char *code;
};
constexpr LampMode lampModes[] = {
    {"Auto",  "CF LAMPMODE AUTO"},
    {"Normal", "CF LAMPMODE NORMAL"},
    {"Eco 1", "CF LAMPMODE ECO1"},
    {"Eco 2", "CF LAMPMODE ECO2"},
};
// What the lamp mode query answers, and the lamp status query: the panel's words in
// sentence case.
constexpr const char *lampModesRead[] = {"High", "Normal", "Eco"};
constexpr const char *lampStates[] = {"Lamp is on", "Lamp is off", "Lamp is failure"};
// clang-format on

// "Lamp is ON" as "Lamp is on".
QString sentenceCase(const QString &words) {
    const QString trimmed = words.trimmed();
    return trimmed.left(1).toUpper() + trimmed.mid(1).toLower();
}

template <std::size_t n> QJsonArray optionsOf(const char *const (&options)[n]) {
    QJsonArray array;
    for (const char *option : options)
        array.append(QString::fromLatin1(option));
    return array;
}

QJsonObject availabilityOf(const QByteArray &topic) {
    return {{QStringLiteral("topic"), QString::fromUtf8(topic)},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")}};
}

// A code as a command, by its action name where it has one.
Command codeCommand(const QString &code) {
    for (const panel::Action &action : panel::actions())
        if (action.code == code)
            return Command{code, action.name};
    return Command{code, {}};
}

// The command a terminal is chosen by.
Command choiceCommand(const InputTerminal &terminal) {
    const InputCommand &choice = inputChoice(terminal);
    return codeCommand(QString::fromLatin1(choice.code.data(), qsizetype(choice.code.size())));
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
    // What reads the projector or sends to it is unavailable while the server is gone or
    // the projector does not answer, the input select also while it takes no input; a
    // button and the last command only while the server is gone.
    QJsonArray availability{availabilityOf(topics.availability)};
    if (entity.kind != Kind::button && entity.kind != Kind::lastCommand)
        availability.append(availabilityOf(topics.projector));
    if (entity.kind == Kind::inputSelect)
        availability.append(availabilityOf(topics.inputAvailability));
    QJsonObject config{
        {QStringLiteral("name"), QString::fromLatin1(entity.name)},
        {QStringLiteral("unique_id"), text(topics.nodeId + '_' + entity.object)},
        {QStringLiteral("availability"), availability},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"), QJsonObject{{QStringLiteral("name"), QStringLiteral("tavo-server")},
                                               {QStringLiteral("sw"), QStringLiteral(TAVO_VERSION)}}},
    };
    const auto set = [&config](const char *key, const QJsonValue &value) { config.insert(QLatin1String(key), value); };
    if (entity.diagnostic)
        set("entity_category", QStringLiteral("diagnostic"));
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
        for (const PowerWords &state : powerStates)
            options.append(QString::fromLatin1(state.words));
        set("state_topic", text(topics.powerState));
        set("device_class", QStringLiteral("enum"));
        set("options", options);
        set("icon", QStringLiteral("mdi:power-settings"));
        break;
    }
    case Kind::problem:
        set("state_topic", text(topics.problem));
        set("json_attributes_topic", text(topics.problemAttributes));
        set("payload_on", QStringLiteral("ON"));
        set("payload_off", QStringLiteral("OFF"));
        set("device_class", QStringLiteral("problem"));
        break;
    case Kind::lampHours:
        set("state_topic", text(topics.lampHours));
        set("unit_of_measurement", QStringLiteral("h"));
        set("device_class", QStringLiteral("duration"));
        set("state_class", QStringLiteral("total_increasing"));
        set("icon", QStringLiteral("mdi:lightbulb-on-outline"));
        break;
    case Kind::temperature:
        set("state_topic", text(topics.temperatures[std::size_t(entity.index)]));
        set("unit_of_measurement", QStringLiteral("°C"));
        set("device_class", QStringLiteral("temperature"));
        set("state_class", QStringLiteral("measurement"));
        break;
    case Kind::lampStatus:
        set("state_topic", text(topics.lampStatus));
        set("device_class", QStringLiteral("enum"));
        set("options", optionsOf(lampStates));
        set("icon", QStringLiteral("mdi:lightbulb-question-outline"));
        break;
    case Kind::lampModeRead:
        set("state_topic", text(topics.lampModeRead));
        set("device_class", QStringLiteral("enum"));
        set("options", optionsOf(lampModesRead));
        set("icon", QStringLiteral("mdi:lightbulb-auto-outline"));
        break;
    case Kind::lampModeSelect: {
        QJsonArray options;
        for (const LampMode &mode : lampModes)
            options.append(QString::fromLatin1(mode.option));
        set("state_topic", text(topics.lampMode));
        set("command_topic", text(topics.lampModeSet));
        set("options", options);
        // No query reads the mode chosen: the server shows what was last set.
        set("optimistic", true);
        set("icon", QStringLiteral("mdi:lightbulb-auto-outline"));
        break;
    }
    case Kind::setting:
        set("state_topic", text(topics.settings[std::size_t(entity.index)]));
        set("command_topic", text(topics.settingsSet[std::size_t(entity.index)]));
        set("payload_on", QStringLiteral("ON"));
        set("payload_off", QStringLiteral("OFF"));
        // No query reads it: the server shows what was last set, as PJLink's AVMT ? does.
        set("optimistic", true);
        set("icon", QLatin1String(entity.index == 0   ? "mdi:volume-off"
                                  : entity.index == 1 ? "mdi:projector-screen-off-outline"
                                                      : "mdi:pause-box-outline"));
        break;
    case Kind::button:
        set("command_topic", text(topics.command));
        set("payload_press", QString::fromLatin1(entity.press));
        break;
    case Kind::lastCommand:
        set("state_topic", text(topics.lastCommand));
        set("json_attributes_topic", text(topics.lastCommandResult));
        set("icon", QStringLiteral("mdi:console-line"));
        break;
    }
    // A command sent while the broker blinks is not lost.
    if (config.contains(QLatin1String("command_topic")))
        set("qos", 1);
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
    lastCommand = under + "last_command";
    lastCommandResult = under + "last_command/result";
    power = under + "power";
    powerSet = under + "power/set";
    powerState = under + "power_state";
    problem = under + "problem";
    problemAttributes = under + "problem/attributes";
    input = under + "input";
    inputSet = under + "input/set";
    inputAvailability = under + "input/availability";
    lampHours = under + "lamp_hours";
    for (std::size_t i = 0; i < temperatures.size(); ++i)
        temperatures[i] = under + "temperature/" + QByteArray::number(qsizetype(i) + 1);
    lampStatus = under + "lamp_status";
    lampMode = under + "lamp_mode";
    lampModeSet = under + "lamp_mode/set";
    lampModeRead = under + "lamp_mode_read";
    const char *settingNames[] = {"audio_mute", "picture_mute", "freeze"};
    for (std::size_t i = 0; i < settings.size(); ++i) {
        settings[i] = under + settingNames[i];
        settingsSet[i] = settings[i] + "/set";
    }
    nodeId = nodeIdFor(base);
    formerNodeId = base.toUtf8();
    for (char &c : formerNodeId)
        if (!isIdCharacter(c))
            c = '_';
}

QList<QByteArray> Topics::retainedTopics() const {
    return QList<QByteArray>{availability, projector,         lastCommand, lastCommandResult, power,     powerState,
                             problem,      problemAttributes, input,       inputAvailability, lampHours, lampStatus,
                             lampMode,     lampModeRead} +
           QList<QByteArray>(temperatures.begin(), temperatures.end()) +
           QList<QByteArray>(settings.begin(), settings.end());
}

QList<Message> discoveryMessages(const Topics &topics, const Device &described) {
    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{text(topics.nodeId)}},
        {QStringLiteral("name"), described.name},
        {QStringLiteral("manufacturer"), QStringLiteral("TAVO")},
        {QStringLiteral("model"), QStringLiteral("QT735")},
        {QStringLiteral("sw_version"), QStringLiteral(TAVO_VERSION)},
    };
    if (!described.configurationUrl.isEmpty())
        device.insert(QStringLiteral("configuration_url"), described.configurationUrl);
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

QList<QByteArray> retiredDiscoveryTopics(const Topics &topics) {
    QList<QByteArray> all;
    for (const auto &[component, object] : retiredEntities)
        all.append(QByteArray(discoveryPrefix) + '/' + component + '/' + topics.nodeId + '/' + object + "/config");
    return all;
}

QString powerWords(PowerStatus status) {
    for (const PowerWords &state : powerStates)
        if (state.status == status)
            return QString::fromLatin1(state.words);
    return {};
}

// The power reading's value ("countdown") in words ("Count down").
QString powerWordsOf(const QString &name) {
    for (const PowerWords &each : powerStates)
        if (powerStatusName(each.status) == name)
            return QString::fromLatin1(each.words);
    return {};
}

QList<Message> stateMessages(const Topics &topics, const Readings::Reading &reading) {
    const QLatin1String name(reading.name);
    if (name == QLatin1String("power") && reading.value.isString()) {
        const QString state = reading.value.toString();
        const bool lit = state == powerStatusName(PowerStatus::on) || state == powerStatusName(PowerStatus::countDown);
        const QByteArray words = powerWordsOf(state).toUtf8();
        // Inputs are chosen only while the projector is on.
        const bool takesInputs = state == powerStatusName(PowerStatus::on);
        return {{topics.power, lit ? "ON" : "OFF"},
                {topics.powerState, words},
                {topics.inputAvailability, takesInputs ? "online" : "offline"}};
    }
    if (name == QLatin1String("lamp_status") && reading.value.isString())
        return {{topics.lampStatus, sentenceCase(reading.value.toString()).toUtf8()}};
    if (name == QLatin1String("lamp_mode") && reading.value.isString())
        return {
            {topics.lampModeRead, sentenceCase(reading.value.toString().section(QLatin1String(" is "), 1)).toUtf8()}};
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

QList<Message> problemMessages(const Topics &topics, const Readings &readings) {
    const Readings::Reading &power = readings.reading(Held::power);
    if (!power.value.isString())
        return {};
    QStringList problems;
    const QString state = power.value.toString();
    for (const PowerStatus fault :
         {PowerStatus::powerAbnormality, PowerStatus::temperatureAbnormality, PowerStatus::lampFailure})
        if (state == powerStatusName(fault))
            problems << powerWords(fault);
    const Readings::Reading &lamp = readings.reading(Held::lampStatus);
    const QString lampWords = lamp.value.isString() ? sentenceCase(lamp.value.toString()) : QString();
    if (lampWords == QLatin1String(lampStates[2]))
        problems << lampWords;
    const QJsonObject attributes{
        {QStringLiteral("problem"), problems.isEmpty() ? QJsonValue() : QJsonValue(problems.join(QLatin1String(", ")))},
        {QStringLiteral("power_state"), powerWordsOf(state)},
        {QStringLiteral("lamp_status"), lampWords.isEmpty() ? QJsonValue() : QJsonValue(lampWords)},
    };
    return {{topics.problem, problems.isEmpty() ? "OFF" : "ON"},
            {topics.problemAttributes, QJsonDocument(attributes).toJson(QJsonDocument::Compact)}};
}

QList<Message> settingMessages(const Topics &topics, const Readings &readings) {
    QList<Message> messages;
    for (std::size_t i = 0; i < topics.settings.size(); ++i)
        messages.append({topics.settings[i], readings.setting(Readings::Setting(i)) ? "ON" : "OFF"});
    const QString chosen = QStringLiteral("CF LAMPMODE ") + readings.lampModeChosen();
    for (const LampMode &mode : lampModes)
        if (chosen == QLatin1String(mode.code))
            messages.append({topics.lampMode, mode.option});
    return messages;
}

QList<Message> lastCommandMessages(const Topics &topics, const QJsonObject &result) {
    const QString what = result[QLatin1String("action")].toString(result[QLatin1String("command")].toString());
    const QString error = result[QLatin1String("error")].toString();
    static const QLatin1String notSent("not sent: "), failed("failed: ");
    QString words =
        result[QLatin1String("ok")].toBool() ? QStringLiteral("Done: %1").arg(what)
        : error.startsWith(notSent)
            ? QStringLiteral("Refused: %1").arg(error.mid(notSent.size()))
            : QStringLiteral("Failed: %1 (%2)").arg(error.startsWith(failed) ? error.mid(failed.size()) : error, what);
    // Home Assistant takes a state of up to 255 characters.
    if (words.size() > 255)
        words = words.left(254) + QChar(0x2026);
    return {{topics.lastCommandResult, QJsonDocument(result).toJson(QJsonDocument::Compact)},
            {topics.lastCommand, words.toUtf8()}};
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
    if (topic == topics.lampModeSet) {
        QStringList options;
        for (const LampMode &mode : lampModes) {
            if (given.compare(QLatin1String(mode.option), Qt::CaseInsensitive) == 0)
                return codeCommand(QString::fromLatin1(mode.code));
            options << QString::fromLatin1(mode.option);
        }
        return QStringLiteral("send one of %1 to %2").arg(options.join(QLatin1String(", ")), text(topic));
    }
    for (std::size_t i = 0; i < topics.settingsSet.size(); ++i) {
        if (topic != topics.settingsSet[i])
            continue;
        const Readings::SettingCommands &commands = Readings::settingCommands[i];
        if (given.compare(QLatin1String("ON"), Qt::CaseInsensitive) == 0)
            return codeCommand(QString::fromLatin1(commands.on));
        if (given.compare(QLatin1String("OFF"), Qt::CaseInsensitive) == 0)
            return codeCommand(QString::fromLatin1(commands.off));
        return QStringLiteral("send ON or OFF to %1").arg(text(topic));
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
