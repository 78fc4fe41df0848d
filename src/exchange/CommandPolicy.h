#pragma once

// What a command does to the projector's state, and when one coming over the network may go
// out. Projectors misbehave when commands arrive while they change power state, so a command
// that switches the power or the input goes out only after a fresh look at the power state,
// and only in the states its row allows. Every network front end takes its commands through
// this one table; the panel, tavo-send and the line front end send as typed.

#include "exchange/Inputs.h"
#include "exchange/StatusDecoding.h"

#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <string_view>

struct LineExchange;

// Power states as a set, for the states a command may be sent in.
using PowerStates = unsigned;
constexpr PowerStates inState(PowerStatus status) { return 1u << unsigned(status); }
// No state check: the commands go out as they are.
inline constexpr PowerStates anyState = 0;
inline constexpr PowerStates whenOn = inState(PowerStatus::on);
inline constexpr PowerStates whenOnOrStandby = whenOn | inState(PowerStatus::standby);
// Every state but the two the projector is on its way between on and standby.
inline constexpr PowerStates unlessWarmingOrCooling = whenOnOrStandby | inState(PowerStatus::powerAbnormality) |
                                                      inState(PowerStatus::temperatureAbnormality) |
                                                      inState(PowerStatus::lampFailure);

// The readings the server holds, each read by its query.
enum class Held { power, input, lampHours, temperatures, lampMode, lampStatus };

// A command that changes a held reading, and the power states it goes out in when it comes
// over the network. A code is matched whole; a "CF" row stands for every setting that starts
// with it.
struct CommandRule {
    std::string_view code;
    Held changes;
    PowerStates sentIn;
};

// clang-format off
inline constexpr std::array<CommandRule, 5> commandRules{{
    {"C00",          Held::power,    whenOnOrStandby},        // power on
    {"C01",          Held::power,    unlessWarmingOrCooling}, // power off
    {"C02",          Held::power,    unlessWarmingOrCooling}, // power off
    {"CF INPUT",     Held::input,    whenOn},                 // every CF INPUT setting
    {"CF LAMPMODE ", Held::lampMode, anyState},
}};
// clang-format on
// The commands of inputCommands select an input: Held::input, whenOn.
inline constexpr PowerStates inputSentIn = whenOn;

constexpr std::optional<CommandRule> ruleOf(std::string_view code) {
    for (const CommandRule &rule : commandRules)
        if (code == rule.code || (rule.code.starts_with("CF ") && code.starts_with(rule.code)))
            return rule;
    for (const InputCommand &input : inputCommands)
        if (code == input.code)
            return CommandRule{input.code, Held::input, inputSentIn};
    return std::nullopt;
}
std::optional<CommandRule> ruleOf(QStringView code);

// The states `code` goes out in over the network: anyState when it needs no look first.
constexpr PowerStates sentInOf(std::string_view code) {
    const std::optional<CommandRule> rule = ruleOf(code);
    return rule ? rule->sentIn : anyState;
}

PowerStates sentInOf(QStringView code);

// A command that did not go out because of the power state, or because the state could not
// be read. The front ends render it: in words over HTTP, MQTT and in the log, as ERR3 or
// ERR4 over PJLink.
struct CommandRefusal {
    std::optional<PowerStatus> state; // the state that forbids the command; none when unread
    QString unread;                   // why the state could not be read

    QString words() const;
};

// Whether `check`, a fresh answer to CR0, lets commands sent in `allowed` go out.
std::optional<CommandRefusal> refusalFor(const LineExchange &check, PowerStates allowed);
