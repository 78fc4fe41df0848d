#pragma once

#include "host/PortError.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The serial-port component that sits on the main window (MSComm1).
// Only these operations are used by the program; the implementations are a
// QSerialPort/TCP adapter for real use and an in-memory fake for tests.
//
// Failures are thrown as PortError: opening a missing, busy or refused port,
// choosing a port while open, writing to a closed port.
class SerialComponent : public QObject {
    Q_OBJECT
public:
    // Values of commEvent(): only "characters received" matters to the program.
    static constexpr int comEvReceive = 2;

    using QObject::QObject;
    ~SerialComponent() override = default;

    virtual void setCommPort(int portNumber) = 0;
    virtual int commPort() const = 0;
    // "9600,N,8,1" or "19200,N,8,1"; applied at the next open.
    virtual void setSettings(const QString &settings) = 0;
    virtual QString settings() const = 0;
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // Transmits every character of the text, one byte each, adding nothing.
    virtual void setOutput(const QString &text) = 0;
    // Every character received and not yet read, in arrival order; removes them.
    virtual QString input() = 0;
    virtual int commEvent() const = 0;
    // The device name the current port number stands for (for messages).
    virtual QString deviceName() const = 0;

    // Opens the port without holding up the event loop where opening takes time (a
    // connection to a serial device server); `done` gets the failure, or nothing once the
    // port is open. It may run before this returns.
    using OpenDone = std::function<void(const std::optional<PortError> &failure)>;
    virtual void openAsync(OpenDone done) {
        try {
            setPortOpen(true);
        } catch (const PortError &failure) {
            done(failure);
            return;
        }
        done(std::nullopt);
    }

signals:
    // Raised while the port is open whenever received characters are waiting.
    void OnComm();
    // The open port failed under the program (unplugged cable, device server gone).
    // The component has already closed the port when this is emitted, once per loss;
    // the reason names the device, e.g. "/dev/ttyUSB0 stopped answering (I/O error)."
    void portLost(const QString &reason);
    // Bytes that setOutput() had accepted could not be written after all; the port stays
    // open. The reason names the device, e.g. "/dev/ttyUSB0: writing failed (...)."
    void writeFailed(const QString &reason);
};
