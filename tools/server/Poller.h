#pragma once

#include "LineQueue.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Reads the power state, the input, the lamp hours and the temperatures at an interval, and
// the lamp status and lamp mode every tenth round, so that every front end finds them recent. Each is a request of its own, served only when no
// client waits: the poll yields to everyone.
class Poller : public QObject {
    Q_OBJECT
public:
    Poller(LineQueue &queue, int intervalSeconds, QObject *parent = nullptr);
    ~Poller() override;

    // Starts with a round at once.
    void start();
    // Seconds since the last round ended; -1 before the first.
    double ageSeconds() const;

signals:
    void roundDone();

private:
    void round();

    LineQueue &m_queue;
    LineQueue::ClientId m_client;
    QTimer m_timer;
    QElapsedTimer m_lastRound;
    int m_pending = 0;
    int m_rounds = 0; // begun
};
