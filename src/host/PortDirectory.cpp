#include "host/PortDirectory.h"

#include "host/SettingsStore.h"

QString portDeviceName(int portNumber, const SettingsStore &store) {
    const QString key = QStringLiteral("COM%1").arg(portNumber);
    const QString mapped = store.read(store::application, store::ports, key, QString()).trimmed();
    if (!mapped.isEmpty())
        return mapped;
#ifdef Q_OS_WIN
    return key;
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

bool isSocketDevice(const QString &deviceName) { return deviceName.startsWith(QLatin1String("socket://")); }
