#include "Readings.h"

#include "exchange/ReplyReading.h"

Readings::Readings() {
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        m_readings[i].name = kinds[i].name;
        m_readings[i].command = kinds[i].command;
    }
}

void Readings::observe(const LineExchange &exchange) {
    for (Reading &reading : m_readings) {
        if (exchange.command != QLatin1String(reading.command))
            continue;
        if (!exchangeProblem(exchange, 0).isEmpty())
            return;
        const ReplyReading read = readReply(exchange.command, exchange.reply);
        const bool changed = read.value != reading.value;
        reading.exchange = exchange;
        reading.value = read.value;
        reading.status = read.status.value_or(QString());
        reading.taken.start();
        reading.stale = false;
        if (changed)
            emit this->changed(reading);
        return;
    }
}

void Readings::makeStale() {
    for (Reading &reading : m_readings)
        reading.stale = true;
}

std::optional<LineExchange> Readings::recentAnswer(QStringView command, int maxAgeMs) const {
    for (const Reading &reading : m_readings)
        if (command == QLatin1String(reading.command))
            return !reading.stale && reading.taken.isValid() && reading.taken.elapsed() < maxAgeMs
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

QJsonObject Readings::toJson() const {
    QJsonObject object;
    for (const Reading &reading : m_readings) {
        const double age = ageSeconds(reading);
        object.insert(QLatin1String(reading.name),
                      QJsonObject{{QStringLiteral("value"), reading.value},
                                  {QStringLiteral("status"), reading.taken.isValid() ? QJsonValue(reading.status)
                                                                                     : QJsonValue()},
                                  {QStringLiteral("age"), age < 0 ? QJsonValue() : QJsonValue(age)}});
    }
    return object;
}
