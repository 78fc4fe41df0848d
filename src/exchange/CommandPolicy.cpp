#include "exchange/CommandPolicy.h"

#include "exchange/ProjectorLine.h"

namespace {

struct StateWords {
    PowerStatus status;
    const char *words;
};

// clang-format off
constexpr StateWords stateWords[] = {
    {PowerStatus::on,                     "the projector is on"},
    {PowerStatus::standby,                "the projector is in standby: inputs are chosen while it is on"},
    {PowerStatus::countDown,              "the projector is warming up: power and input commands wait until it is on"},
    {PowerStatus::cooling,                "the projector is cooling down: power and input commands wait until it is in standby"},
    {PowerStatus::powerAbnormality,       "the projector reports a power abnormality"},
    {PowerStatus::temperatureAbnormality, "the projector reports a temperature abnormality"},
    {PowerStatus::lampFailure,            "the projector reports a lamp failure"},
};
// clang-format on

} // namespace

std::optional<CommandRule> ruleOf(QStringView code) {
    const QByteArray latin = code.toLatin1();
    return ruleOf(std::string_view(latin.constData(), std::size_t(latin.size())));
}

PowerStates sentInOf(QStringView code) {
    const std::optional<CommandRule> rule = ruleOf(code);
    return rule ? rule->sentIn : anyState;
}

QString CommandRefusal::words() const {
    if (!state)
        return unread.isEmpty() ? QStringLiteral("the power state could not be read first")
                                : QStringLiteral("the power state could not be read first (%1)").arg(unread);
    for (const StateWords &row : stateWords)
        if (*state == row.status)
            return QString::fromLatin1(row.words);
    return {};
}

std::optional<CommandRefusal> refusalFor(const LineExchange &check, PowerStates allowed) {
    if (check.problem != ExchangeProblem::none || !check.reading.power)
        return CommandRefusal{std::nullopt, check.problemText};
    if (allowed & inState(*check.reading.power))
        return std::nullopt;
    return CommandRefusal{check.reading.power, {}};
}
