#pragma once

#include "LineQueue.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class Listener;
class Poller;
class Readings;

// Counts what goes over the line and renders everything in the Prometheus text format:
// whether the projector answers, its readings, the commands by front end, the queue, the
// clients and the poll.
class Metrics : public QObject {
    Q_OBJECT
public:
    Metrics(LineQueue &queue, const Readings &readings, QObject *parent = nullptr);

    void setPoller(const Poller *poller) { m_poller = poller; }
    // What tavo_info names: the server's instance name and the projector's name.
    void setNames(const QString &server, const QString &name) {
        m_server = server;
        m_name = name;
    }
    // A front end's connected clients: its listener's open connections, or a count of its own.
    void addClients(const QString &frontEnd, std::function<int()> count);

    QByteArray render() const;

private:
    void count(const LineExchange &exchange, const QString &frontEnd);

    LineQueue &m_queue;
    const Readings &m_readings;
    const Poller *m_poller = nullptr;
    QString m_server;
    QString m_name;
    QList<std::pair<QString, std::function<int()>>> m_clients;
    QHash<QString, quint64> m_commands; // by front end
    QHash<QString, quint64> m_fromMemory;
    QHash<QString, quint64> m_timeouts;
    QHash<QString, quint64> m_failures;
    QHash<QString, quint64> m_refused;
    QHash<QString, double> m_lineSeconds; // line time taken, by front end
    quint64 m_discarded = 0;
};
