#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

class SerialComponent;

// One command and what came back for it.
struct LineExchange {
    QString command;       // as given, without its carriage return
    QString sent;          // what was written: the command and one carriage return; empty if nothing was
    QString reply;         // what arrived for it, up to and including the end of the reply
    bool answered = false; // a reply ended within the timeout
    qint64 elapsedUs = 0;  // from the write to the end of the reply, or to the timeout
    QString failure;       // why the command never went out or the line went away meanwhile
};

// A projector line driven by a program without a window. Commands go out one at a time,
// in the order given, each adding one carriage return as the panel does; the next one waits
// until the reply to the previous one has ended (at its first carriage return, or at an ACK
// received as its first character) or the timeout has passed. Characters that arrive while
// no command is waiting are not anyone's reply and are dropped.
class ProjectorLine : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const LineExchange &)>;

    ProjectorLine(SerialComponent &port, int timeoutMs, QObject *parent = nullptr);
    ~ProjectorLine() override;

    // Queues a command; `done` runs once, when its reply has ended, the timeout has passed,
    // or it could not be written.
    void send(const QString &command, Done done);
    // Commands queued or waiting for their reply.
    qsizetype pending() const { return qsizetype(m_queue.size()) + (m_current ? 1 : 0); }

    // When set, a port found closed when a command is due (never opened, or lost) is
    // opened again first; when not, the command fails at once.
    bool reopenWhenClosed = false;

    SerialComponent &port() { return m_port; }

signals:
    // Nothing queued and nothing waiting.
    void idle();

private:
    struct Waiting {
        QString command;
        Done done;
    };

    void dispatch();
    void writeCurrent();
    void charactersArrived();
    void timedOut();
    void lineFailed(const QString &reason);
    void finish();

    SerialComponent &m_port;
    int m_timeoutMs;
    std::deque<Waiting> m_queue;
    std::optional<Waiting> m_current;
    LineExchange m_exchange;
    bool m_opening = false;
    bool m_dispatchQueued = false;
    QElapsedTimer m_clock;
    QTimer m_timeout;
};
