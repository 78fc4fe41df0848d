#include "ServerProcess.h"

#include "Log.h"
#include "ProjectorServer.h"

#include "host/PortDirectory.h"
#include "host/PortHolder.h"
#include "host/SerialComponent.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/resource.h>

void raiseFileLimit(const ServerOptions &options) {
    // Each connection taking lines holds two descriptors.
    const int needed = 2 * (options.pjlinkConnections.total + options.lineConnections.total) +
                       options.httpConnections.total + 64;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < rlim_t(needed))
        qCWarning(logServer).noquote() << QStringLiteral("%1 files may be open at once, and the connection caps may "
                                                         "need %2: lower the caps or raise the limit")
                                              .arg(qulonglong(files.rlim_cur))
                                              .arg(needed);
}

void announceStart(const ProjectorServer &projector, const StartOptions &start, const QString &device) {
    const ServerOptions &server = start.server;
    qCInfo(logServer).noquote() << QStringLiteral("projector on %1")
                                       .arg(isSocketDevice(device)
                                                ? device
                                                : QStringLiteral("%1 at %2 bit/s")
                                                      .arg(device, start.lineSettings.section(QLatin1Char(','), 0, 0)));
    const auto announce = [&](const QString &frontEnd, const QString &what) {
        if (const QString at = projector.address(frontEnd); !at.isEmpty())
            qCInfo(logOf(frontEnd)).noquote() << QStringLiteral("listening on %1 for %2").arg(at, what);
    };
    const auto onOff = [](const QByteArray &password) {
        return password.isEmpty() ? QStringLiteral("off") : QStringLiteral("on");
    };
    announce(QStringLiteral("pjlink"),
             QStringLiteral("PJLink class 1, authentication %1").arg(onOff(server.pjlinkSession.password)));
    announce(QStringLiteral("line"), QStringLiteral("the projector's own commands"));
    announce(QStringLiteral("http"), QStringLiteral("%1 (control page, API, events, metrics), password %2")
                                         .arg(server.httpTls.on() ? QStringLiteral("HTTPS") : QStringLiteral("HTTP"),
                                              onOff(server.httpRules.password)));
    if (server.http && !server.http->address.isLoopback() && !server.httpRules.password.isEmpty() &&
        !server.httpTls.on())
        qCWarning(logHttp).noquote()
            << QStringLiteral("%1 takes the HTTP password from other machines without TLS: the password "
                              "crosses the network in clear; give it a certificate (--http-cert, --http-key), or "
                              "put a reverse proxy with HTTPS in front (--http-public-url) and listen on loopback")
                   .arg(projector.address(QStringLiteral("http")));
    if (server.pjlink && !server.pjlink->address.isLoopback() && server.pjlinkSession.password.isEmpty())
        qCWarning(logPjlink).noquote() << QStringLiteral("no PJLink password, and %1 is reachable from other machines: "
                                                         "anyone who can reach it can work the projector")
                                              .arg(projector.address(QStringLiteral("pjlink")));
}

ServerRecord::ServerRecord(ProjectorServer &projector, const QString &device)
    : m_projector(projector), m_device(device) {
    if (isSocketDevice(device))
        return;
    // Opened at the start, or later at a command once the other program has let go of it.
    QObject::connect(&projector.queue(), &LineQueue::exchanged, &m_context, [this] { writeOnceOpen(); });
    writeOnceOpen();
}

void ServerRecord::writeOnceOpen() {
    if (!m_file.isEmpty() || !m_projector.queue().line().port().portOpen())
        return;
    QJsonObject listeners;
    for (const char *frontEnd : {"line", "pjlink", "http"})
        listeners.insert(QLatin1String(frontEnd), m_projector.address(QLatin1String(frontEnd)));
    m_file = writeServerRecord(m_device, listeners);
}

ServerRecord::~ServerRecord() {
    if (m_file.isEmpty())
        return;
    QFile file(m_file);
    if (file.open(QIODevice::ReadOnly) &&
        QJsonDocument::fromJson(file.read(65536)).object().value(QStringLiteral("pid")).toInteger() ==
            QCoreApplication::applicationPid())
        QFile::remove(m_file);
}
