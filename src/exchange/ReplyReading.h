#pragma once

#include "exchange/StatusDecoding.h"

#include <QJsonValue>
#include <QString>
#include <QStringView>
#include <optional>

// A reply as a program without a window reads it: the words the status box would show
// and a value a script can use without parsing those words.
struct ReplyReading {
    QString shown;                    // the reply in the transcript rendering
    std::optional<QString> statusBox; // the status box's text as the panel shows it
    std::optional<QString> status;    // the same without its surrounding blanks
    QJsonValue value;                 // null where the reply carries no reading
    std::optional<PowerStatus> power; // for the power query
    int terminal = 0;                 // for the input query: 1 to 5
};

// Reads `reply` as the answer to `command` (without its carriage return), decoding it as the
// panel does when that command was its last one. A reply to lamp hours or temperatures that
// holds no numbers has no status: the words would only repeat what is not a reading.
ReplyReading readReply(QStringView command, QStringView reply);

// The power states in the order of PowerStatus.
inline constexpr PowerStatus allPowerStates[] = {
    PowerStatus::on,         PowerStatus::standby,          PowerStatus::countDown,
    PowerStatus::cooling,    PowerStatus::powerAbnormality, PowerStatus::temperatureAbnormality,
    PowerStatus::lampFailure};

// "on", "standby", "countdown", "cooling", "power-abnormality", "temperature-abnormality",
// "lamp-failure".
QString powerStatusName(PowerStatus status);

struct LineExchange;

// What kept an exchange from a good answer.
enum class ExchangeProblem {
    none,
    failed,     // never went out, or the line went away meanwhile
    timedOut,   // no reply, or no end of one, in time
    refused,    // the projector answered "?"
    wrongShape, // a status query answered with something that is not its reading
    tooLong,    // a reply that ran on without its end
};

// Reads an exchange once, where it ends: its reading and its problem go with it from then on
// (LineExchange::reading, problem and problemText).
void decodeExchange(LineExchange &exchange, int timeoutMs);

// Why an exchange gave no good answer, or an empty string when it did: it failed, no reply
// (or no end of one) came within `timeoutMs`, the projector refused the command ("?"), or a
// status query was answered with something that is not its reading.
QString exchangeProblem(const LineExchange &exchange, int timeoutMs);

// Where a reply ends: just past its first carriage return, or just past an ACK received as
// its first character. 0 while it is still open.
qsizetype replyLength(QStringView received);
