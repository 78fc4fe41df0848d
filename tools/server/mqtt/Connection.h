#pragma once

#include "Topics.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

struct mosquitto;
struct mosquitto_message;
class QHostInfo;
class QSocketNotifier;

namespace mqtt {

// One connection to an MQTT broker, kept up for as long as the object lives: libmosquitto
// works the protocol, driven from the Qt event loop through its socket (no thread of its
// own), with a timer for its keep-alive. The broker's name is resolved without blocking the
// loop the other front ends share. A connection that fails or is lost is tried again after
// a pause that doubles up to a few seconds; each problem is logged once, not at every try.
class Connection : public QObject {
    Q_OBJECT
public:
    struct Will {
        QByteArray topic;
        QByteArray payload;
    };

    Connection(const Settings &settings, const QByteArray &clientId, std::optional<Will> will,
               QObject *parent = nullptr);
    ~Connection() override;

    // Starts connecting, and keeps connecting until close().
    void open();
    // Leaves the broker cleanly (so that it does not send the will) and stops trying.
    void close();
    bool isConnected() const { return m_state == State::connected; }

    // At least once (QoS 1). The message's id, or -1 while not connected.
    int publish(const QByteArray &topic, const QByteArray &payload, bool retain);
    bool subscribe(const QByteArray &topic);

    // A connection attempt takes at most this long.
    static constexpr int connectTimeoutMs = 10000;
    // The pause after the first failure, doubled after each further one up to the longest.
    static constexpr int firstRetryMs = 500;
    static constexpr int longestRetryMs = 4000;
    // Losing the connection this often within the window means another client takes it
    // with the same client id: the server then tries only once a minute.
    static constexpr int takeoversToGiveWay = 3;
    static constexpr int takeoverWindowMs = 60000;
    static constexpr int takenOverRetryMs = 60000;

signals:
    // The broker took the connection (again): time to say everything a newcomer must hear.
    void connected();
    void message(const QByteArray &topic, const QByteArray &payload, bool retained);
    // The broker has acknowledged the message with this id.
    void delivered(int id);

private:
    enum class State { idle, resolving, connecting, connected, waiting, closed };
    struct Incoming {
        QByteArray topic;
        QByteArray payload;
        bool retained;
    };

    void setUp();
    void attempt();
    void resolved(const QHostInfo &info);
    void connectTo(const QHostAddress &address);
    void watchSocket();
    void unwatchSocket();
    void readable();
    void writable();
    void housekeeping();
    void settle(int rc, int error);
    void failed(const QString &problem, const QString &line);
    // Notes a lost connection; true when they come too often.
    bool takenOver();
    QString where() const;

    static void onConnect(mosquitto *, void *self, int code);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onPublish(mosquitto *, void *self, int id);

    Settings m_settings;
    QByteArray m_clientId;
    std::optional<Will> m_will;
    mosquitto *m_mosq = nullptr;
    State m_state = State::idle;
    int m_socket = -1;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    QTimer m_housekeeping;
    QTimer m_retry;
    QTimer m_connectTimeout;
    int m_retryMs = firstRetryMs;
    QList<QHostAddress> m_addresses; // still to try, from the last resolution
    QHostAddress m_address;          // being tried or connected to
    QString m_lastProblem;           // logged already; not again until something changes
    QElapsedTimer m_clock;
    QList<qint64> m_losses;      // when the connection was lost, within the last window
    qint64 m_connectedAt = 0;    // when it was last made
    bool m_takeoverSaid = false; // said once, not at every round

    // What the library reported from inside a call, told once the call has returned.
    int m_connack = -1;
    std::vector<Incoming> m_inbox;
    std::vector<int> m_delivered;
};

} // namespace mqtt
