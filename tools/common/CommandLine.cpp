#include "CommandLine.h"

#include "host/PortDirectory.h"
#include "host/SettingsStore.h"
#include "link/Module1.h"
#include "link/StoredNumber.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace cli {

namespace {

const QString portOption = QStringLiteral("port");
const QString baudOption = QStringLiteral("baud");

// What tells two ports apart: the file a device path leads to (a stable name under
// /dev/serial/by-id and the ttyUSB0 it points to are one port), or a socket's host and port.
QString sameDeviceKey(const QString &device) {
    if (const auto address = socketAddress(device))
        return QStringLiteral("socket://%1:%2").arg(address->host.toLower()).arg(address->port);
    const QString file = QFileInfo(device).canonicalFilePath();
    return file.isEmpty() ? device : file;
}

bool outputLost = false;

} // namespace

std::optional<qint64> number(const QString &text, qint64 lowest, qint64 highest) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }) ||
        value < lowest || value > highest)
        return std::nullopt;
    return value;
}

std::optional<qint64> number(const QCommandLineParser &parser, const QString &name, qint64 lowest, qint64 highest) {
    return number(parser.value(name), lowest, highest);
}

std::optional<int> lineSpeed(const QString &text) {
    if (text == QLatin1String("9600") || text == QLatin1String("19200"))
        return text.toInt();
    return std::nullopt;
}

void print(const QByteArray &text) {
    if (text.isEmpty())
        return;
    const bool written = std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size());
    // At once, so a pipe (jq, a log shipper) sees each line as it happens; a full disk or a
    // closed file shows here too.
    if (std::fflush(stdout) == 0 && written)
        return;
    const int error = errno;
    if (!outputLost)
        complain(
            QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
    outputLost = true;
}

bool outputFailed() { return outputLost; }

void complain(const QString &message) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(message));
}

void addStandardOptions(QCommandLineParser &parser) {
    parser.addHelpOption();
    parser.addOption({{QStringLiteral("V"), QStringLiteral("version")}, QStringLiteral("Print the version and exit.")});
}

void addLineOptions(QCommandLineParser &parser, bool onePortOnly) {
    parser.addOption({{QStringLiteral("p"), portOption},
                      QStringLiteral("The projector's port: a port number 1-15 (mapped as the panel maps it, through "
                                     "[Ports] in TAVO.conf), a device path, or socket://host:port.%1 Default: the "
                                     "port the panel stored.")
                          .arg(onePortOnly ? QString() : QStringLiteral(" May be given many times.")),
                      QStringLiteral("port")});
    parser.addOption({{QStringLiteral("b"), baudOption},
                      QStringLiteral("Line speed, 9600 or 19200. Default: the speed the panel stored."),
                      QStringLiteral("rate")});
}

std::optional<int> parse(QCommandLineParser &parser, const QStringList &arguments) {
    if (!parser.parse(arguments)) {
        complain(parser.errorText());
        std::fprintf(stderr, "Try '%s --help' for more information.\n",
                     qPrintable(QCoreApplication::applicationName()));
        return exitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        print(parser.helpText().toUtf8());
        return outputFailed() ? exitIoError : 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(
            QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(), QStringLiteral(TAVO_VERSION)).toUtf8());
        return outputFailed() ? exitIoError : 0;
    }
    return std::nullopt;
}

std::variant<Line, QString> resolveLine(const QCommandLineParser &parser, const SettingsStore &store) {
    Line line;
    QStringList given = parser.values(portOption);
    if (given.isEmpty()) {
        const qint16 stored = storedPortNumber(store);
        if (!speed::isUsablePort(stored))
            return QStringLiteral("no --port given, and no port stored in %1 ([StartUP] ComPort=N, as the panel's "
                                  "port dialog stores it): give --port, e.g. --port /dev/ttyUSB0 (for the service "
                                  "tavo-server@NAME, in TAVO_SERVER_OPTS of /etc/tavo-server/NAME.conf)")
                .arg(QSettings(QSettings::NativeFormat, QSettings::UserScope, store::application).fileName());
        given << QString::number(stored);
    }
    for (const QString &port : given) {
        if (port.isEmpty())
            return QStringLiteral("--port needs a value");
        static const QRegularExpression panelName(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
        if (const QRegularExpressionMatch named = panelName.match(port); named.hasMatch())
            return QStringLiteral("\"%1\" is the panel's name for port %2: give --port %2").arg(port, named.captured(1));
        if (const auto given = number(port, 0, std::numeric_limits<int>::max())) {
            if (!speed::isUsablePort(int(*given)))
                return QStringLiteral("port number %1 is out of range: use 1 to 15, a device path or "
                                      "socket://host:port")
                    .arg(port);
            line.ports.append({port, portDeviceName(int(*given), store)});
        } else {
            if (isSocketDevice(port) && !socketAddress(port))
                return QStringLiteral("\"%1\" is not a socket://host:port address (a host, and a port 1 to 65535)")
                    .arg(port);
            line.ports.append({port, port});
        }
    }
    // A port worked twice at once would only be refused as busy, by itself.
    for (qsizetype i = 0; i < line.ports.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (sameDeviceKey(line.ports[i].device) == sameDeviceKey(line.ports[j].device))
                return line.ports[i].given == line.ports[j].given
                           ? QStringLiteral("port %1 is given twice: give each port once").arg(line.ports[i].given)
                           : QStringLiteral("ports %1 and %2 are the same device: give each port once")
                                 .arg(line.ports[j].given, line.ports[i].given);

    if (parser.isSet(baudOption)) {
        const QString rate = parser.value(baudOption);
        const auto bits = lineSpeed(rate);
        if (!bits)
            return QStringLiteral("--baud must be 9600 or 19200, not \"%1\"").arg(rate);
        line.settings = speed::portSettingsFor(*bits == 9600 ? speed::code9600 : speed::code19200);
    } else {
        line.settings = speed::portSettingsFor(storedBaudCode(store));
    }
    return line;
}

} // namespace cli
