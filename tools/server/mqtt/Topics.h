#pragma once

// What tavo-server says and takes on an MQTT broker: the topics under its base, the Home
// Assistant discovery messages of its one device, the state messages made from the shared
// readings, and what a message on a command topic asks of the line. Plain functions and
// tables, checked without a broker.

#include "exchange/CommandWords.h"
#include "exchange/Inputs.h"
#include "exchange/Readings.h"

#include <QByteArray>
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
    QByteArray power;                       // "ON" while on or warming up, otherwise "OFF"
    QByteArray powerSet;                    // "ON" or "OFF"
    QByteArray powerState;                  // "standby", "countdown", "on", "cooling", or a fault
    QByteArray input;                       // an input's name (inputTerminals), or "None" when unknown
    QByteArray inputSet;                    // an input's name
    QByteArray lampHours;                   // whole hours
    std::array<QByteArray, 3> temperatures; // degrees Celsius, one topic each
    // The base as Home Assistant's node id (nodeIdFor), from which unique ids derive.
    QByteArray nodeId;
    // The id earlier versions made of the base, every other character as '_': where
    // discovery messages of this server may be left from before, when it differs.
    QByteArray formerNodeId;

    QList<QByteArray> commandTopics() const { return {command, powerSet, inputSet}; }
    // Every topic this server keeps a retained message on, discovery apart.
    QList<QByteArray> retainedTopics() const;
};

// One retained config message for each entity, under
// homeassistant/<component>/<node id>/<object>/config, all describing one device.
QList<Message> discoveryMessages(const Topics &topics, const QString &deviceName);
// The topics of those messages, to remove them.
QList<QByteArray> discoveryTopics(const Topics &topics);

// The retained state messages a reading makes; none while it has never been read.
QList<Message> stateMessages(const Topics &topics, const Readings::Reading &reading);

// What a message on a command topic asks of the line, or why it is not taken (an unknown
// name, a raw code without `rawTaken`, a payload the set topic does not know).
std::variant<Command, QString> commandFor(const Topics &topics, const QByteArray &topic, const QByteArray &payload,
                                          bool rawTaken);

} // namespace mqtt
