// tavo-server's MQTT front end as Home Assistant meets it, against Debian's mosquitto started
// by the test on a free loopback port, with the projector simulator on a pseudo-terminal. The
// test's own MQTT client is mosquitto_sub and mosquitto_pub: what they see is what any
// client of the broker sees.
#include "LineQueue.h"
#include "ProjectorServer.h"
#include "TestSupport.h"

#include "mqtt/Topics.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <memory>
#include <optional>

namespace {

// The broker and its clients come with scripts/bootstrap.sh; without them the test fails.
QString mosquittoProgram(const char *name) {
    QString found = QStandardPaths::findExecutable(QLatin1String(name));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QLatin1String(name), {"/usr/sbin", "/usr/local/sbin"});
    if (found.isEmpty())
        qWarning("%s is missing: scripts/bootstrap.sh installs it", name);
    return found;
}

// mosquitto on 127.0.0.1 and a port of its own; with `user`, only that user and password.
struct Broker {
    QTemporaryDir dir;
    quint16 port = freeLoopbackPort();
    QProcess process;
    QByteArray log;
    QStringList credentials; // for the test's own clients

    explicit Broker(const QByteArray &user = {}, const QByteArray &password = {}) {
        QFile config(dir.filePath("mosquitto.conf"));
        (void)config.open(QIODevice::WriteOnly);
        config.write("listener " + QByteArray::number(port) + " 127.0.0.1\npersistence false\n");
        if (user.isEmpty()) {
            config.write("allow_anonymous true\n");
        } else {
            // A broker started as root reads its password file as the user "mosquitto".
            QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ReadOther | QFile::ExeOther);
            QProcess::execute(mosquittoProgram("mosquitto_passwd"),
                              {"-c", "-b", dir.filePath("passwords"), QString(user), QString(password)});
            config.write("allow_anonymous false\npassword_file " + dir.filePath("passwords").toUtf8() + '\n');
            credentials = QStringList{"-u", QString(user), "-P", QString(password)};
        }
        config.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, &process, [this] { log += process.readAll(); });
        start();
    }
    ~Broker() { stop(); }
    bool start() {
        log.clear();
        process.start(mosquittoProgram("mosquitto"), {"-c", dir.filePath("mosquitto.conf")});
        if (waitUntil([this] { return log.contains(" running") || process.state() == QProcess::NotRunning; }) &&
            process.state() == QProcess::Running)
            return true;
        qWarning("mosquitto did not start: %s", log.constData());
        return false;
    }
    // At once: mosquitto just started may take seconds to notice SIGTERM.
    void stop() {
        process.kill();
        process.waitForFinished(5000);
    }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port); }
};

struct Seen {
    bool retained;
    QByteArray topic;
    QByteArray payload;
};

// A client of the broker that keeps every message on its topics, in order.
struct Watcher {
    QProcess process;
    QByteArray pending;
    QList<Seen> seen;

    Watcher(const Broker &broker, const QStringList &topics) {
        QStringList arguments =
            QStringList{"-h", "127.0.0.1", "-p", QString::number(broker.port), "-q", "1", "-F", R"(%r\t%t\t%p)"} +
            broker.credentials;
        for (const QString &topic : topics)
            arguments << "-t" << topic;
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            pending += process.readAllStandardOutput();
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
                const QList<QByteArray> fields = pending.left(end).split('\t');
                if (fields.size() == 3)
                    seen.append({fields[0] == "1", fields[1], fields[2]});
            }
        });
        process.start(mosquittoProgram("mosquitto_sub"), arguments);
    }
    ~Watcher() {
        process.terminate();
        process.waitForFinished(3000);
    }
    std::optional<Seen> last(const QByteArray &topic) const {
        for (auto each = seen.rbegin(); each != seen.rend(); ++each)
            if (each->topic == topic)
                return *each;
        return std::nullopt;
    }
    // The next message on `topic` from the `after`-th message on, found within the time.
    std::optional<Seen> next(const QByteArray &topic, qsizetype &after, int timeoutMs = 5000) {
        std::optional<Seen> found;
        (void)waitUntil(
            [&] {
                for (; after < seen.size() && !found; ++after)
                    if (seen[after].topic == topic)
                        found = seen[after];
                return found.has_value();
            },
            timeoutMs);
        return found;
    }
    qsizetype count(const QByteArray &topic) const {
        return std::count_if(seen.begin(), seen.end(), [&](const Seen &each) { return each.topic == topic; });
    }
};

bool publish(const Broker &broker, const QByteArray &topic, const QByteArray &payload, bool retain = false) {
    QStringList arguments{"-h", "127.0.0.1", "-p", QString::number(broker.port), "-q", "1", "-t", QString(topic)};
    arguments << (payload.isEmpty() ? QStringList{"-n"} : QStringList{"-m", QString(payload)});
    if (retain)
        arguments << "-r";
    return QProcess::execute(mosquittoProgram("mosquitto_pub"), arguments + broker.credentials) == 0;
}

QJsonObject json(const std::optional<Seen> &message) {
    return message ? QJsonDocument::fromJson(message->payload).object() : QJsonObject();
}

// One simulated projector on a pseudo-terminal, every byte it hears in its wire log.
struct Simulator {
    QTemporaryDir dir;
    QProcess process;
    QString device;
    explicit Simulator(QStringList arguments = {}) {
        startBuilt(process, "TAVO_PROJECTOR_SIM", arguments << "--pty"
                                                                            << "--wire-log"
                                                                            << dir.filePath("wire.log"));
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            device = QString::fromLatin1(process.readLine()).trimmed().mid(4);
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
    QByteArray wire() const { return fileContents(dir.filePath("wire.log")); }
};

mqtt::Settings settingsFor(const Broker &broker, const QString &base) {
    mqtt::Settings settings;
    settings.broker = {QStringLiteral("127.0.0.1"), broker.port};
    settings.base = base;
    return settings;
}

// The server in this process on the real serial adapter, with the MQTT front end and PJLink.
struct ServerRig {
    MemorySettingsStore settings;
    QtSerialComponent port{settings};
    std::unique_ptr<ProjectorServer> server;
    QStringList log;
    LogCapture capture{log};

    ServerRig(const QString &device, const mqtt::Settings &mqtt, int pollSeconds, const QByteArray &name = "TAVO QT735",
              bool http = false) {
        port.setDevice(device);
        port.setSettings(QStringLiteral("9600,N,8,1"));
        ServerOptions options;
        options.port = device;
        options.pollSeconds = pollSeconds;
        options.queue.maxAgeMs = 0;
        options.pjlink = ListenAddress{QHostAddress::LocalHost, 0};
        options.pjlinkName = name;
        if (http)
            options.http = ListenAddress{QHostAddress::LocalHost, 0};
        else
            options.http.reset();
        options.mqtt = mqtt;
        server = std::make_unique<ProjectorServer>(options, port);
        QString error;
        if (!server->start(&error))
            qWarning("%s", qPrintable(error));
    }
    ~ServerRig() {
        server->stop();
        server.reset();
    }
    qsizetype logged(const QString &text) const { return log.filter(text).size(); }
    quint16 portOf(const char *frontEnd) const {
        return server->address(QLatin1String(frontEnd)).section(':', -1).toUShort();
    }
};

// The HTTP API, the events socket and PJLink of one server, as their clients meet them.
struct Clients {
    QNetworkAccessManager web;
    QString base;
    quint16 pjlinkPort;
    QWebSocket events;
    QList<QJsonObject> received;

    explicit Clients(const ServerRig &rig)
        : base(QStringLiteral("http://127.0.0.1:%1").arg(rig.portOf("http"))), pjlinkPort(rig.portOf("pjlink")) {
        QObject::connect(&events, &QWebSocket::textMessageReceived, &events,
                         [this](const QString &text) { received << QJsonDocument::fromJson(text.toUtf8()).object(); });
        events.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(rig.portOf("http"))));
    }
    // GET, or POST of a command; the status and the body.
    std::pair<int, QByteArray> http(const QString &path, const QByteArray &command = {}) {
        QNetworkRequest request(QUrl(base + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply *reply =
            command.isEmpty() ? web.get(request) : web.post(request, R"({"command": ")" + command + R"("})");
        (void)waitUntil([reply] { return reply->isFinished(); });
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }
    QJsonObject status() { return QJsonDocument::fromJson(http("/api/status").second).object(); }
    // One PJLink command on a connection of its own; the answer without its header.
    QByteArray pjlink(const QByteArray &command) {
        QTcpSocket socket;
        QByteArray got;
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { got += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, pjlinkPort);
        if (!waitUntil([&] { return got.contains('\r'); }))
            return {};
        got.clear();
        socket.write("%1" + command + '\r');
        (void)waitUntil([&] { return got.contains('\r'); });
        return got.left(got.indexOf('\r')).mid(7);
    }
    bool eventSeen(const std::function<bool(const QJsonObject &)> &matches) const {
        return std::any_of(received.begin(), received.end(), matches);
    }
};

// Two servers on one broker, as two projectors of one building.
struct TwoRooms {
    Broker broker;
    Simulator room4Projector, room5Projector;
    ServerRig room4{room4Projector.device, settingsFor(broker, "tavo/room-4"), 60, "Room 4 projector"};
    ServerRig room5{room5Projector.device, settingsFor(broker, "tavo/room-5"), 60, "Room 5 projector"};
    Watcher watcher{broker, {"homeassistant/#", "tavo/#"}};
};

} // namespace

class Mqtt : public QObject {
    Q_OBJECT
    std::unique_ptr<TwoRooms> m_rooms; // shared by the discovery rows

private slots:
    void initTestCase() {
        for (const char *program : {"mosquitto", "mosquitto_sub", "mosquitto_pub", "mosquitto_passwd"})
            QVERIFY2(!mosquittoProgram(program).isEmpty(), program);
    }
    void cleanupTestCase() { m_rooms.reset(); }

    // Each entity's retained config has what Home Assistant requires of its kind, names one
    // described device, keeps diagnostics apart, has its commands sent at QoS 1, and shares
    // no topic or unique id with the same entity of another server; its state, once read, is
    // one Home Assistant accepts.
    void discoveryDescribesOneDevicePerServer_data() {
        QTest::addColumn<QString>("entity"); // component/object
        QTest::addColumn<QStringList>("required");
        QTest::addColumn<QJsonObject>("fixed");
        QTest::addColumn<QStringList>("availability"); // under the base
        const QStringList commanded{"command_topic"}, stated{"state_topic"};
        const QStringList server{"availability"}, reads{"availability", "projector/availability"};
        const QJsonObject diagnostic{{"entity_category", "diagnostic"}};
        const auto with = [](QJsonObject object, const QJsonObject &more) {
            for (auto each = more.begin(); each != more.end(); ++each)
                object.insert(each.key(), each.value());
            return object;
        };
        const QJsonObject onOff{{"payload_on", "ON"}, {"payload_off", "OFF"}};
        QTest::newRow("power switch") << "switch/power" << commanded + stated << onOff << reads;
        QTest::newRow("input select") << "select/input" << commanded + stated + QStringList{"options"}
                                      << QJsonObject{} << reads + QStringList{"input/availability"};
        QTest::newRow("power state")
            << "sensor/power_state" << stated
            << QJsonObject{{"options", QJsonArray{"Stand by", "Count down", "Power on", "Cooling down",
                                                  "Power abnormality", "Temperature abnormality", "Lamp failure"}}}
            << reads;
        QTest::newRow("problem") << "binary_sensor/problem" << stated + QStringList{"json_attributes_topic"}
                                 << with(onOff, {{"device_class", "problem"}}) << reads;
        QTest::newRow("audio mute") << "switch/audio_mute" << commanded + stated
                                    << with(onOff, {{"optimistic", true}}) << reads;
        QTest::newRow("picture mute") << "switch/picture_mute" << commanded + stated
                                      << with(onOff, {{"optimistic", true}}) << reads;
        QTest::newRow("freeze") << "switch/freeze" << commanded + stated << with(onOff, {{"optimistic", true}})
                                << reads;
        QTest::newRow("lamp mode")
            << "select/lamp_mode" << commanded + stated
            << QJsonObject{{"optimistic", true}, {"options", QJsonArray{"Auto", "Normal", "Eco 1", "Eco 2"}}} << reads;
        QTest::newRow("volume up") << "button/volume_up" << commanded << QJsonObject{{"payload_press", "volume-up"}}
                                   << server;
        QTest::newRow("volume down") << "button/volume_down" << commanded
                                     << QJsonObject{{"payload_press", "volume-down"}} << server;
        QTest::newRow("lamp hours")
            << "sensor/lamp_hours" << stated
            << with(diagnostic, {{"unit_of_measurement", "h"}, {"state_class", "total_increasing"}}) << reads;
        for (const char *sensor : {"1", "2", "3"})
            QTest::newRow(qPrintable(QString("temperature %1").arg(sensor)))
                << QString("sensor/temperature_%1").arg(sensor) << stated
                << with(diagnostic, {{"unit_of_measurement", "°C"}, {"device_class", "temperature"}}) << reads;
        QTest::newRow("lamp status")
            << "sensor/lamp_status" << stated
            << with(diagnostic, {{"options", QJsonArray{"Lamp is on", "Lamp is off", "Lamp is failure"}}}) << reads;
        QTest::newRow("lamp mode read") << "sensor/lamp_mode_read" << stated
                                        << with(diagnostic, {{"options", QJsonArray{"High", "Normal", "Eco"}}})
                                        << reads;
        QTest::newRow("last command") << "sensor/last_command" << stated + QStringList{"json_attributes_topic"}
                                      << diagnostic << server;
    }
    void discoveryDescribesOneDevicePerServer() {
        QFETCH(QString, entity);
        QFETCH(QStringList, required);
        QFETCH(QJsonObject, fixed);
        QFETCH(QStringList, availability);
        if (!m_rooms)
            m_rooms = std::make_unique<TwoRooms>();
        Watcher &watcher = m_rooms->watcher;
        const auto configOf = [&](const char *node) {
            const QByteArray topic = QString("homeassistant/%1/%2/%3/config")
                                         .arg(entity.section('/', 0, 0), node, entity.section('/', 1))
                                         .toUtf8();
            (void)waitUntil([&] { return watcher.last(topic).has_value(); });
            return watcher.last(topic);
        };
        std::optional<Seen> message = configOf("tavo_room-4");
        QVERIFY(message);
        { // Home Assistant finds it when it comes later, or starts again
            Watcher later(m_rooms->broker, {QString(message->topic)});
            QVERIFY(waitUntil([&] { return !later.seen.isEmpty(); }));
            message = later.seen.first();
            QVERIFY(message->retained);
        }
        QJsonParseError error;
        const QJsonObject config = QJsonDocument::fromJson(message->payload, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, message->payload.constData());
        for (const QString &key : required + QStringList{"name", "unique_id", "availability", "device"})
            QVERIFY2(config.contains(key), qPrintable(key));
        for (auto value = fixed.begin(); value != fixed.end(); ++value)
            QCOMPARE(config[value.key()], value.value());
        QCOMPARE(config.contains("entity_category"), fixed.contains("entity_category"));
        QCOMPARE(config["qos"].toInt(), config.contains("command_topic") ? 1 : 0);
        // Unavailable while the server is gone, what reads the projector or sends to it also
        // while it does not answer, and the input select while it takes no input.
        QStringList topics;
        for (const QJsonValue &each : config["availability"].toArray())
            topics << each["topic"].toString();
        QCOMPARE(topics, availability.replaceInStrings(QRegularExpression("^"), "tavo/room-4/"));
        QCOMPARE(config["availability_mode"].toString(), QString("all"));
        const QJsonObject device = config["device"].toObject();
        QCOMPARE(device["manufacturer"].toString(), QString("TAVO"));
        QCOMPARE(device["model"].toString(), QString("QT735"));
        QCOMPARE(device["name"].toString(), QString("Room 4 projector"));
        QCOMPARE(device["sw_version"].toString(), QString(TAVO_VERSION));
        QCOMPARE(config["origin"].toObject()["sw"].toString(), QString(TAVO_VERSION));
        QVERIFY(!device["identifiers"].toArray().isEmpty());

        const QJsonObject other = json(configOf("tavo_room-5"));
        QVERIFY(!other.isEmpty());
        for (const char *distinct : {"unique_id", "state_topic", "command_topic", "availability"})
            if (config.contains(distinct))
                QVERIFY2(config[distinct] != other[distinct], distinct);
        QVERIFY(device["identifiers"] != other["device"].toObject()["identifiers"]);

        // The last command and the lamp mode chosen have no state until a command.
        if (!config.contains("state_topic") || entity == "sensor/last_command" || entity == "select/lamp_mode")
            return;
        const QByteArray stateTopic = config["state_topic"].toString().toUtf8();
        QVERIFY2(waitUntil([&] { return watcher.last(stateTopic).has_value(); }), stateTopic.constData());
        const QString state = QString::fromUtf8(watcher.last(stateTopic)->payload);
        if (config.contains("options"))
            QVERIFY2(config["options"].toArray().contains(state), qPrintable(state));
        else if (config.contains("payload_on"))
            QVERIFY2(state == "ON" || state == "OFF", qPrintable(state));
        else {
            bool number = false;
            state.toDouble(&number);
            QVERIFY2(number, qPrintable(state));
        }
    }

    // Bases that earlier versions all made "tavo_room_4", started at once: three devices
    // with disjoint ids, each server connected once and never thrown off by another. The
    // config an earlier version of one of them left under the former id goes; another
    // server's under the same id stays.
    void distinctBasesNeverShareAnId() {
        Broker broker;
        const auto former = [](const char *base) {
            return QString(R"({"name":"x","availability":[{"topic":"%1/availability"}]})").arg(base).toUtf8();
        };
        QVERIFY(publish(broker, "homeassistant/switch/tavo_room_4/power/config", former("tavo/room.4"), true));
        QVERIFY(publish(broker, "homeassistant/sensor/tavo_room_4/lamp_hours/config", former("tavo/room/4"),
                        true));
        Watcher watcher(broker, {"homeassistant/#", "tavo/#"});
        const QStringList bases{"tavo/room.4", "tavo/room_4", "tavo/room 4"};
        Simulator projectors[3];
        std::unique_ptr<ServerRig> rigs[3];
        for (int i = 0; i < 3; ++i)
            rigs[i] = std::make_unique<ServerRig>(projectors[i].device, settingsFor(broker, bases[i]), 0);
        QVERIFY(waitUntil([&] {
            return std::all_of(bases.begin(), bases.end(), [&](const QString &base) {
                const auto availability = watcher.last(base.toUtf8() + "/availability");
                return availability && availability->payload == "online";
            });
        }));
        QCOMPARE(rigs[0]->logged("lost the broker"), 0);
        QSet<QString> ids;
        for (int i = 0; i < 3; ++i) {
            // The log is the process's own, which the three servers share here.
            QCOMPARE(rigs[i]->logged(" as tavo-server-" + QString::fromUtf8(mqtt::Topics(bases[i]).nodeId)), 1);
            const mqtt::Topics topics(bases[i]);
            QVERIFY(topics.nodeId.startsWith('_'));
            for (const QByteArray &config : mqtt::discoveryTopics(topics)) {
                QVERIFY2(waitUntil([&] { return watcher.last(config).has_value(); }), config.constData());
                ids << json(watcher.last(config))["unique_id"].toString();
            }
        }
        QCOMPARE(ids.size(), 3 * int(mqtt::discoveryTopics(mqtt::Topics("x")).size()));
        QVERIFY(waitUntil([&] { return watcher.last("homeassistant/switch/tavo_room_4/power/config")->payload.isEmpty(); }));
        QCOMPARE(rigs[0]->logged("former id tavo_room_4"), 1);
        QVERIFY(!watcher.last("homeassistant/sensor/tavo_room_4/lamp_hours/config")->payload.isEmpty());
        // A second server on the same base takes the client id: one of the two says so once,
        // and gives way.
        Simulator fourth;
        ServerRig twin(fourth.device, settingsFor(broker, bases[0]), 0);
        QVERIFY(waitUntil([&] { return twin.logged("same client id") == 1; }, 15000));
        QCOMPARE(twin.logged("same client id tavo-server-_tavo_2froom_2e4"), 1);
        QCOMPARE(mqtt::nodeIdFor("tavo/hall"), QByteArray("tavo_hall"));
        QCOMPARE(mqtt::nodeIdFor("tavo/room.4"), QByteArray("_tavo_2froom_2e4"));
    }

    // Home Assistant's switches, selects and buttons on the line: a retained command left on
    // the broker is not taken, ON puts C00 on the line and the switch follows, OFF while
    // warming up is refused without reaching the line and shows in words in "Last command",
    // the input select is unavailable until the projector is on, a button still goes
    // through, a mute set here is what PJLink answers, the lamp mode chosen is shown, and a
    // raw code is refused without --mqtt-raw. Each outcome is tavo-send's JSON. After Home
    // Assistant restarts against a broker that lost the configs, its birth message brings
    // every one back.
    void commandsFromHomeAssistant() {
        Broker broker;
        Simulator projector({"--warmup", "60000"});
        const QByteArray base = "tavo/ha";
        QVERIFY(publish(broker, base + "/power/set", "OFF", true)); // left behind by some client
        Watcher watcher(broker, {"homeassistant/#", "tavo/ha/#"});
        ServerRig rig(projector.device, settingsFor(broker, base), 0, "TAVO QT735", true);
        Clients clients(rig);
        QVERIFY(waitUntil([&] { return rig.logged("ignored the retained message on tavo/ha/power/set") == 1; }));
        QVERIFY(waitUntil([&] { return watcher.last("homeassistant/button/tavo_ha/volume_up/config").has_value(); }));
        const QJsonObject powerSwitch = json(watcher.last("homeassistant/switch/tavo_ha/power/config"));
        const QJsonObject volumeUp = json(watcher.last("homeassistant/button/tavo_ha/volume_up/config"));
        QVERIFY(projector.wire().isEmpty());

        qsizetype results = 0;
        const auto outcomeOf = [&](const QString &topic, const QJsonValue &payload) {
            if (!publish(broker, topic.toUtf8(), payload.toString().toUtf8()))
                return QJsonObject();
            return json(watcher.next(base + "/result", results));
        };
        const QJsonObject on = outcomeOf(powerSwitch["command_topic"].toString(), powerSwitch["payload_on"]);
        QCOMPARE(on.keys(), (QStringList{"action", "command", "error", "ms", "ok", "port", "reply", "sent", "shown",
                                         "status", "value"}));
        QCOMPARE(on["action"].toString(), QString("power-on"));
        QCOMPARE(on["ok"].toBool(), true);
        QVERIFY(projector.wire().startsWith("CR0\rC00\r")); // the state check, then the command
        QVERIFY(waitUntil([&] {
            const auto state = watcher.last(powerSwitch["state_topic"].toString().toUtf8());
            return state && state->payload == "ON";
        }));
        QVERIFY(waitUntil([&] { return projector.wire().endsWith("C00\rCR0\r"); })); // read back

        const QJsonObject off = outcomeOf(powerSwitch["command_topic"].toString(), powerSwitch["payload_off"]);
        QCOMPARE(off["ok"].toBool(), false);
        QVERIFY2(off["error"].toString().contains("warming up"), qPrintable(off["error"].toString()));
        QVERIFY(!projector.wire().contains("C01"));
        QVERIFY(waitUntil([&] {
            const auto words = watcher.last(base + "/last_command");
            return words && words->payload.startsWith("Refused: the projector is warming up");
        }));
        QVERIFY(waitUntil([&] { return json(watcher.last(base + "/last_command/result"))["error"] == off["error"]; }));
        QCOMPARE(watcher.last(base + "/input/availability")->payload, QByteArray("offline"));

        QCOMPARE(outcomeOf(QString(base + "/audio_mute/set"), "ON")["ok"].toBool(), true);
        QVERIFY(projector.wire().endsWith("C0B\r"));
        QVERIFY(waitUntil([&] { return watcher.last(base + "/audio_mute")->payload == "ON"; }));
        QCOMPARE(clients.pjlink("AVMT ?"), QByteArray("21"));
        QCOMPARE(outcomeOf(QString(base + "/lamp_mode/set"), "Eco 1")["ok"].toBool(), true);
        QVERIFY(projector.wire().contains("C0B\rCF LAMPMODE ECO1\r"));
        QVERIFY(waitUntil([&] {
            const auto mode = watcher.last(base + "/lamp_mode");
            return mode && mode->payload == "Eco 1";
        }));

        const QJsonObject louder = outcomeOf(volumeUp["command_topic"].toString(), volumeUp["payload_press"]);
        QCOMPARE(louder["ok"].toBool(), true);
        QVERIFY(projector.wire().endsWith("C09\r"));

        const QJsonObject raw = outcomeOf(QString(base + "/command"), "C01");
        QCOMPARE(raw["ok"].toBool(), false);
        QVERIFY2(raw["error"].toString().contains("--mqtt-raw"), qPrintable(raw["error"].toString()));
        QVERIFY(!projector.wire().contains("C01"));

        const QList<QByteArray> configs = mqtt::discoveryTopics(mqtt::Topics(base));
        for (const QByteArray &config : configs)
            QVERIFY(publish(broker, config, {}, true));
        QVERIFY(waitUntil([&] { return watcher.last(configs.last())->payload.isEmpty(); }));
        QVERIFY(publish(broker, "homeassistant/status", "online"));
        for (const QByteArray &config : configs)
            QVERIFY2(waitUntil([&] { return !watcher.last(config)->payload.isEmpty(); }), config.constData());
    }

    // One picture in every front end, with no poll: only the server's own reads can show a
    // change. After a power-on each shows the warm-up; a power-off during it is refused in
    // the same words over HTTP and MQTT and with ERR3 over PJLink, with nothing but the look
    // at the power state on the line; a projector gone is shown as silent everywhere, and
    // its first answer brings every front end back.
    void everyFrontEndTellsTheSameStory() {
        Broker broker;
        QTemporaryDir dir;
        const QString link = dir.filePath("qt735");
        auto projector = std::make_unique<Simulator>(QStringList{"--warmup", "600000", "--link", link});
        Watcher watcher(broker, {"tavo/one/#"});
        ServerRig rig(link, settingsFor(broker, "tavo/one"), 0, "TAVO QT735", true);
        Clients clients(rig);
        const auto mqttSays = [&](const QByteArray &topic, const QByteArray &payload) {
            return waitUntil([&] {
                const auto last = watcher.last("tavo/one/" + topic);
                return last && last->payload == payload;
            });
        };
        QVERIFY(mqttSays("availability", "online"));
        QVERIFY(waitUntil([&] { return !clients.received.isEmpty(); }));

        QCOMPARE(clients.http("/api/commands", "power-on").first, 200);
        QVERIFY(waitUntil([&] {
            const QJsonObject power = clients.status()["power"].toObject();
            return power["value"] == "countdown" && power["stale"] == false && power["age"].isDouble();
        }));
        QVERIFY(clients.eventSeen([](const QJsonObject &event) {
            return event["type"] == "reading" && event["name"] == "power" && event["value"] == "countdown";
        }));
        QVERIFY(clients.http("/metrics").second.contains("tavo_power_state{state=\"countdown\"} 1\n"));
        QVERIFY(mqttSays("power_state", "Count down"));
        QVERIFY(mqttSays("power", "ON"));
        QCOMPARE(clients.pjlink("POWR ?"), QByteArray("3"));

        const qsizetype wireBefore = projector->wire().size();
        const auto [refusedCode, refusedBody] = clients.http("/api/commands", "power-off");
        QCOMPARE(refusedCode, 409);
        const QString httpWords = QJsonDocument::fromJson(refusedBody).object()["error"].toString();
        QVERIFY2(httpWords.contains("warming up"), qPrintable(httpWords));
        qsizetype results = 0;
        QVERIFY(publish(broker, "tavo/one/power/set", "OFF"));
        QCOMPARE(json(watcher.next("tavo/one/result", results))["error"].toString(), httpWords);
        QCOMPARE(clients.pjlink("POWR 0"), QByteArray("ERR3"));
        QCOMPARE(QString(projector->wire().mid(wireBefore)), QString("CR0\rCR0\rCR0\r"));
        QCOMPARE(rig.logged(" refused: " + httpWords.section(": ", 1)), 3); // HTTP, MQTT and PJLink alike

        projector.reset();
        QCOMPARE(clients.pjlink("POWR ?"), QByteArray("ERR4"));
        QVERIFY(mqttSays("projector/availability", "offline"));
        const QJsonObject silent = clients.status();
        QCOMPARE(silent["line"].toObject()["answers"].toBool(true), false);
        QVERIFY(silent["line"].toObject()["last_answer_age"].toDouble(-1) >= 0);
        QCOMPARE(silent["power"].toObject()["stale"].toBool(), true);
        QVERIFY(clients.eventSeen(
            [](const QJsonObject &event) { return event["type"] == "line" && event["answers"] == false; }));
        QVERIFY(clients.http("/metrics").second.contains("\ntavo_up 0\n"));

        projector = std::make_unique<Simulator>(QStringList{"--link", link});
        QCOMPARE(clients.pjlink("POWR ?"), QByteArray("0"));
        QVERIFY(mqttSays("projector/availability", "online"));
        QVERIFY(mqttSays("power_state", "Stand by"));
        QCOMPARE(clients.status()["line"].toObject()["answers"].toBool(), true);
        QVERIFY(clients.eventSeen(
            [](const QJsonObject &event) { return event["type"] == "line" && event["answers"] == true; }));
        QVERIFY(clients.http("/metrics").second.contains("\ntavo_up 1\n"));
    }

    // The lamp hours sensor shows what the projector counts, and goes to the broker when it
    // changes, not at every poll.
    void lampHoursAreTheProjectorsAndSentOnlyWhenChanged_data() {
        QTest::addColumn<QString>("hours");
        QTest::newRow("1234 h") << "1234";
        QTest::newRow("new lamp") << "0";
    }
    void lampHoursAreTheProjectorsAndSentOnlyWhenChanged() {
        QFETCH(QString, hours);
        Broker broker;
        Simulator projector({"--lamp-hours", hours});
        Watcher watcher(broker, {"tavo/lamp/#"});
        ServerRig rig(projector.device, settingsFor(broker, "tavo/lamp"), 1);
        int lampReadings = 0;
        QObject::connect(&rig.server->queue(), &LineQueue::exchanged, &watcher.process,
                         [&](const LineExchange &exchange) { lampReadings += exchange.command == "CR3"; });
        qsizetype from = 0;
        const std::optional<Seen> lamp = watcher.next("tavo/lamp/lamp_hours", from);
        QVERIFY(lamp);
        QCOMPARE(QString(lamp->payload), hours);
        QVERIFY(waitUntil([&] { return lampReadings >= 2; }));
        // Whatever the server published before this outcome has reached the watcher by now.
        qsizetype results = 0;
        QVERIFY(publish(broker, "tavo/lamp/command", "status"));
        QVERIFY(watcher.next("tavo/lamp/result", results));
        QCOMPARE(watcher.count("tavo/lamp/lamp_hours"), 1);
    }

    // The program: its options, "offline" through the will when it is killed, and
    // --mqtt-unpublish removing every config it had published.
    void theProgramGoesOfflineThroughItsWillAndUnpublishes() {
        Broker broker("tavo", "pass:word");
        Simulator projector;
        QTemporaryDir dir;
        QFile passwords(dir.filePath("mqtt"));
        QVERIFY(passwords.open(QIODevice::WriteOnly));
        passwords.write("tavo:pass:word\n");
        passwords.close();
        Watcher watcher(broker, {"tavo/hall_7/availability", "homeassistant/#"});
        const QStringList mqttOptions{"--mqtt",     broker.url(), "--mqtt-password-file", passwords.fileName(),
                                      "--instance", "hall/7"};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", dir.path());
        environment.insert("XDG_RUNTIME_DIR", dir.path());
        QProcess server;
        server.setProcessEnvironment(environment);
        startBuilt(server, "TAVO_SERVER",
                     QStringList{"--port", projector.device, "--baud", "9600", "--pjlink", "off", "--http", "off"} +
                         mqttOptions);
        QVERIFY(waitUntil([&] {
            const auto availability = watcher.last("tavo/hall_7/availability");
            return availability && availability->payload == "online";
        }));
        const QList<QByteArray> configs = mqtt::discoveryTopics(mqtt::Topics("tavo/hall_7"));
        for (const QByteArray &config : configs)
            QVERIFY2(waitUntil([&] { return watcher.last(config).has_value(); }), config.constData());

        server.kill();
        QVERIFY(server.waitForFinished(3000));
        QVERIFY(waitUntil([&] { return watcher.last("tavo/hall_7/availability")->payload == "offline"; }));

        QProcess unpublish;
        unpublish.setProcessEnvironment(environment);
        startBuilt(unpublish, "TAVO_SERVER", mqttOptions + QStringList{"--mqtt-unpublish"});
        QVERIFY(unpublish.waitForFinished(15000));
        QCOMPARE(unpublish.exitCode(), 0);
        for (const QByteArray &config : configs)
            QVERIFY2(waitUntil([&] { return watcher.last(config)->payload.isEmpty(); }), config.constData());
    }

    // The broker going away, or not there yet: the server goes on serving PJLink, says so
    // once, and within 10 s of the broker's return Home Assistant finds the device and its
    // state again.
    void theServerComesBackWithTheBroker_data() {
        QTest::addColumn<bool>("brokerFirst");
        QTest::newRow("broker restarts") << true;
        QTest::newRow("broker starts after the server") << false;
    }
    void theServerComesBackWithTheBroker() {
        QFETCH(bool, brokerFirst);
        Broker broker;
        if (!brokerFirst)
            broker.stop();
        Simulator projector({"--lamp-hours", "777"});
        ServerRig rig(projector.device, settingsFor(broker, "tavo/back"), 60);
        if (brokerFirst) {
            QVERIFY(waitUntil([&] { return rig.logged("mqtt: connected") == 1; }));
            broker.stop();
        }
        QVERIFY2(waitUntil([&] { return rig.logged("cannot reach the broker") == 1; }),
                 qPrintable(rig.log.join(" | ")));
        QTcpSocket pjlink;
        pjlink.connectToHost(QHostAddress::LocalHost, rig.server->address("pjlink").section(':', -1).toUShort());
        QVERIFY(waitUntil([&] { return pjlink.readAll().startsWith("PJLINK 0"); }));
        pjlink.write("%1POWR ?\r");
        QByteArray answer;
        QVERIFY(waitUntil([&] { return (answer += pjlink.readAll()).endsWith('\r'); }));
        QCOMPARE(answer, QByteArray("%1POWR=0\r"));

        QVERIFY(broker.start());
        Watcher watcher(broker, {"homeassistant/switch/tavo_back/power/config", "tavo/back/#"});
        QVERIFY(waitUntil(
            [&] {
                const auto lamp = watcher.last("tavo/back/lamp_hours");
                const auto availability = watcher.last("tavo/back/availability");
                return watcher.last("homeassistant/switch/tavo_back/power/config") && lamp && lamp->payload == "777" &&
                       availability && availability->payload == "online";
            },
            10000));
        QCOMPARE(rig.logged("cannot reach the broker"), 1);
    }

    // A wrong password is said once in the log, however often the server tries again.
    void aWrongPasswordIsReportedOnce() {
        Broker broker("tavo", "right");
        Simulator projector;
        mqtt::Settings settings = settingsFor(broker, "tavo/wrong");
        settings.user = "tavo";
        settings.password = "s3cret-guess";
        ServerRig rig(projector.device, settings, 0);
        QVERIFY(waitUntil([&] { return broker.log.count("not authorised") >= 3; }, 10000));
        QCOMPARE(rig.logged("refused the user name or password"), 1);
        QVERIFY(!rig.log.join('\n').contains("s3cret-guess"));
    }
};

QTEST_MAIN(Mqtt)
#include "test_mqtt.moc"
