#pragma once

// What tavo-server says and takes on an MQTT broker: the topics under its base, the Home
// Assistant discovery messages of its one device, the state messages made from the shared
// readings, and what a message on a command topic asks of the line. Plain functions and
// tables, checked without a broker.

#include "exchange/CommandWords.h"
#include "exchange/Inputs.h"
#include "exchange/Readings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>
#include <variant>

namespace mqtt {

struct Broker {
    QString host; // a name or an address
    quint16 port = 1883;
};

struct Settings {
    Broker broker;
    QByteArray user; // empty: no user name
    QByteArray password;
    QString base;     // "tavo/room-4": every topic of this server is under it
    bool raw = false; // raw codes are taken on the command topic
    // Home Assistant's status topic: its "online" there (its birth message, after a
    // restart) has the server publish its discovery and state again.
    QByteArray birthTopic = "homeassistant/status";
    QString deviceName;       // the device's name in Home Assistant; empty: the PJLink name
    QString configurationUrl; // the control page as people open it; empty: none
};

// The device all of a server's entities belong to.
struct Device {
    QString name;
    QString configurationUrl; // left out when empty
};

// "mqtt://host:port" (1883 when the port is left out; an IPv6 address in brackets). A user
// name or password in it is refused: the command line shows in the process list.
std::variant<Broker, QString> readBrokerUrl(const QString &url);
// `name` as one topic level: '/', '+', '#', blanks and control characters become '_';
// "default" for an empty name.
QString topicSafe(const QString &name);
// The base for an instance: tavo/<instance>, the instance made topic-safe; this machine's
// name when none is given.
QString baseFor(const QString &instance);
// Home Assistant's node id for `base`, distinct for distinct bases. A base of letters,
// digits, '-' and '/' keeps the id it always had, '/' as '_' ("tavo/hall" is "tavo_hall");
// any other starts with '_', which none of those can, and writes each byte other than a
// letter, a digit or '-' as '_' and two hex digits ("tavo/room.4" is "_tavo_2froom_2e4").
QByteArray nodeIdFor(const QString &base);
// Why `base` cannot hold this server's topics (empty, a wildcard, an empty level), or empty.
QString baseProblem(const QString &base);

// Where Home Assistant looks for its discovery messages.
inline constexpr char discoveryPrefix[] = "homeassistant";

struct Message {
    QByteArray topic;
    QByteArray payload;
};

// The topics under one base.
struct Topics {
    explicit Topics(const QString &base);

    QByteArray availability;                // the server: "online", or "offline" (also the last will)
    QByteArray projector;                   // the projector: "online" while it answers, else "offline"
    QByteArray command;                     // an action name (or a raw code, when taken)
    QByteArray result;                      // each command's outcome, as tavo-send --json prints it
    QByteArray lastCommand;                 // the last command's outcome in words
    QByteArray lastCommandResult;           // and its result object, kept for a newcomer
    QByteArray power;                       // "ON" while on or warming up, otherwise "OFF"
    QByteArray powerSet;                    // "ON" or "OFF"
    QByteArray powerState;                  // the panel's words: "Stand by", "Count down", "Power on"...
    QByteArray problem;                     // "ON" while the projector reports a fault, else "OFF"
    QByteArray problemAttributes;           // the words of it, as a JSON object
    QByteArray input;                       // an input's name (inputTerminals), or "None" when unknown
    QByteArray inputSet;                    // an input's name
    QByteArray inputAvailability;           // "online" while the projector takes inputs (on), else "offline"
    QByteArray lampHours;                   // whole hours
    std::array<QByteArray, 3> temperatures; // degrees Celsius, one topic each
    QByteArray lampStatus;                  // "Lamp is on", "Lamp is off", "Lamp is failure"
    QByteArray lampMode;                    // the lamp mode last chosen: "Auto", "Normal", "Eco 1", "Eco 2"
    QByteArray lampModeSet;                 // one of those
    QByteArray lampModeRead;                // what the projector answers: "High", "Normal", "Eco"
    // Audio mute, picture mute and freeze as last set, "ON" or "OFF", in the order of
    // Readings::Setting; and where they are set.
    std::array<QByteArray, 3> settings;
    std::array<QByteArray, 3> settingsSet;
    // The base as Home Assistant's node id (nodeIdFor), from which unique ids derive.
    QByteArray nodeId;
    // The id earlier versions made of the base, every other character as '_': where
    // discovery messages of this server may be left from before, when it differs.
    QByteArray formerNodeId;

    QList<QByteArray> commandTopics() const {
        return QList<QByteArray>{command, powerSet, inputSet, lampModeSet} +
               QList<QByteArray>(settingsSet.begin(), settingsSet.end());
    }
    // Every topic this server keeps a retained message on, discovery apart.
    QList<QByteArray> retainedTopics() const;
};

// One retained config message for each entity, under
// homeassistant/<component>/<node id>/<object>/config, all describing one device.
QList<Message> discoveryMessages(const Topics &topics, const Device &device);
// The topics of those messages, to remove them.
QList<QByteArray> discoveryTopics(const Topics &topics);
// The configs of entities earlier versions had and this one has not, to remove them.
QList<QByteArray> retiredDiscoveryTopics(const Topics &topics);

// The power state as the panel words it, in sentence case: "Power on", "Stand by"...
QString powerWords(PowerStatus status);

// The retained state messages a reading makes; none while it has never been read.
QList<Message> stateMessages(const Topics &topics, const Readings::Reading &reading);
// The problem sensor's state and words, from the power state and the lamp status; none
// until the power state has been read.
QList<Message> problemMessages(const Topics &topics, const Readings &readings);
// The settings the server remembers: the mutes, freeze, and the lamp mode once chosen.
QList<Message> settingMessages(const Topics &topics, const Readings &readings);
// A command's outcome (as tavo-send --json prints it) for the "Last command" sensor: in
// words ("Refused: the projector is warming up...") and as a whole.
QList<Message> lastCommandMessages(const Topics &topics, const QJsonObject &result);

// What a message on a command topic asks of the line, or why it is not taken (an unknown
// name, a raw code without `rawTaken`, a payload the set topic does not know).
std::variant<Command, QString> commandFor(const Topics &topics, const QByteArray &topic, const QByteArray &payload,
                                          bool rawTaken);

} // namespace mqtt
