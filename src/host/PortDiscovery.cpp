#include "host/PortDiscovery.h"

#include "host/PortDirectory.h"
#include "host/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

constexpr int firstPort = 1;
constexpr int lastPort = 15;

// The device file a name finally stands for, so /dev/serial/by-id links and the device
// itself compare equal.
QString resolved(const QString &device) {
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString stableNameOf(const QString &device) {
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (resolved(link.absoluteFilePath()) == device)
            return link.absoluteFilePath();
    return {};
}

} // namespace

QList<SerialPortFound> findSerialPorts(const SettingsStore &store) {
    QList<SerialPortFound> found;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortFound port;
        port.device = info.systemLocation();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            port.usbId = QStringLiteral("%1:%2")
                             .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                             .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        const QString device = resolved(port.device);
        port.stableName = stableNameOf(device);
        for (int n = firstPort; n <= lastPort; ++n)
            if (resolved(portDeviceName(n, store)) == device)
                port.portNumbers.append(n);
        found.append(port);
    }
    return found;
}

QString portsEntryFor(const SerialPortFound &port, const SettingsStore &store, const QList<SerialPortFound> &found) {
    for (int n = firstPort; n <= lastPort; ++n) {
        const QString key = QStringLiteral("COM%1").arg(n);
        if (!store.read(store::application, store::ports, key, QString()).trimmed().isEmpty())
            continue;
        const QString device = resolved(portDeviceName(n, store));
        const bool reachesAPort = std::any_of(found.begin(), found.end(), [&device](const SerialPortFound &other) {
            return resolved(other.device) == device;
        });
        if (reachesAPort)
            continue;
        const QString target = port.stableName.isEmpty() ? port.device : port.stableName;
        return QStringLiteral("[Ports]\n%1=%2").arg(key, target);
    }
    return {};
}

std::optional<UnreachedPort> firstUnreachedPort(const QList<SerialPortFound> &found, const SettingsStore &store) {
    for (const SerialPortFound &port : found) {
        if (!port.portNumbers.isEmpty())
            continue;
        const QString entry = portsEntryFor(port, store, found);
        if (entry.isEmpty())
            return std::nullopt;
        return UnreachedPort{port.device, entry};
    }
    return std::nullopt;
}

Presence devicePresence(const QString &device) {
    if (isSocketDevice(device))
        return Presence::network;
    return QFileInfo::exists(device) ? Presence::present : Presence::absent;
}

QString portNumberDescription(int portNumber, const SettingsStore &store) {
    const QString device = portDeviceName(portNumber, store);
    switch (devicePresence(device)) {
    case Presence::present:
        return QStringLiteral("COM%1 opens %2, which is present.").arg(portNumber).arg(device);
    case Presence::absent:
        return QStringLiteral("COM%1 opens %2, which is not present.").arg(portNumber).arg(device);
    case Presence::network:
        return QStringLiteral("COM%1 opens the serial device server %2.").arg(portNumber).arg(device);
    }
    return {};
}

QString portsFoundText(const SettingsStore &store) {
    const QList<SerialPortFound> found = findSerialPorts(store);
    if (found.isEmpty())
        return QStringLiteral("No serial ports were found on this machine.");
    QStringList lines{QStringLiteral("Serial ports found:")};
    for (const SerialPortFound &port : found) {
        QString line = QStringLiteral("  ") + port.device;
        if (!port.description.isEmpty())
            line += QStringLiteral(" (%1)").arg(port.description);
        if (port.portNumbers.isEmpty()) {
            line += QStringLiteral(": no port number opens it");
        } else {
            QStringList numbers;
            for (const int n : port.portNumbers)
                numbers << QStringLiteral("COM%1").arg(n);
            line += QStringLiteral(": ") + numbers.join(QStringLiteral(", "));
        }
        lines << line;
    }
    if (const auto unreached = firstUnreachedPort(found, store))
        lines << QStringLiteral("To reach %1, add to TAVO.conf:").arg(unreached->device) << unreached->entry;
    return lines.join(QLatin1Char('\n'));
}
