#include "Log.h"

#include <sys/stat.h>

Q_LOGGING_CATEGORY(logServer, "tavo.server")
Q_LOGGING_CATEGORY(logProjector, "tavo.projector")
Q_LOGGING_CATEGORY(logExchange, "tavo.exchange", QtInfoMsg)
Q_LOGGING_CATEGORY(logPjlink, "tavo.pjlink")
Q_LOGGING_CATEGORY(logLine, "tavo.line")
Q_LOGGING_CATEGORY(logHttp, "tavo.http")
Q_LOGGING_CATEGORY(logMqtt, "tavo.mqtt")

const QLoggingCategory &logOf(const QString &frontEnd) {
    return frontEnd == QLatin1String("pjlink") ? logPjlink()
           : frontEnd == QLatin1String("line") ? logLine()
           : frontEnd == QLatin1String("http") ? logHttp()
           : frontEnd == QLatin1String("mqtt") ? logMqtt()
                                               : logServer();
}

void logAt(const QLoggingCategory &category, QtMsgType level, const QString &text) {
    switch (level) {
    case QtDebugMsg:
        qCDebug(category, "%s", qUtf8Printable(text));
        break;
    case QtInfoMsg:
        qCInfo(category, "%s", qUtf8Printable(text));
        break;
    case QtWarningMsg:
        qCWarning(category, "%s", qUtf8Printable(text));
        break;
    case QtCriticalMsg:
    case QtFatalMsg: // never ends the server
        qCCritical(category, "%s", qUtf8Printable(text));
        break;
    }
}

namespace {

// systemd sets JOURNAL_STREAM to "<device>:<inode>" of the stream it connects a service's
// standard error to; a program started from the service with its own standard error has it
// set as well, but on another file.
bool stderrIsTheJournal() {
    const QList<QByteArray> stream = qgetenv("JOURNAL_STREAM").split(':');
    struct stat status {};
    return stream.size() == 2 && ::fstat(2, &status) == 0 && stream[0].toULongLong() == quint64(status.st_dev) &&
           stream[1].toULongLong() == quint64(status.st_ino);
}

} // namespace

void setLogFormat() {
    if (stderrIsTheJournal())
        qSetMessagePattern(QStringLiteral("%{if-debug}<7>%{endif}%{if-info}<6>%{endif}%{if-warning}<4>%{endif}"
                                          "%{if-critical}<3>%{endif}%{if-fatal}<2>%{endif}%{message}"));
    else
        qSetMessagePattern(QStringLiteral(
            "%{if-warning}warning: %{endif}%{if-critical}error: %{endif}%{if-fatal}error: %{endif}%{message}"));
}
