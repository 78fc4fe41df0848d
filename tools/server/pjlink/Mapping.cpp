#include "Mapping.h"

#include "exchange/Inputs.h"

#include <optional>

namespace pjlink {

namespace {

const QByteArray err3 = QByteArrayLiteral("ERR3");
const QByteArray err4 = QByteArrayLiteral("ERR4");

QByteArray bytes(std::string_view text) { return QByteArray(text.data(), qsizetype(text.size())); }
bool same(std::string_view text, QByteArrayView other) {
    return QByteArrayView(text.data(), qsizetype(text.size())) == other;
}
bool isInputRow(const Row &row) { return row.selects != 0; }

// The power state a CR0 exchange read.
const PowerRow *powerRowOf(const LineExchange &exchange) {
    const std::optional<PowerStatus> power = exchange.reading.power;
    return power ? &powerRows[std::size_t(*power)] : nullptr;
}

// The input CR1 names. The projector tells only its terminal: Computer 1 carries three
// PJLink inputs, so the one last chosen through the bridge is answered when it is on that
// terminal, and otherwise the row of the command that chooses the terminal (11, Analog RGB).
QByteArray inputAnswer(const LineExchange &exchange, const Memory &memory) {
    if (exchange.reading.terminal == 0)
        return err4;
    const char terminal = char('0' + exchange.reading.terminal);
    if (memory.input && memory.input->selects == terminal)
        return bytes(memory.input->parameter);
    const InputTerminal *input = inputTerminalOf(QLatin1Char(terminal));
    return input ? bytes(inputChoice(*input).pjlink) : err4;
}

QByteArray lampAnswer(const LineExchange &hours, const LineExchange &power) {
    const PowerRow *powerRow = powerRowOf(power);
    if (!hours.reading.value.isDouble() || !powerRow)
        return err4;
    return QByteArray::number(hours.reading.value.toInt()) + ' ' + bytes(powerRow->lampLit);
}

QByteArray listOfInputs() {
    QByteArray list;
    for (const Row &row : rows)
        if (isInputRow(row))
            list += (list.isEmpty() ? "" : " ") + bytes(row.parameter);
    return list;
}

QByteArray muteAnswer(const Memory &memory) {
    if (memory.video == on && memory.audio == on)
        return "31";
    if (memory.video == on)
        return "11";
    if (memory.audio == on)
        return "21";
    return "30";
}

} // namespace

const Row *findRow(QByteArrayView command, QByteArrayView parameter) {
    for (const Row &row : rows)
        if (same(row.command, command) && same(row.parameter, parameter))
            return &row;
    return nullptr;
}

bool isKnownCommand(QByteArrayView command) {
    for (const Row &row : rows)
        if (same(row.command, command))
            return true;
    return false;
}

QByteArray refusal(const CommandRefusal &refused) {
    // A state PJLink has a power state for (warming up, cooling down, standby) is ERR3; a
    // fault, or no reading at all, ERR4.
    return refused.state && !powerRows[std::size_t(*refused.state)].powr.empty() ? err3 : err4;
}

QByteArray answerFor(const Row &row, const QList<LineExchange> &exchanges, const Memory &memory,
                     const QByteArray &deviceName) {
    switch (row.answer) {
    case ok:
        for (const LineExchange &exchange : exchanges)
            if (exchange.reply != QStringLiteral("\x06"))
                return err4;
        return "OK";
    case powerState: {
        const PowerRow *power = powerRowOf(exchanges.value(0));
        return power && !power->powr.empty() ? bytes(power->powr) : err4;
    }
    case input:
        return inputAnswer(exchanges.value(0), memory);
    case lamp:
        return lampAnswer(exchanges.value(0), exchanges.value(1));
    case errorStatus: {
        const PowerRow *power = powerRowOf(exchanges.value(0));
        return power ? bytes(power->erst) : err4;
    }
    case inputList:
        return listOfInputs();
    case muteState:
        return muteAnswer(memory);
    case name:
        return deviceName;
    case text:
        return bytes(row.text);
    }
    return err4;
}

void remember(const Row &row, Memory &memory) {
    if (isInputRow(row))
        memory.input = &row;
    if (row.video != keep)
        memory.video = row.video;
    if (row.audio != keep)
        memory.audio = row.audio;
}

} // namespace pjlink
