#pragma once

#include "exchange/ProjectorLine.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

class Readings;

// Commands that go to the line together, in order, and what to do with their replies.
struct LineRequest {
    QStringList commands; // as they go on the line, without their carriage return
    // Never answered from the readings: a power command's check of the power state must
    // see the projector as it is now.
    bool fresh = false;
    // After each command but the last: whether the rest go out. Without it they go on while
    // each is answered.
    std::function<bool(const LineExchange &exchange, qsizetype index)> proceed;
    // The exchanges of the commands that ran (fewer than asked when one stopped the rest);
    // never called from inside submit().
    std::function<void(const QList<LineExchange> &exchanges)> done;
};

// The one queue of the projector line. Every front end's clients put their requests here;
// one command is on the line at a time, and each reply goes to the request that sent it.
//
// Clients are served in turn, one request each, so a client with many requests waiting
// holds another back by one request at most; background clients (the poll) are served only
// when no one else waits. Each client may have a few requests waiting, and the queue as a
// whole a bounded number. A request of queries alone is answered from the shared readings
// when they are recent enough, and shares the exchange of an identical request already
// waiting; commands that set anything never are, and make every reading stale.
class LineQueue : public QObject {
    Q_OBJECT
public:
    using ClientId = quint64;
    enum class Priority { normal, background };
    enum class Refusal { none, clientFull, queueFull };

    struct Limits {
        qsizetype perClient = 8; // requests waiting for one client
        qsizetype total = 64;    // requests waiting in all, the one on the line included
        int maxAgeMs = 1000;     // a reading younger than this answers its query
    };

    LineQueue(ProjectorLine &line, Readings &readings, Limits limits, QObject *parent = nullptr);
    ~LineQueue() override;

    // `frontEnd` ("pjlink", "line", "http", "mqtt", "poll") and `name` (the client's address)
    // go with every exchange the client causes.
    ClientId addClient(const QString &frontEnd, const QString &name, Priority priority = Priority::normal);
    // The client has gone: its waiting queries are dropped, its set commands still go out,
    // and nothing more is answered to it.
    void removeClient(ClientId client);
    // Drops every request the client has waiting (a held button let go).
    void cancelWaiting(ClientId client);
    Refusal submit(ClientId client, LineRequest request);

    // Requests waiting, and the one on the line.
    qsizetype length() const;
    // Whether the projector answered the last command that went to it.
    bool answers() const { return m_answers; }
    // Opens the port now, holding requests back until that has settled, so that problems
    // show in the log at start rather than at the first command.
    void openLine();
    ProjectorLine &line() { return m_line; }
    const Limits &limits() const { return m_limits; }

    // True for a query ("CR0", "CR LAMPSTS"): it reads and changes nothing.
    static bool isQuery(QStringView command);

signals:
    // A command and its reply, and the client who caused it: on the line, or from the
    // readings (exchange.fromMemory).
    void exchanged(const LineExchange &exchange, const QString &frontEnd, const QString &client);
    // A request refused because a client's share or the queue was full.
    void refused(const QString &frontEnd, LineQueue::Refusal why);
    void lengthChanged(qsizetype length);
    void answersChanged(bool answers);
    // One line for the log.
    void event(const QString &line);

private:
    struct Follower {
        ClientId client;
        std::function<void(const QList<LineExchange> &)> done;
    };
    struct Job {
        LineRequest request;
        std::vector<Follower> followers; // identical requests sharing this one's exchanges
    };
    struct Client {
        QString frontEnd;
        QString name;
        Priority priority = Priority::normal;
        std::deque<Job> waiting;
        int outstanding = 0; // requests waiting, on the line, or following another's
        bool gone = false;
    };
    struct Current {
        ClientId client;
        Job job;
        QList<LineExchange> exchanges;
        qsizetype next = 0;
    };

    void scheduleStart();
    void start();
    void runNext();
    void commandDone(const LineExchange &exchange, bool fromLine);
    void finishCurrent();
    void answerFromReadings(ClientId client, const LineRequest &request, QList<LineExchange> exchanges);
    bool joinWaiting(ClientId client, const LineRequest &request);
    void lineWorks(bool works, const QString &why);
    void forgetIfDone(ClientId client);
    std::deque<ClientId> &turnsOf(const Client &client);

    ProjectorLine &m_line;
    Readings &m_readings;
    Limits m_limits;
    ClientId m_nextId = 1;
    std::unordered_map<ClientId, Client> m_clients;
    std::deque<ClientId> m_turns;      // normal clients with requests waiting, next first
    std::deque<ClientId> m_background; // the same for background clients
    qsizetype m_waiting = 0;
    std::optional<Current> m_current;
    bool m_startQueued = false;
    bool m_opening = false;
    bool m_answers = true;
};
