#pragma once

#include "LineQueue.h"
#include "http/Access.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <unordered_map>

// A held arrow as a lease. The page renews it at least every repeat period; without a
// renewal it runs out, so a lost finger-up, a page closed or a phone gone from the network
// ends the repeat within the lease, long before TCP would notice anything.
struct HoldLease {
    static constexpr int repeatMs = 100; // the panel's repeat
    static constexpr int leaseMs = 300;  // how long a hold lasts after its last renewal

    qint64 renewedAtMs = 0;

    void renew(qint64 nowMs) { renewedAtMs = nowMs; }
    // How long the hold still lasts without a renewal; 0 once it has run out.
    qint64 msLeft(qint64 nowMs) const { return std::max<qint64>(0, renewedAtMs + leaseMs - nowMs); }
    bool runOut(qint64 nowMs) const { return msLeft(nowMs) == 0; }
};

// What a page says about its hold: {"type": "hold", "action": "volume-up"} starts or renews
// it, {"type": "release"} ends it, which the server answers with {"type": "hold_ended",
// "action": "volume-up"} once no repeat of it can go out any more.
struct HoldMessage {
    enum class Kind { hold, release, unknown } kind = Kind::unknown;
    QString action;
    QString code; // what the action's button repeats; empty when it is no arrow
};
HoldMessage readHoldMessage(const QString &text);

// The holds of every page: while a page holds an arrow its command goes to the queue every
// repeat period, never more than one waiting at a time, until the page lets go, stops
// renewing or goes; then whatever repeat still waits is dropped. A hold changes the
// projector, so it passes the same access rules as a POST.
class Holds : public QObject {
    Q_OBJECT
public:
    Holds(LineQueue &queue, HttpRules rules, QObject *parent = nullptr);
    ~Holds() override;

    // A message from `page` (its events socket), whose handshake carried `facts`;
    // `client` names the page in the exchanges it causes. Returns what to tell the page,
    // or an empty object.
    QJsonObject take(const QObject *page, const HttpRequestFacts &facts, const QString &client, const QString &text);
    // The page's socket has closed.
    void pageGone(const QObject *page);
    int count() const { return int(m_holds.size()); }

signals:
    void started(const QString &action);
    // Why: "released", "lease" (no renewal in time), "closed", "replaced" (another arrow),
    // "refused".
    void ended(const QString &action, const QString &why);

private:
    // A QObject so that it can go later: its own timers may be what ends it.
    struct Hold : QObject {
        quint64 id = 0;
        QString action;
        QString code;
        LineQueue::ClientId client = 0;
        HoldLease lease;
        QTimer repeat;
        QTimer expiry;
        bool waiting = false; // a repeat is in the queue or on the line
    };

    void start(const QObject *page, const HoldMessage &message, const QString &client);
    void end(const QObject *page, const QString &why);
    void send(Hold &hold);

    LineQueue &m_queue;
    HttpRules m_rules;
    QElapsedTimer m_clock;
    quint64 m_nextId = 1;
    std::unordered_map<const QObject *, std::unique_ptr<Hold>> m_holds;
};
