#pragma once

#include <QString>
#include <stdexcept>

// A failed operation of the serial-port component. Thrown by the host layer
// where the old serial control would raise an error; the callers that trap it
// (opening the port) report it to the operator, nothing else catches it.
class PortError : public std::runtime_error {
public:
    enum class Kind {
        NotFound,         // no such device
        Busy,             // another program holds it
        AccessDenied,     // the user may not open serial devices
        Refused,          // the device rejected the line settings or the open
        BadPortNumber,    // a port number no device can stand for
        NotOpen,          // write or read on a closed port
        WriteFailed,      // the device went away while writing
    };

    PortError(Kind kind, const QString &detail)
        : std::runtime_error(detail.toStdString()), m_kind(kind), m_detail(detail) {}

    Kind kind() const { return m_kind; }
    // One sentence for the operator, e.g. "/dev/ttyUSB0: the device is in use by another program."
    QString detail() const { return m_detail; }

private:
    Kind m_kind;
    QString m_detail;
};
