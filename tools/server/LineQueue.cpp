#include "LineQueue.h"

#include "Readings.h"

#include "exchange/ReplyReading.h"
#include "host/SerialComponent.h"

#include <QPointer>

#include <algorithm>

namespace {

bool queriesOnly(const LineRequest &request) {
    return !request.proceed && std::all_of(request.commands.begin(), request.commands.end(),
                                           [](const QString &command) { return LineQueue::isQuery(command); });
}

} // namespace

bool LineQueue::isQuery(QStringView command) { return command.startsWith(QLatin1String("CR")); }

LineQueue::LineQueue(ProjectorLine &line, Readings &readings, Limits limits, QObject *parent)
    : QObject(parent), m_line(line), m_readings(readings), m_limits(limits) {
    connect(&line.port(), &SerialComponent::portLost, this, [this](const QString &why) { lineWorks(false, why); });
}

LineQueue::~LineQueue() = default;

LineQueue::ClientId LineQueue::addClient(const QString &frontEnd, const QString &name, Priority priority) {
    const ClientId id = m_nextId++;
    m_clients.emplace(id, Client{frontEnd, name, priority, {}, 0, false});
    return id;
}

std::deque<LineQueue::ClientId> &LineQueue::turnsOf(const Client &client) {
    return client.priority == Priority::background ? m_background : m_turns;
}

void LineQueue::removeClient(ClientId id) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    Client &client = found->second;
    client.gone = true;
    // Asking changes nothing, so a question nobody waits for is not asked, unless another
    // client waits for the same answer.
    const auto before = client.waiting.size();
    std::erase_if(client.waiting,
                  [](const Job &job) { return queriesOnly(job.request) && job.followers.empty(); });
    m_waiting -= qsizetype(before - client.waiting.size());
    client.outstanding -= int(before - client.waiting.size());
    // Nor is it told of the answers it was to share.
    const auto unfollow = [&](Job &job) {
        client.outstanding -=
            int(std::erase_if(job.followers, [id](const Follower &follower) { return follower.client == id; }));
    };
    for (auto &[other, each] : m_clients)
        for (Job &job : each.waiting)
            unfollow(job);
    if (m_current)
        unfollow(m_current->job);
    if (client.waiting.empty())
        std::erase(turnsOf(client), id);
    forgetIfDone(id);
    emit lengthChanged(length());
}

void LineQueue::cancelWaiting(ClientId id) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    Client &client = found->second;
    const auto before = client.waiting.size();
    std::erase_if(client.waiting, [](const Job &job) { return job.followers.empty(); });
    m_waiting -= qsizetype(before - client.waiting.size());
    client.outstanding -= int(before - client.waiting.size());
    if (client.waiting.empty())
        std::erase(turnsOf(client), id);
    emit lengthChanged(length());
}

void LineQueue::forgetIfDone(ClientId id) {
    const auto found = m_clients.find(id);
    if (found != m_clients.end() && found->second.gone && found->second.waiting.empty() &&
        !(m_current && m_current->client == id))
        m_clients.erase(found);
}

qsizetype LineQueue::length() const { return m_waiting + (m_current ? 1 : 0); }

LineQueue::Refusal LineQueue::submit(ClientId id, LineRequest request) {
    Client &client = m_clients.at(id);
    if (qsizetype(client.waiting.size()) >= m_limits.perClient) {
        emit refused(client.frontEnd, Refusal::clientFull);
        return Refusal::clientFull;
    }
    // A client with nothing else under way may be answered out of turn: its answers still
    // come in the order it asked.
    if (client.outstanding == 0 && queriesOnly(request)) {
        if (!request.fresh) {
            QList<LineExchange> remembered;
            for (const QString &command : request.commands)
                if (const auto answer = m_readings.recentAnswer(command, m_limits.maxAgeMs))
                    remembered << *answer;
            if (remembered.size() == request.commands.size()) {
                answerFromReadings(id, request, std::move(remembered));
                return Refusal::none;
            }
        }
        if (joinWaiting(id, request))
            return Refusal::none;
    }
    if (length() >= m_limits.total) {
        emit refused(client.frontEnd, Refusal::queueFull);
        return Refusal::queueFull;
    }
    client.waiting.push_back(Job{std::move(request), {}});
    ++client.outstanding;
    ++m_waiting;
    if (client.waiting.size() == 1)
        turnsOf(client).push_back(id);
    emit lengthChanged(length());
    scheduleStart();
    return Refusal::none;
}

void LineQueue::answerFromReadings(ClientId id, const LineRequest &request, QList<LineExchange> exchanges) {
    Client &client = m_clients.at(id);
    ++client.outstanding;
    for (LineExchange &exchange : exchanges) {
        exchange.fromMemory = true;
        exchange.elapsedUs = 0;
    }
    QMetaObject::invokeMethod(
        this,
        [this, id, done = request.done, exchanges] {
            const auto found = m_clients.find(id);
            if (found == m_clients.end() || found->second.gone)
                return;
            --found->second.outstanding;
            for (const LineExchange &exchange : exchanges)
                emit exchanged(exchange, found->second.frontEnd, found->second.name);
            if (done)
                done(exchanges);
        },
        Qt::QueuedConnection);
}

bool LineQueue::joinWaiting(ClientId id, const LineRequest &request) {
    for (auto &[owner, client] : m_clients)
        for (Job &job : client.waiting)
            if (queriesOnly(job.request) && job.request.commands == request.commands) {
                job.followers.push_back({id, request.done});
                ++m_clients.at(id).outstanding;
                return true;
            }
    return false;
}

void LineQueue::openLine() {
    m_opening = true;
    SerialComponent &port = m_line.port();
    port.openAsync([this, &port, alive = QPointer<LineQueue>(this)](const std::optional<PortError> &failure) {
        if (!alive)
            return;
        m_opening = false;
        if (failure)
            lineWorks(false, failure->detail() + QStringLiteral(" Trying again at the next command."));
        else
            emit event(QStringLiteral("projector line: opened %1").arg(port.deviceName()));
        scheduleStart();
    });
}

void LineQueue::scheduleStart() {
    if (m_current || m_opening || m_startQueued)
        return;
    m_startQueued = true;
    QMetaObject::invokeMethod(this, &LineQueue::start, Qt::QueuedConnection);
}

void LineQueue::start() {
    m_startQueued = false;
    if (m_current || m_opening)
        return;
    std::deque<ClientId> &turns = !m_turns.empty() ? m_turns : m_background;
    if (turns.empty())
        return;
    const ClientId id = turns.front();
    turns.pop_front();
    Client &client = m_clients.at(id);
    m_current = Current{id, std::move(client.waiting.front()), {}, 0};
    client.waiting.pop_front();
    --m_waiting;
    if (!client.waiting.empty())
        turns.push_back(id); // its next request waits for everyone else's turn
    runNext();
}

void LineQueue::runNext() {
    const QString command = m_current->job.request.commands.at(m_current->next);
    if (!m_current->job.request.fresh)
        if (auto remembered = m_readings.recentAnswer(command, m_limits.maxAgeMs)) {
            remembered->fromMemory = true;
            remembered->elapsedUs = 0;
            commandDone(*remembered, false);
            return;
        }
    if (!isQuery(command))
        m_readings.makeStale();
    // ProjectorLine answers from the event loop, never inside send().
    m_line.send(command, [this](const LineExchange &exchange) { commandDone(exchange, true); });
}

void LineQueue::commandDone(const LineExchange &exchange, bool fromLine) {
    const Client &client = m_clients.at(m_current->client);
    if (fromLine) {
        if (!exchange.failure.isEmpty())
            lineWorks(false, exchange.failure);
        else if (!exchange.answered)
            lineWorks(false, QStringLiteral("no reply to %1").arg(exchange.command));
        else
            lineWorks(true, {});
        m_readings.observe(exchange);
    }
    emit exchanged(exchange, client.frontEnd, client.name);
    Current &current = *m_current;
    current.exchanges << exchange;
    const qsizetype index = current.next++;
    const LineRequest &request = current.job.request;
    const bool goOn = request.proceed ? request.proceed(exchange, index)
                                      : exchange.answered && exchange.failure.isEmpty();
    if (goOn && current.next < request.commands.size()) {
        runNext();
        return;
    }
    finishCurrent();
}

void LineQueue::finishCurrent() {
    Current current = std::move(*m_current);
    m_current.reset();
    const auto tell = [&](ClientId id, const std::function<void(const QList<LineExchange> &)> &done) {
        const auto found = m_clients.find(id);
        if (found == m_clients.end())
            return;
        --found->second.outstanding;
        if (!found->second.gone && done)
            done(current.exchanges);
        forgetIfDone(id);
    };
    tell(current.client, current.job.request.done);
    for (const Follower &follower : current.job.followers)
        tell(follower.client, follower.done);
    emit lengthChanged(length());
    scheduleStart();
}

void LineQueue::lineWorks(bool works, const QString &why) {
    if (works == m_answers)
        return;
    m_answers = works;
    emit event(works ? QStringLiteral("projector line: answers again") : QStringLiteral("projector line: %1").arg(why));
    emit answersChanged(works);
}
