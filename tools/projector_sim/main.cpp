// tavo-projector-sim: stands in for a QT735 projector on a pseudo-terminal or a
// local TCP port. See README.md in this directory for options and reply bytes.

#include "simulator.h"

#include "CommandLine.h"
#include "Termination.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

std::optional<qint64> parseCount(const QCommandLineParser &parser, const QString &name, qint64 max) {
    const auto value = cli::number(parser, name, 0, max);
    if (!value) {
        std::fprintf(stderr, "tavo-projector-sim: --%s needs a number from 0 to %lld\n", qPrintable(name),
                     static_cast<long long>(max));
        return std::nullopt;
    }
    return value;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavo-projector-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates a QT735 projector's RS-232C control port on a pseudo-terminal or a local TCP port."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("pty"), QStringLiteral("Serve on a pseudo-terminal and print \"PTY <slave path>\" (default).")},
        {QStringLiteral("link"), QStringLiteral("With --pty: also create symlink <path> to the slave."),
         QStringLiteral("path")},
        {QStringLiteral("tcp"),
         QStringLiteral("Serve on 127.0.0.1:<port> (0 = any free port), print \"TCP 127.0.0.1:<port>\"."),
         QStringLiteral("port")},
        {QStringLiteral("count"),
         QStringLiteral("Serve <n> projectors, each with its own state: n pseudo-terminals, or the TCP ports "
                        "<port> to <port>+n-1 (any free ones with 0). One announcement line each."),
         QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("warmup"), QStringLiteral("Count-down time after power on (default 3000)."),
         QStringLiteral("ms"), QStringLiteral("3000")},
        {QStringLiteral("cooldown"), QStringLiteral("Cooling time after power off (default 3000)."),
         QStringLiteral("ms"), QStringLiteral("3000")},
        {QStringLiteral("lamp-hours"), QStringLiteral("Lamp hours reported by CR3 (default 1234)."),
         QStringLiteral("n"), QStringLiteral("1234")},
        {QStringLiteral("pace"), QStringLiteral("Send replies one character at a time at the line speed.")},
        {QStringLiteral("baud"),
         QStringLiteral("Line speed: 9600 or 19200 (default 9600); sets the pty and paces --pace."),
         QStringLiteral("rate"), QStringLiteral("9600")},
        {QStringLiteral("reply-delay"), QStringLiteral("Wait before each reply (default 0)."), QStringLiteral("ms"),
         QStringLiteral("0")},
        {QStringLiteral("first-reply-delay"),
         QStringLiteral("Wait this long before the first reply instead (a projector slow to wake)."),
         QStringLiteral("ms")},
        {QStringLiteral("silent"), QStringLiteral("Never answer; commands are still executed and logged.")},
        {QStringLiteral("unplug-after"),
         QStringLiteral("Close the device side when the n-th command arrives (left unanswered), then idle."),
         QStringLiteral("n")},
        {QStringLiteral("log"), QStringLiteral("Append every received command, one per line, to <file>."),
         QStringLiteral("file")},
        {QStringLiteral("log-times"),
         QStringLiteral("Start each --log line with the time the command arrived, in milliseconds on the system's "
                        "monotonic clock (CLOCK_MONOTONIC).")},
        {QStringLiteral("answer"),
         QStringLiteral("Answer <command> with <reply> and a CR instead of the usual reply, e.g. "
                        "--answer \"CR LAMPSTS=<img src=x>\". May be given more than once."),
         QStringLiteral("command=reply")},
        {QStringLiteral("wire-log"),
         QStringLiteral("Append every byte received, unchanged, to <file> (one projector only)."),
         QStringLiteral("file")},
        {QStringLiteral("announce-power"),
         QStringLiteral("Print \"POWER <state>\" on stdout at each change of the power state, when it happens: "
                        "countdown and cooling on a command, on and standby when the warm-up or the cool-down runs "
                        "out.")},
        {{QStringLiteral("v"), QStringLiteral("verbose")}, QStringLiteral("Trace traffic on stderr.")},
    });
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tavo-projector-sim: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    tavo::sim::SimulatorOptions options;
    if (parser.isSet(QStringLiteral("tcp"))) {
        if (parser.isSet(QStringLiteral("pty")) || parser.isSet(QStringLiteral("link"))) {
            std::fprintf(stderr, "tavo-projector-sim: --tcp cannot be combined with --pty or --link\n");
            return 2;
        }
        const auto port = parseCount(parser, QStringLiteral("tcp"), 65535);
        if (!port)
            return 2;
        options.transport = tavo::sim::SimulatorOptions::Transport::Tcp;
        options.tcpPort = quint16(*port);
    }
    options.linkPath = parser.value(QStringLiteral("link"));
    const auto projectors = parseCount(parser, QStringLiteral("count"), 1000);
    if (!projectors)
        return 2;
    const bool oneOnly = parser.isSet(QStringLiteral("link")) || parser.isSet(QStringLiteral("wire-log"));
    if (*projectors == 0 || (*projectors > 1 && oneOnly)) {
        std::fprintf(stderr, "tavo-projector-sim: --count needs at least 1, and --link and --wire-log only one\n");
        return 2;
    }
    if (options.tcpPort != 0 && options.tcpPort + *projectors - 1 > 65535) {
        std::fprintf(stderr, "tavo-projector-sim: --tcp %d with --count %lld runs past port 65535\n",
                     int(options.tcpPort), static_cast<long long>(*projectors));
        return 2;
    }
    options.tagged = *projectors > 1;

    const auto warmup = parseCount(parser, QStringLiteral("warmup"), std::numeric_limits<int>::max());
    const auto cooldown = parseCount(parser, QStringLiteral("cooldown"), std::numeric_limits<int>::max());
    const auto lampHours = parseCount(parser, QStringLiteral("lamp-hours"), 99999);
    const auto replyDelay = parseCount(parser, QStringLiteral("reply-delay"), std::numeric_limits<int>::max());
    if (!warmup || !cooldown || !lampHours || !replyDelay)
        return 2;
    const auto baud = cli::lineSpeed(parser.value(QStringLiteral("baud")));
    if (!baud) {
        std::fprintf(stderr, "tavo-projector-sim: --baud must be 9600 or 19200\n");
        return 2;
    }
    options.model.warmupMs = *warmup;
    options.model.cooldownMs = *cooldown;
    options.model.lampHours = int(*lampHours);
    options.model.silent = parser.isSet(QStringLiteral("silent"));
    options.pace = parser.isSet(QStringLiteral("pace"));
    options.baud = int(*baud);
    options.replyDelayMs = int(*replyDelay);
    if (parser.isSet(QStringLiteral("first-reply-delay"))) {
        const auto first = parseCount(parser, QStringLiteral("first-reply-delay"), std::numeric_limits<int>::max());
        if (!first)
            return 2;
        options.firstReplyDelayMs = int(*first);
    }
    if (parser.isSet(QStringLiteral("unplug-after"))) {
        const auto count = parseCount(parser, QStringLiteral("unplug-after"), std::numeric_limits<int>::max());
        if (!count || *count == 0) {
            std::fprintf(stderr, "tavo-projector-sim: --unplug-after needs at least 1\n");
            return 2;
        }
        options.unplugAfter = int(*count);
    }
    options.logPath = parser.value(QStringLiteral("log"));
    options.wireLogPath = parser.value(QStringLiteral("wire-log"));
    options.logTimes = parser.isSet(QStringLiteral("log-times"));
    for (const QString &answer : parser.values(QStringLiteral("answer"))) {
        const qsizetype equals = answer.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            std::fprintf(stderr, "tavo-projector-sim: --answer needs COMMAND=REPLY\n");
            return 2;
        }
        options.answers.append({answer.left(equals).toLatin1(), answer.mid(equals + 1).toLatin1()});
    }
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.announcePower = parser.isSet(QStringLiteral("announce-power"));

    if (!cli::quitOnTerminationSignals(app)) {
        std::perror("tavo-projector-sim: signal setup");
        return 1;
    }

    // Each projector is a simulator of its own; they share only the event loop.
    std::vector<std::unique_ptr<tavo::sim::Simulator>> simulators;
    for (qint64 i = 0; i < *projectors; ++i) {
        tavo::sim::SimulatorOptions own = options;
        if (own.tcpPort != 0)
            own.tcpPort = quint16(options.tcpPort + i);
        auto simulator = std::make_unique<tavo::sim::Simulator>(own);
        QString error;
        if (!simulator->start(&error)) {
            std::fprintf(stderr, "tavo-projector-sim: %s\n", qPrintable(error));
            return 1;
        }
        // Whoever started us waits for this line before touching the device.
        std::fprintf(stdout, "%s\n", qPrintable(simulator->endpoint()));
        simulators.push_back(std::move(simulator));
    }
    std::fflush(stdout);

    return QCoreApplication::exec();
}
