// tavo-server: the one owner of a projector's serial line, serving every front end at once:
// PJLink, the projector's own protocol over TCP, an HTTP API with live events and metrics.
// This file holds the options, the log and the wiring; the server is in the library beside it.

#include "CommandLine.h"
#include "ProjectorServer.h"
#include "Termination.h"
#include "mqtt/FrontEnd.h"

#include "host/PortDirectory.h"
#include "host/PortHolder.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>

#include <csignal>
#include <sys/resource.h>
#include <cstdio>
#include <optional>
#include <variant>

namespace {

// sysexits.h
constexpr int exitNoInput = 66;     // a password file cannot be read
constexpr int exitUnavailable = 69; // a listen address cannot be used
constexpr int exitConfig = 78;      // a listener beyond this machine without its safeguard

void logLine(const QString &line) {
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

int usageError(const QString &message) {
    cli::complain(message);
    return cli::exitUsage;
}

struct Failure {
    int status;
    QString message;
};

// A password from its file: one line end (LF or CR LF) is not part of it; other control
// characters are refused, since no client could type them.
std::variant<QByteArray, Failure> passwordFrom(const QString &path, const char *option) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{exitNoInput, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    QByteArray password = file.read(4097);
    if (password.endsWith('\n'))
        password.chop(1);
    if (password.endsWith('\r'))
        password.chop(1);
    if (password.isEmpty())
        return Failure{cli::exitUsage, QStringLiteral("the password in %1 (--%2) is empty").arg(path, QLatin1String(option))};
    if (password.size() > 4096 ||
        std::any_of(password.begin(), password.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        return Failure{cli::exitUsage, QStringLiteral("the password in %1 (--%2) holds a control character or a line break "
                                                      "inside it; write it on one line")
                                           .arg(path, QLatin1String(option))};
    return password;
}

// A name PJLink can carry in one answer: up to 64 bytes, no control characters.
bool isSoundName(const QByteArray &name) {
    return name.size() <= 64 && std::none_of(name.begin(), name.end(),
                                             [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

struct Option {
    QString name;
    QString help;
    QString value; // the value's name; empty for a flag
    QString fallback = {};
};

std::optional<int> count(const QCommandLineParser &parser, const QString &name, int lowest, int highest) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

// The MQTT front end from its options: nothing without --mqtt. The base defaults to
// tavo/<instance>, the instance to this machine's name.
std::variant<std::optional<mqtt::Settings>, Failure> mqttFrom(const QCommandLineParser &parser) {
    if (!parser.isSet(QStringLiteral("mqtt"))) {
        for (const char *needsIt : {"mqtt-password-file", "mqtt-base", "mqtt-raw", "mqtt-unpublish"})
            if (parser.isSet(QLatin1String(needsIt)))
                return Failure{cli::exitUsage, QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(needsIt))};
        return std::nullopt;
    }
    mqtt::Settings settings;
    const auto broker = mqtt::readBrokerUrl(parser.value(QStringLiteral("mqtt")));
    if (const QString *error = std::get_if<QString>(&broker))
        return Failure{cli::exitUsage, QStringLiteral("--mqtt: %1").arg(*error)};
    settings.broker = std::get<mqtt::Broker>(broker);
    if (parser.isSet(QStringLiteral("mqtt-password-file"))) {
        const auto read = passwordFrom(parser.value(QStringLiteral("mqtt-password-file")), "mqtt-password-file");
        if (const Failure *failure = std::get_if<Failure>(&read))
            return *failure;
        const QByteArray line = std::get<QByteArray>(read);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Failure{cli::exitUsage, QStringLiteral("write the broker's user name and password in %1 as "
                                                          "user:password, on one line")
                                               .arg(parser.value(QStringLiteral("mqtt-password-file")))};
        settings.user = line.left(colon);
        settings.password = line.mid(colon + 1);
    }
    settings.base = parser.isSet(QStringLiteral("mqtt-base")) ? parser.value(QStringLiteral("mqtt-base"))
                                                              : mqtt::baseFor(parser.value(QStringLiteral("instance")));
    if (const QString problem = mqtt::baseProblem(settings.base); !problem.isEmpty())
        return Failure{cli::exitUsage, QStringLiteral("--mqtt-base: %1").arg(problem)};
    settings.raw = parser.isSet(QStringLiteral("mqtt-raw"));
    return settings;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavo-server"));
    QCommandLineParser parser;
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
        {"http-host", "Further host names the HTTP front end answers to (comma-separated), e.g. a DNS name.", "names"},
        {"poll", "Read power, input, lamp hours and temperatures every this many seconds (default 10; 0: never).",
         "seconds", "10"},
        {"max-age", "Answer a query from a reading younger than this many seconds (default 1; 0: never).", "seconds",
         "1"},
        {"per-address", "Connections one address may hold on each front end; loopback is exempt (default 32).", "n",
         "32"},
        {"pjlink-clients", "PJLink connections at once (default 256).", "n", "256"},
        {"line-clients", "Line connections at once (default 16).", "n", "16"},
        {"http-clients", "HTTP connections at once, events sockets included (default 64).", "n", "64"},
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
        {"mqtt-raw",
         "Take raw codes on the MQTT command topic too, not only action names: every client of the broker can "
         "publish there.",
         ""},
        {"mqtt-unpublish",
         "Remove this server's retained messages from the broker (Home Assistant then forgets the device), and exit.",
         ""},
    };
    for (const Option &option : options)
        parser.addOption(option.value.isEmpty() ? QCommandLineOption(option.name, option.help)
                                                : QCommandLineOption(option.name, option.help, option.value, option.fallback));
    // The PJLink bridge's name for --pjlink, so that its settings go on working.
    QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("The same as --pjlink."),
                              QStringLiteral("addr:port"));
    listen.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(listen);

    if (const auto status = cli::parse(parser, QCoreApplication::arguments()))
        return *status;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    const auto mqttSettings = mqttFrom(parser);
    if (const Failure *failure = std::get_if<Failure>(&mqttSettings)) {
        cli::complain(failure->message);
        return failure->status;
    }
    if (parser.isSet(QStringLiteral("mqtt-unpublish")))
        return mqtt::unpublish(*std::get<std::optional<mqtt::Settings>>(mqttSettings), &logLine) ? 0 : exitUnavailable;

    QtSettingsStore store;
    const auto resolved = cli::resolveLine(parser, store);
    if (const QString *error = std::get_if<QString>(&resolved))
        return usageError(*error);
    const cli::Line &line = std::get<cli::Line>(resolved);
    if (line.ports.size() != 1)
        return usageError(QStringLiteral("give one --port: the server works one projector"));

    ServerOptions server;
    server.port = line.ports.front().given;
    server.mqtt = std::get<std::optional<mqtt::Settings>>(mqttSettings);
    server.instance = parser.value(QStringLiteral("instance"));

    const auto address = [&](const QString &name, std::optional<ListenAddress> &into) -> std::optional<QString> {
        const auto read = readListenAddress(parser.value(name));
        if (const QString *error = std::get_if<QString>(&read))
            return QStringLiteral("--%1 %2").arg(name, *error);
        into = std::get<std::optional<ListenAddress>>(read);
        return std::nullopt;
    };
    if (parser.isSet(QStringLiteral("listen")) && parser.isSet(QStringLiteral("pjlink")))
        return usageError(QStringLiteral("give --pjlink or --listen, not both"));
    for (const auto &[name, into] : {std::pair<QString, std::optional<ListenAddress> *>{
                                         parser.isSet(QStringLiteral("listen")) ? QStringLiteral("listen")
                                                                                : QStringLiteral("pjlink"),
                                         &server.pjlink},
                                     {QStringLiteral("line"), &server.line},
                                     {QStringLiteral("http"), &server.http}})
        if (const auto error = address(name, *into))
            return usageError(*error);

    if (parser.isSet(QStringLiteral("line-allow"))) {
        const auto allowed = readAllowList(parser.value(QStringLiteral("line-allow")));
        if (const QString *error = std::get_if<QString>(&allowed))
            return usageError(QStringLiteral("--line-allow: %1").arg(*error));
        server.lineConnections.allowed = std::get<QList<Subnet>>(allowed);
    }

    if (parser.isSet(QStringLiteral("password")) && parser.isSet(QStringLiteral("password-file")))
        return usageError(QStringLiteral("give --password or --password-file, not both"));
    if (parser.isSet(QStringLiteral("password"))) {
        server.pjlinkSession.password = parser.value(QStringLiteral("password")).toUtf8();
        if (server.pjlinkSession.password.isEmpty())
            return usageError(QStringLiteral("the password is empty"));
    }
    for (const auto &[option, into] : {std::pair<const char *, QByteArray *>{"password-file", &server.pjlinkSession.password},
                                       {"http-password-file", &server.httpRules.password}}) {
        if (!parser.isSet(QLatin1String(option)))
            continue;
        const auto password = passwordFrom(parser.value(QLatin1String(option)), option);
        if (const Failure *failure = std::get_if<Failure>(&password)) {
            cli::complain(failure->message);
            return failure->status;
        }
        *into = std::get<QByteArray>(password);
    }
    server.httpRules.publicRead = parser.isSet(QStringLiteral("http-public-read"));
    for (const QString &name : parser.value(QStringLiteral("http-host")).split(QLatin1Char(','), Qt::SkipEmptyParts))
        server.httpRules.hostNames << name.trimmed().toLower();

    server.pjlinkName = parser.value(QStringLiteral("name")).toUtf8();
    if (!isSoundName(server.pjlinkName))
        return usageError(QStringLiteral("--name takes up to 64 bytes and no control characters"));

    const auto poll = count(parser, QStringLiteral("poll"), 0, 86400);
    const auto pjlinkIdle = count(parser, QStringLiteral("pjlink-idle"), 1, 86400);
    if (!pjlinkIdle)
        return usageError(QStringLiteral("--pjlink-idle takes whole seconds from 1 to 86400"));
    server.pjlinkSession.limits.idleMs = *pjlinkIdle * 1000;
    bool ageOk = false;
    const double maxAge = parser.value(QStringLiteral("max-age")).toDouble(&ageOk);
    const auto perAddress = count(parser, QStringLiteral("per-address"), 1, 4096);
    const auto pjlinkClients = count(parser, QStringLiteral("pjlink-clients"), 1, 4096);
    const auto lineClients = count(parser, QStringLiteral("line-clients"), 1, 4096);
    const auto httpClients = count(parser, QStringLiteral("http-clients"), 1, 4096);
    if (!poll)
        return usageError(QStringLiteral("--poll takes whole seconds from 0 to 86400"));
    if (!ageOk || maxAge < 0 || maxAge > 3600)
        return usageError(QStringLiteral("--max-age takes seconds from 0 to 3600"));
    if (!perAddress || !pjlinkClients || !lineClients || !httpClients)
        return usageError(QStringLiteral("--per-address and the --*-clients caps take a number from 1 to 4096"));
    server.pollSeconds = *poll;
    server.queue.maxAgeMs = int(maxAge * 1000);
    for (ConnectionRules *rules : {&server.pjlinkConnections, &server.lineConnections, &server.httpConnections})
        rules->perAddress = *perAddress;
    server.pjlinkConnections.total = *pjlinkClients;
    server.lineConnections.total = *lineClients;
    server.httpConnections.total = *httpClients;

    if (const QString problem = wideListenerProblem(server); !problem.isEmpty()) {
        cli::complain(problem);
        return exitConfig;
    }

    // A client gone while its answer is written must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    // Each connection taking lines holds two descriptors; take all the system allows, and
    // say so when the caps may not fit.
    const int needed = 2 * (server.pjlinkConnections.total + server.lineConnections.total) +
                       server.httpConnections.total + 64;
    if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < rlim_t(needed))
            logLine(QStringLiteral("warning: %1 files may be open at once, and the connection caps may need %2: "
                                   "lower the caps or raise the limit")
                        .arg(qulonglong(files.rlim_cur))
                        .arg(needed));
    }
    if (!cli::quitOnTerminationSignals(app)) {
        cli::complain(QStringLiteral("cannot set up signal handling"));
        return 1;
    }

    QtSerialComponent port(store);
    port.setDevice(line.ports.front().device);
    port.setSettings(line.settings);
    ProjectorServer projector(server, port);
    QObject::connect(&projector, &ProjectorServer::event, &logLine);
    QString error;
    if (!projector.start(&error)) {
        cli::complain(error);
        return exitUnavailable;
    }
    const QString device = port.deviceName();
    // A panel turned away from the busy device reads where the projector can be reached;
    // written before the listeners are announced, so whoever waits for those finds it.
    QString record;
    if (!isSocketDevice(device)) {
        QJsonObject listeners;
        for (const char *frontEnd : {"line", "pjlink", "http"})
            listeners.insert(QLatin1String(frontEnd), projector.address(QLatin1String(frontEnd)));
        record = writeServerRecord(device, listeners);
    }
    logLine(QStringLiteral("projector on %1").arg(isSocketDevice(device) ? device
                                                  : QStringLiteral("%1 at %2 bit/s")
                                                        .arg(device, line.settings.section(QLatin1Char(','), 0, 0))));
    const auto announce = [&](const QString &frontEnd, const QString &what) {
        if (const QString at = projector.address(frontEnd); !at.isEmpty())
            logLine(QStringLiteral("listening on %1 for %2").arg(at, what));
    };
    announce(QStringLiteral("pjlink"),
             QStringLiteral("PJLink class 1, authentication %1")
                 .arg(server.pjlinkSession.password.isEmpty() ? QStringLiteral("off") : QStringLiteral("on")));
    announce(QStringLiteral("line"), QStringLiteral("the projector's own commands"));
    announce(QStringLiteral("http"), QStringLiteral("HTTP (control page, API, events, metrics), password %1")
                                         .arg(server.httpRules.password.isEmpty() ? QStringLiteral("off")
                                                                                  : QStringLiteral("on")));
    if (server.pjlink && !server.pjlink->address.isLoopback() && server.pjlinkSession.password.isEmpty())
        logLine(QStringLiteral("warning: no PJLink password, and %1 is reachable from other machines: anyone who can "
                               "reach it can work the projector")
                    .arg(projector.address(QStringLiteral("pjlink"))));
    const int status = QCoreApplication::exec();
    logLine(QStringLiteral("stopping"));
    projector.stop();
    if (!record.isEmpty())
        QFile::remove(record);
    return status;
}
