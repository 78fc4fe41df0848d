#pragma once

#include "exchange/ProjectorLine.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <array>

// What the projector last said of itself, shared by every front end: its power state, its
// input, the lamp hours and the three temperatures, each from the last good answer to its
// query, with its age. Every exchange on the line passes by; a set command makes every
// reading stale, so that none is answered from memory until it is read again.
class Readings : public QObject {
    Q_OBJECT
public:
    struct Reading {
        const char *name;    // "power", "input", "lamp_hours", "temperatures"
        const char *command; // the query that reads it
        LineExchange exchange; // its last good answer
        QJsonValue value;      // null until read
        QString status;        // the status box's words for it
        QElapsedTimer taken;   // invalid until read
        bool stale = true;
    };

    struct Kind {
        const char *name;
        const char *command;
    };
    static constexpr std::array<Kind, 4> kinds{{
        {"power", "CR0"},
        {"input", "CR1"},
        {"lamp_hours", "CR3"},
        {"temperatures", "CR6"},
    }};

    Readings();

    // An exchange has ended on the line: a good answer to a reading's query updates it.
    void observe(const LineExchange &exchange);
    // A set command went out: the projector may have changed.
    void makeStale();
    // The last good answer to `command` when it is a reading's query, not stale and younger
    // than `maxAgeMs`.
    std::optional<LineExchange> recentAnswer(QStringView command, int maxAgeMs) const;

    const std::array<Reading, 4> &all() const { return m_readings; }
    const Reading &reading(QStringView name) const;
    // Seconds since the reading was taken; -1 when it never was.
    static double ageSeconds(const Reading &reading);
    // {"power": {"value": "standby", "status": "Stand by", "age": 0.4}, ...}
    QJsonObject toJson() const;

signals:
    // A reading's value is new or changed.
    void changed(const Readings::Reading &reading);

private:
    std::array<Reading, 4> m_readings;
};
