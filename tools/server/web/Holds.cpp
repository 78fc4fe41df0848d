#include "Holds.h"

#include "panel/Actions.h"
#include "panel/ButtonTable.h"

#include <QJsonDocument>

namespace {

// The code an arrow's action repeats; empty for any other action.
QString repeatedCode(const QString &action) {
    const auto code = panel::actionCode(action);
    if (!code)
        return {};
    for (const panel::RepeatRow &repeat : panel::repeats)
        if (QLatin1String(repeat.sends.data(), qsizetype(repeat.sends.size())) == *code)
            return *code;
    return {};
}

QJsonObject refusal(const QString &action, const QString &why) {
    return {{QStringLiteral("type"), QStringLiteral("hold_refused")},
            {QStringLiteral("action"), action},
            {QStringLiteral("error"), why}};
}

} // namespace

HoldMessage readHoldMessage(const QString &text) {
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = object.value(QStringLiteral("type")).toString();
    HoldMessage message;
    if (type == QLatin1String("release")) {
        message.kind = HoldMessage::Kind::release;
    } else if (type == QLatin1String("hold")) {
        message.kind = HoldMessage::Kind::hold;
        message.action = object.value(QStringLiteral("action")).toString();
        message.code = repeatedCode(message.action);
    }
    return message;
}

Holds::Holds(LineQueue &queue, HttpRules rules, QObject *parent)
    : QObject(parent), m_queue(queue), m_rules(std::move(rules)) {
    m_clock.start();
}

Holds::~Holds() {
    for (auto &[page, hold] : m_holds) {
        m_queue.cancelWaiting(hold->client);
        m_queue.removeClient(hold->client);
    }
}

QJsonObject Holds::take(const QObject *page, const HttpRequestFacts &facts, const QString &client,
                        const QString &text) {
    const HoldMessage message = readHoldMessage(text);
    switch (message.kind) {
    case HoldMessage::Kind::unknown:
        return {{QStringLiteral("type"), QStringLiteral("error")},
                {QStringLiteral("error"), QStringLiteral("send {\"type\": \"hold\", \"action\": \"volume-up\"} "
                                                         "or {\"type\": \"release\"}")}};
    case HoldMessage::Kind::release: {
        // Said back in the socket's order: nothing of this hold goes out after this message.
        const auto found = m_holds.find(page);
        if (found == m_holds.end())
            return {};
        const QString action = found->second->action;
        end(page, QStringLiteral("released"));
        return {{QStringLiteral("type"), QStringLiteral("hold_ended")}, {QStringLiteral("action"), action}};
    }
    case HoldMessage::Kind::hold:
        break;
    }
    if (message.code.isEmpty()) {
        end(page, QStringLiteral("refused"));
        return refusal(message.action, QStringLiteral("only the arrows repeat"));
    }
    HttpRequestFacts change = facts;
    change.method = "POST";
    if (const HttpVerdict verdict = judge(m_rules, change); verdict.status != 0) {
        end(page, QStringLiteral("refused"));
        return refusal(message.action, verdict.reason);
    }
    const auto found = m_holds.find(page);
    if (found != m_holds.end() && found->second->action == message.action) {
        found->second->lease.renew(m_clock.elapsed());
        found->second->expiry.start(HoldLease::leaseMs);
        return {};
    }
    end(page, QStringLiteral("replaced"));
    start(page, message, client);
    return {};
}

void Holds::pageGone(const QObject *page) { end(page, QStringLiteral("closed")); }

void Holds::start(const QObject *page, const HoldMessage &message, const QString &client) {
    auto hold = std::make_unique<Hold>();
    hold->id = m_nextId++;
    hold->action = message.action;
    hold->code = message.code;
    hold->client = m_queue.addClient(QStringLiteral("http"), client, QHostAddress(client));
    hold->lease.renew(m_clock.elapsed());
    hold->repeat.setTimerType(Qt::PreciseTimer);
    hold->repeat.setInterval(HoldLease::repeatMs);
    hold->expiry.setTimerType(Qt::PreciseTimer);
    hold->expiry.setSingleShot(true);
    connect(&hold->repeat, &QTimer::timeout, this, [this, page] {
        const auto found = m_holds.find(page);
        if (found == m_holds.end())
            return;
        Hold &held = *found->second;
        if (held.lease.runOut(m_clock.elapsed()))
            end(page, QStringLiteral("lease"));
        else if (!held.waiting)
            send(held);
        // Otherwise the line is slower than the repeat: this tick is let go rather than
        // queued, so that nothing piles up behind a slow projector.
    });
    connect(&hold->expiry, &QTimer::timeout, this, [this, page] { end(page, QStringLiteral("lease")); });
    Hold &held = *hold;
    m_holds.emplace(page, std::move(hold));
    emit started(held.action);
    send(held);
    held.repeat.start();
    held.expiry.start(HoldLease::leaseMs);
}

void Holds::send(Hold &hold) {
    LineRequest request;
    request.commands = {hold.code};
    request.done = [this, id = hold.id](const QList<LineExchange> &) {
        for (auto &[page, each] : m_holds)
            if (each->id == id)
                each->waiting = false;
    };
    hold.waiting = m_queue.submit(hold.client, std::move(request)) == LineQueue::Refusal::none;
}

void Holds::end(const QObject *page, const QString &why) {
    const auto found = m_holds.find(page);
    if (found == m_holds.end())
        return;
    std::unique_ptr<Hold> hold = std::move(found->second);
    m_holds.erase(found);
    hold->repeat.stop();
    hold->expiry.stop();
    hold->disconnect(this);
    hold->repeat.disconnect(this);
    hold->expiry.disconnect(this);
    // A repeat still waiting would go out after the release: it is dropped. One already
    // on the line has gone out and is answered to nobody.
    m_queue.cancelWaiting(hold->client);
    m_queue.removeClient(hold->client);
    emit ended(hold->action, why);
    hold.release()->deleteLater();
}
