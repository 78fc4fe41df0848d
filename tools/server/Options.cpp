#include "Options.h"

#include "CommandLine.h"
#include "Log.h"
#include "mqtt/FrontEnd.h"

#include "host/SettingsStore.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>

namespace {

OptionsExit usage(const QString &message) { return {cli::exitUsage, message}; }

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// A password from its file: one line end (LF or CR LF) is not part of it; other control
// characters are refused, since no client could type them.
std::variant<QByteArray, OptionsExit> passwordFrom(const QString &path, const char *option) {
    QFile file(path);
    // The service runs as the user tavo-server, in the group of the same name.
    const QString fix = QStringLiteral("make it owner root, group tavo-server, mode 640 (sudo chown root:tavo-server "
                                       "%1; sudo chmod 640 %1)")
                            .arg(path);
    if (!file.open(QIODevice::ReadOnly))
        return OptionsExit{exitNoInput,
                           file.error() == QFileDevice::OpenError && QFileInfo::exists(path)
                               ? QStringLiteral("cannot read %1: %2; the service's user tavo-server reads it: %3")
                                     .arg(path, file.errorString(), fix)
                               : QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    if (file.permissions() & QFileDevice::ReadOther)
        qCWarning(logServer).noquote() << QStringLiteral("%1 (--%2) can be read by every user of this machine: %3")
                                              .arg(path, QLatin1String(option), fix);
    QByteArray password = file.read(4097);
    if (password.endsWith('\n'))
        password.chop(1);
    if (password.endsWith('\r'))
        password.chop(1);
    if (password.isEmpty())
        return usage(QStringLiteral("the password in %1 (--%2) is empty").arg(path, QLatin1String(option)));
    if (password.size() > 4096 || std::any_of(password.begin(), password.end(), isControl))
        return usage(QStringLiteral("the password in %1 (--%2) holds a control character or a line break inside it; "
                                    "write it on one line")
                         .arg(path, QLatin1String(option)));
    return password;
}

// A name PJLink can carry in one answer: up to 64 bytes, no control characters.
bool isSoundName(const QByteArray &name) { return name.size() <= 64 && std::none_of(name.begin(), name.end(), isControl); }

struct Option {
    QString name;
    QString help;
    QString value; // the value's name; empty for a flag
    QString fallback = {};
};

void addOptions(QCommandLineParser &parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Owns the serial line of one TAVO QT735 projector and serves every front end at once, one command on the "
        "line at a time, each reply to the one who asked: PJLink class 1, the projector's own protocol over TCP "
        "(for the panel and tavo-send), an HTTP API with live events and Prometheus metrics, and MQTT with Home "
        "Assistant discovery.\n"
        "A front end is given as ADDRESS:PORT (e.g. 127.0.0.1:4352, 0.0.0.0:4352, [::1]:4352) or off."));
    cli::addStandardOptions(parser);
    cli::addLineOptions(parser, /*onePortOnly=*/true);
    const QList<Option> options{
        {"pjlink", "PJLink class 1 (default 127.0.0.1:4352).", "addr:port|off", "127.0.0.1:4352"},
        {"password-file", "Turn on PJLink authentication with the password in this file.", "file"},
        {"password", "PJLink password given on the command line (visible in the process list: prefer --password-file).",
         "password"},
        {"pjlink-idle", "Close a PJLink connection that sends no command for this many seconds (default 30).",
         "seconds", "30"},
        {"name", "The name answered to PJLink's NAME ? (up to 64 bytes). Default: TAVO QT735.", "name", "TAVO QT735"},
        {"line",
         "The projector's own protocol over TCP, for the panel and tavo-send through socket:// (default off). Any "
         "local user who can reach it can work the projector.",
         "addr:port|off", "off"},
        {"line-allow", "Addresses and subnets that may use --line beyond this machine, comma-separated.", "list"},
        {"http", "The HTTP API, events and metrics (default 127.0.0.1:8735).", "addr:port|off", "127.0.0.1:8735"},
        {"http-password-file",
         "The password a change over HTTP needs (Basic authentication, any user name), and reading from other "
         "machines. Its own file: HTTP without TLS carries it as it is.",
         "file"},
        {"http-public-read", "Open GET /metrics and GET /api/status to other machines without the password.", ""},
        {"http-public-url",
         "The address people open the page at through a reverse proxy in front (e.g. https://projector.example/): "
         "its origin is this server's own, and the proxy's X-Forwarded-For, -Proto and -Host are believed from "
         "loopback (default: none, and those headers are ignored).",
         "url"},
        {"http-cert",
         "Serve HTTPS instead of HTTP, with the certificate in this PEM file (then any intermediate ones); goes with "
         "--http-key. Plain HTTP on that listener is refused.",
         "file"},
        {"http-key", "The private key of --http-cert, in this PEM file without a passphrase.", "file"},
        {"http-host", "Further host names the HTTP front end answers to (comma-separated), e.g. a DNS name.", "names"},
        {"poll", "Read power, input, lamp hours and temperatures every this many seconds (default 10; 0: never).",
         "seconds", "10"},
        {"max-age", "Answer a query from a reading younger than this many seconds (default 1; 0: never).", "seconds",
         "1"},
        {"per-address",
         "Connections one address may hold on each front end, at most the front end's own cap; loopback is exempt "
         "(default 32).",
         "n", "32"},
        {"pjlink-clients", "PJLink connections at once (default 256).", "n", "256"},
        {"line-clients", "Line connections at once (default 16).", "n", "16"},
        {"http-clients", "HTTP connections at once, events sockets included (default 64).", "n", "64"},
        {"http-head-limit", "Bytes of a request's line and headers; larger heads are answered 431 (default 16384).",
         "bytes", "16384"},
        {"http-body-limit",
         "Bytes of a request's body; a larger one is answered 413 and the connection closed (default 65536).", "bytes",
         "65536"},
        {"http-head-timeout",
         "Seconds a request's head, and then its body, may take to arrive before the connection is closed (default 10).",
         "seconds", "10"},
        {"http-idle-timeout", "Seconds a kept-alive HTTP connection may wait between requests (default 60).", "seconds",
         "60"},
        {"http-send-timeout", "Seconds a client may take to read an answer before its connection is closed (default 30).",
         "seconds", "30"},
        {"http-pipeline",
         "Requests of one connection answered or waiting at once, answered in order; it is read no further until "
         "answers drain (default 8).",
         "n", "8"},
        {"http-unsent-limit",
         "Bytes of answers one connection may leave unread before it is read no further (default 262144).", "bytes",
         "262144"},
        {"events-unsent-limit", "Bytes an events socket may leave unread before it is closed (default 262144).",
         "bytes", "262144"},
        {"events-message-limit",
         "Bytes of a message from an events socket; a frame that declares more closes it (default 4096).", "bytes",
         "4096"},
        {"events-ping",
         "Seconds an events socket may be silent before it is pinged; silent as long again, it is closed (default 30).",
         "seconds", "30"},
        {"mqtt",
         "Publish the projector's state to this MQTT broker and take commands from it, with Home Assistant "
         "discovery (default off).",
         "mqtt://host:port"},
        {"mqtt-password-file", "The broker's user name and password, as user:password on one line.", "file"},
        {"mqtt-base", "The topic every MQTT topic of this server is under (default tavo/<instance>).", "topic"},
        {"instance",
         "This server's name among others: the MQTT base and Home Assistant's ids derive from it, and the metrics' "
         "tavo_info names it (default: this machine's name).",
         "name"},
        {"mqtt-birth-topic",
         "Home Assistant's status topic: its \"online\" there, after it restarts, has the server publish its device "
         "again (default homeassistant/status).",
         "topic", "homeassistant/status"},
        {"mqtt-raw",
         "Take raw codes on the MQTT command topic too, not only action names: every client of the broker can "
         "publish there.",
         ""},
        {"mqtt-unpublish",
         "Remove this server's retained messages from the broker (Home Assistant then forgets the device), and exit.",
         ""},
    };
    for (const Option &option : options)
        parser.addOption(option.value.isEmpty()
                             ? QCommandLineOption(option.name, option.help)
                             : QCommandLineOption(option.name, option.help, option.value, option.fallback));
    // The PJLink bridge's name for --pjlink, so that its settings go on working.
    QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("The same as --pjlink."),
                              QStringLiteral("addr:port"));
    listen.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(listen);
}

// The MQTT front end from its options: nothing without --mqtt. The base defaults to
// tavo/<instance>, the instance to this machine's name.
std::variant<std::optional<mqtt::Settings>, OptionsExit> mqttFrom(const QCommandLineParser &parser) {
    if (!parser.isSet(QStringLiteral("mqtt"))) {
        for (const char *needsIt : {"mqtt-password-file", "mqtt-base", "mqtt-birth-topic", "mqtt-raw", "mqtt-unpublish"})
            if (parser.isSet(QLatin1String(needsIt)))
                return usage(QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(needsIt)));
        return std::nullopt;
    }
    mqtt::Settings settings;
    const auto broker = mqtt::readBrokerUrl(parser.value(QStringLiteral("mqtt")));
    if (const QString *error = std::get_if<QString>(&broker))
        return usage(QStringLiteral("--mqtt: %1").arg(*error));
    settings.broker = std::get<mqtt::Broker>(broker);
    if (parser.isSet(QStringLiteral("mqtt-password-file"))) {
        const QString path = parser.value(QStringLiteral("mqtt-password-file"));
        const auto read = passwordFrom(path, "mqtt-password-file");
        if (const OptionsExit *failure = std::get_if<OptionsExit>(&read))
            return *failure;
        const QByteArray line = std::get<QByteArray>(read);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return usage(
                QStringLiteral("write the broker's user name and password in %1 as user:password, on one line").arg(path));
        settings.user = line.left(colon);
        settings.password = line.mid(colon + 1);
    }
    settings.base = parser.isSet(QStringLiteral("mqtt-base")) ? parser.value(QStringLiteral("mqtt-base"))
                                                              : mqtt::baseFor(parser.value(QStringLiteral("instance")));
    if (const QString problem = mqtt::baseProblem(settings.base); !problem.isEmpty())
        return usage(QStringLiteral("--mqtt-base: %1").arg(problem));
    const QString birth = parser.value(QStringLiteral("mqtt-birth-topic"));
    if (const QString problem = mqtt::baseProblem(birth); !problem.isEmpty())
        return usage(QStringLiteral("--mqtt-birth-topic: %1").arg(QString(problem).replace(QLatin1String("base"),
                                                                                          QLatin1String("topic"))));
    settings.birthTopic = birth.toUtf8();
    settings.raw = parser.isSet(QStringLiteral("mqtt-raw"));
    // The device is named as PJLink names the projector when --name is given, else by the
    // instance (this machine's name without one).
    const QString instance = parser.value(QStringLiteral("instance"));
    settings.deviceName = parser.isSet(QStringLiteral("name")) ? parser.value(QStringLiteral("name"))
                          : instance.isEmpty()                 ? QHostInfo::localHostName()
                                                               : instance;
    return settings;
}

// The listeners: --pjlink (or its old name --listen), --line, --http and --line-allow.
std::optional<OptionsExit> listenersFrom(const QCommandLineParser &parser, ServerOptions &server) {
    const bool oldName = parser.isSet(QStringLiteral("listen"));
    if (oldName && parser.isSet(QStringLiteral("pjlink")))
        return usage(QStringLiteral("give --pjlink or --listen, not both"));
    for (const auto &[name, into] :
         {std::pair<QString, std::optional<ListenAddress> *>{oldName ? QStringLiteral("listen") : QStringLiteral("pjlink"),
                                                            &server.pjlink},
          {QStringLiteral("line"), &server.line},
          {QStringLiteral("http"), &server.http}}) {
        const auto read = readListenAddress(parser.value(name));
        // The example address on the front end's own port.
        const QString port = name == QLatin1String("http") ? QStringLiteral("8735")
                             : name == QLatin1String("line") ? QStringLiteral("7350")
                                                             : QStringLiteral("4352");
        if (const QString *error = std::get_if<QString>(&read))
            return usage(QStringLiteral("--%1 %2").arg(name, QString(*error).replace(QLatin1String("4352"), port)));
        *into = std::get<std::optional<ListenAddress>>(read);
    }
    if (parser.isSet(QStringLiteral("line-allow"))) {
        const auto allowed = readAllowList(parser.value(QStringLiteral("line-allow")));
        if (const QString *error = std::get_if<QString>(&allowed))
            return usage(QStringLiteral("--line-allow: %1").arg(*error));
        server.lineConnections.allowed = std::get<QList<Subnet>>(allowed);
    }
    return std::nullopt;
}

// The passwords, the HTTP front end's host names and the name PJLink answers.
std::optional<OptionsExit> accessFrom(const QCommandLineParser &parser, ServerOptions &server) {
    if (parser.isSet(QStringLiteral("password")) && parser.isSet(QStringLiteral("password-file")))
        return usage(QStringLiteral("give --password or --password-file, not both"));
    if (parser.isSet(QStringLiteral("password"))) {
        server.pjlinkSession.password = parser.value(QStringLiteral("password")).toUtf8();
        if (server.pjlinkSession.password.isEmpty())
            return usage(QStringLiteral("the password is empty"));
    }
    for (const auto &[option, into] :
         {std::pair<const char *, QByteArray *>{"password-file", &server.pjlinkSession.password},
          {"http-password-file", &server.httpRules.password}}) {
        if (!parser.isSet(QLatin1String(option)))
            continue;
        const auto password = passwordFrom(parser.value(QLatin1String(option)), option);
        if (const OptionsExit *failure = std::get_if<OptionsExit>(&password))
            return *failure;
        *into = std::get<QByteArray>(password);
    }
    server.httpRules.publicRead = parser.isSet(QStringLiteral("http-public-read"));
    if (parser.isSet(QStringLiteral("http-public-url"))) {
        const QUrl url(parser.value(QStringLiteral("http-public-url")), QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
            url.host().isEmpty())
            return usage(QStringLiteral("--http-public-url takes the address people open, e.g. "
                                        "https://projector.example/"));
        const QString host = url.host().toLower();
        server.httpRules.hostNames << host;
        const QString shownHost = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
        server.httpRules.publicOrigin =
            (scheme + QStringLiteral("://") + shownHost +
             (url.port() > 0 && url.port() != (scheme == QLatin1String("https") ? 443 : 80)
                  ? QStringLiteral(":%1").arg(url.port())
                  : QString()))
                .toUtf8();
    }
    for (const QString &name : parser.value(QStringLiteral("http-host")).split(QLatin1Char(','), Qt::SkipEmptyParts))
        server.httpRules.hostNames << name.trimmed().toLower();
    server.pjlinkName = parser.value(QStringLiteral("name")).toUtf8();
    if (!isSoundName(server.pjlinkName))
        return usage(QStringLiteral("--name takes up to 64 bytes and no control characters"));
    return std::nullopt;
}

// A certificate or key file, whole.
std::variant<std::string, OptionsExit> pemFrom(const QString &path, const char *option) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return OptionsExit{exitNoInput, QStringLiteral("cannot read %1 (--%2): %3")
                                            .arg(path, QLatin1String(option), file.errorString())};
    if (QLatin1String(option) == QLatin1String("http-key") && (file.permissions() & QFileDevice::ReadOther))
        qWarning().noquote() << QStringLiteral("%1 (--http-key) can be read by every user of this machine: make it "
                                               "owner root, group tavo-server, mode 640 (sudo chown root:tavo-server "
                                               "%1; sudo chmod 640 %1)")
                                    .arg(path);
    const QByteArray pem = file.read(1 << 20);
    return std::string(pem.constData(), std::size_t(pem.size()));
}

// --http-cert and --http-key: both or neither, read now and checked to make a pair.
std::optional<OptionsExit> tlsFrom(const QCommandLineParser &parser, ServerOptions &server) {
    const bool certificate = parser.isSet(QStringLiteral("http-cert")), key = parser.isSet(QStringLiteral("http-key"));
    if (!certificate && !key)
        return std::nullopt;
    if (certificate != key)
        return usage(QStringLiteral("--http-cert and --http-key go together: give the certificate and its key"));
    if (!server.http)
        return usage(QStringLiteral("--http-cert and --http-key go with --http"));
    http::Tls &tls = server.httpTls;
    for (const auto &[option, into, name] :
         {std::tuple{"http-cert", &tls.certificate, &tls.certificateFile}, std::tuple{"http-key", &tls.key, &tls.keyFile}}) {
        const QString path = parser.value(QLatin1String(option));
        *name = path.toStdString();
        const auto read = pemFrom(path, option);
        if (const OptionsExit *failure = std::get_if<OptionsExit>(&read))
            return *failure;
        *into = std::get<std::string>(read);
    }
    if (const std::string problem = http::tlsProblem(tls); !problem.empty())
        return OptionsExit{exitConfig, QString::fromStdString(problem)};
    return std::nullopt;
}

// The poll, the age of an answer from the readings, and the connection caps.
std::optional<OptionsExit> limitsFrom(const QCommandLineParser &parser, ServerOptions &server) {
    const auto poll = cli::number(parser, QStringLiteral("poll"), 0, 86400);
    if (!poll)
        return usage(QStringLiteral("--poll takes whole seconds from 0 to 86400"));
    const auto pjlinkIdle = cli::number(parser, QStringLiteral("pjlink-idle"), 1, 86400);
    if (!pjlinkIdle)
        return usage(QStringLiteral("--pjlink-idle takes whole seconds from 1 to 86400"));
    bool ageOk = false;
    const double maxAge = parser.value(QStringLiteral("max-age")).toDouble(&ageOk);
    if (!ageOk || !std::isfinite(maxAge) || maxAge < 0 || maxAge > 3600)
        return usage(QStringLiteral("--max-age takes seconds from 0 to 3600"));
    const auto perAddress = cli::number(parser, QStringLiteral("per-address"), 1, 4096);
    const auto pjlinkClients = cli::number(parser, QStringLiteral("pjlink-clients"), 1, 4096);
    const auto lineClients = cli::number(parser, QStringLiteral("line-clients"), 1, 4096);
    const auto httpClients = cli::number(parser, QStringLiteral("http-clients"), 1, 4096);
    if (!perAddress || !pjlinkClients || !lineClients || !httpClients)
        return usage(QStringLiteral("--per-address and the --*-clients caps take a number from 1 to 4096"));
    server.pollSeconds = int(*poll);
    server.pjlinkSession.limits.idleMs = int(*pjlinkIdle) * 1000;
    server.queue.maxAgeMs = int(maxAge * 1000);
    server.pjlinkConnections.total = int(*pjlinkClients);
    server.lineConnections.total = int(*lineClients);
    server.httpConnections.total = int(*httpClients);
    for (ConnectionRules *rules : {&server.pjlinkConnections, &server.lineConnections, &server.httpConnections})
        rules->perAddress = std::min(int(*perAddress), rules->total);
    return std::nullopt;
}

// The HTTP side's limits: each a whole number in a range that keeps the server usable.
std::optional<OptionsExit> httpLimitsFrom(const QCommandLineParser &parser, ServerOptions &server) {
    struct Limit {
        const char *option;
        int lowest, highest, scale;
        int *into;
    };
    http::Limits &limits = server.httpLimits;
    for (const Limit &limit : {Limit{"http-head-limit", 1024, 1 << 20, 1, &limits.headBytes},
                               Limit{"http-body-limit", 4096, 16 << 20, 1, &limits.bodyBytes},
                               Limit{"http-head-timeout", 1, 3600, 1000, &limits.headTimeoutMs},
                               Limit{"http-idle-timeout", 1, 86400, 1000, &limits.idleTimeoutMs},
                               Limit{"http-send-timeout", 1, 3600, 1000, &limits.sendTimeoutMs},
                               Limit{"http-pipeline", 1, 256, 1, &limits.pipeline},
                               Limit{"http-unsent-limit", 4096, 64 << 20, 1, &limits.unsentBytes},
                               Limit{"events-unsent-limit", 4096, 64 << 20, 1, &limits.eventsUnsentBytes},
                               Limit{"events-message-limit", 256, 1 << 20, 1, &limits.messageBytes},
                               Limit{"events-ping", 1, 3600, 1000, &limits.pingMs}}) {
        const auto value = cli::number(parser, QLatin1String(limit.option), limit.lowest, limit.highest);
        if (!value)
            return usage(QStringLiteral("--%1 takes a whole number from %2 to %3")
                             .arg(QLatin1String(limit.option))
                             .arg(limit.lowest)
                             .arg(limit.highest));
        *limit.into = int(*value) * limit.scale;
    }
    return std::nullopt;
}

} // namespace

std::variant<StartOptions, OptionsExit> optionsFrom(const QStringList &arguments, const SettingsStore &store) {
    QCommandLineParser parser;
    addOptions(parser);
    if (const auto status = cli::parse(parser, arguments))
        return OptionsExit{*status, {}};
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    StartOptions start;
    const auto mqttSettings = mqttFrom(parser);
    if (const OptionsExit *failure = std::get_if<OptionsExit>(&mqttSettings))
        return *failure;
    start.server.mqtt = std::get<std::optional<mqtt::Settings>>(mqttSettings);
    start.server.instance = parser.value(QStringLiteral("instance"));
    start.unpublish = parser.isSet(QStringLiteral("mqtt-unpublish"));
    if (start.unpublish)
        return start;

    const auto resolved = cli::resolveLine(parser, store);
    if (const QString *error = std::get_if<QString>(&resolved))
        return usage(*error);
    const cli::Line &line = std::get<cli::Line>(resolved);
    if (line.ports.size() != 1)
        return usage(QStringLiteral("give one --port: the server works one projector"));
    start.server.port = line.ports.front().given;
    start.device = line.ports.front().device;
    start.lineSettings = line.settings;

    for (const auto part : {&listenersFrom, &tlsFrom, &accessFrom, &limitsFrom, &httpLimitsFrom})
        if (const auto failure = part(parser, start.server))
            return *failure;
    if (const QString problem = wideListenerProblem(start.server); !problem.isEmpty())
        return OptionsExit{exitConfig, problem};
    // Home Assistant links the device to the control page where people can open it.
    if (start.server.mqtt && start.server.http && parser.isSet(QStringLiteral("http-public-url")))
        start.server.mqtt->configurationUrl = QUrl(parser.value(QStringLiteral("http-public-url"))).toString();
    return start;
}
