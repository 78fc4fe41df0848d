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
// the lamp hours, the three temperatures, the lamp mode and the lamp status, each from the
// last answer to its query with its age, and whether the projector answers at all; and the
// settings the projector cannot be asked for (the mutes, freeze, the lamp mode chosen), as
// last acknowledged, whoever sent them. Every exchange that goes on
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
        const char *name;      // "power", "input", "lamp_hours", "temperatures", "lamp_mode", "lamp_status"
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
        int pollEvery; // read at every n-th round of the poll, the first included
    };
    static constexpr std::array<Kind, 6> kinds{{
        {Held::power, "power", "CR0", 1},
        {Held::input, "input", "CR1", 1},
        {Held::lampHours, "lamp_hours", "CR3", 1},
        {Held::temperatures, "temperatures", "CR6", 1},
        {Held::lampMode, "lamp_mode", "CR LAMPMODE", 10},
        {Held::lampStatus, "lamp_status", "CR LAMPSTS", 10},
    }};

    // A setting the projector takes but cannot be asked for.
    enum class Setting { audioMute, pictureMute, freeze };
    // The command that sets it, and the command that clears it.
    struct SettingCommands {
        Setting setting;
        const char *on;
        const char *off;
    };
    static constexpr std::array<SettingCommands, 3> settingCommands{{
        {Setting::audioMute, "C0B", "C0C"},
        {Setting::pictureMute, "C0D", "C0E"},
        {Setting::freeze, "C43", "C44"},
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

    const std::array<Reading, 6> &all() const { return m_readings; }
    const Reading &reading(QStringView name) const;
    const Reading &reading(Held held) const { return m_readings[std::size_t(held)]; }
    // Seconds since the reading was taken; -1 when it never was.
    static double ageSeconds(const Reading &reading);

    // A setting as last acknowledged; off until one was.
    bool setting(Setting setting) const { return m_settings[std::size_t(setting)]; }
    // The lamp mode last acknowledged ("AUTO", "NORMAL", "ECO1", "ECO2"); empty until one was.
    QString lampModeChosen() const { return m_lampModeChosen; }

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
    // A setting or the lamp mode chosen was acknowledged as changed.
    void settingsChanged();
    // The projector stopped answering (with the reason, for the log), or answers again.
    void answersChanged(bool answers, const QString &why);

private:
    void remember(const QString &command);
    void setAnswers(bool answers, const QString &why);
    void setStale(Reading &reading, bool stale);

    std::array<Reading, 6> m_readings;
    std::array<bool, 3> m_settings{};
    QString m_lampModeChosen;
    bool m_answers = true;
    QElapsedTimer m_lastAnswer;
};
