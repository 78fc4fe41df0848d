#pragma once

#include "LineQueue.h"
#include "http/Access.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class Readings;
namespace http {
class Transport;
}

// One open events socket, as the line's side knows it: who opened it and how, and a way to
// send it text. The transport writes, bounds and closes it on its own thread.
class EventsSocket : public QObject {
    Q_OBJECT
public:
    EventsSocket(std::weak_ptr<http::Transport> transport, quint64 connection, QHostAddress peer,
                 HttpRequestFacts handshake);

    quint64 connection() const { return m_connection; }
    const QHostAddress &peer() const { return m_peer; }
    // The request that opened it: path, Host, Origin, Authorization.
    const HttpRequestFacts &handshake() const { return m_handshake; }
    void send(std::shared_ptr<const std::string> text);
    void send(const QJsonObject &message);
    void close();

private:
    std::weak_ptr<http::Transport> m_transport;
    quint64 m_connection;
    QHostAddress m_peer;
    HttpRequestFacts m_handshake;
};

// What an exchange looks like on the panel: both transcript lines with their legends and the
// status box, from the panel's own rendering and decoding.
QJsonObject transcriptOf(const LineExchange &exchange);

// The live events: every exchange whichever front end caused it, what the line dropped, every
// change of a reading and of whether the projector answers, as JSON text messages to every
// open events socket.
class Events : public QObject {
    Q_OBJECT
public:
    Events(LineQueue &queue, const Readings &readings, QString port, QObject *parent = nullptr);
    ~Events() override;

    // Takes the socket; it first gets a "status" event with the readings as they stand.
    void add(std::unique_ptr<EventsSocket> socket);
    // A text message from the socket of that connection; the socket reads the next once
    // this returns.
    void received(quint64 connection, const QString &text);
    // The connection has ended; nothing when it was no events socket.
    void closed(quint64 connection);
    int count() const { return int(m_sockets.size()); }
    void broadcast(const QJsonObject &event);
    // {"port":..., "line":{...}, "power":{...}, ...}: what GET /api/status answers.
    QJsonObject status() const;

signals:
    // A text message from a page (it may hold a button).
    void message(EventsSocket *socket, const QString &text);
    void socketClosed(EventsSocket *socket);

private:
    LineQueue &m_queue;
    const Readings &m_readings;
    QString m_port;
    std::vector<std::unique_ptr<EventsSocket>> m_sockets;
};
