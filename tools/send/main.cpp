// tavo-send: sends commands to one or many projectors from scripts, cron jobs and
// monitoring checks, and prints what came back as the panel would show it.

#include "CommandLine.h"
#include "exchange/CommandWords.h"
#include "PortRun.h"
#include "exchange/CommandOutcome.h"

#include "host/PortDiscovery.h"
#include "host/SettingsStore.h"

#include <QCoreApplication>

#include <limits>
#include <memory>
#include <vector>

namespace {

// Exit statuses besides 0, cli::exitUsage and cli::exitIoError.
constexpr int exitUnanswered = 1;    // some command got no good answer
constexpr int exitPortNotOpened = 2; // some port could not be opened

// Like the panel's reply timeout.
constexpr int defaultTimeoutMs = 1000;

const QString timeoutOption = QStringLiteral("timeout");
const QString jsonOption = QStringLiteral("json");
const QString listOption = QStringLiteral("list");
const QString listPortsOption = QStringLiteral("list-ports");

using cli::print;

void addOptions(QCommandLineParser &parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Sends commands to TAVO QT735 projectors over their serial line, one after another on each port and to "
        "all ports at once, and prints each reply as the panel shows it: one line per command and port.\n"
        "COMMAND is an action name (lower-case letters, digits and \"-\", e.g. status, power-off, lamp-time; "
        "--list shows them all) or a raw protocol code written as it goes on the line, without the carriage "
        "return (e.g. CR0, \"CF BRIGHT 042\"). One carriage return is added.\n"
        "Exit status: 0 when every command on every port got a reply, 1 when some command got none, 2 when some "
        "port could not be opened, 64 for a usage error, 74 when the output could not be written."));
    cli::addStandardOptions(parser);
    cli::addLineOptions(parser);
    parser.addOption({{QStringLiteral("t"), timeoutOption},
                      QStringLiteral("How long to wait for each reply, in milliseconds (default 1000)."),
                      QStringLiteral("ms")});
    parser.addOption({jsonOption, QStringLiteral("Print one JSON object per line instead.")});
    parser.addOption({listOption, QStringLiteral("List the action names with their codes, and exit.")});
    parser.addOption({listPortsOption, QStringLiteral("List the serial ports present and the port numbers that "
                                                      "reach them, and exit.")});
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("Action names or raw codes."),
                                 QStringLiteral("COMMAND..."));
}

std::optional<int> timeoutFrom(const QCommandLineParser &parser) {
    if (!parser.isSet(timeoutOption))
        return defaultTimeoutMs;
    const auto ms = cli::number(parser, timeoutOption, 1, std::numeric_limits<int>::max());
    return ms ? std::optional<int>(int(*ms)) : std::nullopt;
}

int listPorts(const SettingsStore &store) {
    const QList<SerialPortFound> found = findSerialPorts(store);
    if (found.isEmpty())
        print("No serial ports were found on this machine.\n");
    for (const SerialPortFound &port : found) {
        QStringList numbers;
        for (const int n : port.portNumbers)
            numbers << QStringLiteral("COM%1").arg(n);
        const auto field = [](const QString &value) { return value.isEmpty() ? QStringLiteral("-") : value; };
        print(QStringLiteral("%1\n"
                             "  description:   %2\n"
                             "  manufacturer:  %3\n"
                             "  serial number: %4\n"
                             "  USB id:        %5\n"
                             "  stable name:   %6\n"
                             "  port numbers:  %7\n")
                  .arg(port.device, field(port.description), field(port.manufacturer), field(port.serialNumber),
                       field(port.usbId), field(port.stableName),
                       numbers.isEmpty() ? QStringLiteral("none") : numbers.join(QStringLiteral(", ")))
                  .toUtf8());
    }
    if (const auto unreached = firstUnreachedPort(found, store))
        print(QStringLiteral("\nNo port number reaches %1 yet; to reach it, add to TAVO.conf:\n%2\n")
                  .arg(unreached->device, unreached->entry)
                  .toUtf8());
    return cli::outputFailed() ? cli::exitIoError : 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavo-send"));
    QCommandLineParser parser;
    addOptions(parser);
    if (const auto status = cli::parse(parser, QCoreApplication::arguments()))
        return *status;

    const QtSettingsStore store;
    if (parser.isSet(listOption)) {
        print(actionList().toUtf8());
        return cli::outputFailed() ? cli::exitIoError : 0;
    }
    if (parser.isSet(listPortsOption))
        return listPorts(store);

    // Every usage error is found before any port is opened.
    const std::optional<int> timeoutMs = timeoutFrom(parser);
    if (!timeoutMs) {
        cli::complain(QStringLiteral("--timeout needs a whole number of milliseconds above 0, not \"%1\"")
                          .arg(parser.value(timeoutOption)));
        return cli::exitUsage;
    }
    const auto commands = commandsFrom(parser.positionalArguments());
    if (const QString *error = std::get_if<QString>(&commands)) {
        cli::complain(*error);
        return cli::exitUsage;
    }
    const auto resolved = cli::resolveLine(parser, store);
    if (const QString *error = std::get_if<QString>(&resolved)) {
        cli::complain(*error);
        return cli::exitUsage;
    }
    const cli::Line &line = std::get<cli::Line>(resolved);
    const bool json = parser.isSet(jsonOption);

    bool unanswered = false;
    bool notOpened = false;
    qsizetype running = 0;
    std::vector<std::unique_ptr<PortRun>> runs;
    const auto report = [json, &unanswered](const Outcome &outcome) {
        if (!problemOf(outcome).isEmpty())
            unanswered = true;
        print(json ? jsonLine(outcome) : textLine(outcome));
    };
    for (const cli::Port &port : line.ports) {
        auto run = std::make_unique<PortRun>(port.given, port.device, line.settings, *timeoutMs, store);
        PortRun *const self = run.get();
        QObject::connect(self, &PortRun::finished, &app, [&, self, port] {
            if (!self->openFailure().isEmpty()) {
                notOpened = true;
                cli::complain(port.given == port.device
                                  ? self->openFailure()
                                  : QStringLiteral("port %1: %2").arg(port.given, self->openFailure()));
            }
            if (--running == 0)
                QCoreApplication::exit(0);
        });
        runs.push_back(std::move(run));
    }
    running = qsizetype(runs.size());
    for (const auto &run : runs)
        run->start(std::get<QList<Command>>(commands), report);
    QCoreApplication::exec();
    runs.clear(); // closes the ports

    // Whatever else went wrong, what the run found was lost on the way out.
    if (cli::outputFailed())
        return cli::exitIoError;
    if (notOpened)
        return exitPortNotOpened;
    return unanswered ? exitUnanswered : 0;
}
