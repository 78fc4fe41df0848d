#pragma once

#include "Mapping.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>

class ProjectorLine;
struct LineExchange;

namespace pjlink {

// Carries PJLink requests of every connection to the one projector line, in arrival order,
// one request (all of its commands) at a time, and makes each answer from the replies.
// Requests waiting and the one under way are bounded; past the bound a request is refused.
class Bridge : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const QByteArray &result)>;

    Bridge(ProjectorLine &line, const QByteArray &name, qsizetype bound, QObject *parent = nullptr);

    // Queues a row that needs the line; `done` gets the answer's result ("OK", "1",
    // "ERR4"...) later, never inside this call. False when the queue is full. A query whose
    // client has gone by the time it is due is dropped; a set command still goes out.
    bool request(const Row &row, QObject *client, Done done);
    // The answer to a row that needs no line.
    QByteArray answerAtOnce(const Row &row) const;

    // Opens the port now, holding requests back until that has settled, so that problems
    // show in the log at start rather than at the first command.
    void openLine();
    qsizetype waiting() const { return qsizetype(m_jobs.size()); }

signals:
    // One line for the log: the port opened, failed, or answers again.
    void event(const QString &line);

private:
    struct Job {
        const Row *row;
        QPointer<QObject> client;
        Done done;
        QStringList commands; // CR0 first when the state is checked, then the row's own
        QStringList replies;  // to the row's own commands
        qsizetype next = 0;
    };

    void startNext();
    void sendNext();
    void exchangeDone(const LineExchange &exchange);
    void finish(const QByteArray &result);
    void lineWorks(bool works, const QString &why);

    ProjectorLine &m_line;
    QByteArray m_name;
    qsizetype m_bound;
    std::deque<Job> m_jobs; // the front one is under way while m_busy
    bool m_busy = false;
    bool m_opening = false;
    bool m_lineWorks = true;
    Memory m_memory;
};

} // namespace pjlink
