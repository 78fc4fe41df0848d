#include "host/QtSerialComponent.h"

#include "host/PortDirectory.h"
#include "host/PortHolder.h"
#include "host/PortError.h"
#include "host/SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <sys/stat.h>

namespace {

// "9600,N,8,1" -> 9600; anything but no parity, 8 data bits and 1 stop bit is refused.
int baudRateOf(const QString &settings) {
    const QStringList parts = settings.split(QLatin1Char(','));
    bool ok = false;
    const int baud = parts.value(0).trimmed().toInt(&ok);
    if (parts.size() != 4 || !ok || baud <= 0 || parts[1].trimmed().compare(QLatin1String("N"), Qt::CaseInsensitive) != 0 ||
        parts[2].trimmed() != QLatin1String("8") || parts[3].trimmed() != QLatin1String("1"))
        throw PortError(PortError::Kind::Refused, QStringLiteral("Unsupported line settings \"%1\".").arg(settings));
    return baud;
}

PortError openFailure(const QString &device, int portNumber, QSerialPort::SerialPortError error,
                      const QString &qtText) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {PortError::Kind::NotFound, QStringLiteral("%1: no such device.").arg(device)};
    case QSerialPort::PermissionError: {
        // Qt reports a device held by another program (lock file, exclusive mode) and a
        // device the user may not open alike; the file's access rights tell them apart.
        const QFileInfo info(device);
        if (info.exists() && !(info.isReadable() && info.isWritable())) {
            struct stat status {};
            const QString mode = ::stat(QFile::encodeName(device).constData(), &status) == 0
                                     ? QString::number(status.st_mode & 07777, 8)
                                     : QStringLiteral("?");
            return {PortError::Kind::AccessDenied,
                    QStringLiteral("%1: permission denied: it belongs to %2:%3 with mode %4. The user needs read and "
                                   "write access to it (on Debian: membership of the dialout group, with the device "
                                   "in group dialout and mode 660).")
                        .arg(device, info.owner(), info.group(), mode)};
        }
        const QString advice = busyPortAdvice(device, portNumber);
        return {PortError::Kind::Busy, QStringLiteral("%1: the device is in use by another program.%2")
                                           .arg(device, advice.isEmpty() ? QString() : QLatin1Char(' ') + advice)};
    }
    default:
        return {PortError::Kind::Refused, QStringLiteral("%1: %2.").arg(device, qtText)};
    }
}

} // namespace

QtSerialComponent::QtSerialComponent(const SettingsStore &store, QObject *parent)
    : SerialComponent(parent), m_store(store) {}

QtSerialComponent::~QtSerialComponent() { closeDevice(); }

void QtSerialComponent::setCommPort(int portNumber) {
    if (m_device)
        throw PortError(PortError::Kind::Refused, QStringLiteral("The port number cannot change while the port is open."));
    if (portNumber < 1 || portNumber > 255)
        throw PortError(PortError::Kind::BadPortNumber, QStringLiteral("There is no port %1.").arg(portNumber));
    m_commPort = portNumber;
}

void QtSerialComponent::setSettings(const QString &settings) {
    m_baudRate = baudRateOf(settings);
    m_settings = settings;
}

QString QtSerialComponent::deviceName() const {
    return m_namedDevice.isEmpty() ? portDeviceName(m_commPort, m_store) : m_namedDevice;
}

void QtSerialComponent::setDevice(const QString &device) {
    if (m_device)
        throw PortError(PortError::Kind::Refused, QStringLiteral("The device cannot change while the port is open."));
    m_namedDevice = device;
}

void QtSerialComponent::setPortOpen(bool open) {
    if (!open) {
        closeDevice();
        return;
    }
    if (m_device)
        return;
    const QString device = deviceName();
    if (isSocketDevice(device)) {
        QTcpSocket *socket = startSocket(device);
        if (!socket->waitForConnected(connectTimeoutMs)) {
            const PortError failure(PortError::Kind::NotFound,
                                    QStringLiteral("%1: cannot connect (%2).").arg(device, socket->errorString()));
            delete socket;
            throw failure;
        }
        m_openDevice = device;
        adoptSocket(socket);
    } else {
        openSerial(device);
        m_openDevice = device;
    }
}

void QtSerialComponent::openAsync(OpenDone done) {
    const QString device = deviceName();
    if (m_device || m_connecting || !isSocketDevice(device)) {
        SerialComponent::openAsync(std::move(done));
        return;
    }
    QTcpSocket *socket = nullptr;
    try {
        socket = startSocket(device);
    } catch (const PortError &failure) {
        done(failure);
        return;
    }
    m_connecting = socket;
    m_connectDone = std::move(done);
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    // Exactly one of connected, error, the deadline and a close settles the attempt.
    auto settle = [this, socket, deadline, device](bool connected) {
        socket->disconnect(this);
        deadline->disconnect(this);
        deadline->stop();
        deadline->deleteLater();
        m_connecting = nullptr;
        const OpenDone done = std::exchange(m_connectDone, nullptr);
        if (!connected) {
            const PortError failure(PortError::Kind::NotFound,
                                    QStringLiteral("%1: cannot connect (%2).")
                                        .arg(device, socket->error() == QAbstractSocket::UnknownSocketError
                                                         ? QStringLiteral("no answer")
                                                         : socket->errorString()));
            socket->abort();
            socket->deleteLater();
            done(failure);
            return;
        }
        m_openDevice = device;
        adoptSocket(socket);
        done(std::nullopt);
    };
    connect(socket, &QTcpSocket::connected, this, [settle] { settle(true); });
    connect(socket, &QTcpSocket::errorOccurred, this, [settle] { settle(false); });
    connect(deadline, &QTimer::timeout, this, [settle] { settle(false); });
    deadline->start(connectTimeoutMs);
}

void QtSerialComponent::openSerial(const QString &device) {
    auto *port = new QSerialPort(this);
    port->setPortName(device);
    port->setBaudRate(m_baudRate);
    port->setParity(QSerialPort::NoParity);
    port->setDataBits(QSerialPort::Data8);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite)) {
        const PortError failure =
            openFailure(device, m_namedDevice.isEmpty() ? m_commPort : 0, port->error(), port->errorString());
        delete port;
        throw failure;
    }
    // Qt also reports NoError on open and UnsupportedOperationError for modem-line calls
    // that pseudo-terminals do not have; only a failing read or a vanished device means
    // the port is gone, and then Qt repeats the error as fast as it can until the port
    // is closed, so it is closed right here, once.
    connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError error) {
        if (m_device != port)
            return;
        if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
            lose(QStringLiteral("%1 stopped answering (%2).")
                     .arg(m_openDevice, port->errorString()));
        // Bytes setOutput() accepted are written later, when the driver has room; a failure
        // then is reported rather than passing for a command that went out.
        else if (error == QSerialPort::WriteError)
            emit writeFailed(QStringLiteral("%1: writing failed (%2).").arg(m_openDevice, port->errorString()));
    });
    connect(port, &QSerialPort::readyRead, this, &QtSerialComponent::dataArrived);
    m_device = port;
}

QTcpSocket *QtSerialComponent::startSocket(const QString &device) {
    const std::optional<SocketAddress> address = socketAddress(device);
    if (!address)
        throw PortError(PortError::Kind::NotFound, QStringLiteral("%1: not a host:port address.").arg(device));
    auto *socket = new QTcpSocket(this);
    socket->connectToHost(address->host, address->port);
    return socket;
}

void QtSerialComponent::adoptSocket(QTcpSocket *socket) {
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (m_device == socket)
            lose(QStringLiteral("%1: the connection was closed.").arg(m_openDevice));
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        if (m_device == socket)
            lose(QStringLiteral("%1: %2.").arg(m_openDevice, socket->errorString()));
    });
    connect(socket, &QTcpSocket::readyRead, this, &QtSerialComponent::dataArrived);
    m_device = socket;
}

void QtSerialComponent::closeDevice() {
    if (m_connecting) {
        // A closed port has no connection under way either.
        QTcpSocket *socket = m_connecting;
        m_connecting = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        if (const OpenDone done = std::exchange(m_connectDone, nullptr))
            done(PortError(PortError::Kind::NotFound, QStringLiteral("The port was closed before it connected.")));
    }
    QIODevice *device = m_device;
    if (!device)
        return;
    m_device = nullptr;
    device->disconnect(this);
    device->close();
    // The device may be inside one of its own signals right now.
    device->deleteLater();
}

void QtSerialComponent::lose(const QString &reason) {
    closeDevice();
    emit portLost(reason);
}

void QtSerialComponent::dataArrived() {
    if (!m_device || m_device->bytesAvailable() <= 0)
        return;
    m_commEvent = comEvReceive;
    emit OnComm();
}

void QtSerialComponent::setOutput(const QString &text) {
    if (!m_device)
        throw PortError(PortError::Kind::NotOpen, QStringLiteral("%1 is not open.").arg(deviceName()));
    const QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty())
        return;
    if (m_device->write(bytes) != bytes.size())
        throw PortError(PortError::Kind::WriteFailed,
                        QStringLiteral("%1: writing failed (%2).").arg(m_openDevice, m_device->errorString()));
    // Hand the bytes to the driver now rather than on the next event-loop turn.
    if (auto *serial = qobject_cast<QSerialPort *>(m_device))
        serial->flush();
    else if (auto *socket = qobject_cast<QTcpSocket *>(m_device))
        socket->flush();
}

QString QtSerialComponent::input() {
    if (!m_device)
        throw PortError(PortError::Kind::NotOpen, QStringLiteral("%1 is not open.").arg(deviceName()));
    return QString::fromLatin1(m_device->readAll());
}
