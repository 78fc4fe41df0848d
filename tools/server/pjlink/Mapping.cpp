#include "Mapping.h"

#include "exchange/ReplyReading.h"

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

// The power state in a CR0 reply, read as the panel's status box reads it.
const PowerRow *powerRowOf(const QString &reply) {
    const std::optional<PowerStatus> power = readReply(u"CR0", reply).power;
    return power ? &powerRows[std::size_t(*power)] : nullptr;
}

// The input CR1 names. The projector tells only its terminal: Computer 1 carries three
// PJLink inputs, so the one last chosen through the bridge is answered when it is on that
// terminal, and otherwise the first row on it (11, Analog RGB).
QByteArray inputAnswer(const QString &reply, const Memory &memory) {
    if (!readReply(u"CR1", reply).status)
        return err4;
    const char terminal = reply.front().toLatin1();
    if (memory.input && memory.input->selects == terminal)
        return bytes(memory.input->parameter);
    for (const Row &row : rows)
        if (row.selects == terminal)
            return bytes(row.parameter);
    return err4;
}

QByteArray lampAnswer(const QString &hoursReply, const QString &powerReply) {
    const QJsonValue hours = readReply(u"CR3", hoursReply).value;
    const PowerRow *power = powerRowOf(powerReply);
    if (!hours.isDouble() || !power)
        return err4;
    return QByteArray::number(hours.toInt()) + ' ' + bytes(power->lampLit);
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

QByteArray refusal(const Row &row, const QString &powerReply) {
    const PowerRow *power = powerRowOf(powerReply);
    if (!power)
        return err4;
    if (row.sentIn & inState(power->status))
        return {};
    return power->powr.empty() ? err4 : err3;
}

QByteArray answerFor(const Row &row, const QStringList &replies, const Memory &memory, const QByteArray &deviceName) {
    switch (row.answer) {
    case ok:
        for (const QString &reply : replies)
            if (reply != QStringLiteral("\x06"))
                return err4;
        return "OK";
    case powerState: {
        const PowerRow *power = powerRowOf(replies.value(0));
        return power && !power->powr.empty() ? bytes(power->powr) : err4;
    }
    case input:
        return inputAnswer(replies.value(0), memory);
    case lamp:
        return lampAnswer(replies.value(0), replies.value(1));
    case errorStatus: {
        const PowerRow *power = powerRowOf(replies.value(0));
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
