#include "exchange/ReplyReading.h"

#include "exchange/Inputs.h"
#include "exchange/ProjectorLine.h"
#include "exchange/Transcript.h"

#include <QJsonArray>

#include <algorithm>

namespace {

constexpr char16_t ack = 0x06;
constexpr char16_t carriageReturn = 0x0D;

bool isCommand(QStringView command, const char *query) { return command == QLatin1String(query); }

// "CR6" answers three five-character readings, "ddd.d", at places 1, 7 and 13.
QJsonValue temperatureReadings(QStringView reply) {
    QJsonArray readings;
    for (const qsizetype at : {0, 6, 12}) {
        bool ok = false;
        const double degrees = reply.mid(at, 5).trimmed().toDouble(&ok);
        if (!ok)
            return QJsonValue::Null;
        readings.append(degrees);
    }
    return readings;
}

} // namespace

QString powerStatusName(PowerStatus status) {
    switch (status) {
    case PowerStatus::on:
        return QStringLiteral("on");
    case PowerStatus::standby:
        return QStringLiteral("standby");
    case PowerStatus::countDown:
        return QStringLiteral("countdown");
    case PowerStatus::cooling:
        return QStringLiteral("cooling");
    case PowerStatus::powerAbnormality:
        return QStringLiteral("power-abnormality");
    case PowerStatus::temperatureAbnormality:
        return QStringLiteral("temperature-abnormality");
    case PowerStatus::lampFailure:
        return QStringLiteral("lamp-failure");
    }
    return {};
}

ReplyReading readReply(QStringView command, QStringView reply) {
    ReplyReading reading;
    const TranscriptLine rendering = renderTranscript(reply);
    reading.shown = rendering.text;
    const QString txCommand = command.toString() + QLatin1Char('\r');
    const std::optional<QString> status = decodeStatus(rendering.text, reply.size(), txCommand);
    if (!status)
        return reading;
    reading.statusBox = *status;
    reading.status = status->trimmed();
    if (isCommand(command, "CR0")) {
        reading.power = powerStatusOf(rendering.text);
        if (reading.power)
            reading.value = powerStatusName(*reading.power);
    } else if (isCommand(command, "CR3")) {
        bool ok = false;
        const QStringView digits = reply.left(5);
        const int hours = digits.toInt(&ok);
        ok = ok && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        reading.value = ok ? QJsonValue(hours) : QJsonValue(QJsonValue::Null);
    } else if (isCommand(command, "CR6")) {
        reading.value = temperatureReadings(reply);
    } else if (isCommand(command, "CR1")) {
        // The status box names the terminal in the panel's words; everything else by the table.
        const InputTerminal *input = inputTerminalOf(reply.isEmpty() ? QChar() : reply.front());
        reading.terminal = input ? input->terminal - '0' : 0;
        reading.value = input ? QJsonValue(inputName(*input)) : QJsonValue(QJsonValue::Null);
    } else {
        reading.value = *reading.status; // setting, lamp status, lamp mode: the words are the reading
    }
    if (reading.value.isNull()) {
        reading.status.reset();
        reading.statusBox.reset();
    }
    return reading;
}

void decodeExchange(LineExchange &exchange, int timeoutMs) {
    exchange.reading = readReply(exchange.command, exchange.reply);
    exchange.problemText = exchangeProblem(exchange, timeoutMs);
    if (exchange.problemText.isEmpty())
        exchange.problem = ExchangeProblem::none;
    else if (!exchange.failure.isEmpty())
        exchange.problem =
            exchange.problem == ExchangeProblem::tooLong ? ExchangeProblem::tooLong : ExchangeProblem::failed;
    else if (!exchange.answered)
        exchange.problem = ExchangeProblem::timedOut;
    else if (exchange.reply == QLatin1String("?\r"))
        exchange.problem = ExchangeProblem::refused;
    else
        exchange.problem = ExchangeProblem::wrongShape;
}

QString exchangeProblem(const LineExchange &exchange, int timeoutMs) {
    if (!exchange.failure.isEmpty())
        return exchange.failure;
    if (!exchange.answered)
        return exchange.reply.isEmpty() ? QStringLiteral("no reply within %1 ms").arg(timeoutMs)
                                        : QStringLiteral("no end of reply within %1 ms").arg(timeoutMs);
    if (exchange.reply == QLatin1String("?\r"))
        return QStringLiteral("the projector refused the command (it answered \"?\")");
    if (isDecodedQuery(exchange.command) && !readReply(exchange.command, exchange.reply).status)
        return QStringLiteral("not a reply to %1: \"%2\"")
            .arg(exchange.command, renderTranscript(exchange.reply).text);
    return {};
}

qsizetype replyLength(QStringView received) {
    if (!received.isEmpty() && received.front() == ack)
        return 1;
    const qsizetype end = received.indexOf(QChar(carriageReturn));
    return end < 0 ? 0 : end + 1;
}
