#include "exchange/StatusDecoding.h"

#include <QLatin1String>
#include <algorithm>
#include <iterator>
#include <span>

namespace {

// Codes are compared with the rendered reply: a leading blank, then each
// character followed by a blank (" 8 0" is a reply beginning with 8 and 0).
struct ReplyCode {
    const char *rendered;
    const char *status;
};

struct PowerCode {
    const char *rendered;
    const char *status;
    PowerStatus power;
};

// "CR0": first 4 characters.
constexpr PowerCode powerStatusCodes[] = {
    {" 0 0", " Power ON",                PowerStatus::on},
    {" 8 0", " Stand by",                PowerStatus::standby},
    {" 4 0", " Count down",              PowerStatus::countDown},
    {" 2 0", " Cooling down",            PowerStatus::cooling},
    {" 1 0", " Power abnormality",       PowerStatus::powerAbnormality},
    {" 0 8", " Temperature abnormality", PowerStatus::temperatureAbnormality},
    {" 1 8", " Temperature abnormality", PowerStatus::temperatureAbnormality},
    {" 2 8", " Temperature abnormality", PowerStatus::temperatureAbnormality},
    {" 4 8", " Temperature abnormality", PowerStatus::temperatureAbnormality},
    {" 8 8", " Temperature abnormality", PowerStatus::temperatureAbnormality},
    {" 2 1", " Lamp Failure",            PowerStatus::lampFailure},
    {" 8 1", " Lamp Failure",            PowerStatus::lampFailure},
};

// "CR1": first 2 characters.
constexpr ReplyCode inputCodes[] = {
    {" 1", " Input 1"},
    {" 2", " Input 2"},
    {" 3", " Input 3"},
    {" 4", " Wired"},
    {" 5", " Wireless/Viewer"},
};

// "CR4": first 4 characters.
constexpr ReplyCode settingCodes[] = {
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
};

// "CR LAMPSTS": first 12 characters. The projector answers "000 1I" and the like;
// its blank is drawn as "_" in the transcript.
constexpr ReplyCode lampStatusCodes[] = {
    {" 0 0 0 _ 1 I", " Lamp is ON"},
    {" 0 0 0 _ 1 O", " Lamp is OFF"},
    {" 0 0 0 _ 1 X", " Lamp is failure"},
};

// "CR LAMPMODE": all but the last 7 characters (the blank behind the last
// character and the carriage return, " [CR] ").
constexpr ReplyCode lampModeCodes[] = {
    {" 0 0 0 _ H I G H", " Lamp Mode is High"},
    {" 0 0 0 _ N O R M A L", " Lamp Mode is NORMAL"},
    {" 0 0 0 _ E C O", " Lamp Mode is Eco"},
};

std::optional<QString> firstMatch(std::span<const ReplyCode> codes, QStringView part) {
    for (const ReplyCode &code : codes)
        if (part == QLatin1String(code.rendered))
            return QString::fromLatin1(code.status);
    return std::nullopt;
}

std::optional<QString> matchLeading(std::span<const ReplyCode> codes, const QString &rendered, qsizetype length) {
    if (rendered.size() < length)
        return std::nullopt;
    return firstMatch(codes, QStringView(rendered).left(length));
}

// Leading zeros become blanks; the number keeps its place in the field.
QString lampTime(const QString &rendered) {
    const qsizetype m = rendered.size() - 5;
    QString status;
    bool significant = false;
    for (qsizetype i = 0; i < m; ++i) {
        const QChar c = rendered[i];
        if (c == u' ' && !significant) {
            status += c;
        } else if (c == u'0' && !significant) {
            status += QLatin1Char(' ');
        } else {
            status += c;
            significant = true;
        }
    }
    return status + QLatin1String(" Hour Use");
}

// Three five-character readings; the separators between them are not shown.
QString temperatures(const QString &rendered) {
    const QLatin1String unit(" deg C ");
    return rendered.mid(0, 10) + unit + rendered.mid(13, 9) + unit + rendered.mid(25, 9) + unit;
}

const PowerCode *powerCodeOf(const QString &rendered) {
    if (rendered.size() < 4)
        return nullptr;
    const QStringView leading = QStringView(rendered).left(4);
    for (const PowerCode &code : powerStatusCodes)
        if (leading == QLatin1String(code.rendered))
            return &code;
    return nullptr;
}

// Every query decodeStatus() reads a reply to.
constexpr const char *decodedQueries[] = {"CR0", "CR1", "CR4", "CR3", "CR6", "CR LAMPSTS", "CR LAMPMODE"};

bool isQuery(const QString &txCommand, const char *query) {
    return txCommand.size() >= 1 && txCommand.endsWith(QLatin1Char('\r')) &&
           QStringView(txCommand).chopped(1) == QLatin1String(query);
}

} // namespace

std::optional<PowerStatus> powerStatusOf(const QString &rendered) {
    const PowerCode *code = powerCodeOf(rendered);
    return code ? std::optional<PowerStatus>(code->power) : std::nullopt;
}

std::optional<QString> decodeStatus(const QString &rendered, qsizetype received, const QString &txCommand) {
    if (isQuery(txCommand, "CR0")) {
        const PowerCode *code = powerCodeOf(rendered);
        return code ? std::optional<QString>(QString::fromLatin1(code->status)) : std::nullopt;
    }
    if (isQuery(txCommand, "CR1"))
        return matchLeading(inputCodes, rendered, 2);
    if (isQuery(txCommand, "CR4"))
        return matchLeading(settingCodes, rendered, 4);
    if (isQuery(txCommand, "CR3"))
        return received == 6 ? std::optional<QString>(lampTime(rendered)) : std::nullopt;
    if (isQuery(txCommand, "CR6"))
        return received == 18 ? std::optional<QString>(temperatures(rendered)) : std::nullopt;
    if (isQuery(txCommand, "CR LAMPSTS"))
        return matchLeading(lampStatusCodes, rendered, 12);
    if (isQuery(txCommand, "CR LAMPMODE"))
        return rendered.size() >= 7 ? firstMatch(lampModeCodes, QStringView(rendered).chopped(7)) : std::nullopt;
    return std::nullopt;
}

bool isDecodedQuery(QStringView command) {
    return std::any_of(std::begin(decodedQueries), std::end(decodedQueries),
                       [command](const char *query) { return command == QLatin1String(query); });
}
