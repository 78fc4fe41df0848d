#include "host/PortDirectory.h"

#include "host/SettingsStore.h"

#include <QUrl>

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

std::optional<SocketAddress> socketAddress(const QString &deviceName) {
    if (!isSocketDevice(deviceName))
        return std::nullopt;
    // QUrl takes "[::1]:4001" apart too; a port past 65535 leaves it invalid, with port -1.
    const QUrl url(deviceName);
    if (!url.isValid() || url.host().isEmpty() || url.port() < 1 || url.port() > 65535)
        return std::nullopt;
    return SocketAddress{url.host(), quint16(url.port())};
}
