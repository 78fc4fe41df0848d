#include "host/PortHolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

bool isAlive(qint64 pid) { return pid > 0 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }

QString firstLine(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine(256)).trimmed() : QString();
}

} // namespace

std::optional<PortHolder> portHolder(const QString &device) {
    // Where Qt's serial port keeps its lock files, and how it names them: "/dev/ttyUSB0" is
    // "LCK..ttyUSB0", "/dev/pts/3" "LCK..pts_3", any other path the whole of it.
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                               "/var/lock/lockdev", "/run/lock"}) {
        QFile lock(QLatin1String(folder) + QLatin1String("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = lock.read(4096).split('\n');
        PortHolder holder{lines.value(0).trimmed().toLongLong(), QString::fromUtf8(lines.value(1).trimmed())};
        if (!isAlive(holder.pid))
            continue;
        if (holder.program.isEmpty())
            holder.program = firstLine(QStringLiteral("/proc/%1/comm").arg(holder.pid));
        return holder;
    }
    return std::nullopt;
}

QStringList serverRecordFolders() {
    QStringList folders{QStringLiteral("/run/tavo-server")};
    // Read directly: Qt would warn on every call where it is not set (root's shell, cron).
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        folders << runtime + QStringLiteral("/tavo-server");
    return folders;
}

QString serverRecordName(const QString &device) {
    const QString real = QFileInfo(device).canonicalFilePath();
    QString name = real.isEmpty() ? device : real;
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    for (QChar &c : name)
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-')
            c = u'_';
    return name + QStringLiteral(".json");
}

QString writeServerRecord(const QString &device, const QJsonObject &listeners) {
    QJsonObject record = listeners;
    record.insert(QStringLiteral("pid"), QCoreApplication::applicationPid());
    record.insert(QStringLiteral("device"), device);
    for (const QString &folder : serverRecordFolders()) {
        if (!QDir().mkpath(folder))
            continue;
        QSaveFile file(folder + QLatin1Char('/') + serverRecordName(device));
        if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(record).toJson()) >= 0 && file.commit())
            return file.fileName();
    }
    return {};
}

std::optional<QJsonObject> readServerRecord(const QString &device) {
    for (const QString &folder : serverRecordFolders()) {
        QFile file(folder + QLatin1Char('/') + serverRecordName(device));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject record = QJsonDocument::fromJson(file.read(65536)).object();
        if (isAlive(record.value(QStringLiteral("pid")).toInteger()))
            return record;
    }
    return std::nullopt;
}

QString busyPortAdvice(const QString &device, int portNumber) {
    const std::optional<PortHolder> holder = portHolder(device);
    if (!holder)
        return {};
    QString advice = QStringLiteral("%1 (process %2) holds it.").arg(holder->program).arg(holder->pid);
    const std::optional<QJsonObject> record = readServerRecord(device);
    if (!record || record->value(QStringLiteral("pid")).toInteger() != holder->pid)
        return advice;
    const QString line = record->value(QStringLiteral("line")).toString();
    if (line.isEmpty())
        return advice + QStringLiteral(" It does not pass the projector's own commands on (its --line is off).");
    const QString address = QStringLiteral("socket://") + line;
    return advice + (portNumber > 0 ? QStringLiteral(" To reach the projector through it, use this line under [Ports] "
                                                     "in TAVO.conf: COM%1=%2")
                                          .arg(portNumber)
                                          .arg(address)
                                    : QStringLiteral(" To reach the projector through it, use %1.").arg(address));
}
