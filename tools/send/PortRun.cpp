#include "PortRun.h"

#include "exchange/ProjectorLine.h"

PortRun::PortRun(const QString &given, const QString &device, const QString &settings, int timeoutMs,
                 const SettingsStore &store, QObject *parent)
    : QObject(parent), m_given(given), m_timeoutMs(timeoutMs), m_port(store) {
    m_port.setDevice(device);
    m_port.setSettings(settings);
}

// The line goes before the port it works, which then closes.
PortRun::~PortRun() = default;

void PortRun::start(const QList<Command> &commands, Report report) {
    m_report = std::move(report);
    m_port.openAsync([this, commands](const std::optional<PortError> &failure) {
        // A serial device answers before openAsync() returns: report from the event loop
        // all the same, so every port's outcome arrives the same way.
        QMetaObject::invokeMethod(
            this,
            [this, commands, reason = failure ? failure->detail() : QString()] {
                if (reason.isEmpty())
                    opened(commands);
                else
                    notOpened(commands, reason);
            },
            Qt::QueuedConnection);
    });
}

void PortRun::opened(const QList<Command> &commands) {
    m_line = std::make_unique<ProjectorLine>(m_port, m_timeoutMs);
    connect(m_line.get(), &ProjectorLine::idle, this, &PortRun::finished, Qt::SingleShotConnection);
    for (const Command &command : commands)
        m_line->send(command.code, [this, command](const LineExchange &exchange) {
            m_report({m_given, command, exchange, true, m_timeoutMs});
        });
}

void PortRun::notOpened(const QList<Command> &commands, const QString &reason) {
    m_openFailure = reason;
    for (const Command &command : commands) {
        LineExchange exchange;
        exchange.command = command.code;
        exchange.failure = reason; // and nothing was written
        m_report({m_given, command, exchange, false, m_timeoutMs});
    }
    emit finished();
}
