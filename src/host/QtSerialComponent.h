#pragma once

#include "host/SerialComponent.h"

#include <QPointer>

class QIODevice;
class QSerialPort;
class QTcpSocket;
class SettingsStore;

// The serial-port component on top of QSerialPort, or of a raw TCP connection when
// the port's device name is socket://host:port (a serial device server in raw mode,
// which takes no line settings: they are accepted and ignored).
class QtSerialComponent : public SerialComponent {
    Q_OBJECT
public:
    explicit QtSerialComponent(const SettingsStore &store, QObject *parent = nullptr);
    ~QtSerialComponent() override;

    void setCommPort(int portNumber) override;
    int commPort() const override { return m_commPort; }
    void setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return m_device != nullptr; }
    void setOutput(const QString &text) override;
    QString input() override;
    int commEvent() const override { return m_commEvent; }
    QString deviceName() const override;

    // How long opening a socket:// port may wait for the connection.
    int connectTimeoutMs = 3000;

private:
    void openSerial(const QString &device);
    void openSocket(const QString &device);
    void closeDevice();
    void dataArrived();
    void lose(const QString &reason);

    const SettingsStore &m_store;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_baudRate = 9600;
    int m_commEvent = 0;
    QIODevice *m_device = nullptr; // the open port, or null while closed
    QString m_openDevice;
};
