#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>

// Slows password guessing, address by address (an IPv6 address by its /64, which one
// machine may fill at will), for any front end that takes a password. After a few wrong
// passwords within a minute, the address's next attempt is judged only once a delay has
// passed, and each further wrong one doubles the delay up to a ceiling; its attempts are
// judged one per delay, however many connections it opens. A right password clears the
// address's record. The log hears of the first wrong password at once, then once a minute,
// with a count.
class PasswordGuard : public QObject {
    Q_OBJECT
public:
    static constexpr int freeFailures = 5; // within a minute, before attempts wait
    static constexpr int firstDelayMs = 1000;
    static constexpr int longestDelayMs = 30000;
    static constexpr int minuteMs = 60000;

    // `frontEnd` ("pjlink", "http") starts its lines in the log.
    explicit PasswordGuard(QString frontEnd, QObject *parent = nullptr);
    ~PasswordGuard() override;

    // Milliseconds before an attempt from `address` is judged; 0: at once.
    int waitMs(const QHostAddress &address) const;
    // Calls `judge` when an attempt from `address` may be judged: at once when the address
    // waits for nothing, otherwise once its delay has passed and the attempts before it have
    // been judged. Not called when `context` has gone meanwhile.
    void whenFree(const QHostAddress &address, QObject *context, std::function<void()> judge);
    void failed(const QHostAddress &address);
    void succeeded(const QHostAddress &address);

    // What the timers call: the address's delay has passed; a minute of the log has passed.
    void delayPassed(const QHostAddress &address);
    void minutePassed();

private:
    struct Waiting {
        QPointer<QObject> context;
        std::function<void()> judge;
    };
    struct Record {
        std::deque<qint64> failures; // the last few, on m_clock
        int delayMs = 0;             // the delay the last wrong password started; 0: none yet
        std::unique_ptr<QTimer> delay; // running while attempts wait
        std::deque<Waiting> waiting;
        int unlogged = 0;
    };

    static QString keyOf(const QHostAddress &address);
    void release(const QString &key);

    QString m_frontEnd;
    QElapsedTimer m_clock;
    QTimer m_minute;
    std::map<QString, Record> m_records;
};
