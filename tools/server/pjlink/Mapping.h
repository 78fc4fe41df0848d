#pragma once

// What each PJLink class 1 command becomes on the projector's line, and how its answer is
// made from the replies. The rows are the README's mapping table, one for one; nothing a
// client sends reaches the line except the codes written here. The INPT rows come from the
// input commands, and the states a power or input row goes out in from the command policy.

#include "exchange/CommandPolicy.h"

#include "exchange/ProjectorLine.h"
#include "exchange/StatusDecoding.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <string_view>

namespace pjlink {

// How the answer to a row is made.
enum class Answer {
    ok,          // "OK" when every command was acknowledged (ACK)
    powerState,  // from the CR0 reply, by the power table below
    input,       // from the CR1 reply: the input rows below that select what it names
    lamp,        // CR3 hours and whether the lamp is lit by the CR0 reply: "1234 1"
    errorStatus, // from the CR0 reply, by the power table below
    inputList,   // the input rows below, in their order
    muteState,   // what the bridge last set (the projector has no query for it)
    name,        // the name the bridge was given
    text,        // the row's text
};

// A mute the row switches, or leaves as it is.
enum class Mute { keep, off, on };

struct Row {
    std::string_view command;   // "POWR"
    std::string_view parameter; // "1", "?"
    // The states the commands may go out in. Other than anyState, CR0 is asked first, and
    // a state outside the set answers ERR3 (warming up, cooling down, standby) or ERR4 (a
    // fault) without sending them. The command policy's for power and input commands.
    PowerStates sentIn;
    std::array<std::string_view, 2> sends; // the projector's commands, in order; empty ones unused
    Answer answer;
    std::string_view text = {}; // Answer::text
    char selects = 0;           // an input row: what CR1 answers once it is chosen
    Mute video = Mute::keep;
    Mute audio = Mute::keep;

    constexpr bool needsLine() const { return sentIn != anyState || !sends[0].empty(); }
};

using enum Answer;
using enum Mute;

// The commands before and after the input rows, which are made from inputCommands.
// clang-format off
inline constexpr std::array<Row, 3> powerCommandRows{{
    {"POWR", "1",  sentInOf("C00"),        {"C00"},        ok},
    {"POWR", "0",  sentInOf("C01"),        {"C01"},        ok},
    {"POWR", "?",  anyState,               {"CR0"},        powerState},
}};
inline constexpr std::array<Row, 16> otherRows{{
    {"INPT", "?",  anyState,               {"CR1"},        input},
    {"INST", "?",  anyState,               {},             inputList},
    {"AVMT", "10", whenOn,                 {"C0E"},        ok, {}, 0, off,  keep},
    {"AVMT", "11", whenOn,                 {"C0D"},        ok, {}, 0, on,   keep},
    {"AVMT", "20", whenOn,                 {"C0C"},        ok, {}, 0, keep, off},
    {"AVMT", "21", whenOn,                 {"C0B"},        ok, {}, 0, keep, on},
    {"AVMT", "30", whenOn,                 {"C0E", "C0C"}, ok, {}, 0, off,  off},
    {"AVMT", "31", whenOn,                 {"C0D", "C0B"}, ok, {}, 0, on,   on},
    {"AVMT", "?",  anyState,               {},             muteState},
    {"LAMP", "?",  anyState,               {"CR3", "CR0"}, lamp},
    {"ERST", "?",  anyState,               {"CR0"},        errorStatus},
    {"NAME", "?",  anyState,               {},             name},
    {"INF1", "?",  anyState,               {},             text, "TAVO"},
    {"INF2", "?",  anyState,               {},             text, "QT735"},
    {"INFO", "?",  anyState,               {},             text, ""},
    {"CLSS", "?",  anyState,               {},             text, "1"},
}};
// clang-format on

constexpr std::size_t inputRowCount() {
    std::size_t count = 0;
    for (const InputCommand &command : inputCommands)
        count += !command.pjlink.empty();
    return count;
}

// POWR, then an INPT row for each input command PJLink offers, by ascending parameter (INST
// lists them as they stand), then the rest.
constexpr auto makeRows() {
    std::array<Row, powerCommandRows.size() + inputRowCount() + otherRows.size()> all{};
    std::size_t n = 0;
    for (const Row &row : powerCommandRows)
        all[n++] = row;
    const std::size_t firstInput = n;
    for (const InputCommand &command : inputCommands) {
        if (command.pjlink.empty())
            continue;
        Row row{"INPT", command.pjlink, sentInOf(command.code), {command.code}, ok, {}, command.terminal};
        std::size_t at = n++;
        for (; at > firstInput && all[at - 1].parameter > row.parameter; --at)
            all[at] = all[at - 1];
        all[at] = row;
    }
    for (const Row &row : otherRows)
        all[n++] = row;
    return all;
}

inline constexpr auto rows = makeRows();

// What a power state, as the panel decodes the CR0 reply, answers to POWR ?, to LAMP ?
// (lit or not) and to ERST ? (fan, lamp, temperature, cover, filter, other). No POWR
// answer means ERR4: PJLink has no power state for a fault.
struct PowerRow {
    PowerStatus status;
    std::string_view powr;
    std::string_view lampLit;
    std::string_view erst;
};

// clang-format off
inline constexpr std::array<PowerRow, 7> powerRows{{
    {PowerStatus::on,                     "1", "1", "000000"},
    {PowerStatus::standby,                "0", "0", "000000"},
    {PowerStatus::countDown,              "3", "1", "000000"},
    {PowerStatus::cooling,                "2", "0", "000000"},
    {PowerStatus::powerAbnormality,       "",  "0", "000002"},
    {PowerStatus::temperatureAbnormality, "",  "0", "002000"},
    {PowerStatus::lampFailure,            "",  "0", "020000"},
}};
// clang-format on

// What the bridge remembers of what it set: the projector cannot be asked for either.
struct Memory {
    Mute video = off;
    Mute audio = off;
    const Row *input = nullptr; // the input row last chosen through the bridge
};

// The row for a command and parameter; null when there is none.
const Row *findRow(QByteArrayView command, QByteArrayView parameter);
// True for a command some row has (so a missing row means a parameter out of range).
bool isKnownCommand(QByteArrayView command);

// Before a row's commands go out: ERR3 or ERR4 for a command the power state kept back.
QByteArray refusal(const CommandRefusal &refused);
// The answer from the exchanges of the row's commands (one each, in order), or from what
// the bridge holds for rows that need no line.
QByteArray answerFor(const Row &row, const QList<LineExchange> &exchanges, const Memory &memory,
                     const QByteArray &deviceName);
// After a set row was answered OK: what the bridge now holds.
void remember(const Row &row, Memory &memory);

// --- consistency of the tables, checked by the compiler -------------------------------

namespace checks {

constexpr bool rowsUnique() {
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = i + 1; j < rows.size(); ++j)
            if (rows[i].command == rows[j].command && rows[i].parameter == rows[j].parameter)
                return false;
    return true;
}

// Input rows select one of the projector's five inputs, in ascending order (INST lists
// them as they stand); other rows select none.
constexpr bool inputRowsSound() {
    std::string_view previous;
    for (const Row &row : rows) {
        const bool inputRow = row.command == "INPT" && row.parameter != "?";
        if (inputRow != (row.selects >= '1' && row.selects <= '5'))
            return false;
        if (inputRow && row.parameter <= previous)
            return false;
        if (inputRow)
            previous = row.parameter;
    }
    return true;
}

// A set row sends something and answers OK; a query row sends nothing unchecked.
constexpr bool setRowsSend() {
    for (const Row &row : rows)
        if ((row.parameter != "?") != (row.answer == ok && !row.sends[0].empty() && row.sentIn != anyState))
            return false;
    return true;
}

constexpr bool powerRowsInEnumOrder() {
    for (std::size_t i = 0; i < powerRows.size(); ++i)
        if (unsigned(powerRows[i].status) != i)
            return false;
    return true;
}

} // namespace checks

static_assert(checks::rowsUnique(), "a command and parameter appear twice in the mapping");
static_assert(checks::inputRowsSound(), "input rows must select inputs 1-5, in ascending order");
static_assert(checks::setRowsSend(), "every set row checks the power state, sends and answers OK");
static_assert(checks::powerRowsInEnumOrder(), "power rows must follow PowerStatus");

} // namespace pjlink
