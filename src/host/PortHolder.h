#pragma once

// Who holds a serial device, and how to reach a projector that a tavo-server holds.
//
// Qt's serial port leaves a lock file naming the process and program that opened a device;
// tavo-server also leaves a small record of its listeners beside its own runtime files,
// keyed by the device, so that a panel turned away from a busy port can say where the
// projector is reachable instead.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

struct PortHolder {
    qint64 pid = 0;
    QString program; // "tavo-server"
};

// The live process named by the device's lock file, if there is one.
std::optional<PortHolder> portHolder(const QString &device);

// The folders a server's record is looked for in, in order: the system's (/run/tavo-server)
// and the user's runtime folder.
QStringList serverRecordFolders();
// The record's file name for a device: "dev_ttyUSB0.json" (its real path, symbolic links
// followed, with "/" made "_").
QString serverRecordName(const QString &device);
// Writes {"pid", "device", "line", "pjlink", "http"} for the device into the first folder that
// can be written; the path written, or empty.
QString writeServerRecord(const QString &device, const QJsonObject &listeners);
// The record of a live server for the device, if any.
std::optional<QJsonObject> readServerRecord(const QString &device);

// What to tell an operator whose port `device` (port number `portNumber`, 0 when a device
// was named directly) is busy: who holds it and, when that is a tavo-server serving its line,
// the [Ports] line that reaches the projector through it. Empty when nothing is known.
QString busyPortAdvice(const QString &device, int portNumber);
