// tavo-send run as a script runs it, against the projector simulator: the bytes on the
// wire, the lines printed, and the exit status.
#include "exchange/StatusDecoding.h"
#include "exchange/Transcript.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString absent = QStringLiteral("/dev/tavo-send-test-absent");

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One simulator process serving `count` projectors; it announces each on a line.
struct Simulator {
    QProcess process;
    QStringList endpoints; // pty paths or socket://127.0.0.1:port

    explicit Simulator(const QStringList &arguments, int count = 1) {
        startBuilt(process, "TAVO_PROJECTOR_SIM", arguments + QStringList{"--warmup", "60000", "--cooldown", "60000"});
        while (endpoints.size() < count && (process.canReadLine() || process.waitForReadyRead(5000))) {
            const QString line = QString::fromLatin1(process.readLine()).trimmed();
            endpoints << (line.startsWith("TCP ") ? "socket://" + line.mid(4) : line.mid(4));
        }
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
};

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;

    QStringList lines() const { return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts); }
    // One JSON object per line; a line that is not one reads as an empty object.
    QList<QJsonObject> objects() const {
        QList<QJsonObject> all;
        for (const QString &line : lines())
            all << QJsonDocument::fromJson(line.toUtf8()).object();
        return all;
    }
};

// Runs tavo-send with its settings in `configHome` (an empty private folder by default),
// its stdout read by the test or sent to the file `standardOutput`.
Run tavoSend(const QStringList &arguments, const QString &configHome = QString(),
             const QString &standardOutput = QString()) {
    QTemporaryDir empty;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome.isEmpty() ? empty.path() : configHome);
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!standardOutput.isEmpty())
        process.setStandardOutputFile(standardOutput, QIODevice::Append);
    QElapsedTimer clock;
    clock.start();
    startBuilt(process, "TAVO_SEND", arguments);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError(), clock.elapsed()};
}

} // namespace

class TavoSendTest : public QObject {
    Q_OBJECT
private slots:
    void namesAndCodesGoOutByteExactAndReadAsThePanelReadsThem_data() {
        QTest::addColumn<QStringList>("transport");
        QTest::newRow("pty") << QStringList{"--pty"};
        QTest::newRow("tcp") << QStringList{"--tcp", "0"};
    }
    void namesAndCodesGoOutByteExactAndReadAsThePanelReadsThem() {
        QFETCH(QStringList, transport);
        QTemporaryDir dir;
        Simulator sim(transport << "--wire-log" << dir.filePath("wire"));
        QCOMPARE(sim.endpoints.size(), 1);
        const QString port = sim.endpoints[0];

        const Run run =
            tavoSend({"-p",          port,        "status",     "lamp-time", "temp",       "input-mode",    "setting",
                      "lamp-status", "lamp-mode", "power-on",   "power-off", "volume-up",  "volume-down",   "menu-up",
                      "menu-down",   "menu-left", "menu-right", "freeze-on", "freeze-off", "CF BRIGHT 042", "CR0"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(contents(dir.filePath("wire")), QByteArray("CR0\rCR3\rCR6\rCR1\rCR4\rCR LAMPSTS\rCR7\rC00\rC01\r"
                                                            "C09\rC0A\rC3C\rC3D\rC3B\rC3A\rC43\rC44\r"
                                                            "CF BRIGHT 042\rCR0\r"));
        const QStringList lines = run.lines();
        QCOMPARE(lines.size(), 19);
        QCOMPARE(lines[0], port + "\tCR0\t\" 8 0  [CR] \"\tStand by");
        QCOMPARE(lines[1], port + "\tCR3\t\" 0 1 2 3 4  [CR] \"\t1 2 3 4   Hour Use");
        QCOMPARE(lines[7], port + "\tC00\t\"  [ACK] \"\t");
        QCOMPARE(lines[18], port + "\tCR0\t\" 2 0  [CR] \"\tCooling down"); // on, then off

        // The JSON says the same, each reading as the panel's status box would show it.
        const Run json = tavoSend({"--json", "-p", port, "status", "C01", "lamp-time", "temp"});
        QCOMPARE(json.exitCode, 0);
        QVERIFY(json.out.contains(R"("reply":"\u0006")")); // the ACK, escaped
        const QList<QJsonObject> objects = json.objects();
        QCOMPARE(objects.size(), 4);
        for (const QJsonObject &object : objects) {
            const QString command = object["command"].toString();
            const QString reply = object["reply"].toString();
            QCOMPARE(object["port"].toString(), port);
            QCOMPARE(object["sent"].toString(), command + "\r");
            QVERIFY(object["ok"].toBool());
            QVERIFY(object["ms"].toDouble() > 0);
            const QString shown = renderTranscript(reply).text;
            QCOMPARE(object["shown"].toString(), shown);
            const auto status = decodeStatus(shown, reply.size(), command + "\r");
            QCOMPARE(object["status"], status ? QJsonValue(status->trimmed()) : QJsonValue());
        }
        QCOMPARE(objects[0]["value"].toString(), QString("cooling"));
        QVERIFY(objects[1]["value"].isNull());
        QCOMPARE(objects[2]["value"].toDouble(), 1234.0);
        QCOMPARE(objects[3]["value"].toArray().size(), 3);
    }

    void exitStatusSaysWhatWentWrong() {
        Simulator silent({"--pty", "--silent"});
        const QString port = silent.endpoints.value(0);
        const Run quiet = tavoSend({"-t", "300", "-p", port, "status", "lamp-time"});
        QCOMPARE(quiet.exitCode, 1);
        QCOMPARE(quiet.lines(),
                 QStringList({port + "\tCR0\t-\tno reply within 300 ms", port + "\tCR3\t-\tno reply within 300 ms"}));
        QVERIFY2(quiet.ms < 2 * 300 + 5000, qPrintable(QString::number(quiet.ms)));

        // A projector unplugged under it: every message after names the device.
        Simulator unplugged({"--pty", "--unplug-after", "1"});
        const QString gone = unplugged.endpoints.value(0);
        const Run lost = tavoSend({"-p", gone, "status", "lamp-time", "temp"});
        QCOMPARE(lost.exitCode, 1);
        QCOMPARE(lost.lines().size(), 3);
        for (const QString &line : lost.lines())
            QVERIFY2(line.section('\t', 3).contains(gone), qPrintable(line));

        const Run missing = tavoSend({"-p", absent, "status"});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY(missing.err.contains(absent.toUtf8() + ": no such device."));
        QCOMPARE(missing.lines(), QStringList(absent + "\tCR0\t-\tnot sent: " + absent + ": no such device."));
    }

    // Usage errors are found before any port is tried: the absent device never is.
    void usageErrorsAreFoundBeforeAnyPortIsTried_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("says"); // part of the complaint
        QTest::newRow("unknown option") << QStringList{"--frob", "status"} << QByteArray("frob");
        QTest::newRow("speed") << QStringList{"-b", "4800", "status"} << QByteArray("4800");
        QTest::newRow("timeout") << QStringList{"-t", "soon", "status"} << QByteArray("soon");
        QTest::newRow("port number") << QStringList{"-p", "16", "status"} << QByteArray("16");
        QTest::newRow("no command") << QStringList{} << QByteArray("no COMMAND");
        QTest::newRow("empty command") << QStringList{""} << QByteArray("empty");
        QTest::newRow("unknown action") << QStringList{"not-a-button"} << QByteArray("not-a-button");
        // Not raw codes for the projector: an action name in capitals, or capitalised.
        QTest::newRow("action in capitals") << QStringList{"STATUS"} << QByteArray("did you mean status?");
        QTest::newRow("action capitalised") << QStringList{"Power-off"} << QByteArray("did you mean power-off?");
        QTest::newRow("control character") << QStringList{"CR\t0"} << QByteArray("printable ASCII");
        QTest::newRow("line feed") << QStringList{"CR0\n"} << QByteArray("printable ASCII");
        QTest::newRow("beyond ASCII") << QStringList{"CF BRIGHT 0\u00e92"} << QByteArray("printable ASCII");
        QTest::newRow("socket without port")
            << QStringList{"-p", "socket://127.0.0.1", "status"} << QByteArray("socket://host:port");
        QTest::newRow("socket port 0") << QStringList{"-p", "socket://127.0.0.1:0", "status"}
                                       << QByteArray("socket://host:port");
        QTest::newRow("socket port 65536")
            << QStringList{"-p", "socket://127.0.0.1:65536", "status"} << QByteArray("socket://host:port");
        QTest::newRow("socket without host")
            << QStringList{"-p", "socket://:4001", "status"} << QByteArray("socket://host:port");
        QTest::newRow("port twice") << QStringList{"-p", absent, "status"} << QByteArray("twice");
        // Without [Ports], port 1 is the platform's first serial device.
        QTest::newRow("number and its device")
            << QStringList{"-p", "1", "-p", "/dev/ttyS0", "status"} << QByteArray("same device");
    }
    void usageErrorsAreFoundBeforeAnyPortIsTried() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, says);
        const Run run = tavoSend(QStringList{"-p", absent} + arguments);
        QCOMPARE(run.exitCode, 64);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith("tavo-send: ") && run.err.contains(says) && !run.err.contains("no such device"),
                 run.err.constData());
    }

    // A full disk or a closed file under stdout: what the run found is lost, and the exit
    // status and stderr say so, whatever happened on the line.
    void outputThatCannotBeWrittenIsAFailure() {
        Simulator sim({"--pty"});
        for (const QStringList &arguments : {QStringList{"-p", sim.endpoints.value(0), "status"},
                                             QStringList{"--json", "-p", sim.endpoints.value(0), "status"},
                                             QStringList{"--list"}, QStringList{"--help"}}) {
            const Run run = tavoSend(arguments, QString(), "/dev/full");
            // One complaint, however many lines were lost.
            QVERIFY2(run.exitCode == 74 && run.err.startsWith("tavo-send: cannot write to standard output: ") &&
                         run.err.count('\n') == 1,
                     qPrintable(QString("%1: exit %2, %3").arg(arguments.join(' ')).arg(run.exitCode).arg(run.err)));
        }
    }

    void twentyPortsAtOnceEachInItsOwnOrder() {
        QTemporaryDir dir;
        const QString log = dir.filePath("log");
        // Each live projector holds its first reply for 3 s, ten times what opening all the
        // ports and sending the first commands may take on a busy machine; the wait for a
        // reply is longer still.
        Simulator live({"--tcp", "0", "--count", "18", "--first-reply-delay", "3000", "--log", log}, 18);
        Simulator silent({"--tcp", "0", "--silent"});
        QCOMPARE(live.endpoints.size(), 18);
        QStringList ports = live.endpoints;
        ports.insert(5, silent.endpoints.value(0));
        ports.insert(12, absent);
        QStringList arguments{"--json", "-t", "5000", "status", "lamp-time"};
        for (const QString &port : ports)
            arguments << "-p" << port;
        const Run run = tavoSend(arguments);
        QCOMPARE(run.exitCode, 2); // a port not opened weighs more than unanswered commands
        QCOMPARE(run.err.count(absent.toUtf8()), 1);

        QHash<QString, QStringList> byPort; // "CR0 ok", "CR3 ok" for a port that answered both
        for (const QJsonObject &object : run.objects())
            byPort[object["port"].toString()] << object["command"].toString() + (object["ok"].toBool() ? " ok" : " -");
        QCOMPARE(byPort.size(), 20);
        const QStringList answered{"CR0 ok", "CR3 ok"};
        const QStringList unanswered{"CR0 -", "CR3 -"};
        for (const QString &port : ports)
            QCOMPARE(byPort[port], live.endpoints.contains(port) ? answered : unanswered);

        // Worked at once: every live projector had its first command before any had its second.
        QStringList arrived = QString::fromLatin1(contents(log)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(arrived.size(), 36);
        QCOMPARE(arrived.filter(QRegularExpression(" CR0$")), arrived.mid(0, 18));
        QCOMPARE(arrived.removeDuplicates(), 0);
    }

    void theStoredPortIsTheDefault() {
        Simulator sim({"--pty", "--baud", "19200"});
        QTemporaryDir config;
        QFile file(config.filePath("TAVO.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[StartUP]\nComPort=4\nBaudRate=192\n\n[Ports]\nCOM4=" + sim.endpoints.value(0).toUtf8() + "\n");
        file.close();
        const Run run = tavoSend({"status"}, config.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines(), QStringList("4\tCR0\t\" 8 0  [CR] \"\tStand by"));
    }
};

QTEST_GUILESS_MAIN(TavoSendTest)
#include "test_tavo_send.moc"
