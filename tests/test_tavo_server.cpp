// tavo-server as its clients meet it: PJLink controllers, the panel and raw clients on the
// line front end, HTTP clients. Most cases run the server in this process on the real serial
// adapter, with the projector simulator (or a projector the test plays) on a pseudo-terminal;
// the command line, memory and the idle close are tried on the program itself.
#include "LineQueue.h"
#include "PasswordGuard.h"
#include "ProjectorServer.h"
#include "PtyPair.h"
#include "TestSupport.h"
#include "exchange/Readings.h"

#include "host/PortHolder.h"
#include "http/Access.h"
#include "http/Events.h"
#include "mqtt/Topics.h"
#include "http/HttpFrontEnd.h"
#include "port_dialog/Form2.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <memory>
#include <set>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Programs run under qemu-user, or built with ThreadSanitizer, go through lines many times
// slower: cases that answer megabytes of them are left to the plain build.
bool slowBuild() {
#if defined(__SANITIZE_THREAD__)
    return true;
#else
    return !emulator().isEmpty();
#endif
}

// One simulated projector on a pseudo-terminal; fresh() tells the commands it heard since.
struct Simulator {
    QTemporaryDir dir;
    QProcess process;
    QString device;
    qsizetype seen = 0;
    explicit Simulator(QStringList arguments = {}) {
        startBuilt(process, "TAVO_PROJECTOR_SIM",
                      arguments << "--pty" << "--log" << dir.filePath("line.log"));
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            device = QString::fromLatin1(process.readLine()).trimmed().mid(4);
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
    QString fresh() {
        const QByteArray all = fileContents(dir.filePath("line.log"));
        return QString::fromLatin1(all.mid(std::exchange(seen, all.size()))).trimmed().replace('\n', ' ');
    }
    // With --announce-power: waits for "POWER <state>".
    bool announces(const QByteArray &state) {
        return waitUntil([&] {
            while (process.canReadLine())
                if (process.readLine().trimmed() == "POWER " + state)
                    return true;
            return false;
        });
    }
};

// The projector played by the test: answers each command by `answer` (empty: silence) after
// a millisecond, and counts how many commands were ever waiting at once.
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

// The server in this process, on the real serial adapter. No poll and no answers from
// memory unless a case asks for them, so every query reaches the line.
struct ServerRig {
    MemorySettingsStore settings;
    QtSerialComponent port{settings};
    std::unique_ptr<ProjectorServer> server;
    QStringList log;
    LogCapture capture{log};
    bool started = false;

    explicit ServerRig(const QString &device, const std::function<void(ServerOptions &)> &adjust = {}) {
        port.setDevice(device);
        port.setSettings(QStringLiteral("9600,N,8,1"));
        ServerOptions options;
        options.port = device;
        options.pollSeconds = 0;
        options.queue.maxAgeMs = 0;
        options.pjlink = ListenAddress{QHostAddress::LocalHost, 0};
        options.http.reset();
        if (adjust)
            adjust(options);
        server = std::make_unique<ProjectorServer>(options, port);
        QString error;
        started = server->start(&error);
        if (!started)
            qWarning("%s", qPrintable(error));
    }
    ~ServerRig() {
        server->stop();
        server.reset();
    }
    quint16 portOf(const char *frontEnd) const {
        return server->address(QLatin1String(frontEnd)).section(':', -1).toUShort();
    }
    bool logged(const QString &text) const { return log.join('\n').contains(text); }
};

// A client of a line protocol: one line out, one answer (or the close) back.
struct Client {
    QTcpSocket socket;
    QByteArray received;
    explicit Client(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    // The next line without its CR; empty once the server has closed without one.
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
    bool closedByServer(int timeoutMs = 5000) {
        return waitUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
};

QByteArray digest(const QByteArray &greeting, const QByteArray &password) {
    return QCryptographicHash::hash(greeting.mid(9) + password, QCryptographicHash::Md5).toHex();
}

QProcessEnvironment isolated(const QString &configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert("XDG_RUNTIME_DIR", configHome);
    return environment;
}

// The program itself, its PJLink front end on a free loopback port; everything it logs is kept.
struct ServerProcess {
    QTemporaryDir config;
    QProcess process;
    QByteArray log;
    quint16 port = 0;

    explicit ServerProcess(QStringList arguments, const QString &configHome = {}) {
        process.setProcessEnvironment(isolated(configHome.isEmpty() ? config.path() : configHome));
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { log += process.readAllStandardError(); });
        startBuilt(process, "TAVO_SERVER", arguments << "--http" << "off");
        (void)waitUntil([this] { return log.contains("for PJLink") || process.state() == QProcess::NotRunning; });
        port = QRegularExpression("listening on 127.0.0.1:(\\d+) for PJLink").match(log).captured(1).toUShort();
    }
    ~ServerProcess() {
        process.terminate();
        process.waitForFinished(3000);
    }
    qint64 residentKiB() const {
        const QRegularExpression rss("VmRSS:\\s+(\\d+) kB");
        return rss.match(fileContents(QStringLiteral("/proc/%1/status").arg(process.processId()))).captured(1).toLongLong();
    }
};

} // namespace

class TavoServer : public QObject {
    Q_OBJECT
private slots:
    // --- the queue ------------------------------------------------------------------------

    // One queue on the in-memory port: turns, shares, merged queries and answers from memory.
    void theQueueServesClientsInTurnAndNeverAnswersASetFromMemory() {
        FakeSerialComponent port;
        port.setPortOpen(true);
        ProjectorLine line(port, 200);
        Readings readings;
        LineQueue queue(line, readings, {3, 64, 60000, 4, 5});
        QStringList answers;
        const auto request = [&](const char *command, const QString &tag) {
            LineRequest r;
            r.commands = {QString::fromLatin1(command)};
            r.done = [&answers, tag](const QList<LineExchange> &done) { answers << tag + "=" + done.value(0).reply; };
            return r;
        };
        const auto none = LineQueue::Refusal::none;
        const auto poll = queue.addClient("poll", "poll", {}, LineQueue::Priority::background);
        QVERIFY(queue.submit(poll, request("CR6", "poll")) == none);
        // Two connections from one address share its room and its turns.
        const QHostAddress remote("192.0.2.7");
        const auto first = queue.addClient("pjlink", "first", remote);
        const auto second = queue.addClient("pjlink", "second", remote);
        QVERIFY(queue.submit(first, request("C1A", "C1A")) == none);
        QVERIFY(queue.submit(first, request("C1B", "C1B")) == none);
        QVERIFY(queue.submit(second, request("C2A", "C2A")) == none);
        QVERIFY(queue.submit(second, request("CR3", "read")) == none);
        QVERIFY(queue.submit(queue.addClient("pjlink", "third", remote), request("C3A", "")) ==
                LineQueue::Refusal::clientFull);
        const auto other = queue.addClient("pjlink", "other", QHostAddress("192.0.2.8"));
        QVERIFY(queue.submit(other, request("CR0", "first")) == none);
        // PJLink's share is full; the line front end still has room.
        QVERIFY(queue.submit(queue.addClient("pjlink", "late"), request("CR1", "")) == LineQueue::Refusal::queueFull);
        const auto greedy = queue.addClient("line", "greedy");
        for (const char *command : {"C0A", "C0B", "C0C"})
            QVERIFY(queue.submit(greedy, request(command, command)) == none);
        QVERIFY(queue.submit(greedy, request("C0D", "C0D")) == LineQueue::Refusal::clientFull);
        // A second client asking the same waits for the same exchange.
        const auto same = queue.addClient("http", "same");
        QVERIFY(queue.submit(same, request("CR0", "second")) == none);

        const QList<QByteArray> replies{"\x06", "\x06", "024.0 025.0 024.5\r", "80\r",
                                        "\x06", "\x06", "\x06", "\x06", "01234\r"};
        for (const QByteArray &reply : replies) {
            const qsizetype before = port.written.size();
            QVERIFY(waitUntil([&] { return port.written.size() > before; }));
            port.receive(reply);
        }
        // Front ends in turn, addresses within PJLink in turn, connections within an address
        // in turn; the poll, waiting, before any front end's second turn.
        QCOMPARE(port.written, QByteArray("C1A\rC0A\rCR6\rCR0\rC0B\rC2A\rC0C\rC1B\rCR3\r"));
        QVERIFY(waitUntil([&] { return answers.size() == 10; }));
        QCOMPARE(answers.mid(0, 5), (QStringList{"C1A=\x06", "C0A=\x06", "poll=024.0 025.0 024.5\r", "first=80\r",
                                                 "second=80\r"}));

        // The temperatures just read answer their query from memory; the power state read
        // before the set commands too, as none of them changes it.
        answers.clear();
        QVERIFY(queue.submit(other, request("CR6", "remembered")) == LineQueue::Refusal::none);
        QVERIFY(waitUntil([&] { return answers.size() == 1; }));
        QVERIFY(queue.submit(other, request("CR0", "kept")) == LineQueue::Refusal::none);
        QVERIFY(waitUntil([&] { return answers.size() == 2; }));
        QCOMPARE(answers, (QStringList{"remembered=024.0 025.0 024.5\r", "kept=80\r"}));
        QCOMPARE(port.written.count('\r'), 9);
        // A power command makes the power state stale, and once acknowledged the server reads
        // it again; a query meanwhile shares that read, the temperatures still answer from memory.
        QVERIFY(queue.submit(other, request("C00", "on")) == LineQueue::Refusal::none);
        QVERIFY(waitUntil([&] { return port.written.endsWith("C00\r"); }));
        port.receive("\x06");
        QVERIFY(waitUntil([&] { return port.written.endsWith("C00\rCR0\r"); }));
        QVERIFY(readings.reading(u"power").stale);
        QVERIFY(queue.submit(same, request("CR0", "shared")) == LineQueue::Refusal::none);
        QVERIFY(queue.submit(other, request("CR6", "still")) == LineQueue::Refusal::none);
        port.receive("40\r");
        QVERIFY(waitUntil([&] { return answers.size() == 5; }));
        QStringList last = answers.mid(3);
        last.sort();
        QCOMPARE(last, (QStringList{"shared=40\r", "still=024.0 025.0 024.5\r"}));
        QCOMPARE(readings.reading(u"power").value.toString(), QString("countdown"));
        QVERIFY(port.written.endsWith("C00\rCR0\r"));
    }

    // --- PJLink ---------------------------------------------------------------------------

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
            {"POWR 1", "OK", "CR0 C00 CR0"}, // the state check, the command, the power read again
            {"POWR ?", "3", "CR0"},          // warming up
            {"POWR 0", "ERR3", "CR0"},
        };
        const Step whileOn[] = {
            {"POWR 1", "OK", "CR0 C00 CR0"},
            {"INPT 12", "OK", "CR0 C06 CR1"},
            {"INPT ?", "12", "CR1"},
            {"INPT 21", "OK", "CR0 C07 CR1"},
            {"INPT ?", "21", "CR1"},
            {"INPT 22", "OK", "CR0 C34 CR1"},
            {"INPT ?", "22", "CR1"},
            {"INPT 23", "OK", "CR0 C54 CR1"},
            {"INPT ?", "23", "CR1"},
            {"INPT 24", "OK", "CR0 C51 CR1"},
            {"INPT ?", "24", "CR1"},
            {"INPT 31", "OK", "CR0 C04 CR1"},
            {"INPT ?", "31", "CR1"},
            {"INPT 11", "OK", "CR0 C50 CR1"},
            {"INPT ?", "11", "CR1"},
            {"AVMT ?", "30", ""},
            {"AVMT 11", "OK", "CR0 C0D"},
            {"AVMT ?", "11", ""},
            {"AVMT 10", "OK", "CR0 C0E"},
            {"AVMT 21", "OK", "CR0 C0B"},
            {"AVMT ?", "21", ""},
            {"AVMT 20", "OK", "CR0 C0C"},
            {"AVMT 31", "OK", "CR0 C0D C0B"},
            {"AVMT ?", "31", ""},
            {"AVMT 30", "OK", "CR0 C0E C0C"},
            {"AVMT ?", "30", ""},
            {"LAMP ?", "1234 1", "CR3 CR0"},
            {"INST ?", "11 12 21 22 23 24 31", ""},
            {"NAME ?", "Room 4 projector", ""},
            {"INF1 ?", "TAVO", ""},
            {"INF2 ?", "QT735", ""},
            {"INFO ?", "", ""},
            {"CLSS ?", "1", ""},
            {"POWR 0", "OK", "CR0 C01 CR0"},
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
        // The projector's commands the simulator heard, waiting for as many as `expected`:
        // the server's own read after a command may come just after the answer.
        const auto heardFor = [](Simulator &sim, const QString &expected) {
            QStringList heard;
            (void)waitUntil(
                [&] {
                    heard += sim.fresh().split(' ', Qt::SkipEmptyParts);
                    return heard.size() >= expected.split(' ', Qt::SkipEmptyParts).size();
                },
                2000);
            return heard.join(' ');
        };
        // The answer, and the projector's commands the simulator heard for it.
        const auto failures = [&heardFor](Simulator &sim, Client &client, const auto &steps) {
            QStringList failed;
            for (const Step &step : steps) {
                const QByteArray expected = "%1" + QByteArray(step.command).left(4) + "=" + step.answer;
                const QByteArray answer = client.ask("%1" + QByteArray(step.command));
                const QString heard = heardFor(sim, QString(step.line));
                if (answer != expected || heard != step.line)
                    failed << QString("%1: answered \"%2\", the line heard \"%3\"").arg(step.command, answer, heard);
            }
            return failed.join('\n');
        };
        const auto naming = [](ServerOptions &options) { options.pjlinkName = "Room 4 projector"; };
        { // a warm-up that outlasts the steps
            Simulator sim({"--warmup", "600000"});
            ServerRig rig(sim.device, naming);
            QVERIFY(rig.started);
            Client client(rig.portOf("pjlink"));
            QCOMPARE(client.line(), QByteArray("PJLINK 0"));
            const QString failed = failures(sim, client, inStandby);
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        }
        // On at once, and a cool-down that outlasts the steps.
        Simulator sim({"--warmup", "0", "--cooldown", "600000", "--announce-power"});
        ServerRig rig(sim.device, naming);
        Client client(rig.portOf("pjlink"));
        client.line();
        QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=OK"));
        QVERIFY(sim.announces("on"));
        QCOMPARE(heardFor(sim, "CR0 C00 CR0"), QString("CR0 C00 CR0"));
        const QString failed = failures(sim, client, whileOn);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QCOMPARE(client.ask("%2POWR ?"), QByteArray("%2POWR=ERR1"));
    }

    void authenticationComesBeforeAnyCommand() {
        Simulator sim;
        ServerRig rig(sim.device, [](ServerOptions &options) { options.pjlinkSession.password = "pass word"; });
        Client right(rig.portOf("pjlink"));
        const QByteArray greeting = right.line();
        QVERIFY(QRegularExpression("^PJLINK 1 [0-9a-f]{8}$").match(greeting).hasMatch());
        QCOMPARE(right.ask(digest(greeting, "pass word") + "%1POWR ?"), QByteArray("%1POWR=0"));
        QCOMPARE(right.ask("%1CLSS ?"), QByteArray("%1CLSS=1")); // the digest only once

        Client wrong(rig.portOf("pjlink")), bare(rig.portOf("pjlink")), replayed(rig.portOf("pjlink"));
        const QByteArray wrongGreeting = wrong.line();
        QVERIFY(wrongGreeting != greeting);
        QCOMPARE(wrong.ask(digest(wrongGreeting, "pass word\n") + "%1POWR ?"), QByteArray("PJLINK ERRA"));
        bare.line();
        QCOMPARE(bare.ask("%1POWR ?"), QByteArray("PJLINK ERRA"));
        replayed.line();
        QCOMPARE(replayed.ask(digest(greeting, "pass word") + "%1POWR ?"), QByteArray("PJLINK ERRA"));
        for (Client *refused : {&wrong, &bare, &replayed})
            QVERIFY(refused->closedByServer());
        QCOMPARE(sim.fresh(), QString("CR0"));
        QCOMPARE(rig.log.filter("wrong password from 127.0.0.1").size(), 1);
        QVERIFY(!rig.logged("pass word"));

        // Five wrong passwords within a minute: from then on the address's attempts are judged
        // one at a time, each once a delay has passed, and the log counts them once a minute.
        for (int i = 0; i < 2; ++i) {
            Client again(rig.portOf("pjlink"));
            again.line();
            QCOMPARE(again.ask("%1POWR ?"), QByteArray("PJLINK ERRA"));
        }
        PasswordGuard &guard = rig.server->pjlink()->guard();
        QVERIFY(guard.waitMs(QHostAddress::LocalHost) > 0);
        Client sixth(rig.portOf("pjlink")), late(rig.portOf("pjlink"));
        sixth.line();
        const QByteArray lateGreeting = late.line();
        sixth.socket.write("%1POWR ?\r");
        late.socket.write(digest(lateGreeting, "pass word") + "%1POWR ?\r");
        QCOMPARE(right.ask("%1CLSS ?"), QByteArray("%1CLSS=1")); // both have reached the server meanwhile
        QVERIFY(sixth.received.isEmpty() && late.received.isEmpty());
        guard.delayPassed(QHostAddress::LocalHost);
        QCOMPARE(sixth.line(), QByteArray("PJLINK ERRA"));
        QVERIFY(guard.waitMs(QHostAddress::LocalHost) > 0); // the right one waits for the next delay
        guard.minutePassed();
        QVERIFY(rig.logged("pjlink: 5 more wrong passwords from 127.0.0.1 in the last minute; its attempts now wait 2 s"));
        guard.delayPassed(QHostAddress::LocalHost);
        QCOMPARE(late.line(), QByteArray("%1POWR=0"));
        QCOMPARE(rig.log.filter("wrong password").size(), 2);
    }

    void projectorFaultsSilenceAndAFullQueue() {
        PlayedProjector projector;
        QByteArray power = "10"; // power abnormality
        projector.answer = [&](const QByteArray &command) -> QByteArray {
            if (command == "CR0")
                return power.isEmpty() ? QByteArray() : power + '\r';
            return command == "CR3" ? "00100\r" : "\x06";
        };
        ServerRig rig(projector.pty.slavePath());
        Client client(rig.portOf("pjlink"));
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

        // PJLink's share of the queue, 16 requests on the line and waiting; the rest are
        // refused at once.
        power = "80";
        QVERIFY(waitUntil([&] { return !rig.server->queue().line().holdingBack(); }));
        const auto crowdAsks = [&](int count, const QByteArray &command) {
            projector.holding = true;
            projector.heard.clear();
            std::vector<std::unique_ptr<Client>> crowd;
            for (int i = 0; i < count; ++i)
                crowd.push_back(std::make_unique<Client>(rig.portOf("pjlink")));
            for (auto &one : crowd)
                one->line();
            for (auto &one : crowd) // all at once, with no event handled in between
                one->socket.write(command + '\r');
            return crowd;
        };
        const auto answered = [](const auto &crowd, const char *answer) {
            return std::count_if(crowd.begin(), crowd.end(), [&](auto &one) { return one->received == answer; });
        };
        {
            const auto crowd = crowdAsks(20, "%1POWR 1");
            QVERIFY(waitUntil([&] { return answered(crowd, "%1POWR=ERR3\r") == 4; }));
            QVERIFY(waitUntil([&] { return projector.heard.size() == 1; }));
            projector.release();
            QVERIFY(waitUntil([&] { return answered(crowd, "%1POWR=OK\r") == 16; }, 10000));
            QCOMPARE(projector.heard.count("C00"), 16); // set commands are never merged
        }
        { // the same query asked 41 times at once: those waiting share one exchange
            const auto crowd = crowdAsks(41, "%1POWR ?");
            QVERIFY(waitUntil([&] { return projector.heard.size() == 1; }));
            projector.release();
            QVERIFY(waitUntil([&] { return answered(crowd, "%1POWR=0\r") == 41; }, 10000));
            QVERIFY2(projector.heard.size() <= 2, qPrintable(QString::number(projector.heard.size())));
        }
    }

    void fiftyClientsShareTheLineOneCommandAtATime() {
        PlayedProjector projector;
        int hours = 0;
        projector.answer = [&](const QByteArray &command) -> QByteArray {
            if (command == "CR3")
                return QByteArray::number(++hours).rightJustified(5, '0') + '\r';
            return command == "CR0" ? "00\r" : command == "CR1" ? "3\r" : "?\r";
        };
        ServerRig rig(projector.pty.slavePath());
        // Each client asks 20 times, going round the five queries from its own place; the
        // lamp hours count up at every reading, so a reading can reach only those who asked.
        const QByteArray queries[] = {"LAMP", "POWR", "INPT", "ERST", "NAME"};
        const QByteArray values[] = {"", "1", "31", "000000", "TAVO QT735"};
        std::vector<std::unique_ptr<Client>> clients;
        QStringList wrong;
        std::set<int> lampHours;
        int answers = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 50; ++i) {
            Client &client = *clients.emplace_back(std::make_unique<Client>(rig.portOf("pjlink")));
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
        QVERIFY(!lampHours.empty() && *lampHours.rbegin() == hours); // the last reading reached its askers
        QCOMPARE(projector.mostUnanswered, 1);
        qInfo("50 clients x 20 queries: %.2f s, %.0f queries/s, %lld commands on the line", seconds, 1000 / seconds,
              qlonglong(projector.heard.size()));
    }

    // 120 PJLink connections set the input over and over: PJLink's share of the queue fills
    // and the rest are refused, yet an HTTP command gets its turn and the poll its rounds.
    void aFloodOnOneFrontEndLeavesTheOthersTheirTurn() {
        Simulator sim({"--pace"});
        ServerRig rig(sim.device, [](ServerOptions &options) {
            options.http = ListenAddress{QHostAddress::LocalHost, 0};
            options.pollSeconds = 1;
        });
        int pollRounds = 0;
        QObject::connect(&rig.server->queue(), &LineQueue::exchanged, &rig.server->queue(),
                         [&](const LineExchange &exchange, const QString &frontEnd) {
                             pollRounds += frontEnd == "poll" && exchange.command == "CR3";
                         });
        std::vector<std::unique_ptr<Client>> flood;
        int answers = 0;
        for (int i = 0; i < 120; ++i) {
            Client &client = *flood.emplace_back(std::make_unique<Client>(rig.portOf("pjlink")));
            QObject::connect(&client.socket, &QTcpSocket::readyRead, &client.socket, [&] {
                for (qsizetype end; (end = client.received.indexOf('\r')) >= 0; client.received.remove(0, end + 1)) {
                    answers += client.received.startsWith("%1INPT=");
                    client.socket.write("%1INPT 31\r");
                }
            });
        }
        QVERIFY(waitUntil([&] { return answers > 1000; }, 20000));
        const int roundsBefore = pollRounds;

        QNetworkAccessManager web;
        QNetworkRequest post(QUrl(QStringLiteral("http://127.0.0.1:%1/api/commands").arg(rig.portOf("http"))));
        post.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply *reply = web.post(post, R"({"command": "freeze-on"})");
        QVERIFY(waitUntil([&] { return reply->isFinished(); }, 20000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QCOMPARE(QJsonDocument::fromJson(reply->readAll()).object()["command"].toString(), QString("C43"));
        reply->deleteLater();

        QVERIFY(waitUntil([&] { return pollRounds >= roundsBefore + 2; }, 20000));
        const int answersBefore = answers;
        QVERIFY(waitUntil([&] { return answers > answersBefore + 100; })); // the flood goes on
    }

    void hostileInputLeavesTheServerServing() {
        Simulator sim;
        ServerRig rig(sim.device,
                      [](ServerOptions &options) { options.line = ListenAddress{QHostAddress::LocalHost, 0}; });
        const quint16 port = rig.portOf("pjlink");
        auto stillServes = [&] {
            Client client(port);
            client.line();
            return client.ask("%1POWR ?") == "%1POWR=0";
        };
        QVERIFY(waitUntil([&] { return rig.logged("projector line: opened"); }));
        const auto openFiles = [] { return QDir("/proc/self/fd").count(); };
        const auto filesBefore = openFiles();
        auto closesAfter = [&](const QByteArray &bytes) {
            Client client(port);
            client.line();
            client.socket.write(bytes);
            return client.closedByServer();
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
            Client client(port);
            client.line();
            QCOMPARE(client.ask("%1NAME " + QByteArray(128, 'x')), QByteArray("%1NAME=ERR2")); // 136 bytes
            QCOMPARE(client.ask("%1POWR \x01"), QByteArray("%1POWR=ERR1"));
            QCOMPARE(client.ask("%1POWR ?\x80"), QByteArray("%1POWR=ERR1"));
            QCOMPARE(client.ask("%1POWR ?\r\n%1INPT ?"), QByteArray("%1POWR=0")); // CR LF clients
            QCOMPARE(client.line(), QByteArray("%1INPT=11"));
        }
        { // half a line, then gone; a whole query, then gone before its answer
            Client half(port), early(port);
            half.socket.write("%1PO");
            early.socket.write("%1LAMP ?\r");
            QVERIFY(waitUntil([&] { return half.socket.bytesToWrite() == 0 && early.socket.bytesToWrite() == 0; }));
        }
        { // on the line front end, a command with a control character inside is never sent
            Client raw(rig.portOf("line"));
            raw.socket.write("CR0\nC00\r");
            QCOMPARE(raw.ask("CR3"), QByteArray("01234"));
            QVERIFY(rig.logged("\" C R 0  [LF]  C 0 0 \" refused, a control character inside"));
        }
        for (int round = 0; round < 10; ++round) { // a thousand connects and drops
            std::vector<std::unique_ptr<QTcpSocket>> sockets;
            for (int i = 0; i < 100; ++i) {
                sockets.push_back(std::make_unique<QTcpSocket>());
                sockets.back()->connectToHost(QHostAddress::LocalHost, port);
            }
            QVERIFY(waitUntil([&] {
                return std::all_of(sockets.begin(), sockets.end(), [](auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
            }));
        }
        // Every connection let go of, and the server still there for the next client.
        QVERIFY2(waitUntil([&] { return openFiles() <= filesBefore; }),
                 qPrintable(QString("%1 files open, %2 before").arg(openFiles()).arg(filesBefore)));
        QVERIFY(stillServes());
        // Only mapped commands ever reached the line.
        for (const QString &command : sim.fresh().split(' '))
            QVERIFY2(command == "CR0" || command == "CR1" || command == "CR3", qPrintable(command));
    }

    // A client that sends its last line and closes its sending side still gets the answer;
    // a client that sends and never reads makes the server hold no more than a bounded amount;
    // one address may hold only so many connections.
    void clientsAreAnsweredAndBounded() {
        Simulator sim;
        ServerRig rig(sim.device, [](ServerOptions &options) {
            options.pjlinkConnections.perAddress = 3;
            options.pjlinkConnections.loopbackExempt = false;
            options.pjlinkSession.limits.idleMs = 300;
        });
        const quint16 port = rig.portOf("pjlink");
        {
            Client halfClosed(port);
            halfClosed.line();
            halfClosed.socket.write("%1POWR ?\r%1LAMP ?\r");
            QVERIFY(waitUntil([&] { return halfClosed.socket.bytesToWrite() == 0; }));
            ::shutdown(int(halfClosed.socket.socketDescriptor()), SHUT_WR);
            QVERIFY(halfClosed.closedByServer());
            QCOMPARE(halfClosed.received, QByteArray("%1POWR=0\r%1LAMP=1234 0\r"));
        }
        {
            Client a(port), b(port), c(port), d(port);
            QVERIFY(d.closedByServer());
            QVERIFY(d.received.isEmpty());
            QCOMPARE(a.line(), QByteArray("PJLINK 0"));
            QVERIFY(rig.logged("3 connections open from that address"));
        }
        QVERIFY(waitUntil([&] { return rig.server->clients("pjlink") == 0; }));
        if (slowBuild())
            QSKIP("4 MB of lines answered before the idle close: half a minute for an emulated or thread-checked server");
        { // 4 MB of queries, never read: the server stops taking lines, then closes it for idling
            QTcpSocket flood;
            flood.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(flood.waitForConnected(3000));
            flood.setReadBufferSize(1); // takes nothing, so the server's answers pile up on its side
            QByteArray queries;
            while (queries.size() < 4 * 1024 * 1024)
                queries += "%1NAME ?\r";
            flood.write(queries);
            QVERIFY(waitUntil([&] { return rig.logged("closed: no command for 0.3 s"); }, 15000));
            QVERIFY(waitUntil([&] { return rig.server->clients("pjlink") == 0; }, 15000)); // gone for real
        }
    }

    void lostPortAnswersErr4UntilTheDeviceIsBack() {
        QTemporaryDir dir;
        const QString link = dir.filePath("qt735");
        auto sim = std::make_unique<Simulator>(QStringList{"--link", link, "--unplug-after", "2"});
        ServerRig rig(link);
        Client client(rig.portOf("pjlink"));
        client.line();
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4")); // unplugged under it
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4")); // no device to reopen
        sim = std::make_unique<Simulator>(QStringList{"--link", link});
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        QVERIFY(rig.logged("projector line: answers again"));
    }

    // A projector whose first reply comes after the timeout: that reply is nobody's answer,
    // through tavo-send and through the server alike.
    void aLateReplyIsNeverAnotherCommandsAnswer() {
        const QStringList slowToWake{"--first-reply-delay", "1100", "--reply-delay", "200"};
        {
            Simulator sim(slowToWake);
            QProcess send;
            startBuilt(send, "TAVO_SEND",
                       {"-p", sim.device, "-b", "9600", "--json", "status", "lamp-time", "temp", "input-mode"});
            QVERIFY(send.waitForFinished(20000));
            QCOMPARE(send.exitCode(), 1);
            const QList<QByteArray> lines = send.readAllStandardOutput().trimmed().split('\n');
            QCOMPARE(lines.size(), 4);
            const QJsonObject status = QJsonDocument::fromJson(lines[0]).object();
            QCOMPARE(status["ok"].toBool(), false);
            const QStringList expected{"", "01234\r", "025.0 026.0 025.5\r", "1\r"};
            for (int i = 1; i < 4; ++i) {
                const QJsonObject object = QJsonDocument::fromJson(lines[i]).object();
                QCOMPARE(object["reply"].toString(), expected[i]);
                QVERIFY(object["ok"].toBool());
            }
        }
        {
            Simulator sim(slowToWake);
            ServerRig rig(sim.device);
            Client client(rig.portOf("pjlink"));
            client.line();
            QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=ERR4")); // its reply comes too late
            QCOMPARE(client.ask("%1LAMP ?"), QByteArray("%1LAMP=1234 0"));
            QCOMPARE(client.ask("%1INPT ?"), QByteArray("%1INPT=11"));
            QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=OK"));
        }
    }

    // --- the line front end ---------------------------------------------------------------

    // The panel through the line front end, a PJLink client and the poll at once: every
    // reply reaches the one who asked. Two raw clients hammering never see each other's.
    void nothingCrossesBetweenClients() {
        if (!emulator().isEmpty())
            QSKIP("700 exchanges within 30 s: more than an emulated server keeps up with");
        PlayedProjector projector;
        int readings = 0; // every reading differs from every other
        projector.answer = [&](const QByteArray &command) -> QByteArray {
            ++readings;
            if (command == "CR3")
                return QByteArray::number(10000 + readings) + '\r';
            if (command == "CR6")
                return QByteArray::number(100 + readings % 900).rightJustified(3, '0') + ".0 030.0 031.0\r";
            if (command == "CR0")
                return "00\r";
            if (command == "CR1")
                return "3\r";
            return "\x06";
        };
        ServerRig rig(projector.pty.slavePath(), [](ServerOptions &options) {
            options.line = ListenAddress{QHostAddress::LocalHost, 0};
            options.http = ListenAddress{QHostAddress::LocalHost, 0};
            options.pollSeconds = 1;
        });
        const QString line = QStringLiteral("socket://127.0.0.1:%1").arg(rig.portOf("line"));

        // Two raw clients: one reads lamp hours, one temperatures, as fast as they can.
        struct Raw {
            std::unique_ptr<Client> client;
            QByteArray query;
            int answers = 0;
            QStringList wrong;
        };
        Raw raws[2] = {{std::make_unique<Client>(rig.portOf("line")), "CR3", 0, {}},
                       {std::make_unique<Client>(rig.portOf("line")), "CR6", 0, {}}};
        for (Raw &raw : raws) {
            QObject::connect(&raw.client->socket, &QTcpSocket::readyRead, &raw.client->socket, [&raw] {
                for (qsizetype end; (end = raw.client->received.indexOf('\r')) >= 0;
                     raw.client->received.remove(0, end + 1)) {
                    const QByteArray reply = raw.client->received.left(end);
                    const bool fits = raw.query == "CR3" ? reply.size() == 5 : reply.size() == 17;
                    if (!fits)
                        raw.wrong << QString::fromLatin1(reply);
                    if (++raw.answers < 300)
                        raw.client->socket.write(raw.query + '\r');
                }
            });
            raw.client->socket.write(raw.query + '\r');
        }
        // A PJLink controller polling power and lamp.
        Client controller(rig.portOf("pjlink"));
        controller.line();
        int pjlinkAnswers = 0;
        QStringList pjlinkWrong;
        QObject::connect(&controller.socket, &QTcpSocket::readyRead, &controller.socket, [&] {
            for (qsizetype end; (end = controller.received.indexOf('\r')) >= 0; controller.received.remove(0, end + 1)) {
                const QByteArray answer = controller.received.left(end);
                const bool lamp = pjlinkAnswers % 2 == 0;
                if (lamp ? !QRegularExpression("^%1LAMP=1\\d{4} 1$").match(answer).hasMatch() : answer != "%1POWR=1")
                    pjlinkWrong << QString::fromLatin1(answer);
                if (++pjlinkAnswers < 100)
                    controller.socket.write(pjlinkAnswers % 2 == 0 ? "%1LAMP ?\r" : "%1POWR ?\r");
            }
        });
        controller.socket.write("%1LAMP ?\r");
        // The panel on the same server, reading status and lamp hours between them.
        DeviceRig panel(line);
        MessageBoxCloser boxes;
        panel.form->Form_Load();
        QVERIFY(waitUntil([&] { return panel.port.portOpen(); }));
        QLabel *statusBox = panel.form->Label25;
        QStringList panelWrong;
        // And a monitoring system scraping the metrics all the while.
        QNetworkAccessManager web;
        int scrapes = 0;
        const QUrl metrics(QStringLiteral("http://127.0.0.1:%1/metrics").arg(rig.portOf("http")));
        for (int i = 0; i < 10; ++i) {
            QNetworkReply *scrape = web.get(QNetworkRequest(metrics));
            QObject::connect(scrape, &QNetworkReply::finished, scrape, [&scrapes, scrape] {
                scrapes += scrape->readAll().contains("tavo_up 1");
                scrape->deleteLater();
            });
            const bool lamp = i % 2;
            panel.click(lamp ? "Command46" : "Command44");
            const bool decoded = waitUntil([&] {
                return lamp ? statusBox->text().endsWith("Hour Use") : statusBox->text() == " Power ON";
            });
            if (!decoded)
                panelWrong << statusBox->text();
            panel.form->Timer4_Timer(); // clears the display for the next one
        }
        // A held button: every tick of the panel's repeat timer reaches the projector.
        const qsizetype volumeBefore = projector.heard.count("C09");
        QTest::mousePress(panel.button("Command1"), Qt::LeftButton); // Volume up
        for (int tick = 0; tick < 10; ++tick)
            panel.form->Timer1_Timer();
        QTest::mouseRelease(panel.button("Command1"), Qt::LeftButton);
        QVERIFY(waitUntil([&] { return projector.heard.count("C09") == volumeBefore + 11; }));
        QVERIFY(waitUntil([&] { return raws[0].answers == 300 && raws[1].answers == 300 && pjlinkAnswers == 100; }, 30000));
        QCOMPARE(scrapes, 10);
        QVERIFY2(panelWrong.isEmpty(), qPrintable(panelWrong.join(" | ")));
        QVERIFY2(pjlinkWrong.isEmpty(), qPrintable(pjlinkWrong.join(" | ")));
        QVERIFY2(raws[0].wrong.isEmpty() && raws[1].wrong.isEmpty(),
                 qPrintable((raws[0].wrong + raws[1].wrong).join(" | ")));
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(projector.mostUnanswered, 1);
    }

    // --- HTTP -----------------------------------------------------------------------------

    void theHttpApiAnswersAsTavoSendDoes() {
        Simulator sim;
        ServerRig rig(sim.device, [](ServerOptions &options) {
            options.http = ListenAddress{QHostAddress::LocalHost, 0};
            options.pollSeconds = 60; // one round at start
            options.queue.maxAgeMs = 1000;
        });
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(rig.portOf("http"));
        QNetworkAccessManager web;
        const auto call = [&](QNetworkRequest request, const QByteArray &method, const QByteArray &body = {}) {
            QNetworkReply *reply = web.sendCustomRequest(request, method, body);
            (void)waitUntil([reply] { return reply->isFinished(); });
            reply->deleteLater();
            return std::pair{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
        };
        QWebSocket events;
        QList<QJsonObject> received;
        QObject::connect(&events, &QWebSocket::textMessageReceived, &events,
                         [&](const QString &text) { received << QJsonDocument::fromJson(text.toUtf8()).object(); });
        events.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(rig.portOf("http"))));
        QVERIFY(waitUntil([&] { return !received.isEmpty(); }));
        QCOMPARE(received.first()["type"].toString(), QString("status"));

        QVERIFY(waitUntil([&] { return rig.server->readings().reading(u"temperatures").taken.isValid(); }));
        const auto [statusCode, statusBody] = call(QNetworkRequest(QUrl(base + "/api/status")), "GET");
        QCOMPARE(statusCode, 200);
        const QJsonObject status = QJsonDocument::fromJson(statusBody).object();
        QCOMPARE(status["power"]["value"].toString(), QString("standby"));
        QCOMPARE(status["lamp_hours"]["value"].toInt(), 1234);
        QCOMPARE(status["temperatures"]["value"].toArray().size(), 3);
        QCOMPARE(status["input"]["status"].toString(), QString("Input 1"));
        QVERIFY(status["power"]["age"].toDouble() >= 0);
        QCOMPARE(status["line"]["answers"].toBool(), true);

        QNetworkRequest post(QUrl(base + "/api/commands"));
        post.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        const auto [setCode, setBody] = call(post, "POST", R"({"command": "power-on"})");
        QCOMPARE(setCode, 200);
        const QJsonObject set = QJsonDocument::fromJson(setBody).object();
        QCOMPARE(set.keys(), (QStringList{"action", "command", "error", "ms", "ok", "port", "reply", "sent", "shown",
                                          "status", "value"}));
        QCOMPARE(set["command"].toString(), QString("C00"));
        QCOMPARE(set["ok"].toBool(), true);
        // The power state is looked at first, and read again once the command is acknowledged.
        QVERIFY(waitUntil([&] { return rig.server->readings().reading(u"power").value == "countdown"; }));
        QVERIFY2(sim.fresh().endsWith("CR0 C00 CR0"), "the state check, the command, the power read again");
        const auto [queryCode, queryBody] = call(post, "POST", R"({"command": "CR0"})");
        QCOMPARE(QJsonDocument::fromJson(queryBody).object()["value"].toString(), QString("countdown"));
        const auto [refusedCode, refusedBody] = call(post, "POST", R"({"command": "XX"})");
        QCOMPARE(QJsonDocument::fromJson(refusedBody).object()["ok"].toBool(), false);
        QCOMPARE(call(post, "POST", R"({"command": "Power-On"})").first, 400);

        // Every exchange reaches the events socket, whoever caused it.
        Client controller(rig.portOf("pjlink"));
        controller.line();
        QCOMPARE(controller.ask("%1INPT ?"), QByteArray("%1INPT=11"));
        QVERIFY(waitUntil([&] {
            return std::any_of(received.begin(), received.end(), [](const QJsonObject &event) {
                return event["front_end"] == "pjlink" && event["result"]["command"] == "CR1" &&
                       event["transcript"]["rx"] == " 1  [CR] " && event["transcript"]["status_box"] == " Input 1";
            });
        }));

        const auto [metricsCode, metrics] = call(QNetworkRequest(QUrl(base + "/metrics")), "GET");
        QCOMPARE(metricsCode, 200);
        QVERIFY(metrics.contains("\ntavo_lamp_seconds 4442400\n"));
        // The input is answered from its reading while that is recent, else from the line.
        QVERIFY(metrics.contains("tavo_commands_total{front_end=\"pjlink\"} 1\n") !=
                metrics.contains("tavo_answers_from_memory_total{front_end=\"pjlink\"} 1\n"));
        QVERIFY(metrics.contains("tavo_power_state{state=\"countdown\"} 1\n"));
        QVERIFY(metrics.contains("tavo_clients{front_end=\"events\"} 1\n"));

        // A page of another site, and a name this server is not known by.
        QNetworkRequest foreign = post;
        foreign.setRawHeader("Origin", "http://192.0.2.66");
        QCOMPARE(call(foreign, "POST", R"({"command": "power-off"})").first, 403);
        QNetworkRequest rebound(QUrl(base + "/api/status"));
        rebound.setRawHeader("Host", "attacker.example:8735");
        QCOMPARE(call(rebound, "GET").first, 421);
        QVERIFY(!sim.fresh().contains("C01"));
    }

    // Each answer to the input query as the panel's status box shows it, and named by the
    // one input table wherever it goes to another program; an answer outside 1 to 5 is unknown.
    void inputsAreNamedByOneTable_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QJsonValue>("statusBox"); // null: the box stays as it is
        QTest::addColumn<QJsonValue>("name");      // null: unknown
        QTest::addColumn<QByteArray>("select");    // the MQTT select's state
        QTest::addColumn<QByteArray>("pjlink");
        QTest::newRow("1") << QByteArray("1") << QJsonValue(" Input 1") << QJsonValue("Computer 1")
                           << QByteArray("Computer 1") << QByteArray("11");
        QTest::newRow("2") << QByteArray("2") << QJsonValue(" Input 2") << QJsonValue("Computer 2")
                           << QByteArray("Computer 2") << QByteArray("12");
        QTest::newRow("3") << QByteArray("3") << QJsonValue(" Input 3") << QJsonValue("HDMI") << QByteArray("HDMI")
                           << QByteArray("31");
        QTest::newRow("4") << QByteArray("4") << QJsonValue(" Wired") << QJsonValue("Video") << QByteArray("Video")
                           << QByteArray("21");
        QTest::newRow("5") << QByteArray("5") << QJsonValue(" Wireless/Viewer") << QJsonValue("S-VIDEO")
                           << QByteArray("S-VIDEO") << QByteArray("22");
        QTest::newRow("unknown") << QByteArray("6") << QJsonValue() << QJsonValue() << QByteArray("None")
                                 << QByteArray("ERR4");
    }
    void inputsAreNamedByOneTable() {
        QFETCH(QByteArray, reply);
        QFETCH(QJsonValue, statusBox);
        QFETCH(QJsonValue, name);
        QFETCH(QByteArray, select);
        QFETCH(QByteArray, pjlink);
        PlayedProjector projector;
        projector.answer = [&](const QByteArray &) { return reply + '\r'; };
        ServerRig rig(projector.pty.slavePath(), [](ServerOptions &options) {
            options.http = ListenAddress{QHostAddress::LocalHost, 0};
        });
        QJsonValue shownInBox;
        QObject::connect(&rig.server->queue(), &LineQueue::exchanged, rig.server.get(),
                         [&](const LineExchange &exchange) {
                             const QJsonObject transcript = transcriptOf(exchange);
                             shownInBox = transcript.contains("status_box") ? transcript["status_box"] : QJsonValue();
                         });
        Client client(rig.portOf("pjlink"));
        client.line();
        QCOMPARE(client.ask("%1INPT ?"), "%1INPT=" + pjlink);
        QCOMPARE(shownInBox, statusBox);
        QNetworkAccessManager web;
        QNetworkReply *status =
            web.get(QNetworkRequest(QUrl(QString("http://127.0.0.1:%1/api/status").arg(rig.portOf("http")))));
        QVERIFY(waitUntil([status] { return status->isFinished(); }));
        QCOMPARE(QJsonDocument::fromJson(status->readAll())["input"]["value"], name);
        delete status;
        const QList<mqtt::Message> state =
            mqtt::stateMessages(mqtt::Topics("tavo/t"), rig.server->readings().reading(u"input"));
        QCOMPARE(state.size(), 1);
        QCOMPARE(state[0].payload, select);
    }

    // Wrong passwords slow their address down; a session's cookie stands for the password on
    // the events socket and every change until it is ended; behind a proxy on loopback, the
    // address and scheme it names are the client's.
    void httpGuessingSessionsAndAProxyInFront() {
        Simulator sim;
        ServerRig rig(sim.device, [](ServerOptions &options) {
            options.http = ListenAddress{QHostAddress::LocalHost, 0};
            options.httpRules.password = "secret";
            options.httpRules.publicOrigin = "https://projector.example";
        });
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(rig.portOf("http"));
        QNetworkAccessManager web;
        const auto call = [&](const QByteArray &method, const char *path, const QByteArray &body,
                              const QList<std::pair<QByteArray, QByteArray>> &headers) {
            QNetworkRequest request(QUrl(base + path));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
            for (const auto &[name, value] : headers)
                request.setRawHeader(name, value);
            QNetworkReply *reply = web.sendCustomRequest(request, method, body);
            (void)waitUntil([reply] { return reply->isFinished(); });
            reply->deleteLater();
            return std::tuple{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                              reply->rawHeader("Retry-After"), reply->rawHeader("Set-Cookie")};
        };
        const QByteArray powerOff = R"({"command": "power-off"})";
        for (int i = 0; i < 5; ++i)
            QCOMPARE(std::get<0>(call("POST", "/api/commands", powerOff, {{"Authorization", "Bearer guess"}})), 401);
        const auto [slowed, retryAfter, none] =
            call("POST", "/api/session", R"({"password": "secret"})", {});
        QCOMPARE(slowed, 429);
        QVERIFY(retryAfter.toInt() >= 1);
        rig.server->http()->guard().delayPassed(QHostAddress::LocalHost);
        const auto [opened, noWait, cookie] = call("POST", "/api/session", R"({"password": "secret"})", {});
        QCOMPARE(opened, 200);
        QVERIFY(QRegularExpression("^tavo_session=[0-9a-f]{64}; Path=/; Max-Age=86400; HttpOnly; SameSite=Strict$")
                    .match(cookie)
                    .hasMatch());
        const QByteArray session = cookie.split(';').first();

        // The events socket with the cookie alone: a held arrow goes to the line.
        QWebSocket events;
        QNetworkRequest handshake(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(rig.portOf("http"))));
        handshake.setRawHeader("Cookie", session);
        events.open(handshake);
        QVERIFY(waitUntil([&] { return events.state() == QAbstractSocket::ConnectedState; }));
        events.sendTextMessage(R"({"type": "hold", "action": "volume-up"})");
        QVERIFY(waitUntil([&] { return fileContents(sim.dir.filePath("line.log")).contains("C09"); }));
        events.sendTextMessage(R"({"type": "release"})");
        QCOMPARE(std::get<0>(call("POST", "/api/commands", R"({"command": "freeze-on"})", {{"Cookie", session}})), 200);
        QCOMPARE(std::get<0>(call("DELETE", "/api/session", {}, {{"Cookie", session}})), 200);
        QCOMPARE(std::get<0>(call("POST", "/api/commands", powerOff, {{"Cookie", session}})), 401);

        // Through the proxy: the address it adds last is the client's, slowed on its own; the
        // scheme it was reached by makes the cookie Secure; the public origin is this server's.
        const QByteArray proxied = "198.51.100.1, 192.0.2.9";
        for (int i = 0; i < 5; ++i)
            call("POST", "/api/commands", powerOff, {{"X-Forwarded-For", proxied}, {"Authorization", "Bearer guess"}});
        QCOMPARE(std::get<0>(call("POST", "/api/session", R"({"password": "secret"})", {{"X-Forwarded-For", proxied}})),
                 429);
        const auto [elsewhere, noDelay, secure] =
            call("POST", "/api/session", R"({"password": "secret"})",
                 {{"X-Forwarded-For", "192.0.2.10"}, {"X-Forwarded-Proto", "https"}, {"Origin", "https://projector.example"}});
        QCOMPARE(elsewhere, 200);
        QVERIFY(secure.endsWith("; Secure"));
        QCOMPARE(std::get<0>(call("POST", "/api/session", R"({"password": "secret"})", {{"Origin", "https://elsewhere.example"}})), 403);
        QVERIFY(!rig.logged("secret"));
    }

    void httpAccessRules_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<QByteArray>("password"); // set on the server
        QTest::addColumn<bool>("publicRead");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        const QByteArray right = "Basic " + QByteArray("x:secret").toBase64();
        const QByteArray wrong = "Basic " + QByteArray("x:guess").toBase64();
        QTest::newRow("local change, no password set") << QByteArray("POST") << "/api/commands" << true << QByteArray() << false << QByteArray() << 0;
        QTest::newRow("local change, password set") << QByteArray("POST") << "/api/commands" << true << QByteArray("secret") << false << QByteArray() << 401;
        QTest::newRow("remote change with it") << QByteArray("POST") << "/api/commands" << false << QByteArray("secret") << false << right << 0;
        QTest::newRow("remote change, wrong one") << QByteArray("POST") << "/api/commands" << false << QByteArray("secret") << false << wrong << 401;
        QTest::newRow("remote change, read-only server") << QByteArray("POST") << "/api/commands" << false << QByteArray() << true << QByteArray() << 403;
        QTest::newRow("remote metrics, open") << QByteArray("GET") << "/metrics" << false << QByteArray() << true << QByteArray() << 0;
        QTest::newRow("remote page, read-only server") << QByteArray("GET") << "/" << false << QByteArray() << true << QByteArray() << 403;
        QTest::newRow("remote status, password") << QByteArray("GET") << "/api/status" << false << QByteArray("secret") << false << QByteArray() << 401;
        QTest::newRow("remote status, bearer") << QByteArray("GET") << "/api/status" << false << QByteArray("secret") << false << QByteArray("bearer secret") << 0; // schemes in any case
    }
    void httpAccessRules() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(bool, loopback);
        QFETCH(QByteArray, password);
        QFETCH(bool, publicRead);
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        const HttpRules rules{password, publicRead, {"192.0.2.7"}};
        const HttpVerdict verdict = judge(rules, {method, path, loopback, "192.0.2.7:8735", "", authorization});
        QCOMPARE(verdict.status, status);
    }

    // --- the program ----------------------------------------------------------------------

    // The program started as a service starts it (its options' rules are test_server_options').
    void commandLineAndStart() {
        QTemporaryDir empty;
        QFile crlf(empty.filePath("crlf"));
        QVERIFY(crlf.open(QIODevice::WriteOnly));
        crlf.write("pass word\r\n");
        crlf.close();

        // No --port: the port and speed the panel stored; the bridge's --listen still works;
        // a password file written on Windows.
        Simulator sim;
        QTemporaryDir config;
        QFile file(config.filePath("TAVO.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[StartUP]\nComPort=2\nBaudRate=96\n[Ports]\nCOM2=" + sim.device.toLatin1() + "\n");
        file.close();
        ServerProcess server({"--listen", "127.0.0.1:0", "--password-file", crlf.fileName()}, config.path());
        Client client(server.port);
        const QByteArray greeting = client.line();
        QCOMPARE(client.ask(digest(greeting, "pass word") + "%1POWR ?"), QByteArray("%1POWR=0"));
        server.process.terminate();
        QVERIFY(server.process.waitForFinished(5000));
        QCOMPARE(server.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.process.exitCode(), 0);
    }

    // A second server started on the port the first holds leaves the first one's record, which
    // the panel reads, as it was, while it runs and once it has stopped.
    void aSecondServerLeavesTheFirstOnesRecord() {
        Simulator sim;
        QTemporaryDir runtime;
        const QStringList arguments{"--port", sim.device, "--baud", "9600", "--pjlink", "127.0.0.1:0", "--line", "127.0.0.1:0"};
        ServerProcess first(arguments, runtime.path());
        QVERIFY(first.port != 0);
        QString record;
        for (const QString &folder : {QString("/run/tavo-server"), runtime.path() + "/tavo-server"})
            if (fileContents(folder + '/' + serverRecordName(sim.device)).contains(QByteArray::number(first.process.processId())))
                record = folder + '/' + serverRecordName(sim.device);
        QVERIFY(!record.isEmpty());
        const QByteArray before = fileContents(record);
        {
            ServerProcess second(arguments, runtime.path());
            QVERIFY(waitUntil([&] { return second.log.contains("projector line: "); }));
            QCOMPARE(fileContents(record), before);
        }
        QCOMPARE(fileContents(record), before);
    }

    // Under systemd each line carries its priority, so that journalctl -p warning shows a
    // refused password and a projector out of reach, and not the start; the exchanges show
    // only when their debug category is turned on.
    void theJournalReadsEachLinesPriority() {
        QTemporaryDir dir;
        QFile password(dir.filePath("password")), journal(dir.filePath("journal"));
        QVERIFY(password.open(QIODevice::WriteOnly) && password.write("secret\n") == 7 &&
                journal.open(QIODevice::WriteOnly));
        password.close();
        struct stat stream {};
        QVERIFY(::fstat(journal.handle(), &stream) == 0);
        QProcessEnvironment environment = isolated(dir.path());
        environment.insert("JOURNAL_STREAM", QString("%1:%2").arg(stream.st_dev).arg(stream.st_ino));
        environment.insert("QT_LOGGING_RULES", "tavo.exchange.debug=true");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(journal.fileName(), QIODevice::Append);
        startBuilt(process, "TAVO_SERVER",
                   {"--port", "/dev/tavo-test-absent", "--pjlink", "127.0.0.1:0", "--http", "off", "--password-file",
                    password.fileName()});
        const auto logged = [&](const char *text) { return fileContents(journal.fileName()).contains(text); };
        QVERIFY(waitUntil([&] { return logged("for PJLink"); }));
        const quint16 port = QRegularExpression("on 127.0.0.1:(\\d+) for PJLink")
                                 .match(fileContents(journal.fileName()))
                                 .captured(1)
                                 .toUShort();
        Client right(port), wrong(port);
        QCOMPARE(right.ask(digest(right.line(), "secret") + "%1POWR ?"), QByteArray("%1POWR=ERR4"));
        wrong.line();
        QCOMPARE(wrong.ask(digest("PJLINK 1 00000000", "secret") + "%1POWR ?"), QByteArray("PJLINK ERRA"));
        QVERIFY(waitUntil([&] { return logged("wrong password from"); }));
        process.terminate();
        QVERIFY(process.waitForFinished(5000));
        const QList<QByteArray> lines = fileContents(journal.fileName()).trimmed().split('\n');
        const auto priorityOf = [&](const char *text) {
            for (const QByteArray &line : lines)
                if (line.contains(text))
                    return line.left(3);
            return QByteArray("none");
        };
        QCOMPARE(priorityOf("projector on /dev/tavo-test-absent"), QByteArray("<6>"));
        QCOMPARE(priorityOf("for PJLink class 1"), QByteArray("<6>"));
        QCOMPARE(priorityOf("pjlink: connection from"), QByteArray("<6>"));
        QCOMPARE(priorityOf("pjlink: wrong password from 127.0.0.1"), QByteArray("<4>"));
        QCOMPARE(priorityOf("projector line: /dev/tavo-test-absent"), QByteArray("<3>"));
        QCOMPARE(priorityOf("exchange: pjlink 127.0.0.1:"), QByteArray("<7>"));
        QCOMPARE(priorityOf("stopping"), QByteArray("<6>"));
        for (const QByteArray &line : lines)
            QVERIFY2(QRegularExpression("^<[3-7]>[^<]").match(QString::fromUtf8(line)).hasMatch(), line.constData());
    }

    // A panel on the same machine finds the port held: it names the server and the [Ports]
    // line that reaches the projector through it, which then works.
    void thePanelIsToldHowToReachAProjectorTheServerHolds() {
        Simulator sim;
        ServerProcess server({"--port", sim.device, "--baud", "9600", "--pjlink", "127.0.0.1:0", "--line", "127.0.0.1:0"});
        QVERIFY(waitUntil([&] { return server.log.contains("for the projector's own commands"); }));
        const QString line =
            QRegularExpression("listening on (127.0.0.1:\\d+) for the projector's own").match(server.log).captured(1);
        QVERIFY(!line.isEmpty());
        MessageBoxCloser boxes;
        {
            DeviceRig panel(sim.device);
            Form2 *dialog = Form2::showModeless(*panel.form);
            dialog->Option_Click(3); // COM1, the projector's device
            QTest::mouseClick(dialog->Command1, Qt::LeftButton);
            QVERIFY(waitUntil([&] { return !boxes.texts.isEmpty(); }));
        }
        QCOMPARE(boxes.texts.value(0), QString("Retry Comport"));
        const QString told = boxes.informative.value(0);
        QVERIFY2(told.contains(QString("tavo-server (process %1)").arg(server.process.processId())) &&
                     told.contains("COM1=socket://" + line),
                 qPrintable(told));
        DeviceRig panel("socket://" + line);
        panel.form->Form_Load();
        QVERIFY(waitUntil([&] { return panel.port.portOpen(); }));
        panel.click("Command44");
        QVERIFY(waitUntil([&] { return panel.form->Label25->text() == " Stand by"; }));
    }

    // The program itself: a client writing 10 MB of queries and never reading leaves its
    // memory flat, and the idle close then really ends the connection.
    void aClientThatNeverReadsCannotGrowTheServer() {
        if (slowBuild())
            QSKIP("10 MB of lines answered before the idle close: a minute for an emulated or thread-checked server");
        Simulator sim;
        // Under AddressSanitizer freed blocks wait in a quarantine of 256 MB before they are
        // used again; with a small one the program's own growth shows, not the sanitizer's.
        const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS", sanitizer + (sanitizer.isEmpty() ? "" : ":") + "quarantine_size_mb=1");
        ServerProcess server({"--port", sim.device, "--baud", "9600", "--pjlink", "127.0.0.1:0", "--pjlink-idle", "2"});
        sanitizer.isEmpty() ? void(qunsetenv("ASAN_OPTIONS")) : void(qputenv("ASAN_OPTIONS", sanitizer));
        QVERIFY(server.port != 0);
        Client warm(server.port);
        warm.line();
        QCOMPARE(warm.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        const qint64 atRest = server.residentKiB();
        QTcpSocket flood;
        flood.setReadBufferSize(1);
        flood.connectToHost(QHostAddress::LocalHost, server.port);
        QVERIFY(flood.waitForConnected(3000));
        QByteArray queries;
        while (queries.size() < 10 * 1024 * 1024)
            queries += "%1NAME ?\r";
        flood.write(queries);
        qint64 most = atRest;
        QVERIFY(waitUntil(
            [&] {
                most = std::max(most, server.residentKiB());
                return server.log.contains("closed: no command for 2 s");
            },
            20000));
        QVERIFY(waitUntil([&] { return flood.state() == QAbstractSocket::UnconnectedState; }, 15000));
        qInfo("resident memory at rest %lld KiB, at most %lld KiB while flooded", atRest, most);
        QVERIFY2(most - atRest < 8 * 1024, qPrintable(QString("%1 KiB more").arg(most - atRest)));
    }
};

QTEST_MAIN(TavoServer)
#include "test_tavo_server.moc"
