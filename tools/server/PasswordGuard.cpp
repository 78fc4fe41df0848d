#include "PasswordGuard.h"

#include "Listener.h"
#include "Log.h"

#include <algorithm>

PasswordGuard::PasswordGuard(QString frontEnd, QObject *parent) : QObject(parent), m_frontEnd(std::move(frontEnd)) {
    m_clock.start();
    m_minute.setSingleShot(true);
    m_minute.setInterval(minuteMs);
    connect(&m_minute, &QTimer::timeout, this, &PasswordGuard::minutePassed);
}

PasswordGuard::~PasswordGuard() = default;

QString PasswordGuard::keyOf(const QHostAddress &address) {
    const QHostAddress plain = plainAddress(address);
    if (plain.protocol() != QAbstractSocket::IPv6Protocol || plain.isLoopback())
        return plain.toString();
    Q_IPV6ADDR bytes = plain.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

int PasswordGuard::waitMs(const QHostAddress &address) const {
    const auto found = m_records.find(keyOf(address));
    if (found == m_records.end() || !found->second.delay || !found->second.delay->isActive())
        return 0;
    return std::max(1, found->second.delay->remainingTime());
}

void PasswordGuard::whenFree(const QHostAddress &address, QObject *context, std::function<void()> judge) {
    const auto found = m_records.find(keyOf(address));
    if (found == m_records.end() ||
        (found->second.waiting.empty() && !(found->second.delay && found->second.delay->isActive()))) {
        judge();
        return;
    }
    found->second.waiting.push_back({context, std::move(judge)});
}

void PasswordGuard::failed(const QHostAddress &address) {
    const QString key = keyOf(address);
    Record &record = m_records[key];
    const qint64 now = m_clock.elapsed();
    // A quiet minute forgives.
    if (!record.failures.empty() && now - record.failures.back() >= minuteMs) {
        record.failures.clear();
        record.delayMs = 0;
    }
    record.failures.push_back(now);
    while (qsizetype(record.failures.size()) > freeFailures || now - record.failures.front() >= minuteMs)
        record.failures.pop_front();
    if (record.delayMs > 0 || qsizetype(record.failures.size()) >= freeFailures) {
        record.delayMs = record.delayMs == 0 ? firstDelayMs : std::min(2 * record.delayMs, longestDelayMs);
        if (!record.delay) {
            record.delay = std::make_unique<QTimer>();
            record.delay->setSingleShot(true);
            connect(record.delay.get(), &QTimer::timeout, this, [this, key] { release(key); });
        }
        record.delay->start(record.delayMs);
    }
    if (m_minute.isActive()) {
        ++record.unlogged;
        return;
    }
    qCWarning(logOf(m_frontEnd)).noquote() << QStringLiteral("%1: wrong password from %2").arg(m_frontEnd, key);
    m_minute.start();
}

void PasswordGuard::succeeded(const QHostAddress &address) {
    const auto found = m_records.find(keyOf(address));
    if (found == m_records.end())
        return;
    found->second.failures.clear();
    found->second.delayMs = 0;
}

void PasswordGuard::delayPassed(const QHostAddress &address) { release(keyOf(address)); }

void PasswordGuard::release(const QString &key) {
    for (;;) {
        const auto found = m_records.find(key);
        if (found == m_records.end())
            return;
        Record &record = found->second;
        if (record.delay)
            record.delay->stop();
        if (record.waiting.empty())
            return;
        // One attempt at a time: a wrong one starts the next delay before the rest are judged.
        const Waiting next = std::move(record.waiting.front());
        record.waiting.pop_front();
        if (next.context)
            next.judge();
        const auto after = m_records.find(key);
        if (after != m_records.end() && after->second.delay && after->second.delay->isActive())
            return;
    }
}

void PasswordGuard::minutePassed() {
    const qint64 now = m_clock.elapsed();
    bool logged = false;
    for (auto it = m_records.begin(); it != m_records.end();) {
        Record &record = it->second;
        if (record.unlogged > 0) {
            qCWarning(logOf(m_frontEnd)).noquote()
                << QStringLiteral("%1: %2 more wrong passwords from %3 in the last minute%4")
                       .arg(m_frontEnd)
                       .arg(record.unlogged)
                       .arg(it->first, record.delayMs > 0
                                           ? QStringLiteral("; its attempts now wait %1 s").arg(record.delayMs / 1000)
                                           : QString());
            record.unlogged = 0;
            logged = true;
        }
        const bool quiet = record.failures.empty() || now - record.failures.back() >= minuteMs;
        if (quiet && record.waiting.empty() && !(record.delay && record.delay->isActive()))
            it = m_records.erase(it);
        else
            ++it;
    }
    // Otherwise the next wrong password is logged as it comes.
    if (logged)
        m_minute.start();
}
