#pragma once

#include "exchange/CommandPolicy.h"
#include "exchange/ProjectorLine.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

class Readings;

// Commands that go to the line together, in order, and what to do with their replies.
struct LineRequest {
    QStringList commands; // as they go on the line, without their carriage return
    // Never answered from the readings: a power command's check of the power state must
    // see the projector as it is now.
    bool fresh = false;
    // Other than anyState: the commands go out only after a fresh look at the power state
    // (CR0, asked first), and only in these states; refused() is told why they did not.
    PowerStates sentIn = anyState;
    std::function<void(const CommandRefusal &refusal)> refused;
    // The exchanges of the commands that ran (fewer than asked when one went unanswered and
    // stopped the rest; the look at the power state is not among them); never called from
    // inside submit().
    std::function<void(const QList<LineExchange> &exchanges)> done;
};

// The one queue of the projector line. Every front end's clients put their requests here;
// one command is on the line at a time, and each reply goes to the request that sent it.
//
// Turns go round the front ends (PJLink, line, HTTP with the page, MQTT), one request each;
// within a front end round its clients' shares (one per address beyond this machine, one per
// connection on it), and within a share round its connections. So a flood on one front end,
// or from one address, holds any other client back by one request per front end at most.
// Each share, each front end and the queue as a whole hold a bounded number of requests,
// and the front ends' shares together fit the queue: another front end's command always
// finds room. The poll is served when no one else waits, and once its requests have come
// (its period has passed) before any front end's second turn.
//
// A request of queries alone is answered from the shared readings when they are recent
// enough, and shares the exchange of an identical request already waiting or on the line;
// commands that set anything never are. A command that changes a reading makes it stale,
// and once acknowledged the reading is asked for again at once, as a request of the
// server's own that the next identical query shares.
class LineQueue : public QObject {
    Q_OBJECT
public:
    using ClientId = quint64;
    enum class Priority { normal, background };
    // clientFull: the connection's or its address's share; queueFull: the front end's share
    // or the whole queue.
    enum class Refusal { none, clientFull, queueFull };

    struct Limits {
        qsizetype perClient = 8;    // requests waiting for one connection
        qsizetype total = 64;       // requests waiting in all, the one on the line included
        int maxAgeMs = 1000;        // a reading younger than this answers its query
        qsizetype perAddress = 8;   // for one address beyond this machine, on one front end
        qsizetype perFrontEnd = 16; // for one front end, the one on the line included: 4 x 16 fit the total
    };

    LineQueue(ProjectorLine &line, Readings &readings, Limits limits, QObject *parent = nullptr);
    ~LineQueue() override;

    // `frontEnd` ("pjlink", "line", "http", "mqtt", "poll") and `name` (the client's address)
    // go with every exchange the client causes. Clients from one `address` beyond loopback
    // share their turns and their room; a client on loopback, or without an address, has its own.
    ClientId addClient(const QString &frontEnd, const QString &name, const QHostAddress &address = {},
                       Priority priority = Priority::normal);
    // The client has gone: its waiting queries are dropped, its set commands still go out,
    // and nothing more is answered to it.
    void removeClient(ClientId client);
    // Drops every request the client has waiting (a held button let go).
    void cancelWaiting(ClientId client);
    Refusal submit(ClientId client, LineRequest request);

    // Requests waiting, and the one on the line.
    qsizetype length() const;
    // Whether the projector answered the last command that went to it.
    bool answers() const;
    // Opens the port now, holding requests back until that has settled, so that problems
    // show in the log at start rather than at the first command.
    void openLine();
    ProjectorLine &line() { return m_line; }
    const Readings &readings() const { return m_readings; }
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
        QString share; // whose turns and room it shares: its address, or itself
        bool byAddress = false;
        Priority priority = Priority::normal;
        std::deque<Job> waiting;
        int outstanding = 0; // requests waiting, on the line, or following another's
        bool gone = false;
    };
    struct Current {
        ClientId client;
        bool counted; // in its front end's and share's load
        QString frontEnd;
        QString share;
        Job job;
        QList<LineExchange> exchanges;
        qsizetype next = 0;
        std::optional<CommandRefusal> refusal;
    };
    // Who is next, front end by front end, share by share. Each list holds only those with
    // requests waiting, the next one first.
    struct Share {
        std::deque<ClientId> turns;
        qsizetype load = 0; // requests waiting or on the line
    };
    struct FrontEnd {
        std::deque<QString> turns;
        std::map<QString, Share> shares;
        qsizetype load = 0;
    };

    void scheduleStart();
    void start();
    void runNext();
    void commandDone(const LineExchange &exchange, bool fromLine);
    void finishCurrent();
    void answerFromReadings(ClientId client, const LineRequest &request, QList<LineExchange> exchanges);
    bool joinWaiting(ClientId client, const LineRequest &request);
    void readAgain(const char *query);
    void forgetIfDone(ClientId client);
    void enqueueTurn(ClientId id, const Client &client);
    void dropTurn(ClientId id, const Client &client);
    std::optional<ClientId> nextTurn();
    void dropped(Client &client, qsizetype jobs);
    void unload(const QString &frontEnd, const QString &share, qsizetype jobs);

    ProjectorLine &m_line;
    Readings &m_readings;
    Limits m_limits;
    ClientId m_nextId = 1;
    std::unordered_map<ClientId, Client> m_clients;
    std::deque<QString> m_turns; // front ends with requests waiting, next first
    std::map<QString, FrontEnd> m_frontEnds;
    std::deque<ClientId> m_background; // background clients with requests waiting
    // The front ends served since the poll's requests came; one served twice yields to them.
    std::set<QString> m_servedSinceDue;
    qsizetype m_waiting = 0;
    std::optional<Current> m_current;
    bool m_startQueued = false;
    bool m_opening = false;
    ClientId m_followUp = 0; // the server's own reads after a command
};
