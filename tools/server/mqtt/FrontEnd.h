#pragma once

#include "LineQueue.h"
#include "Topics.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Readings;
struct Outcome;

namespace mqtt {

class Connection;

// tavo-server on an MQTT broker, for Home Assistant and anything else that speaks MQTT: the
// discovery messages of one device, its availability (with "offline" as the last will), the
// shared readings as retained state published when they change, and commands from the
// command and set topics, taken through the line's queue as one client. A power or input
// command goes out only in the power states the command policy allows; every command's outcome goes to
// the result topic as tavo-send --json prints it. Every entity that reads the projector is
// unavailable while it does not answer.
class FrontEnd : public QObject {
    Q_OBJECT
public:
    // `deviceName` names the device unless the settings name it.
    FrontEnd(Settings settings, QString deviceName, LineQueue &queue, Readings &readings, QString port,
             QObject *parent = nullptr);
    // Says "offline" and leaves the broker.
    ~FrontEnd() override;

    // Starts connecting; the connection is kept from then on.
    void start();
    bool connected() const;
    const Topics &topics() const { return m_topics; }

private:
    void announce();
    void publishAll();
    void publishSettings();
    void publishReading(const Readings::Reading &reading);
    // Whether the projector answers, for every entity that reads it.
    void publishProjector();
    void take(const QByteArray &topic, const QByteArray &payload, bool retained);
    void report(const Outcome &outcome);
    // Reports a command that did not go out, and why.
    void refuse(const Command &command, const QString &why);

    Settings m_settings;
    Topics m_topics;
    Device m_device;
    LineQueue &m_queue;
    Readings &m_readings;
    QString m_port;
    LineQueue::ClientId m_client;
    std::unique_ptr<Connection> m_connection;
    bool m_announced = false; // once connected: what is done once at start is done
    bool m_formerCleared = false;
};

// Removes everything this server keeps retained on the broker (the discovery messages, so
// that Home Assistant forgets the device, the state and the availability) with empty
// retained messages. False, having logged why, when the broker did not acknowledge them all
// within `timeoutMs`.
bool unpublish(const Settings &settings, int timeoutMs = 15000);

} // namespace mqtt
