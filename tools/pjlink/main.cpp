// tavo-pjlink: makes the projector on a serial line a PJLink class 1 projector on the
// network. This file holds the options, the log and the wiring; the protocol is in the
// library beside it.

#include "Bridge.h"
#include "CommandLine.h"
#include "Termination.h"
#include "Server.h"

#include "exchange/ProjectorLine.h"
#include "host/PortDirectory.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <csignal>
#include <cstdio>
#include <optional>


namespace {

// sysexits.h
constexpr int exitNoInput = 66;     // the password file cannot be read
constexpr int exitUnavailable = 69; // the listen address cannot be bound

// The panel's reply timeout: a reply not ended by then is no reply (ERR4).
constexpr int replyTimeoutMs = 1000;
// Requests waiting for the line, the one under way included. A full queue answers ERR3
// at once: with a projector that answers (a few ms each) the last one waits well under a
// second, and even with one that has gone silent no client waits more than about a minute.
constexpr qsizetype queueBound = 64;
// Connections open at once; further ones are closed as they come.
constexpr int maxConnections = 256;

const QString listenOption = QStringLiteral("listen");
const QString passwordOption = QStringLiteral("password");
const QString passwordFileOption = QStringLiteral("password-file");
const QString nameOption = QStringLiteral("name");

void logLine(const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); }

struct Listen {
    QHostAddress address;
    quint16 port = 0;
};

// "127.0.0.1:4352", "0.0.0.0:4352", "[::1]:4352"; port 0 takes any free one.
std::optional<Listen> listenAddress(const QString &text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt; // an IPv6 address needs its brackets
    bool ok = false;
    const QString portText = text.mid(colon + 1);
    const uint port = portText.toUInt(&ok);
    Listen listen{QHostAddress(host), quint16(port)};
    if (!ok || port > 65535 || !portText.front().isDigit() || listen.address.isNull())
        return std::nullopt;
    return listen;
}

// A name PJLink can carry in one answer: up to 64 bytes, no control characters.
bool isSoundName(const QByteArray &name) {
    return name.size() <= 64 && std::none_of(name.begin(), name.end(),
                                             [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

int usageError(const QString &message) {
    cli::complain(message);
    return cli::exitUsage;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavo-pjlink"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Answers PJLink class 1 on the network for the QT735 projector on a serial line, turning "
                       "each PJLink command into the projector's own commands."));
    cli::addStandardOptions(parser);
    cli::addLineOptions(parser, /*onePortOnly=*/true);
    parser.addOptions({
        {listenOption,
         QStringLiteral("Address and TCP port to answer PJLink on, e.g. 0.0.0.0:4352 or [::]:4352. Default: "
                        "127.0.0.1:4352 (this machine only)."),
         QStringLiteral("addr:port"), QStringLiteral("127.0.0.1:4352")},
        {passwordOption,
         QStringLiteral("Turn on PJLink authentication with this password. It shows in the process list: "
                        "prefer --password-file."),
         QStringLiteral("password")},
        {passwordFileOption,
         QStringLiteral("Turn on PJLink authentication with the password held in this file (one trailing newline "
                        "is not part of it)."),
         QStringLiteral("file")},
        {nameOption, QStringLiteral("The name answered to NAME ? (up to 64 bytes). Default: TAVO QT735."),
         QStringLiteral("name"), QStringLiteral("TAVO QT735")},
    });
    if (const auto status = cli::parse(parser, QCoreApplication::arguments()))
        return *status;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    QtSettingsStore store;
    const auto resolved = cli::resolveLine(parser, store);
    if (const QString *error = std::get_if<QString>(&resolved))
        return usageError(*error);
    const cli::Line &line = std::get<cli::Line>(resolved);
    if (line.ports.size() != 1)
        return usageError(QStringLiteral("give one --port: the bridge works one projector"));

    const std::optional<Listen> listen = listenAddress(parser.value(listenOption));
    if (!listen)
        return usageError(QStringLiteral("--listen needs ADDRESS:PORT with a numeric address, e.g. 127.0.0.1:4352 "
                                         "or [::1]:4352, not \"%1\"")
                              .arg(parser.value(listenOption)));

    pjlink::SessionRules rules;
    if (parser.isSet(passwordOption) && parser.isSet(passwordFileOption))
        return usageError(QStringLiteral("give --password or --password-file, not both"));
    if (parser.isSet(passwordOption)) {
        rules.password = parser.value(passwordOption).toUtf8();
    } else if (parser.isSet(passwordFileOption)) {
        QFile file(parser.value(passwordFileOption));
        if (!file.open(QIODevice::ReadOnly)) {
            cli::complain(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
            return exitNoInput;
        }
        rules.password = file.readAll();
        if (rules.password.endsWith('\n'))
            rules.password.chop(1);
    }
    if ((parser.isSet(passwordOption) || parser.isSet(passwordFileOption)) && rules.password.isEmpty())
        return usageError(QStringLiteral("the password is empty"));

    const QByteArray name = parser.value(nameOption).toUtf8();
    if (!isSoundName(name))
        return usageError(QStringLiteral("--name takes up to 64 bytes and no control characters"));

    // A client gone while its answer is written must not end the daemon.
    std::signal(SIGPIPE, SIG_IGN);
    if (!cli::quitOnTerminationSignals(app)) {
        cli::complain(QStringLiteral("cannot set up signal handling"));
        return 1;
    }

    QtSerialComponent port(store);
    port.setDevice(line.ports.front().device);
    port.setSettings(line.settings);
    ProjectorLine projector(port, replyTimeoutMs);
    projector.reopenWhenClosed = true;
    pjlink::Bridge bridge(projector, name, queueBound);
    pjlink::Server server(rules, bridge, maxConnections);
    QObject::connect(&bridge, &pjlink::Bridge::event, &logLine);
    QObject::connect(&server, &pjlink::Server::event, &logLine);

    QString error;
    if (!server.listen(listen->address, listen->port, &error)) {
        cli::complain(QStringLiteral("cannot listen on %1: %2").arg(parser.value(listenOption), error));
        return exitUnavailable;
    }
    const QString device = port.deviceName();
    const QString projectorOn =
        isSocketDevice(device)
            ? device
            : QStringLiteral("%1 at %2 bit/s").arg(device, line.settings.section(QLatin1Char(','), 0, 0));
    logLine(QStringLiteral("listening on %1 for PJLink class 1, authentication %2; projector on %3")
                .arg(server.address(), rules.password.isEmpty() ? QStringLiteral("off") : QStringLiteral("on"),
                     projectorOn));
    if (!listen->address.isLoopback() && rules.password.isEmpty())
        logLine(QStringLiteral("warning: no password, and %1 is reachable from other machines: anyone who can reach it "
                               "can work the projector")
                    .arg(server.address()));
    bridge.openLine();
    const int status = QCoreApplication::exec();
    logLine(QStringLiteral("stopping"));
    // Let go of the port while all that waits on it is still there: a connection to a
    // device server still under way reports its end to whoever asked for it.
    bridge.disconnect(); // what it would say now is no news
    projector.reopenWhenClosed = false;
    port.setPortOpen(false);
    return status;
}
