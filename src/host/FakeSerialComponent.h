#pragma once

#include "host/SerialComponent.h"

#include <QByteArray>
#include <QSet>

// An in-memory serial-port component: records what is written, delivers what a test
// "receives", and opens only the port numbers it has been told exist.
class FakeSerialComponent : public SerialComponent {
    Q_OBJECT
public:
    using SerialComponent::SerialComponent;

    void setCommPort(int portNumber) override;
    int commPort() const override { return m_commPort; }
    void setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return m_open; }
    void setOutput(const QString &text) override;
    QString input() override;
    int commEvent() const override { return m_commEvent; }
    QString deviceName() const override { return QStringLiteral("FAKE%1").arg(m_commPort); }

    // Test controls.
    QSet<int> existingPorts{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    QSet<int> busyPorts;
    QByteArray written;   // everything transmitted, in order
    int openCount = 0;    // successful opens
    QString openedSettings; // the line settings of the last successful open

    // Characters arriving from the projector: raises OnComm as the real port does.
    void receive(const QByteArray &bytes);
    // A notification that is not about received characters (a line error, say).
    void raiseEvent(int commEvent);
    // The device vanishes while open.
    void unplug();

private:
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    bool m_open = false;
    int m_commEvent = 0;
    QByteArray m_pending;
};
