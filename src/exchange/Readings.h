#pragma once

#include "exchange/CommandPolicy.h"
#include "exchange/ProjectorLine.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <array>

// The one picture of the projector that every front end reads: its power state, its input,
// the lamp hours, the three temperatures and the lamp mode, each from the last answer to its
// query with its age, and whether the projector answers at all. Every exchange that goes on
// the line passes by, already read (LineExchange::reading); nothing reads a reply again.
//
// A reading is stale from the moment a command that changes it has been answered, until its
// query has been answered again; the command asks for that reading again at once
// (readAgain). A projector that stops answering makes every reading stale.
class Readings : public QObject {
    Q_OBJECT
public:
    struct Reading {
        Held held;
        const char *name;      // "power", "input", "lamp_hours", "temperatures", "lamp_mode"
        const char *command;   // the query that reads it
        LineExchange exchange; // its last answer
        QJsonValue value;      // null until read, and for an answer that is not one of its readings
        QString status;        // the status box's words for it
        QElapsedTimer taken;   // invalid until read
        bool stale = true;
    };

    struct Kind {
        Held held;
        const char *name;
        const char *command;
        bool polled; // read at every round of the poll
    };
    static constexpr std::array<Kind, 5> kinds{{
        {Held::power, "power", "CR0", true},
        {Held::input, "input", "CR1", true},
        {Held::lampHours, "lamp_hours", "CR3", true},
        {Held::temperatures, "temperatures", "CR6", true},
        {Held::lampMode, "lamp_mode", "CR LAMPMODE", false},
    }};

    Readings();

    // An exchange has ended on the line. A reply to a reading's query updates it (an answer
    // that is no reading of it makes it unknown); a command that changes a reading makes it
    // stale, and asks for it again once acknowledged; whether anything came back at all
    // says whether the projector answers.
    void observe(const LineExchange &exchange);
    // The line is gone (a device unplugged): the projector does not answer.
    void lineLost(const QString &why);
    // The last good answer to `command` when it is a reading's query, not stale and younger
    // than `maxAgeMs`.
    std::optional<LineExchange> recentAnswer(QStringView command, int maxAgeMs) const;

    const std::array<Reading, 5> &all() const { return m_readings; }
    const Reading &reading(QStringView name) const;
    const Reading &reading(Held held) const { return m_readings[std::size_t(held)]; }
    // Seconds since the reading was taken; -1 when it never was.
    static double ageSeconds(const Reading &reading);

    // Whether the projector answered the last command that went to it (assumed until one
    // went unanswered), and seconds since its last answer (-1: none yet).
    bool answers() const { return m_answers; }
    double lastAnswerAgeSeconds() const;

    // {"power": {"value": "standby", "status": "Stand by", "age": 0.4, "stale": false}, ...}
    QJsonObject toJson() const;
    // {"answers": true, "last_answer_age": 0.4}
    QJsonObject availabilityJson() const;

signals:
    // A reading's value is new or changed, or it has become stale or fresh again.
    void changed(const Readings::Reading &reading);
    // A command that changes the reading was acknowledged: it should be read again soon.
    void readAgain(const Readings::Reading &reading);
    // The projector stopped answering (with the reason, for the log), or answers again.
    void answersChanged(bool answers, const QString &why);

private:
    void setAnswers(bool answers, const QString &why);
    void setStale(Reading &reading, bool stale);

    std::array<Reading, 5> m_readings;
    bool m_answers = true;
    QElapsedTimer m_lastAnswer;
};
