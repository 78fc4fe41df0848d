#pragma once

// The command line the console programs have in common: -h/--help, -V/--version, the
// projector line (-p/--port, -b/--baud) and the exit status for a usage error.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

class SettingsStore;

namespace cli {

// sysexits.h: the command was used incorrectly.
constexpr int exitUsage = 64;
// sysexits.h: an error while doing I/O on some file, here standard output.
constexpr int exitIoError = 74;

// Adds -h/--help and -V/--version.
void addStandardOptions(QCommandLineParser &parser);

// Adds -p/--port (may be given many times, unless the program works one port only) and
// -b/--baud.
void addLineOptions(QCommandLineParser &parser, bool onePortOnly = false);

// Parses the arguments and answers --help and --version. Returns the exit status to end
// with at once (0 after help or version, exitIoError when they could not be written,
// exitUsage with the parser's complaint on stderr), or nothing when the program goes on.
std::optional<int> parse(QCommandLineParser &parser, const QStringList &arguments);

// The option kinds every console program parses alike.
// A whole number from `lowest` to `highest`, written in decimal digits (a count, a time in
// seconds or milliseconds, a TCP port); nothing for anything else.
std::optional<qint64> number(const QString &text, qint64 lowest, qint64 highest);
// The same for the value of option `name`.
std::optional<qint64> number(const QCommandLineParser &parser, const QString &name, qint64 lowest, qint64 highest);
// A line speed the projector knows, 9600 or 19200; nothing for anything else.
std::optional<int> lineSpeed(const QString &text);

// Prints "<program>: <message>" on stderr.
void complain(const QString &message);

// Writes `text` to stdout at once. When it cannot be written (a full disk, a closed file),
// says so on stderr, the first time only.
void print(const QByteArray &text);

// Some output to stdout was lost: the program ends with exitIoError.
bool outputFailed();

// One port to work: as the user wrote it, and the device that stands for it.
struct Port {
    QString given;  // "3", "/dev/ttyUSB0", "socket://host:4001"
    QString device; // what is opened
};

struct Line {
    QList<Port> ports;
    QString settings; // "9600,N,8,1" or "19200,N,8,1"
};

// The ports and line settings asked for; without --port, the port the panel stored, and
// without --baud, the stored speed as the panel reads it. A string is the usage error: a
// port number out of range, a socket:// name without a host or a usable port, one device
// named twice, a speed that is not one of the two.
std::variant<Line, QString> resolveLine(const QCommandLineParser &parser, const SettingsStore &store);

} // namespace cli
