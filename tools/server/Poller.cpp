#include "Poller.h"

#include "exchange/Readings.h"

Poller::Poller(LineQueue &queue, int intervalSeconds, QObject *parent)
    : QObject(parent), m_queue(queue),
      m_client(queue.addClient(QStringLiteral("poll"), QStringLiteral("poll"), {}, LineQueue::Priority::background)) {
    m_timer.setInterval(intervalSeconds * 1000);
    connect(&m_timer, &QTimer::timeout, this, &Poller::round);
}

Poller::~Poller() { m_queue.removeClient(m_client); }

void Poller::start() {
    m_timer.start();
    round();
}

double Poller::ageSeconds() const {
    return m_lastRound.isValid() ? double(m_lastRound.nsecsElapsed()) / 1e9 : -1.0;
}

void Poller::round() {
    if (m_pending > 0)
        return; // the last round is still waiting for the line
    const int round = m_rounds++;
    for (const Readings::Kind &reading : Readings::kinds) {
        if (reading.pollEvery == 0 || round % reading.pollEvery != 0)
            continue;
        LineRequest request;
        request.commands = {QString::fromLatin1(reading.command)};
        request.done = [this](const QList<LineExchange> &) {
            if (--m_pending == 0) {
                m_lastRound.start();
                emit roundDone();
            }
        };
        if (m_queue.submit(m_client, std::move(request)) == LineQueue::Refusal::none)
            ++m_pending;
    }
}
