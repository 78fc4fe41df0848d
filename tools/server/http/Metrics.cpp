#include "Metrics.h"

#include "Poller.h"
#include "exchange/Readings.h"

#include "exchange/Inputs.h"
#include "exchange/ReplyReading.h"

#include <QJsonArray>

namespace {

QByteArray labelValue(const QString &text) {
    QByteArray value = text.toUtf8();
    value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return value;
}

struct Family {
    QByteArray &out;
    Family(QByteArray &text, const char *name, const char *type, const char *help) : out(text) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
};

QByteArray number(double value) { return QByteArray::number(value, 'g', 12); }

void byFrontEnd(QByteArray &out, const char *name, const char *help, const QHash<QString, quint64> &counts) {
    Family family(out, name, "counter", help);
    QStringList frontEnds = counts.keys();
    frontEnds.sort();
    for (const QString &frontEnd : frontEnds)
        out += QByteArray(name) + "{front_end=\"" + labelValue(frontEnd) + "\"} " +
               QByteArray::number(counts.value(frontEnd)) + '\n';
}

} // namespace

Metrics::Metrics(LineQueue &queue, const Readings &readings, QObject *parent)
    : QObject(parent), m_queue(queue), m_readings(readings) {
    connect(&queue, &LineQueue::exchanged, this,
            [this](const LineExchange &exchange, const QString &frontEnd, const QString &) { count(exchange, frontEnd); });
    connect(&queue, &LineQueue::refused, this, [this](const QString &frontEnd, LineQueue::Refusal) { ++m_refused[frontEnd]; });
    connect(&queue.line(), &ProjectorLine::discarded, this, [this] { ++m_discarded; });
}

void Metrics::addClients(const QString &frontEnd, std::function<int()> count) {
    m_clients.append({frontEnd, std::move(count)});
}

void Metrics::count(const LineExchange &exchange, const QString &frontEnd) {
    if (exchange.fromMemory) {
        ++m_fromMemory[frontEnd];
        return;
    }
    ++m_commands[frontEnd];
    m_lineSeconds[frontEnd] += double(exchange.elapsedUs) / 1e6;
    if (exchange.problem == ExchangeProblem::timedOut)
        ++m_timeouts[frontEnd];
    else if (exchange.problem != ExchangeProblem::none)
        ++m_failures[frontEnd];
}

QByteArray Metrics::render() const {
    QByteArray out;
    {
        // Prometheus gives every series the target's own instance label; this one names the
        // projector for dashboards and alerts, which join on it.
        Family family(out, "tavo_info", "gauge",
                      "The projector this server works: the server's instance name (--instance), the projector's "
                      "name (--name) and the server's version. Always 1.");
        out += "tavo_info{server=\"" + labelValue(m_server) + "\",name=\"" + labelValue(m_name) + "\",version=\"" +
               labelValue(QStringLiteral(TAVO_VERSION)) + "\"} 1\n";
    }
    {
        Family family(out, "tavo_up", "gauge", "Whether the projector answered the last command sent to it (1) or not (0).");
        out += "tavo_up " + QByteArray(m_queue.answers() ? "1" : "0") + '\n';
    }
    const Readings::Reading &power = m_readings.reading(u"power");
    if (power.value.isString()) {
        Family family(out, "tavo_power_state", "gauge",
                      "The projector's power state as it last answered, one sample per state, 1 for the state it is in.");
        for (const PowerStatus state : allPowerStates)
            out += "tavo_power_state{state=\"" + labelValue(powerStatusName(state)) + "\"} " +
                   (power.value.toString() == powerStatusName(state) ? "1\n" : "0\n");
    }
    const Readings::Reading &input = m_readings.reading(u"input");
    if (input.value.isString()) {
        Family family(out, "tavo_input", "gauge",
                      "The projector's input as it last answered, one sample per input, 1 for the input shown.");
        for (const InputTerminal &terminal : inputTerminals)
            out += "tavo_input{input=\"" + labelValue(inputName(terminal)) + "\"} " +
                   (input.value.toString() == inputName(terminal) ? "1\n" : "0\n");
    }
    const Readings::Reading &lamp = m_readings.reading(u"lamp_hours");
    if (lamp.value.isDouble()) {
        Family family(out, "tavo_lamp_seconds", "gauge", "Lamp time as the projector counts it (whole hours), in seconds.");
        out += "tavo_lamp_seconds " + number(lamp.value.toDouble() * 3600) + '\n';
    }
    const Readings::Reading &temperatures = m_readings.reading(u"temperatures");
    if (temperatures.value.isArray()) {
        Family family(out, "tavo_temperature_celsius", "gauge", "The projector's three temperature readings.");
        const QJsonArray values = temperatures.value.toArray();
        for (qsizetype i = 0; i < values.size(); ++i)
            out += "tavo_temperature_celsius{sensor=\"" + QByteArray::number(i + 1) + "\"} " +
                   number(values.at(i).toDouble()) + '\n';
    }
    {
        Family family(out, "tavo_reading_age_seconds", "gauge", "Seconds since each reading was last taken.");
        for (const Readings::Reading &reading : m_readings.all())
            if (reading.taken.isValid())
                out += QByteArray("tavo_reading_age_seconds{reading=\"") + reading.name + "\"} " +
                       number(Readings::ageSeconds(reading)) + '\n';
    }
    byFrontEnd(out, "tavo_commands_total", "Commands sent to the projector, by the front end that asked.", m_commands);
    {
        Family family(out, "tavo_line_seconds_total", "counter",
                      "Time the line spent on commands, from each write to the end of its reply or its timeout, by "
                      "the front end that asked.");
        QStringList frontEnds = m_lineSeconds.keys();
        frontEnds.sort();
        for (const QString &frontEnd : frontEnds)
            out += "tavo_line_seconds_total{front_end=\"" + labelValue(frontEnd) + "\"} " +
                   number(m_lineSeconds.value(frontEnd)) + '\n';
    }
    byFrontEnd(out, "tavo_answers_from_memory_total",
               "Queries answered from a recent reading without using the line, by front end.", m_fromMemory);
    byFrontEnd(out, "tavo_command_timeouts_total", "Commands that got no reply in time, by front end.", m_timeouts);
    byFrontEnd(out, "tavo_command_failures_total",
               "Commands that failed otherwise: the line lost, refused by the projector, or a reply that is no reading.",
               m_failures);
    byFrontEnd(out, "tavo_requests_refused_total", "Requests refused because the queue was full, by front end.",
               m_refused);
    {
        Family family(out, "tavo_discarded_replies_total", "counter",
                      "Pieces of replies that came when no command waited for them, and were dropped.");
        out += "tavo_discarded_replies_total " + QByteArray::number(m_discarded) + '\n';
    }
    {
        Family family(out, "tavo_queue_requests", "gauge", "Requests waiting for the line, the one on it included.");
        out += "tavo_queue_requests " + QByteArray::number(m_queue.length()) + '\n';
    }
    {
        Family family(out, "tavo_clients", "gauge", "Connected clients, by front end.");
        for (const auto &[frontEnd, count] : m_clients)
            out += "tavo_clients{front_end=\"" + labelValue(frontEnd) + "\"} " + QByteArray::number(count()) + '\n';
    }
    if (m_poller && m_poller->ageSeconds() >= 0) {
        Family family(out, "tavo_poll_age_seconds", "gauge", "Seconds since the last poll of the readings ended.");
        out += "tavo_poll_age_seconds " + number(m_poller->ageSeconds()) + '\n';
    }
    return out;
}
