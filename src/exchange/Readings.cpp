#include "exchange/Readings.h"

Readings::Readings() {
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        Q_ASSERT(std::size_t(kinds[i].held) == i);
        m_readings[i].held = kinds[i].held;
        m_readings[i].name = kinds[i].name;
        m_readings[i].command = kinds[i].command;
    }
}

void Readings::observe(const LineExchange &exchange) {
    if (exchange.fromMemory)
        return;
    if (!exchange.failure.isEmpty())
        setAnswers(false, exchange.failure);
    else if (!exchange.answered)
        setAnswers(false, QStringLiteral("no reply to %1").arg(exchange.command));
    else
        setAnswers(true, {});

    if (exchange.problem == ExchangeProblem::none && exchange.reply == QStringLiteral("\x06"))
        remember(exchange.command);
    if (const std::optional<CommandRule> rule = ruleOf(exchange.command)) {
        Reading &reading = m_readings[std::size_t(rule->changes)];
        setStale(reading, true);
        if (exchange.problem == ExchangeProblem::none && exchange.reply == QStringLiteral("\x06"))
            emit readAgain(reading);
        return;
    }
    for (Reading &reading : m_readings) {
        if (exchange.command != QLatin1String(reading.command))
            continue;
        // Nothing, or "?": what was read before stays, stale. Any other answer is what the
        // projector says now, even when it is none of the reading's values.
        if (exchange.problem != ExchangeProblem::none && exchange.problem != ExchangeProblem::wrongShape) {
            setStale(reading, true);
            return;
        }
        const bool valueChanged = exchange.reading.value != reading.value || !reading.taken.isValid();
        const bool wasStale = reading.stale;
        reading.exchange = exchange;
        reading.value = exchange.reading.value;
        reading.status = exchange.reading.status.value_or(QString());
        reading.taken.start();
        reading.stale = false;
        if (valueChanged || wasStale)
            emit changed(reading);
        return;
    }
}

void Readings::remember(const QString &command) {
    static const QLatin1String lampMode("CF LAMPMODE ");
    if (command.startsWith(lampMode)) {
        if (const QString mode = command.mid(lampMode.size()); mode != m_lampModeChosen) {
            m_lampModeChosen = mode;
            emit settingsChanged();
        }
        return;
    }
    for (const SettingCommands &commands : settingCommands)
        for (const bool on : {true, false})
            if (command == QLatin1String(on ? commands.on : commands.off) &&
                std::exchange(m_settings[std::size_t(commands.setting)], on) != on)
                emit settingsChanged();
}

void Readings::lineLost(const QString &why) { setAnswers(false, why); }

void Readings::setAnswers(bool answers, const QString &why) {
    if (answers)
        m_lastAnswer.start();
    if (answers == m_answers)
        return;
    m_answers = answers;
    if (!answers)
        for (Reading &reading : m_readings)
            setStale(reading, true);
    emit answersChanged(answers, why);
}

void Readings::setStale(Reading &reading, bool stale) {
    if (reading.stale == stale)
        return;
    reading.stale = stale;
    if (reading.taken.isValid())
        emit changed(reading);
}

std::optional<LineExchange> Readings::recentAnswer(QStringView command, int maxAgeMs) const {
    for (const Reading &reading : m_readings)
        if (command == QLatin1String(reading.command))
            return !reading.stale && reading.taken.isValid() && reading.taken.elapsed() < maxAgeMs &&
                           reading.exchange.problem == ExchangeProblem::none
                       ? std::optional<LineExchange>(reading.exchange)
                       : std::nullopt;
    return std::nullopt;
}

const Readings::Reading &Readings::reading(QStringView name) const {
    for (const Reading &reading : m_readings)
        if (name == QLatin1String(reading.name))
            return reading;
    Q_ASSERT(false);
    return m_readings.front();
}

double Readings::ageSeconds(const Reading &reading) {
    return reading.taken.isValid() ? double(reading.taken.nsecsElapsed()) / 1e9 : -1.0;
}

double Readings::lastAnswerAgeSeconds() const {
    return m_lastAnswer.isValid() ? double(m_lastAnswer.nsecsElapsed()) / 1e9 : -1.0;
}

QJsonObject Readings::toJson() const {
    QJsonObject object;
    for (const Reading &reading : m_readings) {
        const double age = ageSeconds(reading);
        object.insert(QLatin1String(reading.name),
                      QJsonObject{{QStringLiteral("value"), reading.value},
                                  {QStringLiteral("status"), reading.taken.isValid() && !reading.status.isEmpty()
                                                                 ? QJsonValue(reading.status)
                                                                 : QJsonValue()},
                                  {QStringLiteral("age"), age < 0 ? QJsonValue() : QJsonValue(age)},
                                  {QStringLiteral("stale"), reading.stale}});
    }
    return object;
}

QJsonObject Readings::availabilityJson() const {
    const double age = lastAnswerAgeSeconds();
    return {{QStringLiteral("answers"), m_answers},
            {QStringLiteral("last_answer_age"), age < 0 ? QJsonValue() : QJsonValue(age)}};
}
