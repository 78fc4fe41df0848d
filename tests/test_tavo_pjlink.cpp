// tavo-pjlink as a PJLink controller meets it: clients over TCP against the daemon, the
// projector simulator (or a projector the test plays) on a pseudo-terminal behind it.
#include "PtyPair.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>

#include <unistd.h>

namespace {

// Runs the event loop until `done` holds or the time is up. Unlike QTest::qWaitFor it
// does not sleep while events come, so the projector played in this process answers at once.
template <typename Done>
bool waitUntil(Done done, int timeoutMs = 5000) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // looks again at least this often when nothing happens
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QProcessEnvironment isolated(const QString &configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    return environment;
}

// The daemon on a free loopback port; everything it logs is kept.
struct Daemon {
    QTemporaryDir config;
    QProcess process;
    QByteArray log;
    quint16 port = 0;

    explicit Daemon(QStringList arguments, const QString &configHome = {}) {
        process.setProcessEnvironment(isolated(configHome.isEmpty() ? config.path() : configHome));
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { log += process.readAllStandardError(); });
        process.start(qEnvironmentVariable("TAVO_PJLINK"), arguments << "--listen" << "127.0.0.1:0");
        (void)waitUntil([this] { return log.contains("listening on"); }, 5000);
        port = QRegularExpression("listening on 127.0.0.1:(\\d+)").match(log).captured(1).toUShort();
    }
    ~Daemon() {
        process.terminate();
        process.waitForFinished(3000);
    }
    int openFiles() const { return int(QDir(QStringLiteral("/proc/%1/fd").arg(process.processId())).count()); }
};

// One simulated projector on a pseudo-terminal; fresh() tells the commands it heard since.
struct Simulator {
    QTemporaryDir dir;
    QProcess process;
    QString device;
    qsizetype seen = 0;
    explicit Simulator(QStringList arguments = {}) {
        process.start(qEnvironmentVariable("TAVO_PROJECTOR_SIM"), arguments << "--pty" << "--warmup" << "300"
                                                                           << "--cooldown" << "300" << "--log"
                                                                           << dir.filePath("line.log"));
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            device = QString::fromLatin1(process.readLine()).trimmed().mid(4);
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
    QString fresh() {
        QFile file(dir.filePath("line.log"));
        file.open(QIODevice::ReadOnly);
        const QByteArray all = file.readAll();
        return QString::fromLatin1(all.mid(std::exchange(seen, all.size()))).trimmed().replace('\n', ' ');
    }
};

// A PJLink client: one line out, one answer (or the close) back.
struct Client {
    QTcpSocket socket;
    QByteArray received;
    explicit Client(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    // The next line without its CR; empty once the daemon has closed without one.
    QByteArray line(int timeoutMs = 5000) {
        (void)waitUntil(
            [this] { return received.contains('\r') || socket.state() == QAbstractSocket::UnconnectedState; },
            timeoutMs);
        const qsizetype end = received.indexOf('\r');
        const QByteArray line = received.left(end < 0 ? 0 : end);
        received.remove(0, end + 1);
        return line;
    }
    QByteArray ask(const QByteArray &command) {
        socket.write(command + '\r');
        return line();
    }
    bool closedByDaemon(int timeoutMs = 5000) {
        return waitUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
};

// The projector played by the test: answers each command by `answer` (empty: silence)
// after a millisecond, and counts how many commands were ever waiting at once.
struct PlayedProjector {
    PtyPair pty;
    QSocketNotifier notifier{pty.masterFd(), QSocketNotifier::Read};
    std::function<QByteArray(const QByteArray &)> answer;
    QByteArray pending;
    QList<QByteArray> heard;
    int unanswered = 0;
    int mostUnanswered = 0;
    bool holding = false;
    QList<QByteArray> held;

    PlayedProjector() {
        QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [this] {
            char buffer[512];
            for (ssize_t n; (n = ::read(pty.masterFd(), buffer, sizeof buffer)) > 0;)
                pending.append(buffer, n);
            for (qsizetype end; (end = pending.indexOf('\r')) >= 0; pending.remove(0, end + 1)) {
                const QByteArray command = pending.left(end);
                heard << command;
                mostUnanswered = std::max(mostUnanswered, ++unanswered);
                holding ? void(held << command) : reply(command);
            }
        });
    }
    void reply(const QByteArray &command) {
        QTimer::singleShot(1, &notifier, [this, command] {
            const QByteArray bytes = answer(command);
            if (bytes.isEmpty())
                return;
            --unanswered;
            pty.writeToProgram(bytes);
        });
    }
    void release() {
        holding = false;
        for (const QByteArray &command : std::exchange(held, {}))
            reply(command);
    }
};

QByteArray digest(const QByteArray &greeting, const QByteArray &password) {
    return QCryptographicHash::hash(greeting.mid(9) + password, QCryptographicHash::Md5).toHex();
}

} // namespace

class TavoPjlink : public QObject {
    Q_OBJECT

    // Started first and checked last: the real 30 s idle close runs beside the other cases.
    std::unique_ptr<Daemon> m_idleDaemon;
    std::unique_ptr<Client> m_idleClient;
    QElapsedTimer m_idleSince;

private slots:
    void initTestCase() {
        QVERIFY(!qEnvironmentVariable("TAVO_PJLINK").isEmpty());
        m_idleDaemon = std::make_unique<Daemon>(QStringList{"--port", "/nonexistent/tty", "--baud", "9600"});
        m_idleClient = std::make_unique<Client>(m_idleDaemon->port);
        QCOMPARE(m_idleClient->line(), QByteArray("PJLINK 0"));
        m_idleSince.start();
    }

    void everyMappingRowOnTheLineAndInTheAnswer() {
        struct Step {
            const char *command;
            const char *answer;
            const char *line;
        };
        const Step inStandby[] = {
            {"POWR ?", "0", "CR0"},
            {"INPT ?", "11", "CR1"}, // input 1, and no Computer 1 input chosen here yet
            {"LAMP ?", "1234 0", "CR3 CR0"},
            {"ERST ?", "000000", "CR0"},
            {"INPT 31", "ERR3", "CR0"}, // inputs and mutes only while on
            {"AVMT 31", "ERR3", "CR0"},
            {"POWR 1", "OK", "CR0 C00"},
            {"POWR ?", "3", "CR0"},
            {"POWR 0", "ERR3", "CR0"}, // warming up
        };
        const Step whileOn[] = {
            {"POWR 1", "OK", "CR0 C00"},
            {"INPT 12", "OK", "CR0 C06"}, {"INPT ?", "12", "CR1"},
            {"INPT 21", "OK", "CR0 C07"}, {"INPT ?", "21", "CR1"},
            {"INPT 22", "OK", "CR0 C34"}, {"INPT ?", "22", "CR1"},
            {"INPT 23", "OK", "CR0 C54"}, {"INPT ?", "23", "CR1"},
            {"INPT 24", "OK", "CR0 C51"}, {"INPT ?", "24", "CR1"},
            {"INPT 31", "OK", "CR0 C04"}, {"INPT ?", "31", "CR1"},
            {"INPT 11", "OK", "CR0 C50"}, {"INPT ?", "11", "CR1"},
            {"AVMT ?", "30", ""},
            {"AVMT 11", "OK", "CR0 C0D"}, {"AVMT ?", "11", ""},
            {"AVMT 10", "OK", "CR0 C0E"},
            {"AVMT 21", "OK", "CR0 C0B"}, {"AVMT ?", "21", ""},
            {"AVMT 20", "OK", "CR0 C0C"},
            {"AVMT 31", "OK", "CR0 C0D C0B"}, {"AVMT ?", "31", ""},
            {"AVMT 30", "OK", "CR0 C0E C0C"}, {"AVMT ?", "30", ""},
            {"LAMP ?", "1234 1", "CR3 CR0"},
            {"INST ?", "11 12 21 22 23 24 31", ""},
            {"NAME ?", "Room 4 projector", ""},
            {"INF1 ?", "TAVO", ""},
            {"INF2 ?", "QT735", ""},
            {"INFO ?", "", ""},
            {"CLSS ?", "1", ""},
            {"POWR 0", "OK", "CR0 C01"},
            {"POWR ?", "2", "CR0"},
            {"POWR 1", "ERR3", "CR0"}, // cooling down
            // Undefined commands and parameters out of range: nothing on the line.
            {"ABCD ?", "ERR1", ""},
            {"powr ?", "ERR1", ""},
            {"POWR 2", "ERR2", ""},
            {"POWR C00", "ERR2", ""},
            {"INPT 13", "ERR2", ""},
            {"INST 1", "ERR2", ""},
        };
        Simulator sim;
        Daemon daemon({"--port", sim.device, "--baud", "9600", "--name", "Room 4 projector"});
        Client client(daemon.port);
        QCOMPARE(client.line(), QByteArray("PJLINK 0"));
        // The answer, and the projector's commands the simulator heard for it.
        auto failure = [&](const Step &step) -> QString {
            const QByteArray expected = "%1" + QByteArray(step.command).left(4) + "=" + step.answer;
            const QByteArray answer = client.ask("%1" + QByteArray(step.command));
            const QString heard = sim.fresh();
            if (answer == expected && heard == step.line)
                return {};
            return QString("%1: answered \"%2\", the line heard \"%3\"").arg(step.command, answer, heard);
        };
        for (const Step &step : inStandby) {
            const QString why = failure(step);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
        QVERIFY(waitUntil([&] { return client.ask("%1POWR ?") == "%1POWR=1"; }, 5000));
        sim.fresh();
        for (const Step &step : whileOn) {
            const QString why = failure(step);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
        QCOMPARE(client.ask("%2POWR ?"), QByteArray("%2POWR=ERR1"));
    }

    void authenticationComesBeforeAnyCommand() {
        Simulator sim;
        QFile file(sim.dir.filePath("password"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("pass word\n"); // the newline is not part of it
        file.close();
        Daemon daemon({"--port", sim.device, "--baud", "9600", "--password-file", file.fileName()});

        Client right(daemon.port);
        const QByteArray greeting = right.line();
        QVERIFY(QRegularExpression("^PJLINK 1 [0-9a-f]{8}$").match(greeting).hasMatch());
        QCOMPARE(right.ask(digest(greeting, "pass word") + "%1POWR ?"), QByteArray("%1POWR=0"));
        QCOMPARE(right.ask("%1CLSS ?"), QByteArray("%1CLSS=1")); // the digest only once

        Client wrong(daemon.port), bare(daemon.port), replayed(daemon.port);
        const QByteArray wrongGreeting = wrong.line();
        QVERIFY(wrongGreeting != greeting);
        QCOMPARE(wrong.ask(digest(wrongGreeting, "pass word\n") + "%1POWR ?"), QByteArray("PJLINK ERRA"));
        bare.line();
        QCOMPARE(bare.ask("%1POWR ?"), QByteArray("PJLINK ERRA"));
        replayed.line();
        QCOMPARE(replayed.ask(digest(greeting, "pass word") + "%1POWR ?"), QByteArray("PJLINK ERRA"));
        for (Client *refused : {&wrong, &bare, &replayed})
            QVERIFY(refused->closedByDaemon());

        QCOMPARE(sim.fresh(), QString("CR0"));
        QCOMPARE(daemon.log.count("authentication refused"), 3);
        QVERIFY(!daemon.log.contains("pass word"));
    }

    void projectorFaultsSilenceAndAFullQueue() {
        PlayedProjector projector;
        QByteArray power = "10"; // power abnormality
        projector.answer = [&](const QByteArray &command) -> QByteArray {
            if (command == "CR0")
                return power.isEmpty() ? QByteArray() : power + '\r';
            return command == "CR3" ? "00100\r" : "\x06";
        };
        Daemon daemon({"--port", projector.pty.slavePath(), "--baud", "9600"});
        Client client(daemon.port);
        client.line();
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
        QCOMPARE(client.ask("%1ERST ?"), QByteArray("%1ERST=000002"));
        QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=ERR4"));
        QCOMPARE(projector.heard.last(), QByteArray("CR0")); // C00 never sent
        power = "88";
        QCOMPARE(client.ask("%1ERST ?"), QByteArray("%1ERST=002000"));
        QCOMPARE(client.ask("%1LAMP ?"), QByteArray("%1LAMP=100 0"));
        power = "81";
        QCOMPARE(client.ask("%1ERST ?"), QByteArray("%1ERST=020000"));
        power = "04"; // no state the panel knows
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));
        power.clear(); // silence: the reply timeout passes
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4"));

        // 64 requests may wait; the rest are refused at once, while the first is still out.
        power = "00";
        projector.holding = true;
        projector.heard.clear();
        std::vector<std::unique_ptr<Client>> crowd;
        for (int i = 0; i < 70; ++i)
            crowd.push_back(std::make_unique<Client>(daemon.port));
        for (auto &one : crowd)
            one->line();
        for (auto &one : crowd) // all at once, with no event handled in between
            one->socket.write("%1POWR ?\r");
        auto answered = [&](const char *answer) {
            return std::count_if(crowd.begin(), crowd.end(), [&](auto &one) { return one->received == answer; });
        };
        QVERIFY(waitUntil([&] { return answered("%1POWR=ERR3\r") == 6; }));
        QVERIFY(waitUntil([&] { return projector.heard.size() == 1; })); // after the hold that follows a timeout
        projector.release();
        QVERIFY(waitUntil([&] { return answered("%1POWR=1\r") == 64; }, 10000));
        QCOMPARE(projector.heard.size(), 64);
    }

    void fiftyClientsShareTheLineOneCommandAtATime() {
        PlayedProjector projector;
        int hours = 0;
        projector.answer = [&](const QByteArray &command) -> QByteArray {
            if (command == "CR3")
                return QByteArray::number(++hours).rightJustified(5, '0') + '\r';
            return command == "CR0" ? "00\r" : command == "CR1" ? "3\r" : "?\r";
        };
        Daemon daemon({"--port", projector.pty.slavePath(), "--baud", "9600"});
        // Each client asks 20 times, going round the five queries from its own place; the
        // lamp hours count up at every reading, so each reading can reach one client only.
        const QByteArray queries[] = {"LAMP", "POWR", "INPT", "ERST", "NAME"};
        const QByteArray values[] = {"", "1", "31", "000000", "TAVO QT735"};
        std::vector<std::unique_ptr<Client>> clients;
        QStringList wrong;
        std::set<int> lampHours;
        int answers = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 50; ++i) {
            Client &client = *clients.emplace_back(std::make_unique<Client>(daemon.port));
            QObject::connect(&client.socket, &QTcpSocket::readyRead, &client.socket, [&, i, asked = 0]() mutable {
                for (qsizetype end; (end = client.received.indexOf('\r')) >= 0; client.received.remove(0, end + 1)) {
                    const QByteArray answer = client.received.left(end);
                    if (!answer.startsWith("PJLINK")) { // the greeting starts the round
                        const int kind = (i + asked++) % 5;
                        const QByteArray expected = "%1" + queries[kind] + "=" + values[kind];
                        if (kind == 0 && answer.startsWith(expected) && answer.endsWith(" 1"))
                            lampHours.insert(answer.mid(7).chopped(2).toInt());
                        else if (answer != expected)
                            wrong << QString("client %1: %2").arg(i).arg(answer);
                        ++answers;
                    }
                    if (asked < 20)
                        client.socket.write("%1" + queries[(i + asked) % 5] + " ?\r");
                }
            });
        }
        QVERIFY(waitUntil([&] { return answers == 1000; }, 60000));
        const double seconds = clock.nsecsElapsed() / 1e9;
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
        QCOMPARE(int(lampHours.size()), 200); // 200 readings, none twice, none lost
        QCOMPARE(*lampHours.rbegin(), 200);
        QCOMPARE(projector.heard.size(), 1000); // LAMP 2, POWR/INPT/ERST 1, NAME 0: 5 per 5 queries
        QCOMPARE(projector.mostUnanswered, 1);
        qInfo("50 clients x 20 queries: %.2f s, %.0f queries/s", seconds, 1000 / seconds);
    }

    void hostileInputLeavesTheDaemonServing() {
        Simulator sim;
        Daemon daemon({"--port", sim.device, "--baud", "9600"});
        auto stillServes = [&] {
            Client client(daemon.port);
            client.line();
            return client.ask("%1POWR ?") == "%1POWR=0";
        };
        QVERIFY(waitUntil([&] { return daemon.log.contains("projector line: opened"); }));
        const int filesBefore = daemon.openFiles();
        auto closesAfter = [&](const QByteArray &bytes) {
            Client client(daemon.port);
            client.line();
            client.socket.write(bytes);
            return client.closedByDaemon();
        };
        QRandomGenerator random(735);
        for (int i = 0; i < 10; ++i) {
            QByteArray noise(65536, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
            noise[0] = '\0'; // no header the noise could happen to make
            QVERIFY(closesAfter(noise));
        }
        QVERIFY(closesAfter(QByteArray(1 << 20, 'A')));
        QVERIFY(closesAfter("%1NAME " + QByteArray(129, 'x') + '\r')); // 137 bytes with its CR

        {
            Client client(daemon.port);
            client.line();
            QCOMPARE(client.ask("%1NAME " + QByteArray(128, 'x')), QByteArray("%1NAME=ERR2")); // 136 bytes
            QCOMPARE(client.ask("%1POWR \x01"), QByteArray("%1POWR=ERR1"));
            QCOMPARE(client.ask("%1POWR ?\x80"), QByteArray("%1POWR=ERR1"));
            QCOMPARE(client.ask("%1POWR ?\r\n%1INPT ?"), QByteArray("%1POWR=0")); // CR LF clients
            QCOMPARE(client.line(), QByteArray("%1INPT=11"));
        }
        { // half a line, then gone; a whole query, then gone before its answer
            Client half(daemon.port), early(daemon.port);
            half.socket.write("%1PO");
            early.socket.write("%1LAMP ?\r");
            QVERIFY(half.socket.waitForBytesWritten(1000) && early.socket.waitForBytesWritten(1000));
        }
        for (int round = 0; round < 10; ++round) { // a thousand connects and drops
            std::vector<std::unique_ptr<QTcpSocket>> sockets;
            for (int i = 0; i < 100; ++i) {
                sockets.push_back(std::make_unique<QTcpSocket>());
                sockets.back()->connectToHost(QHostAddress::LocalHost, daemon.port);
            }
            for (auto &socket : sockets)
                socket->waitForConnected(1000);
        }
        // Every connection let go of, and the daemon still there for the next client.
        QVERIFY2(waitUntil([&] { return daemon.openFiles() <= filesBefore; }, 5000),
                 qPrintable(QString("%1 files open, %2 before").arg(daemon.openFiles()).arg(filesBefore)));
        QVERIFY(stillServes());
        // Only mapped commands ever reached the line.
        for (const QString &command : sim.fresh().split(' '))
            QVERIFY2(command == "CR0" || command == "CR1" || command == "CR3", qPrintable(command));
    }

    void lostPortAnswersErr4UntilTheDeviceIsBack() {
        QTemporaryDir dir;
        const QString link = dir.filePath("qt735");
        auto sim = std::make_unique<Simulator>(QStringList{"--link", link, "--unplug-after", "2"});
        Daemon daemon({"--port", link, "--baud", "9600"});
        Client client(daemon.port);
        client.line();
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4")); // unplugged under it
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4")); // no device to reopen
        sim = std::make_unique<Simulator>(QStringList{"--link", link});
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        QVERIFY(daemon.log.contains("projector line: answers again"));
    }

    void commandLineAsTavoSendHasIt() {
        QTemporaryDir empty;
        auto exitCode = [&](const QStringList &arguments) {
            QProcess process;
            process.setProcessEnvironment(isolated(empty.path()));
            process.start(qEnvironmentVariable("TAVO_PJLINK"), arguments);
            return process.waitForFinished(5000) ? process.exitCode() : -1;
        };
        QCOMPARE(exitCode({"--port", "/dev/null", "--port", "2"}), 64);
        QCOMPARE(exitCode({"--port", "/dev/null", "--listen", "localhost"}), 64);
        QCOMPARE(exitCode({"--port", "/dev/null", "--password", "a", "--password-file", "/dev/null"}), 64);
        QCOMPARE(exitCode({"--port", "/dev/null", "--password-file", "/nonexistent"}), 66);

        // No --port: the port and speed the panel stored.
        Simulator sim;
        QTemporaryDir config;
        QFile file(config.filePath("TAVO.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[StartUP]\nComPort=2\nBaudRate=96\n[Ports]\nCOM2=" + sim.device.toLatin1() + "\n");
        file.close();
        Daemon daemon({}, config.path());
        Client client(daemon.port);
        client.line();
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        daemon.process.terminate();
        QVERIFY(daemon.process.waitForFinished(5000));
        QCOMPARE(daemon.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.process.exitCode(), 0);
    }

    void idleConnectionClosesAfterThirtySeconds() {
        QVERIFY(m_idleClient->closedByDaemon(45000 - int(m_idleSince.elapsed())));
        QVERIFY2(m_idleSince.elapsed() > 29000, qPrintable(QString::number(m_idleSince.elapsed())));
        QVERIFY(m_idleClient->received.isEmpty());
        QVERIFY(m_idleDaemon->log.contains("closed: no command for 30 s"));
    }
};

QTEST_GUILESS_MAIN(TavoPjlink)
#include "test_tavo_pjlink.moc"
