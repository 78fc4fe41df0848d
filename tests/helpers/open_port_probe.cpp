// Opens one device through the real serial adapter, as port 1 at 9600 bit/s, and prints
// what the operator would be told if it fails. test_serial_line runs it as a user who may
// not open the device, which the tests themselves, running as root, never are.
//
// Exit codes: 0 opened, 1 refused (the reason on stdout), 64 usage.

#include "host/PortError.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: open_port_probe DEVICE\n", stderr);
        return 64;
    }
    MemorySettingsStore settings;
    settings.save(store::application, store::ports, QStringLiteral("COM1"), QString::fromLocal8Bit(argv[1]));
    QtSerialComponent port(settings);
    try {
        port.setSettings(QStringLiteral("9600,N,8,1"));
        port.setCommPort(1);
        port.setPortOpen(true);
    } catch (const PortError &error) {
        std::printf("%s\n", qPrintable(error.detail()));
        return 1;
    }
    std::puts("opened");
    return 0;
}
