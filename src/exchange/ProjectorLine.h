#pragma once

#include "exchange/ReplyReading.h"

#include <QDeadlineTimer>
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
    bool fromMemory = false; // an earlier answer to the same query, given again without asking
    // Read once, where the exchange ends (decodeExchange): what the reply says, and what kept
    // it from a good answer with the words for it.
    ReplyReading reading;
    ExchangeProblem problem = ExchangeProblem::none;
    QString problemText;
};

// A projector line driven by a program without a window. Commands go out one at a time,
// in the order given, each adding one carriage return as the panel does; the next one waits
// until the reply to the previous one has ended (at its first carriage return, or at an ACK
// received as its first character) or the timeout has passed. Characters that arrive while
// no command is waiting are not anyone's reply and are dropped.
//
// Replies carry nothing that says which command they answer, so after a timeout the line
// holds the next command back: a reply that missed its time may still be on its way, and
// taken as the next command's answer it would be a wrong reading reported as a good one.
// What arrives meanwhile is dropped. The hold ends one more timeout later, or as soon as a
// late reply has ended and the line has been quiet for a moment. A command answered in
// time holds nothing back, so a held button keeps its pace.
class ProjectorLine : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const LineExchange &)>;

    // A reply that runs this long without its end is a fault of the device (or of a TCP
    // peer that streams), not a reply; the command fails and the rest is dropped.
    static constexpr qsizetype maxReplyLength = 4096;
    // How long the line must be quiet after a late reply before the next command goes.
    static constexpr int quietAfterLateReplyMs = 100;

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
    int timeoutMs() const { return m_timeoutMs; }

    // True while commands are held back after a timeout.
    bool holdingBack() const { return m_holding; }

signals:
    // Nothing queued and nothing waiting.
    void idle();
    // Characters that are no command's reply: they came while none was waiting, after a
    // reply had ended, or while the line held back after a timeout.
    void discarded(const QString &characters);

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
    void holdBack();
    void lateCharacters(const QString &piece);
    void endHold();

    SerialComponent &m_port;
    int m_timeoutMs;
    std::deque<Waiting> m_queue;
    std::optional<Waiting> m_current;
    LineExchange m_exchange;
    bool m_opening = false;
    bool m_dispatchQueued = false;
    QElapsedTimer m_clock;
    QTimer m_timeout;

    bool m_holding = false;
    bool m_lateReplyEnded = false;
    QDeadlineTimer m_holdEnd;
    QTimer m_hold;
};
