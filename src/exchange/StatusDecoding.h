#pragma once

#include <QString>
#include <optional>

// Turns a status reply into words for the status box.
//   rendered:  the receive transcript as just drawn (the rendering of everything received)
//   received:  how many characters have been received since the send
//   txCommand: the panel's last command, which says what the reply answers
// Returns the status box's new text, or nothing when the box is to stay as it is.
std::optional<QString> decodeStatus(const QString &rendered, qsizetype received, const QString &txCommand);

// True for the queries whose replies the status box decodes ("CR0", "CR LAMPSTS"...), given
// without their carriage return.
bool isDecodedQuery(QStringView command);

// What a power-status reply ("CR0") says, read from its rendering as the status box reads it.
enum class PowerStatus { on, standby, countDown, cooling, powerAbnormality, temperatureAbnormality, lampFailure };
std::optional<PowerStatus> powerStatusOf(const QString &rendered);
