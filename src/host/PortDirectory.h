#pragma once

#include <QString>

#include <optional>

class SettingsStore;

// The one place that maps a port number to the device it stands for.
// "Ports" / "COM<n>" in the settings store wins (a device path such as /dev/ttyUSB0,
// or socket://host:port for a serial device server); otherwise the platform's
// conventional name: COM<n> on Windows, /dev/ttyS<n-1> elsewhere.
QString portDeviceName(int portNumber, const SettingsStore &store);

// True for "socket://host:port" names.
bool isSocketDevice(const QString &deviceName);

struct SocketAddress {
    QString host; // a name or an address, IPv6 without its brackets
    quint16 port = 0;
};

// The one reading of a "socket://host:port" name: its host and port, or nothing when it
// has no host or no port from 1 to 65535.
std::optional<SocketAddress> socketAddress(const QString &deviceName);
