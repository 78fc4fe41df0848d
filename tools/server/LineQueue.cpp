#include "LineQueue.h"

#include "Listener.h"
#include "Log.h"

#include "exchange/Readings.h"
#include "host/SerialComponent.h"

#include <QPointer>

#include <algorithm>

namespace {

bool queriesOnly(const LineRequest &request) {
    return request.sentIn == anyState &&
           std::all_of(request.commands.begin(), request.commands.end(),
                       [](const QString &command) { return LineQueue::isQuery(command); });
}

} // namespace

bool LineQueue::isQuery(QStringView command) { return command.startsWith(QLatin1String("CR")); }

LineQueue::LineQueue(ProjectorLine &line, Readings &readings, Limits limits, QObject *parent)
    : QObject(parent), m_line(line), m_readings(readings), m_limits(limits) {
    connect(&line.port(), &SerialComponent::portLost, &readings, &Readings::lineLost);
    connect(&readings, &Readings::answersChanged, this, [this](bool answers, const QString &why) {
        if (answers)
            qCInfo(logProjector, "projector line: answers again");
        else
            qCCritical(logProjector).noquote() << QStringLiteral("projector line: %1").arg(why);
    });
    m_followUp = addClient(QStringLiteral("follow-up"), QStringLiteral("server"));
    connect(&readings, &Readings::readAgain, this,
            [this](const Readings::Reading &reading) { readAgain(reading.command); });
}

bool LineQueue::answers() const { return m_readings.answers(); }

void LineQueue::readAgain(const char *query) {
    LineRequest request;
    request.commands = {QString::fromLatin1(query)};
    request.fresh = true;
    // A read of the same that waits for the line (whoever asked) will do.
    for (const auto &[id, client] : m_clients)
        for (const Job &job : client.waiting)
            if (queriesOnly(job.request) && job.request.commands == request.commands)
                return;
    (void)submit(m_followUp, std::move(request)); // a full queue: the poll, or the next query, reads it
}

LineQueue::~LineQueue() = default;

LineQueue::ClientId LineQueue::addClient(const QString &frontEnd, const QString &name, const QHostAddress &address,
                                         Priority priority) {
    const ClientId id = m_nextId++;
    const QHostAddress plain = plainAddress(address);
    const bool byAddress = !plain.isNull() && !plain.isLoopback();
    // On loopback every connection is someone of its own: this machine's users, or a proxy
    // in front of many.
    const QString share = byAddress ? plain.toString() : QStringLiteral("#%1").arg(id);
    m_clients.emplace(id, Client{frontEnd, name, share, byAddress, priority, {}, 0, false});
    return id;
}

void LineQueue::enqueueTurn(ClientId id, const Client &client) {
    if (client.priority == Priority::background) {
        if (m_background.empty())
            m_servedSinceDue.clear();
        m_background.push_back(id);
        return;
    }
    FrontEnd &frontEnd = m_frontEnds[client.frontEnd];
    Share &share = frontEnd.shares[client.share];
    if (share.turns.empty()) {
        if (frontEnd.turns.empty())
            m_turns.push_back(client.frontEnd);
        frontEnd.turns.push_back(client.share);
    }
    share.turns.push_back(id);
}

void LineQueue::dropTurn(ClientId id, const Client &client) {
    if (client.priority == Priority::background) {
        std::erase(m_background, id);
        return;
    }
    FrontEnd &frontEnd = m_frontEnds[client.frontEnd];
    Share &share = frontEnd.shares[client.share];
    std::erase(share.turns, id);
    if (share.turns.empty())
        std::erase(frontEnd.turns, client.share);
    if (frontEnd.turns.empty())
        std::erase(m_turns, client.frontEnd);
    if (share.turns.empty() && share.load == 0)
        frontEnd.shares.erase(client.share);
}

std::optional<LineQueue::ClientId> LineQueue::nextTurn() {
    const bool pollDue = !m_background.empty();
    if (pollDue && (m_turns.empty() || m_servedSinceDue.contains(m_turns.front()))) {
        const ClientId id = m_background.front();
        m_background.pop_front();
        return id;
    }
    if (m_turns.empty())
        return std::nullopt;
    const QString name = m_turns.front();
    m_turns.pop_front();
    FrontEnd &frontEnd = m_frontEnds[name];
    const QString shareKey = frontEnd.turns.front();
    frontEnd.turns.pop_front();
    Share &share = frontEnd.shares[shareKey];
    const ClientId id = share.turns.front();
    share.turns.pop_front();
    // The rest of the share, the front end and the queue go on in turn; start() puts this
    // client behind them when it has more.
    if (!share.turns.empty())
        frontEnd.turns.push_back(shareKey);
    if (!frontEnd.turns.empty())
        m_turns.push_back(name);
    if (pollDue)
        m_servedSinceDue.insert(name);
    return id;
}

void LineQueue::dropped(Client &client, qsizetype jobs) {
    m_waiting -= jobs;
    client.outstanding -= int(jobs);
    if (client.priority == Priority::normal)
        unload(client.frontEnd, client.share, jobs);
}

void LineQueue::unload(const QString &frontEndName, const QString &shareKey, qsizetype jobs) {
    FrontEnd &frontEnd = m_frontEnds[frontEndName];
    frontEnd.load -= jobs;
    const auto share = frontEnd.shares.find(shareKey);
    if (share == frontEnd.shares.end())
        return;
    share->second.load -= jobs;
    if (share->second.load <= 0 && share->second.turns.empty())
        frontEnd.shares.erase(share);
}

void LineQueue::removeClient(ClientId id) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    Client &client = found->second;
    client.gone = true;
    // Asking changes nothing, so a question nobody waits for is not asked, unless another
    // client waits for the same answer.
    dropped(client, qsizetype(std::erase_if(
                        client.waiting, [](const Job &job) { return queriesOnly(job.request) && job.followers.empty(); })));
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
        dropTurn(id, client);
    forgetIfDone(id);
    emit lengthChanged(length());
}

void LineQueue::cancelWaiting(ClientId id) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    Client &client = found->second;
    dropped(client, qsizetype(std::erase_if(client.waiting, [](const Job &job) { return job.followers.empty(); })));
    if (client.waiting.empty())
        dropTurn(id, client);
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
    if (request.sentIn != anyState) {
        // Never from memory: a reading may be from before a warm-up or a cool-down began.
        request.commands.prepend(QStringLiteral("CR0"));
        request.fresh = true;
    }
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
    const bool counted = client.priority == Priority::normal;
    if (counted) {
        FrontEnd &frontEnd = m_frontEnds[client.frontEnd];
        const auto share = frontEnd.shares.find(client.share);
        if (client.byAddress && share != frontEnd.shares.end() && share->second.load >= m_limits.perAddress) {
            emit refused(client.frontEnd, Refusal::clientFull);
            return Refusal::clientFull;
        }
        if (frontEnd.load >= m_limits.perFrontEnd || length() >= m_limits.total) {
            emit refused(client.frontEnd, Refusal::queueFull);
            return Refusal::queueFull;
        }
        ++frontEnd.load;
        ++frontEnd.shares[client.share].load;
    }
    client.waiting.push_back(Job{std::move(request), {}});
    ++client.outstanding;
    ++m_waiting;
    if (client.waiting.size() == 1)
        enqueueTurn(id, client);
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
    // A query on the line whose answer has not come yet answers this one as well.
    if (m_current && m_current->next == 0 && m_current->exchanges.isEmpty() && queriesOnly(m_current->job.request) &&
        m_current->job.request.commands == request.commands) {
        m_current->job.followers.push_back({id, request.done});
        ++m_clients.at(id).outstanding;
        return true;
    }
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
            m_readings.lineLost(failure->detail() + QStringLiteral(" Trying again at the next command."));
        else
            qCInfo(logProjector).noquote() << QStringLiteral("projector line: opened %1").arg(port.deviceName());
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
    const std::optional<ClientId> id = nextTurn();
    if (!id)
        return;
    Client &client = m_clients.at(*id);
    m_current = Current{*id, client.priority == Priority::normal, client.frontEnd, client.share,
                        std::move(client.waiting.front()), {}, 0, std::nullopt};
    client.waiting.pop_front();
    --m_waiting;
    if (!client.waiting.empty())
        enqueueTurn(*id, client); // its next request waits for everyone else's turn
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
    // ProjectorLine answers from the event loop, never inside send().
    m_line.send(command, [this](const LineExchange &exchange) { commandDone(exchange, true); });
}

void LineQueue::commandDone(const LineExchange &exchange, bool fromLine) {
    const Client &client = m_clients.at(m_current->client);
    if (fromLine)
        m_readings.observe(exchange);
    emit exchanged(exchange, client.frontEnd, client.name);
    Current &current = *m_current;
    const qsizetype index = current.next++;
    const LineRequest &request = current.job.request;
    if (request.sentIn != anyState && index == 0) {
        current.refusal = refusalFor(exchange, request.sentIn);
        if (current.refusal) {
            qCInfo(logOf(client.frontEnd)).noquote()
                << QStringLiteral("%1: %2 from %3 refused: %4")
                       .arg(client.frontEnd, request.commands.mid(1).join(QLatin1Char(' ')), client.name,
                            current.refusal->words());
            finishCurrent();
            return;
        }
    } else {
        current.exchanges << exchange;
    }
    const bool goOn = exchange.answered && exchange.failure.isEmpty();
    if (goOn && current.next < request.commands.size()) {
        runNext();
        return;
    }
    finishCurrent();
}

void LineQueue::finishCurrent() {
    Current current = std::move(*m_current);
    m_current.reset();
    if (current.counted)
        unload(current.frontEnd, current.share, 1);
    const auto tell = [&](ClientId id, const std::function<void(const QList<LineExchange> &)> &done) {
        const auto found = m_clients.find(id);
        if (found == m_clients.end())
            return;
        --found->second.outstanding;
        if (!found->second.gone) {
            if (current.refusal && current.job.request.refused)
                current.job.request.refused(*current.refusal);
            else if (!current.refusal && done)
                done(current.exchanges);
        }
        forgetIfDone(id);
    };
    tell(current.client, current.job.request.done);
    for (const Follower &follower : current.job.followers)
        tell(follower.client, follower.done);
    emit lengthChanged(length());
    scheduleStart();
}
