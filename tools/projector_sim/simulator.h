#pragma once

// Puts a ProjectorModel behind a pseudo-terminal or a local TCP port, with the
// timing and failure knobs needed to exercise the control program.

#include "projector_model.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace tavo::sim {

struct SimulatorOptions {
    enum class Transport { Pty, Tcp };

    Transport transport = Transport::Pty;
    QString linkPath;    // pty only: symlink to the slave, empty for none
    quint16 tcpPort = 0; // tcp only: 0 = any free port
    ProjectorConfig model;
    bool pace = false; // one byte per character time instead of a burst
    int baud = 9600;
    int replyDelayMs = 0;
    int firstReplyDelayMs = -1; // the first reply's wait instead, when 0 or more
    int unplugAfter = 0;        // commands before the device disappears, 0 = never
    QString logPath;
    // Each --log line starts with the time its command's CR arrived: milliseconds on the
    // system's monotonic clock, the clock other programs time the same events by.
    bool logTimes = false;
    // Commands answered with a chosen text (a CR is added) instead of the model's reply.
    QList<std::pair<QByteArray, QByteArray>> answers;
    QString wireLogPath; // every byte received, unchanged: CRs, LFs and empty lines included
    bool verbose = false;
    // Print "POWER <state>" on stdout at each change of the power state, when it happens.
    bool announcePower = false;
    // Several projectors share this process (and the log, if any): each log line, trace
    // and UNPLUGGED line then names the address of the projector it is about.
    bool tagged = false;
};

class Simulator : public QObject {
    Q_OBJECT

public:
    explicit Simulator(const SimulatorOptions &options, QObject *parent = nullptr);
    ~Simulator() override;

    // Opens the log and the device side. On success endpoint() is the line to announce.
    bool start(QString *error);
    QString endpoint() const { return m_endpoint; }

private:
    struct PendingByte {
        qint64 dueNs;
        char byte;
    };

    bool openPty(QString *error);
    bool createLink(const QString &target, QString *error);
    void removeLink();
    bool openTcp(QString *error);

    void readPty();
    void flushPtyOutput();
    void acceptClient();
    void readClient();
    void dropClient();

    void handleBytes(QByteArrayView bytes);
    void scheduleReply(const QByteArray &reply);
    void sendDueBytes();
    void writeToDevice(const QByteArray &bytes);
    void unplug();
    void announcePowerState(PowerState state);
    void followPowerClock();
    void closeDevice();
    void logCommand(const QByteArray &command);
    void trace(const char *direction, const QByteArray &bytes) const;
    QByteArray tag() const;

    SimulatorOptions m_options;
    ProjectorModel m_model;
    QElapsedTimer m_clock;
    QFile m_log;
    QFile m_wireLog;
    QString m_endpoint;
    int m_commandCount = 0;
    bool m_answeredOnce = false;
    bool m_unplugged = false;

    // Replies waiting for their send time; the timer fires at the earliest one.
    std::deque<PendingByte> m_pending;
    qint64 m_lineFreeNs = 0;
    QTimer m_sendTimer;

    // With announcePower: fires when the warm-up or cool-down under way runs out.
    QTimer m_powerTimer;

    // pty transport
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_ptyOutput;

    // tcp transport
    QTcpServer *m_server = nullptr;
    QPointer<QTcpSocket> m_client;
};

} // namespace tavo::sim
