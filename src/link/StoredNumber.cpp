#include "link/StoredNumber.h"

#include "host/SettingsStore.h"
#include "link/Module1.h"

#include <cmath>

double leadingNumber(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    while (i < n && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    double value = 0;
    bool anyDigit = false;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + (text[i].unicode() - u'0');
        anyDigit = true;
        ++i;
    }
    if (i < n && text[i] == u'.') {
        ++i;
        double scale = 0.1;
        while (i < n && text[i] >= u'0' && text[i] <= u'9') {
            value += (text[i].unicode() - u'0') * scale;
            scale /= 10;
            anyDigit = true;
            ++i;
        }
    }
    if (!anyDigit)
        return 0;
    return negative ? -value : value;
}

std::optional<int> wholeNumberIn(double value, int lowest, int highest) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // default rounding mode: halves to even
    if (rounded < lowest || rounded > highest)
        return std::nullopt;
    return static_cast<int>(rounded);
}

qint16 storedPortNumber(const SettingsStore &store) {
    const double stored =
        leadingNumber(store.read(store::application, store::startUp, store::comPortKey, QStringLiteral("DATAC")));
    return static_cast<qint16>(wholeNumberIn(stored, -32768, 32767).value_or(0));
}

quint8 storedBaudCode(const SettingsStore &store) {
    const double stored =
        leadingNumber(store.read(store::application, store::startUp, store::baudRateKey, QStringLiteral("DATAb")));
    return static_cast<quint8>(wholeNumberIn(stored, 0, 255).value_or(speed::code19200));
}
