#pragma once

#include <QList>
#include <QString>

#include <optional>

class SettingsStore;

// The serial ports present on this machine, and how port numbers reach them.
struct SerialPortFound {
    QString device;       // e.g. /dev/ttyUSB0
    QString description;  // what the driver calls it, e.g. "FT232R USB UART"
    QString manufacturer;
    QString serialNumber;
    QString usbId;        // "vendor:product" in hex, e.g. "0403:6001"; empty for other ports
    QString stableName;   // its /dev/serial/by-id/ name, which survives re-plugging; or empty
    QList<int> portNumbers; // the port numbers 1 to 15 that open it
};

QList<SerialPortFound> findSerialPorts(const SettingsStore &store);

// The lines to add to TAVO.conf so a port number reaches `port`: "[Ports]" and
// "COM<n>=<device>", with the first number from 1 to 15 that has no [Ports] entry and does
// not already stand for a present port. Empty when every number is taken.
QString portsEntryFor(const SerialPortFound &port, const SettingsStore &store, const QList<SerialPortFound> &found);

// The first port found that no port number reaches, with the lines that would reach it;
// nothing when every port found is reached (or no number is free).
struct UnreachedPort {
    QString device;
    QString entry; // as portsEntryFor() gives it
};
std::optional<UnreachedPort> firstUnreachedPort(const QList<SerialPortFound> &found, const SettingsStore &store);

// Whether the device a port number stands for is there: a device file that exists, or a
// serial device server (which can only be known by connecting).
enum class Presence { present, absent, network };
Presence devicePresence(const QString &device);

// "COM3 opens /dev/ttyS2, which is not present." and the like, for the port dialog.
QString portNumberDescription(int portNumber, const SettingsStore &store);

// What the port warning adds under its reason: the ports found, and the [Ports] line that
// would reach one that no port number reaches yet.
QString portsFoundText(const SettingsStore &store);
