#include "Bridge.h"

#include "exchange/Readings.h"

namespace pjlink {

namespace {
const QByteArray err4 = QByteArrayLiteral("ERR4");
QString asText(std::string_view view) { return QString::fromLatin1(view.data(), qsizetype(view.size())); }
} // namespace

Bridge::Bridge(LineQueue &queue, const QByteArray &name, QObject *parent)
    : QObject(parent), m_queue(queue), m_name(name) {}

bool Bridge::request(const Row &row, LineQueue::ClientId client, Done done) {
    LineRequest request;
    for (std::string_view command : row.sends)
        if (!command.empty())
            request.commands << asText(command);
    request.sentIn = row.sentIn;
    request.refused = [done](const CommandRefusal &refused) { done(refusal(refused)); };
    request.done = [this, &row, done](const QList<LineExchange> &exchanges) { done(answer(row, exchanges)); };
    return m_queue.submit(client, std::move(request)) == LineQueue::Refusal::none;
}

QByteArray Bridge::answerAtOnce(const Row &row) const { return answerFor(row, {}, memory(), m_name); }

Memory Bridge::memory() const {
    // The mutes as last acknowledged, whoever set them (the panel's front ends, MQTT, PJLink).
    Memory memory = m_memory;
    memory.video = m_queue.readings().setting(Readings::Setting::pictureMute) ? on : off;
    memory.audio = m_queue.readings().setting(Readings::Setting::audioMute) ? on : off;
    return memory;
}

QByteArray Bridge::answer(const Row &row, const QList<LineExchange> &exchanges) {
    for (const LineExchange &exchange : exchanges)
        if (!exchange.answered || !exchange.failure.isEmpty())
            return err4;
    if (exchanges.size() != qsizetype(std::count_if(row.sends.begin(), row.sends.end(),
                                                    [](std::string_view command) { return !command.empty(); })))
        return err4;
    const QByteArray result = answerFor(row, exchanges, memory(), m_name);
    if (result == "OK")
        remember(row, m_memory);
    return result;
}

} // namespace pjlink
