#pragma once

#include "LineQueue.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QWebSocket;
class Readings;

// What an exchange looks like on the panel: both transcript lines with their legends and the
// status box, from the panel's own rendering and decoding.
QJsonObject transcriptOf(const LineExchange &exchange);

// The live events: every exchange whichever front end caused it, what the line dropped, every
// change of a reading and of whether the projector answers, as JSON text messages to every
// open events socket. A socket that does not take its messages is closed rather than
// buffered for without end.
class Events : public QObject {
    Q_OBJECT
public:
    // What one socket may leave unread before it is closed.
    static constexpr qint64 unsentLimit = 1024 * 1024;

    Events(LineQueue &queue, const Readings &readings, QString port, QObject *parent = nullptr);
    ~Events() override;

    // Takes the socket; it first gets a "status" event with the readings as they stand.
    void add(std::unique_ptr<QWebSocket> socket);
    int count() const { return int(m_sockets.size()); }
    void broadcast(const QJsonObject &event);
    // {"port":..., "line":{...}, "power":{...}, ...}: what GET /api/status answers.
    QJsonObject status() const;

signals:
    // A text message from a page (it may hold a button).
    void message(QWebSocket *socket, const QString &text);
    void socketClosed(QWebSocket *socket);

private:
    void remove(QWebSocket *socket);

    LineQueue &m_queue;
    const Readings &m_readings;
    QString m_port;
    std::vector<QWebSocket *> m_sockets;
};
