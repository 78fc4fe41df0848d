#include "host/FakeSerialComponent.h"

#include "host/PortError.h"

void FakeSerialComponent::setCommPort(int portNumber) {
    if (m_open)
        throw PortError(PortError::Kind::Refused, QStringLiteral("The port number cannot change while the port is open."));
    if (portNumber < 1 || portNumber > 255)
        throw PortError(PortError::Kind::BadPortNumber, QStringLiteral("There is no port %1.").arg(portNumber));
    m_commPort = portNumber;
}

void FakeSerialComponent::setSettings(const QString &settings) {
    if (settings != QLatin1String("9600,N,8,1") && settings != QLatin1String("19200,N,8,1"))
        throw PortError(PortError::Kind::Refused, QStringLiteral("Unsupported line settings \"%1\".").arg(settings));
    m_settings = settings;
}

void FakeSerialComponent::setPortOpen(bool open) {
    if (!open) {
        m_open = false;
        return;
    }
    if (m_open)
        return;
    if (!existingPorts.contains(m_commPort))
        throw PortError(PortError::Kind::NotFound, QStringLiteral("%1: no such device.").arg(deviceName()));
    if (busyPorts.contains(m_commPort))
        throw PortError(PortError::Kind::Busy,
                        QStringLiteral("%1: the device is in use by another program.").arg(deviceName()));
    m_open = true;
    ++openCount;
    openedSettings = m_settings;
}

void FakeSerialComponent::setOutput(const QString &text) {
    if (!m_open)
        throw PortError(PortError::Kind::NotOpen, QStringLiteral("The port is not open."));
    written += text.toLatin1();
}

QString FakeSerialComponent::input() {
    if (!m_open)
        throw PortError(PortError::Kind::NotOpen, QStringLiteral("The port is not open."));
    const QString text = QString::fromLatin1(m_pending);
    m_pending.clear();
    return text;
}

void FakeSerialComponent::receive(const QByteArray &bytes) {
    if (!m_open)
        return; // a closed port hears nothing
    m_pending += bytes;
    m_commEvent = comEvReceive;
    emit OnComm();
}

void FakeSerialComponent::raiseEvent(int commEvent) {
    if (!m_open)
        return;
    m_commEvent = commEvent;
    emit OnComm();
}

void FakeSerialComponent::unplug() {
    if (!m_open)
        return;
    m_open = false;
    emit portLost(QStringLiteral("%1 stopped answering.").arg(deviceName()));
}
