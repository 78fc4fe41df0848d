#pragma once

#include <QStringView>
#include <optional>

// Reading numbers out of stored texts the way the settings were always read:
// leading blanks are skipped and the decimal number at the start of the text is
// taken ("3", " 12abc", "9.6"); a text that does not begin with a number is 0.
double leadingNumber(QStringView text);

// The nearest whole number (halves to even), or nothing when it does not fit.
std::optional<int> wholeNumberIn(double value, int lowest, int highest);
