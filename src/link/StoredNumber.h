#pragma once

#include <QStringView>
#include <QtGlobal>
#include <optional>

// Reading numbers out of stored texts the way the settings were always read:
// leading blanks are skipped and the decimal number at the start of the text is
// taken ("3", " 12abc", "9.6"); a text that does not begin with a number is 0.
double leadingNumber(QStringView text);

// The nearest whole number (halves to even), or nothing when it does not fit.
std::optional<int> wholeNumberIn(double value, int lowest, int highest);

class SettingsStore;

// The stored port number as start-up reads it: 0 when there is none, and for anything the
// program never wrote that does not fit 16 bits.
qint16 storedPortNumber(const SettingsStore &store);
// The stored speed code as start-up reads it; one that does not fit a byte is taken as 192.
quint8 storedBaudCode(const SettingsStore &store);
