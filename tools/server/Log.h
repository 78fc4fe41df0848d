#pragma once

// The server's log: one category for each front end, one for the projector line, one for the
// program itself, and one that shows every exchange on the line, off unless turned on with
// QT_LOGGING_RULES="tavo.exchange.debug=true".
//
// Levels: info for what happens in the normal course (a start, a connection, a client gone
// idle), warning for what someone should look at (a refused password or connection, a
// listener open to every machine), critical for a projector out of reach (the device lost
// or not answering).

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(logServer)    // tavo.server: start, stop, limits
Q_DECLARE_LOGGING_CATEGORY(logProjector) // tavo.projector: the serial line to the projector
Q_DECLARE_LOGGING_CATEGORY(logExchange)  // tavo.exchange: each command and its reply (debug)
Q_DECLARE_LOGGING_CATEGORY(logPjlink)    // tavo.pjlink
Q_DECLARE_LOGGING_CATEGORY(logLine)      // tavo.line: the projector's own protocol over TCP
Q_DECLARE_LOGGING_CATEGORY(logHttp)      // tavo.http: the API, the events, the page
Q_DECLARE_LOGGING_CATEGORY(logMqtt)      // tavo.mqtt

// The category of a front end by its name ("pjlink", "line", "http", "mqtt").
const QLoggingCategory &logOf(const QString &frontEnd);

// Logs `text` at `level` in `category`.
void logAt(const QLoggingCategory &category, QtMsgType level, const QString &text);

// One line on stderr for each message. Under systemd (JOURNAL_STREAM set) each begins with its
// priority for the journal: <7> debug, <6> info, <4> warning, <3> critical; elsewhere a
// warning begins with "warning: " and a critical message with "error: ".
void setLogFormat();
