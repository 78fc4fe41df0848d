#pragma once

// The projector's inputs as every machine-facing front end names them. The input query
// ("CR1") answers with a terminal number; the five terminals are the five inputs of the INPUT
// catalogue, in its order. The panel's status box keeps its own words for them ("Input 1" ...
// "Wireless/Viewer"); everything that speaks to other programs uses these names.

#include <QChar>
#include <QString>

#include <array>
#include <string_view>

struct InputTerminal {
    char terminal; // the input query's reply, '1' to '5'
    std::string_view name;
};

// clang-format off
inline constexpr std::array<InputTerminal, 5> inputTerminals{{
    {'1', "Computer 1"},
    {'2', "Computer 2"},
    {'3', "HDMI"},
    {'4', "Video"},
    {'5', "S-VIDEO"},
}};
// clang-format on

// The commands that select an input, by the terminal the input query names afterwards. The
// projector tells only the terminal: Computer 1 is one terminal for three signals. `pjlink`
// is the PJLink INPT parameter of the command (none for a command PJLink does not offer);
// `choice` marks the one command a terminal is chosen by where only the terminal is offered
// (Home Assistant's select).
struct InputCommand {
    std::string_view code;
    char terminal;
    std::string_view pjlink;
    bool choice;
};

// clang-format off
inline constexpr std::array<InputCommand, 8> inputCommands{{
    {"C05", '1', "",   false}, // Computer 1
    {"C50", '1', "11", true},  // Computer 1 Analog RGB
    {"C54", '1', "23", false}, // Computer 1 Component
    {"C51", '1', "24", false}, // Computer 1 Scart
    {"C06", '2', "12", true},  // Computer 2 Analog RGB
    {"C04", '3', "31", true},  // HDMI
    {"C07", '4', "21", true},  // Video
    {"C34", '5', "22", true},  // S-VIDEO
}};
// clang-format on

// The terminal a reply to the input query starts with; null for anything but 1 to 5.
const InputTerminal *inputTerminalOf(QChar reply);
// The terminal named `name`, case ignored; null when there is none.
const InputTerminal *inputTerminalNamed(QStringView name);
QString inputName(const InputTerminal &terminal);
// The command a terminal is chosen by (InputCommand::choice).
const InputCommand &inputChoice(const InputTerminal &terminal);

namespace inputChecks {

constexpr bool everyTerminalChosenOnce() {
    for (const InputTerminal &terminal : inputTerminals) {
        int choices = 0;
        for (const InputCommand &command : inputCommands)
            choices += command.terminal == terminal.terminal && command.choice;
        if (choices != 1)
            return false;
    }
    for (const InputCommand &command : inputCommands)
        if (command.terminal < '1' || command.terminal > '5')
            return false;
    return true;
}

constexpr bool terminalsInOrder() {
    for (std::size_t i = 0; i < inputTerminals.size(); ++i)
        if (inputTerminals[i].terminal != char('1' + i))
            return false;
    return true;
}

} // namespace inputChecks

static_assert(inputChecks::terminalsInOrder(), "the terminals are 1 to 5, in order");
static_assert(inputChecks::everyTerminalChosenOnce(), "each terminal has exactly one command it is chosen by");
