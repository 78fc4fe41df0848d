#include "PowerGuard.h"

#include "LineQueue.h"

#include "exchange/ReplyReading.h"

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

std::optional<PowerStatus> powerStateIn(const LineExchange &check) {
    if (!check.answered || !check.failure.isEmpty())
        return std::nullopt;
    return readReply(u"CR0", check.reply).power;
}

bool allows(PowerStates allowed, const LineExchange &check) {
    const std::optional<PowerStatus> state = powerStateIn(check);
    return state && (allowed & inState(*state));
}

} // namespace

const GuardedCommand *guardOf(QStringView code) {
    for (const GuardedCommand &guarded : guardedCommands)
        if (code == QLatin1String(guarded.code.data(), qsizetype(guarded.code.size())))
            return &guarded;
    return nullptr;
}

void guardByPowerState(LineRequest &request, PowerStates allowed) {
    request.commands.prepend(QStringLiteral("CR0"));
    request.fresh = true;
    request.proceed = [allowed](const LineExchange &exchange, qsizetype index) {
        if (!exchange.answered || !exchange.failure.isEmpty())
            return false;
        return index > 0 || allows(allowed, exchange);
    };
}

QString stateRefusal(const LineExchange &check, PowerStates allowed, int timeoutMs) {
    if (allows(allowed, check))
        return {};
    if (const QString problem = exchangeProblem(check, timeoutMs); !problem.isEmpty())
        return QStringLiteral("the power state could not be read first (%1)").arg(problem);
    const std::optional<PowerStatus> state = powerStateIn(check);
    for (const StateWords &row : stateWords)
        if (state == row.status)
            return QString::fromLatin1(row.words);
    return QStringLiteral("the power state could not be read first");
}
