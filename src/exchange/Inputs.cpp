#include "exchange/Inputs.h"

#include <QLatin1String>

const InputTerminal *inputTerminalOf(QChar reply) {
    for (const InputTerminal &terminal : inputTerminals)
        if (reply == QLatin1Char(terminal.terminal))
            return &terminal;
    return nullptr;
}

QString inputName(const InputTerminal &terminal) {
    return QString::fromLatin1(terminal.name.data(), qsizetype(terminal.name.size()));
}

const InputTerminal *inputTerminalNamed(QStringView name) {
    for (const InputTerminal &terminal : inputTerminals)
        if (name.compare(inputName(terminal), Qt::CaseInsensitive) == 0)
            return &terminal;
    return nullptr;
}

const InputCommand &inputChoice(const InputTerminal &terminal) {
    for (const InputCommand &command : inputCommands)
        if (command.terminal == terminal.terminal && command.choice)
            return command;
    return inputCommands.front(); // never: the table gives every terminal one
}
