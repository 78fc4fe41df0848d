#include "exchange/CommandOutcome.h"

#include "exchange/ReplyReading.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

QString problemOf(const Outcome &outcome) {
    if (!outcome.sent)
        return QStringLiteral("not sent: ") + outcome.exchange.failure;
    if (!outcome.exchange.failure.isEmpty())
        return QStringLiteral("failed: ") + outcome.exchange.failure;
    return outcome.exchange.problemText; // read where the exchange ended
}

QByteArray textLine(const Outcome &outcome) {
    const LineExchange &exchange = outcome.exchange;
    const ReplyReading &reading = exchange.reading;
    const QString shown =
        exchange.reply.isEmpty() ? QStringLiteral("-") : QLatin1Char('"') + reading.shown + QLatin1Char('"');
    QStringList notes;
    if (reading.status)
        notes << *reading.status;
    if (const QString problem = problemOf(outcome); !problem.isEmpty())
        notes << problem;
    const QString line = QStringList{outcome.port, outcome.command.code, shown, notes.join(QStringLiteral("; "))}.join(
        QLatin1Char('\t'));
    return line.toUtf8() + '\n';
}

QByteArray jsonLine(const Outcome &outcome) {
    return QJsonDocument(jsonObject(outcome)).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject jsonObject(const Outcome &outcome) {
    const LineExchange &exchange = outcome.exchange;
    const ReplyReading &reading = exchange.reading;
    const QString problem = problemOf(outcome);
    const auto orNull = [](const QString &text, bool present) { return present ? QJsonValue(text) : QJsonValue(); };
    return QJsonObject{
        {QStringLiteral("port"), outcome.port},
        {QStringLiteral("action"), orNull(outcome.command.action, !outcome.command.action.isEmpty())},
        {QStringLiteral("command"), exchange.command},
        {QStringLiteral("sent"), exchange.sent},
        {QStringLiteral("reply"), exchange.reply},
        {QStringLiteral("shown"), reading.shown},
        {QStringLiteral("status"), orNull(reading.status.value_or(QString()), reading.status.has_value())},
        {QStringLiteral("value"), reading.value},
        // Nothing when the command never went out.
        {QStringLiteral("ms"), outcome.sent ? QJsonValue(double(exchange.elapsedUs) / 1000.0) : QJsonValue()},
        {QStringLiteral("ok"), problem.isEmpty()},
        {QStringLiteral("error"), orNull(problem, !problem.isEmpty())},
    };
}
