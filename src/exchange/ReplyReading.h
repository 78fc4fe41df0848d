#pragma once

#include "exchange/StatusDecoding.h"

#include <QJsonValue>
#include <QString>
#include <QStringView>
#include <optional>

// A reply as a program without a window reads it: the words the status box would show
// and a value a script can use without parsing those words.
struct ReplyReading {
    QString shown;                   // the reply in the transcript rendering
    std::optional<QString> status;   // the status box's text without its surrounding blanks
    QJsonValue value;                // null where the reply carries no reading
    std::optional<PowerStatus> power; // for the power query
};

// Reads `reply` as the answer to `command` (without its carriage return), decoding it as the
// panel does when that command was its last one. A reply to lamp hours or temperatures that
// holds no numbers has no status: the words would only repeat what is not a reading.
ReplyReading readReply(QStringView command, QStringView reply);

// "on", "standby", "countdown", "cooling", "power-abnormality", "temperature-abnormality",
// "lamp-failure".
QString powerStatusName(PowerStatus status);

struct LineExchange;

// Why an exchange gave no good answer, or an empty string when it did: it failed, no reply
// (or no end of one) came within `timeoutMs`, the projector refused the command ("?"), or a
// status query was answered with something that is not its reading.
QString exchangeProblem(const LineExchange &exchange, int timeoutMs);

// Where a reply ends: just past its first carriage return, or just past an ACK received as
// its first character. 0 while it is still open.
qsizetype replyLength(QStringView received);
