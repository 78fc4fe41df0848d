// Projector simulator: the device model driven with an explicit clock, then the
// real tavo-projector-sim executable over a pseudo-terminal and over TCP.

#include "projector_model.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using tavo::sim::Exchange;
using tavo::sim::PowerState;
using tavo::sim::ProjectorConfig;
using tavo::sim::ProjectorModel;

namespace {

const QByteArray kAck("\x06");

// Sends one command line and returns everything the model answered.
QByteArray ask(ProjectorModel &model, const QByteArray &command) {
    QByteArray reply;
    for (const Exchange &exchange : model.feed(command + '\r'))
        reply += exchange.reply;
    return reply;
}

QByteArray replies(const QList<Exchange> &exchanges) {
    QByteArray all;
    for (const Exchange &exchange : exchanges)
        all += exchange.reply;
    return all;
}

// The simulator executable, started with some options; waits for its announcement line.
class SimProcess {
public:
    ~SimProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(const QStringList &arguments) {
        if (qEnvironmentVariableIsEmpty("TAVO_PROJECTOR_SIM")) {
            qWarning("TAVO_PROJECTOR_SIM is not set");
            return false;
        }
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startBuilt(m_process, "TAVO_PROJECTOR_SIM", arguments);
        if (!m_process.waitForStarted(10000))
            return false;
        m_announcement = readLine();
        return !m_announcement.isEmpty();
    }

    QString readLine() {
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
                break;
        }
        return m_process.canReadLine() ? QString::fromLocal8Bit(m_process.readLine()).trimmed() : QString();
    }

    QString announcement() const { return m_announcement; }
    QProcess &process() { return m_process; }

    // SIGTERM, as a service manager or a test harness would stop it.
    bool terminate() {
        m_process.terminate();
        return m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QString m_announcement;
};

// The control program's side of the serial line, opened like a real tty.
class PtyClient {
public:
    ~PtyClient() { close(); }

    // keepSettings: take the terminal as the simulator left it, the way a
    // careless client would; it must already be raw and silent.
    bool open(const QString &path, bool keepSettings = false) {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        if (keepSettings)
            return true;
        termios tio{};
        if (::tcgetattr(m_fd, &tio) < 0)
            return false;
        ::cfmakeraw(&tio);
        return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
    }

    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool write(const QByteArray &bytes) {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Collects bytes until `count` have arrived, the line ends, or the wait runs out.
    QByteArray read(qsizetype count, int waitMs = 10000) {
        QByteArray data;
        QDeadlineTimer deadline(waitMs);
        while (data.size() < count) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0) {
                m_lastReadError = n < 0 ? errno : 0;
                m_hungUp = n == 0 || errno == EIO;
                break;
            }
            data.append(buffer, n);
        }
        return data;
    }

    bool hungUp() const { return m_hungUp; }
    int lastReadError() const { return m_lastReadError; }

private:
    int m_fd = -1;
    bool m_hungUp = false;
    int m_lastReadError = 0;
};

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray readTcp(QTcpSocket &socket, qsizetype count) {
    QByteArray data;
    QDeadlineTimer deadline(10000);
    while (data.size() < count && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        data += socket.readAll();
    }
    return data;
}

} // namespace

class TestProjectorSim : public QObject {
    Q_OBJECT

private slots:
    // --- power state machine, clock driven by the test ---
    void powerOnCountsDownForTheWarmupTime();
    void powerOffCoolsDownThenStandsBy();
    void powerOffDuringCountDownCools();
    void powerCommandsOutOfStateAreAcknowledgedAndIgnored();
    void zeroWarmupIsOnAtOnce();

    // --- read replies, byte for byte ---
    void inputFollowsLastSelection_data();
    void inputFollowsLastSelection();
    void projectionSettingCombinesCeilingAndRear();
    void lampHoursHaveFiveDigitsAndCountLitTime();
    void lampStatusFollowsPowerState();
    void lampModeFollowsSetting_data();
    void lampModeFollowsSetting();
    void temperaturesKeepTheirFormatAndFollowTheLamp();

    // --- command grammar ---
    void knownCommandsWithoutReadValueAreAcknowledged_data();
    void knownCommandsWithoutReadValueAreAcknowledged();
    void malformedCommandsAreRejected_data();
    void malformedCommandsAreRejected();

    // --- framing ---
    void commandSplitAcrossChunksIsAnsweredOnceComplete();
    void severalCommandsInOneChunkAreAnsweredInOrder();
    void lineFeedsAndEmptyLinesProduceNothing();
    void overlongLineIsRejectedAndTheNextOneWorks();
    void resetInputDropsTheHalfLine();
    void silentModeExecutesButNeverAnswers();

    // --- the executable ---
    void ptyServesThroughLinkLogsAndSurvivesReopen();
    void ptySilentLogsButSendsNothing();
    void ptyUnplugHangsUpTheClient();
    void tcpServesOneClientAtATime();
    void tcpUnplugClosesConnectionAndListener();
};

void TestProjectorSim::powerOnCountsDownForTheWarmupTime() {
    ProjectorModel model(ProjectorConfig{5000, 3000, 1234, false});
    QCOMPARE(ask(model, "CR0"), QByteArray("80\r"));

    model.advanceTo(1000);
    QCOMPARE(ask(model, "C00"), kAck);
    QCOMPARE(ask(model, "CR0"), QByteArray("40\r"));
    model.advanceBy(4999);
    QCOMPARE(ask(model, "CR0"), QByteArray("40\r"));
    model.advanceBy(1);
    QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));
    model.advanceBy(60 * 1000);
    QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));
}

void TestProjectorSim::powerOffCoolsDownThenStandsBy() {
    for (const char *off : {"C01", "C02"}) {
        ProjectorModel model(ProjectorConfig{3000, 7000, 1234, false});
        ask(model, "C00");
        model.advanceBy(3000);
        QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));

        QCOMPARE(ask(model, off), kAck);
        QCOMPARE(ask(model, "CR0"), QByteArray("20\r"));
        model.advanceBy(6999);
        QCOMPARE(ask(model, "CR0"), QByteArray("20\r"));
        model.advanceBy(1);
        QCOMPARE(ask(model, "CR0"), QByteArray("80\r"));

        // And it can be switched on again from there.
        ask(model, "C00");
        QCOMPARE(ask(model, "CR0"), QByteArray("40\r"));
    }
}

void TestProjectorSim::powerOffDuringCountDownCools() {
    ProjectorModel model;
    ask(model, "C00");
    model.advanceBy(1000);
    QCOMPARE(ask(model, "C01"), kAck);
    QCOMPARE(ask(model, "CR0"), QByteArray("20\r"));
    // The old warm-up deadline passing must not switch it on.
    model.advanceBy(2500);
    QCOMPARE(ask(model, "CR0"), QByteArray("20\r"));
    model.advanceBy(500);
    QCOMPARE(ask(model, "CR0"), QByteArray("80\r"));
}

void TestProjectorSim::powerCommandsOutOfStateAreAcknowledgedAndIgnored() {
    ProjectorModel model;
    QCOMPARE(ask(model, "C01"), kAck); // off while in standby
    QCOMPARE(ask(model, "CR0"), QByteArray("80\r"));

    ask(model, "C00");
    model.advanceBy(2000);
    QCOMPARE(ask(model, "C00"), kAck); // a second on must not restart the count down
    model.advanceBy(1000);
    QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));

    ask(model, "C02");
    model.advanceBy(1000);
    QCOMPARE(ask(model, "C00"), kAck); // on while cooling is ignored
    QCOMPARE(ask(model, "C01"), kAck); // and so is a second off
    model.advanceBy(2000);
    QCOMPARE(ask(model, "CR0"), QByteArray("80\r"));

    // Time passing in one big step crosses warm-up and cool-down correctly.
    ask(model, "C00");
    model.advanceBy(10 * 1000);
    QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));
}

void TestProjectorSim::zeroWarmupIsOnAtOnce() {
    ProjectorModel model(ProjectorConfig{0, 0, 1234, false});
    ask(model, "C00");
    QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));
    ask(model, "C01");
    QCOMPARE(ask(model, "CR0"), QByteArray("80\r"));
}

void TestProjectorSim::inputFollowsLastSelection_data() {
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("default") << QByteArrayList{} << QByteArray("1\r");
    QTest::newRow("C06") << QByteArrayList{"C06"} << QByteArray("2\r");
    QTest::newRow("C04") << QByteArrayList{"C04"} << QByteArray("3\r");
    QTest::newRow("C07") << QByteArrayList{"C07"} << QByteArray("4\r");
    QTest::newRow("C34") << QByteArrayList{"C34"} << QByteArray("5\r");
    for (const char *one : {"C05", "C50", "C51", "C54"})
        QTest::newRow(one) << QByteArrayList{"C07", one} << QByteArray("1\r");
    QTest::newRow("last one wins") << QByteArrayList{"C06", "C34", "C04"} << QByteArray("3\r");
    QTest::newRow("CF INPUT 4") << QByteArrayList{"CF INPUT 4"} << QByteArray("4\r");
    QTest::newRow("CF INPUT out of range") << QByteArrayList{"C06", "CF INPUT 9"} << QByteArray("2\r");
    QTest::newRow("other code keeps input") << QByteArrayList{"C06", "C0A"} << QByteArray("2\r");
}

void TestProjectorSim::inputFollowsLastSelection() {
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, reply);
    ProjectorModel model;
    for (const QByteArray &command : commands)
        QCOMPARE(ask(model, command), kAck);
    QCOMPARE(ask(model, "CR1"), reply);
}

void TestProjectorSim::projectionSettingCombinesCeilingAndRear() {
    ProjectorModel model;
    QCOMPARE(ask(model, "CR4"), QByteArray("11\r"));
    QCOMPARE(ask(model, "CF CEIL ON"), kAck);
    QCOMPARE(ask(model, "CR4"), QByteArray("10\r"));
    QCOMPARE(ask(model, "CF REAR ON"), kAck);
    QCOMPARE(ask(model, "CR4"), QByteArray("00\r"));
    QCOMPARE(ask(model, "CF CEIL OFF"), kAck);
    QCOMPARE(ask(model, "CR4"), QByteArray("01\r"));
    QCOMPARE(ask(model, "CF CEIL MAYBE"), kAck); // unknown value: accepted, nothing changes
    QCOMPARE(ask(model, "CR4"), QByteArray("01\r"));
    QCOMPARE(ask(model, "CF REAR OFF"), kAck);
    QCOMPARE(ask(model, "CR4"), QByteArray("11\r"));
}

void TestProjectorSim::lampHoursHaveFiveDigitsAndCountLitTime() {
    constexpr qint64 hour = 3600LL * 1000;
    ProjectorModel fresh;
    QCOMPARE(ask(fresh, "CR3"), QByteArray("01234\r"));

    ProjectorModel model(ProjectorConfig{3000, 3000, 7, false});
    QCOMPARE(ask(model, "CR3"), QByteArray("00007\r"));
    model.advanceBy(5 * hour); // standby does not wear the lamp
    QCOMPARE(ask(model, "CR3"), QByteArray("00007\r"));

    ask(model, "C00");
    model.advanceBy(hour - 1);
    QCOMPARE(ask(model, "CR3"), QByteArray("00007\r"));
    model.advanceBy(1); // count down counts: the lamp is already lit
    QCOMPARE(ask(model, "CR3"), QByteArray("00008\r"));

    ask(model, "C01"); // cooling and standby add nothing
    model.advanceBy(3 * hour);
    QCOMPARE(ask(model, "CR3"), QByteArray("00008\r"));

    ProjectorModel worn(ProjectorConfig{0, 0, 99999, false});
    ask(worn, "C00");
    worn.advanceBy(2 * hour);
    QCOMPARE(ask(worn, "CR3"), QByteArray("99999\r"));
}

void TestProjectorSim::lampStatusFollowsPowerState() {
    ProjectorModel model;
    QCOMPARE(ask(model, "CR LAMPSTS"), QByteArray("000 1O\r"));
    ask(model, "C00");
    QCOMPARE(ask(model, "CR LAMPSTS"), QByteArray("000 1I\r"));
    model.advanceBy(3000);
    QCOMPARE(ask(model, "CR LAMPSTS"), QByteArray("000 1I\r"));
    ask(model, "C01");
    QCOMPARE(ask(model, "CR LAMPSTS"), QByteArray("000 1O\r"));
    model.advanceBy(3000);
    QCOMPARE(ask(model, "CR LAMPSTS"), QByteArray("000 1O\r"));
}

void TestProjectorSim::lampModeFollowsSetting_data() {
    QTest::addColumn<QByteArrayList>("settings");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("default") << QByteArrayList{} << QByteArray("000 NORMAL\r");
    QTest::newRow("AUTO") << QByteArrayList{"CF LAMPMODE AUTO"} << QByteArray("000 HIGH\r");
    QTest::newRow("ECO1") << QByteArrayList{"CF LAMPMODE ECO1"} << QByteArray("000 ECO\r");
    QTest::newRow("ECO2") << QByteArrayList{"CF LAMPMODE ECO2"} << QByteArray("000 ECO\r");
    QTest::newRow("back to NORMAL") << QByteArrayList{"CF LAMPMODE ECO1", "CF LAMPMODE NORMAL"}
                                    << QByteArray("000 NORMAL\r");
    QTest::newRow("unknown value keeps mode")
        << QByteArrayList{"CF LAMPMODE AUTO", "CF LAMPMODE TURBO"} << QByteArray("000 HIGH\r");
}

void TestProjectorSim::lampModeFollowsSetting() {
    QFETCH(QByteArrayList, settings);
    QFETCH(QByteArray, reply);
    ProjectorModel model;
    for (const QByteArray &setting : settings)
        QCOMPARE(ask(model, setting), kAck);
    QCOMPARE(ask(model, "CR LAMPMODE"), reply);
    QCOMPARE(ask(model, "CR7"), reply);
}

void TestProjectorSim::temperaturesKeepTheirFormatAndFollowTheLamp() {
    static const QRegularExpression format(QStringLiteral("^\\d{3}\\.\\d \\d{3}\\.\\d \\d{3}\\.\\d\r$"));
    const auto sensors = [](const QByteArray &reply) {
        QList<double> values;
        for (const QByteArray &field : reply.trimmed().split(' '))
            values << field.toDouble();
        return values;
    };

    ProjectorModel model;
    const QByteArray cold = ask(model, "CR6");
    QCOMPARE(cold.size(), 18);
    QVERIFY2(format.match(QString::fromLatin1(cold)).hasMatch(), cold.constData());

    // Sample through a whole on/off cycle: the format never changes, readings
    // rise while the lamp is lit and come back down once it is off.
    ask(model, "C00");
    QList<double> previous = sensors(cold);
    for (int step = 0; step < 4; ++step) {
        model.advanceBy(1000);
        const QByteArray reply = ask(model, "CR6");
        QVERIFY2(format.match(QString::fromLatin1(reply)).hasMatch(), reply.constData());
        const QList<double> now = sensors(reply);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(now[i] >= previous[i], reply.constData());
        previous = now;
    }
    const QList<double> hot = previous;
    for (int i = 0; i < 3; ++i)
        QVERIFY(hot[i] > sensors(cold)[i]);

    ask(model, "C01");
    model.advanceBy(1500);
    const QByteArray cooling = ask(model, "CR6");
    QVERIFY2(format.match(QString::fromLatin1(cooling)).hasMatch(), cooling.constData());
    for (int i = 0; i < 3; ++i)
        QVERIFY2(sensors(cooling)[i] < hot[i] && sensors(cooling)[i] > sensors(cold)[i], cooling.constData());
    model.advanceBy(1500);
    QCOMPARE(ask(model, "CR6"), cold);
}

void TestProjectorSim::knownCommandsWithoutReadValueAreAcknowledged_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    for (const char *command : {"C0A", "C1F", "CFF", "C8C", "CR2", "CR5", "CR8", "CR9", "CF VOLUME 10",
                                "CF KEYSTONE-V +5", "CF ZOOM 1.5", "CF FOCUS NEAR FAST"})
        QTest::newRow(command) << QByteArray(command) << kAck;
    // A read of something this device does not track still ends with CR.
    QTest::newRow("CR unknown keyword") << QByteArray("CR SERIAL-NO") << QByteArray("000\r");
}

void TestProjectorSim::knownCommandsWithoutReadValueAreAcknowledged() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    ProjectorModel model;
    QCOMPARE(ask(model, command), reply);
    QCOMPARE(ask(model, "CR0"), QByteArray("80\r")); // and nothing got switched on
}

void TestProjectorSim::malformedCommandsAreRejected_data() {
    QTest::addColumn<QByteArray>("command");
    for (const char *command :
         {"cr0",         "c00",  "C0a",  "Cr0",        "X",   "C",         "C0",          "C0G",        "C000",
          "CR",          "CR10", "CRA",  "CF",         "CF ", "CF CEIL",   "CF ceil ON",  "CF CEIL on", "CF  CEIL ON",
          "CF CEIL ON ", " CR0", "CR0 ", "CR lampsts", "CR ", "CRLAMPSTS", "CF CEIL\tON", "\x01",       "HELLO WORLD"})
        QTest::newRow(command) << QByteArray(command);
}

void TestProjectorSim::malformedCommandsAreRejected() {
    QFETCH(QByteArray, command);
    ProjectorModel model;
    QCOMPARE(ask(model, command), QByteArray("?\r"));
}

void TestProjectorSim::commandSplitAcrossChunksIsAnsweredOnceComplete() {
    ProjectorModel model;
    QVERIFY(model.feed("C").isEmpty());
    QVERIFY(model.feed("R").isEmpty());
    QVERIFY(model.feed("0").isEmpty());
    const QList<Exchange> exchanges = model.feed("\r");
    QCOMPARE(exchanges.size(), 1);
    QCOMPARE(exchanges[0].command, QByteArray("CR0"));
    QCOMPARE(exchanges[0].reply, QByteArray("80\r"));

    // A setting with blanks, cut in the middle of a word.
    QVERIFY(model.feed("CF CE").isEmpty());
    QCOMPARE(replies(model.feed("IL ON\rCR")), kAck);
    QCOMPARE(replies(model.feed("4\r")), QByteArray("10\r"));
}

void TestProjectorSim::severalCommandsInOneChunkAreAnsweredInOrder() {
    ProjectorModel model;
    const QList<Exchange> exchanges = model.feed("CR0\rC00\rCR0\rCR1\rxx\r");
    QCOMPARE(exchanges.size(), 5);
    const QByteArrayList commands{"CR0", "C00", "CR0", "CR1", "xx"};
    for (int i = 0; i < commands.size(); ++i)
        QCOMPARE(exchanges[i].command, commands[i]);
    QCOMPARE(replies(exchanges), QByteArray("80\r\x06"
                                            "40\r1\r?\r"));
}

void TestProjectorSim::lineFeedsAndEmptyLinesProduceNothing() {
    ProjectorModel model;
    QVERIFY(model.feed("\r\r\n\n\r").isEmpty());
    QCOMPARE(replies(model.feed("CR0\r\n")), QByteArray("80\r"));
    QCOMPARE(replies(model.feed("\nC\nR1\r")), QByteArray("1\r"));
    // A bare LF never ends a command.
    QVERIFY(model.feed("CR0\n").isEmpty());
    QCOMPARE(replies(model.feed("\r")), QByteArray("80\r"));
}

void TestProjectorSim::overlongLineIsRejectedAndTheNextOneWorks() {
    ProjectorModel model;
    QVERIFY(model.feed(QByteArray(ProjectorModel::kMaxCommandLength * 3, 'A')).isEmpty());
    QCOMPARE(replies(model.feed("\rCR0\r")), QByteArray("?\r80\r"));
    // A line of exactly the maximum length is still an ordinary (bad) command.
    QCOMPARE(replies(model.feed(QByteArray(ProjectorModel::kMaxCommandLength, 'A') + "\rCR1\r")), QByteArray("?\r1\r"));
}

void TestProjectorSim::resetInputDropsTheHalfLine() {
    ProjectorModel model;
    QVERIFY(model.feed("CR").isEmpty());
    model.resetInput();
    QCOMPARE(replies(model.feed("0\r")), QByteArray("?\r"));
    QCOMPARE(replies(model.feed("CR0\r")), QByteArray("80\r"));
}

void TestProjectorSim::silentModeExecutesButNeverAnswers() {
    ProjectorModel model(ProjectorConfig{3000, 3000, 1234, true});
    const QList<Exchange> exchanges = model.feed("C00\rCR0\rjunk\r" + QByteArray(400, 'A') + "\r");
    QCOMPARE(exchanges.size(), 4);
    QCOMPARE(exchanges[0].command, QByteArray("C00"));
    QCOMPARE(replies(exchanges), QByteArray());
    QCOMPARE(model.powerState(), PowerState::CountDown);
    model.advanceBy(3000);
    QCOMPARE(model.powerState(), PowerState::On);

    model.setSilent(false);
    QCOMPARE(ask(model, "CR0"), QByteArray("00\r"));
}

void TestProjectorSim::ptyServesThroughLinkLogsAndSurvivesReopen() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("projector"));
    const QString log = dir.filePath(QStringLiteral("commands.log"));
    {
        QFile existing(log);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("earlier run\n");
    }
    // A stale link from a crashed run is replaced.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), link));

    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--pty"), QStringLiteral("--link"), link, QStringLiteral("--log"), log,
                       QStringLiteral("--warmup"), QStringLiteral("600000"), QStringLiteral("--pace"),
                       QStringLiteral("--baud"), QStringLiteral("19200"), QStringLiteral("--reply-delay"),
                       QStringLiteral("5")}));
    QVERIFY2(sim.announcement().startsWith(QStringLiteral("PTY /")), qPrintable(sim.announcement()));
    const QString slave = sim.announcement().mid(4);
    QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(slave).absoluteFilePath());

    {
        PtyClient client;
        QVERIFY(client.open(slave));
        QVERIFY(client.write("CR0\r"));
        QCOMPARE(client.read(3), QByteArray("80\r"));
        // Two commands in one write: replies come back complete and in order even paced.
        QVERIFY(client.write("CR3\rCR1\r"));
        QCOMPARE(client.read(8), QByteArray("01234\r1\r"));
    }

    // The control program closes the port and, a moment later, opens it again
    // through the link. The pause lets the simulator run with no client at all,
    // which is when a pty master starts failing if nobody holds the slave.
    QTest::qWait(300);
    PtyClient again;
    QVERIFY(again.open(link));
    QVERIFY(again.write("C00\r"));
    QCOMPARE(again.read(1), kAck);
    QVERIFY(again.write("CR0\r"));
    QCOMPARE(again.read(3), QByteArray("40\r"));

    QTRY_COMPARE_WITH_TIMEOUT(readAll(log), QByteArray("earlier run\nCR0\nCR3\nCR1\nC00\nCR0\n"), 10000);

    QVERIFY(sim.terminate());
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestProjectorSim::ptySilentLogsButSendsNothing() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log = dir.filePath(QStringLiteral("commands.log"));
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--silent"), QStringLiteral("--log"), log}));
    PtyClient client;
    QVERIFY(client.open(sim.announcement().mid(4)));

    QVERIFY(client.write("CR0\r"));
    QTRY_COMPARE_WITH_TIMEOUT(readAll(log), QByteArray("CR0\n"), 10000);
    QVERIFY(client.write("CR1\r"));
    QTRY_COMPARE_WITH_TIMEOUT(readAll(log), QByteArray("CR0\nCR1\n"), 10000);
    // Both commands have been handled; any answer would already be on its way.
    QCOMPARE(client.read(1, 300), QByteArray());
    QVERIFY(sim.terminate());
}

void TestProjectorSim::ptyUnplugHangsUpTheClient() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("projector"));
    const QString log = dir.filePath(QStringLiteral("commands.log"));
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--link"), link, QStringLiteral("--log"), log, QStringLiteral("--unplug-after"),
                       QStringLiteral("2")}));
    PtyClient client;
    QVERIFY(client.open(link, true));

    // No echo of the command, no CR turned into LF, no line buffering.
    QVERIFY(client.write("CR0\r"));
    QCOMPARE(client.read(3), QByteArray("80\r"));
    QVERIFY(client.write("CR1\r"));
    // The second command is the last thing the device sees: no reply, then a dead line.
    QCOMPARE(client.read(1), QByteArray());
    QVERIFY2(client.hungUp(), std::strerror(client.lastReadError()));

    QCOMPARE(sim.readLine(), QStringLiteral("UNPLUGGED"));
    QCOMPARE(readAll(log), QByteArray("CR0\nCR1\n"));
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
    // Without its device the simulator idles until told to stop.
    QCOMPARE(sim.process().state(), QProcess::Running);
    QVERIFY(sim.terminate());
}

void TestProjectorSim::tcpServesOneClientAtATime() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--warmup"),
                       QStringLiteral("600000"), QStringLiteral("--lamp-hours"), QStringLiteral("42")}));
    static const QRegularExpression endpoint(QStringLiteral("^TCP 127\\.0\\.0\\.1:(\\d+)$"));
    const QRegularExpressionMatch match = endpoint.match(sim.announcement());
    QVERIFY2(match.hasMatch(), qPrintable(sim.announcement()));
    const quint16 port = quint16(match.captured(1).toUInt());
    QVERIFY(port != 0);

    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(first.waitForConnected(10000));
    first.write("C00\rCR0\rCR3\r");
    QCOMPARE(readTcp(first, 7), QByteArray("\x06"
                                           "40\r00042\r"));

    // The line is taken: a second client waits, the first keeps being served.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(second.waitForConnected(10000));
    second.write("CR0\rCR");
    QVERIFY(second.waitForBytesWritten(10000));
    for (int i = 0; i < 3; ++i) {
        first.write("CR1\r");
        QCOMPARE(readTcp(first, 2), QByteArray("1\r"));
    }
    QVERIFY(!second.waitForReadyRead(300));

    // Once the first leaves, the second gets the line: what it sent meanwhile is
    // answered, and its next write completes the half command it left.
    first.disconnectFromHost();
    QCOMPARE(readTcp(second, 3), QByteArray("40\r"));
    second.write("3\r");
    QCOMPARE(readTcp(second, 6), QByteArray("00042\r"));

    // A client leaving with half a command does not leave it to the next one,
    // which finds the projector as the previous one left it.
    second.write("CR");
    QVERIFY(second.waitForBytesWritten(10000));
    second.disconnectFromHost();
    QTcpSocket third;
    third.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(third.waitForConnected(10000));
    third.write("0\rCR0\r");
    QCOMPARE(readTcp(third, 5), QByteArray("?\r40\r"));
    QVERIFY(sim.terminate());
}

void TestProjectorSim::tcpUnplugClosesConnectionAndListener() {
    SimProcess sim;
    QVERIFY(sim.start(
        {QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--unplug-after"), QStringLiteral("1")}));
    const quint16 port = quint16(sim.announcement().section(QLatin1Char(':'), -1).toUInt());
    QVERIFY(port != 0);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(10000));
    client.write("CR0\r");
    QVERIFY(client.state() == QAbstractSocket::UnconnectedState || client.waitForDisconnected(10000));
    QCOMPARE(client.readAll(), QByteArray());
    QCOMPARE(sim.readLine(), QStringLiteral("UNPLUGGED"));

    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(10000));
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY(sim.terminate());
}

QTEST_GUILESS_MAIN(TestProjectorSim)
#include "test_projector_sim.moc"
