#pragma once

// Projectors misbehave when commands arrive while they change power state, so a command that
// switches the power or the input goes out only after a fresh look at the power state, and
// only in the states that take it. Every front end that sends such commands uses these sets
// and this check, so that the projector is spared the same way whoever asks.

#include "exchange/StatusDecoding.h"

#include <QString>
#include <QStringView>

#include <array>
#include <string_view>

struct LineExchange;
struct LineRequest;

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

// A command that switches the power or the input, the states it goes out in, and the query
// that shows what it did.
struct GuardedCommand {
    std::string_view code;
    PowerStates sentIn;
    std::string_view shownBy;
};

// clang-format off
inline constexpr std::array<GuardedCommand, 11> guardedCommands{{
    {"C00", whenOnOrStandby,        "CR0"}, // power on
    {"C01", unlessWarmingOrCooling, "CR0"}, // power off
    {"C02", unlessWarmingOrCooling, "CR0"}, // power off
    {"C05", whenOn,                 "CR1"}, // Computer 1
    {"C50", whenOn,                 "CR1"}, // Computer 1 Analog RGB
    {"C54", whenOn,                 "CR1"}, // Computer 1 Component
    {"C51", whenOn,                 "CR1"}, // Computer 1 Scart
    {"C06", whenOn,                 "CR1"}, // Computer 2 Analog RGB
    {"C04", whenOn,                 "CR1"}, // HDMI
    {"C07", whenOn,                 "CR1"}, // Video
    {"C34", whenOn,                 "CR1"}, // S-VIDEO
}};
// clang-format on

// The row of `code`, or null for a command that may go out in any state.
const GuardedCommand *guardOf(QStringView code);

// Makes `request` ask CR0 first, of the projector itself (a reading from memory may be from
// before a warm-up or a cool-down began), and send its own commands only when the power
// state is one of `allowed`.
void guardByPowerState(LineRequest &request, PowerStates allowed);

// Why a guarded request stopped at its state check: the state that forbids its commands, in
// words, or why the state could not be read. Empty when `check` allows them.
QString stateRefusal(const LineExchange &check, PowerStates allowed, int timeoutMs);
