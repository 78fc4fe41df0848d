#include "Bridge.h"

namespace pjlink {

namespace {
const QByteArray err4 = QByteArrayLiteral("ERR4");
QString asText(std::string_view view) { return QString::fromLatin1(view.data(), qsizetype(view.size())); }
bool checksState(const Row &row) { return row.sentIn != anyState; }
} // namespace

Bridge::Bridge(LineQueue &queue, const QByteArray &name, QObject *parent)
    : QObject(parent), m_queue(queue), m_name(name) {}

bool Bridge::request(const Row &row, LineQueue::ClientId client, Done done) {
    LineRequest request;
    for (std::string_view command : row.sends)
        if (!command.empty())
            request.commands << asText(command);
    if (checksState(row))
        guardByPowerState(request, row.sentIn);
    request.done = [this, &row, done = std::move(done)](const QList<LineExchange> &exchanges) {
        done(answer(row, exchanges));
    };
    return m_queue.submit(client, std::move(request)) == LineQueue::Refusal::none;
}

QByteArray Bridge::answerAtOnce(const Row &row) const { return answerFor(row, {}, m_memory, m_name); }

QByteArray Bridge::answer(const Row &row, const QList<LineExchange> &exchanges) {
    QStringList replies;
    for (const LineExchange &exchange : exchanges)
        if (!exchange.answered || !exchange.failure.isEmpty())
            return err4;
        else
            replies << exchange.reply;
    if (checksState(row)) {
        if (const QByteArray refused = refusal(row, replies.value(0)); !refused.isEmpty())
            return refused;
        replies.removeFirst();
    }
    if (replies.size() != qsizetype(std::count_if(row.sends.begin(), row.sends.end(),
                                                  [](std::string_view command) { return !command.empty(); })))
        return err4;
    const QByteArray result = answerFor(row, replies, m_memory, m_name);
    if (result == "OK")
        remember(row, m_memory);
    return result;
}

} // namespace pjlink
