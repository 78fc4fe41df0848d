#pragma once

// One port's share of a tavo-send run: open the port without holding up the others, then
// its commands one after another, each waiting for its reply, and report every one.

#include "exchange/CommandWords.h"
#include "exchange/CommandOutcome.h"
#include "host/QtSerialComponent.h"

#include <QObject>

#include <functional>
#include <memory>

class ProjectorLine;
class SettingsStore;

class PortRun : public QObject {
    Q_OBJECT
public:
    using Report = std::function<void(const Outcome &)>;

    PortRun(const QString &given, const QString &device, const QString &settings, int timeoutMs,
            const SettingsStore &store, QObject *parent = nullptr);
    ~PortRun() override;

    // Opens the port and sends `commands`; `report` runs once per command, in order.
    void start(const QList<Command> &commands, Report report);

    // The reason the port could not be opened, or empty.
    QString openFailure() const { return m_openFailure; }

signals:
    // Every command has been reported.
    void finished();

private:
    void opened(const QList<Command> &commands);
    void notOpened(const QList<Command> &commands, const QString &reason);

    QString m_given;
    int m_timeoutMs;
    QtSerialComponent m_port;
    std::unique_ptr<ProjectorLine> m_line;
    Report m_report;
    QString m_openFailure;
};
