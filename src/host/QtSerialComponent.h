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
    // A socket:// port connects in the background; a serial device opens at once.
    void openAsync(OpenDone done) override;

    // Names the device to open outright (a device path or socket://host:port), instead of
    // the one the port number stands for; an empty name goes back to the port number.
    void setDevice(const QString &device);

    // How long opening a socket:// port may wait for the connection.
    int connectTimeoutMs = 3000;

private:
    void openSerial(const QString &device);
    QTcpSocket *startSocket(const QString &device);
    void adoptSocket(QTcpSocket *socket);
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
    QString m_namedDevice;         // set by setDevice()
    QPointer<QTcpSocket> m_connecting; // a socket:// open still under way
    OpenDone m_connectDone;            // told how that open ends
};
