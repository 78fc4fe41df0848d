// The control panel against the projector simulator, through the real serial adapter on
// a pseudo-terminal and through the TCP adapter: what an operator sees with a device.
#include "TestSupport.h"

#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"
#include "link/Module1.h"
#include "port_dialog/Form2.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One simulator process; its first line on stdout tells where it serves, and the later
// ones each change of the projector's power state.
struct Simulator {
    QProcess process;
    QString endpoint; // a pty path or socket://127.0.0.1:port

    explicit Simulator(QStringList arguments) {
        // The warm-up lasts ten times as long as a few exchanges on a busy machine, so a state
        // looked at right after a change is still that state; the end of it is waited for.
        startBuilt(process, "TAVO_PROJECTOR_SIM",
                   arguments << "--warmup" << "3000" << "--cooldown" << "3000" << "--announce-power");
        if (!process.waitForStarted(5000))
            return;
        for (int i = 0; i < 100 && !process.canReadLine(); ++i)
            process.waitForReadyRead(100);
        const QString line = QString::fromLatin1(process.readLine()).trimmed();
        if (line.startsWith("PTY "))
            endpoint = line.mid(4);
        else if (line.startsWith("TCP "))
            endpoint = "socket://" + line.mid(4);
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
    // Waits for the simulator to announce `line` ("POWER on"), passing over the others.
    bool announces(const QString &line) {
        return QTest::qWaitFor(
            [&] {
                while (process.canReadLine())
                    if (QString::fromLatin1(process.readLine()).trimmed() == line)
                        return true;
                return false;
            },
            30000);
    }
};

// The program, started, with port 1 on the simulator.
struct Rig : DeviceRig {
    explicit Rig(const QString &endpoint) : DeviceRig(endpoint) {
        form->Form_Load();
        // The reply timeout and the display clear run for real here: at ten times their
        // time, a reply slowed by a busy machine is still taken, and still shown when looked at.
        form->Timer2->setInterval(10 * 1000);
        form->Timer4->setInterval(10 * 1200);
    }
};

} // namespace

class WithSimulator : public QObject {
    Q_OBJECT

    void powerOnSequence(Simulator &sim) {
        Rig rig(sim.endpoint);
        QVERIFY(rig.port.portOpen());
        rig.click("Command44"); // Status
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Stand by"));
        rig.click("Command17"); // Power On
        QTRY_COMPARE(rig.form->Label12->text(), QString("  [ACK] "));
        rig.click("Command44");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Count down"));

        // The lamp is lit from the start of the warm-up.
        rig.click("Command46"); // Lamp Time
        QTRY_VERIFY(rig.form->Label25->text().endsWith(" Hour Use"));
        QVERIFY(rig.form->Label25->text().contains("1 2 3 4"));
        rig.click("Command54"); // Temp
        QTRY_VERIFY(rig.form->Label25->text().endsWith(" deg C "));
        QCOMPARE(rig.form->Label25->text().count(" deg C "), 3);
        rig.click("Command55"); // Lamp Status
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Lamp is ON"));

        QVERIFY(sim.announces("POWER on"));
        rig.click("Command44");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Power ON"));
    }

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariable("TAVO_PROJECTOR_SIM").isEmpty(), "TAVO_PROJECTOR_SIM is not set");
    }

    void powerOnAndStatusOverASerialLine() {
        Simulator sim({"--pty"});
        QVERIFY(!sim.endpoint.isEmpty());
        powerOnSequence(sim);
    }

    void powerOnAndStatusOverTcp() {
        Simulator sim({"--tcp", "0"});
        QVERIFY(sim.endpoint.startsWith("socket://"));
        powerOnSequence(sim);
    }

    void pacedRepliesArriveInPiecesAndStillDecode() {
        Simulator sim({"--pty", "--pace", "--reply-delay", "20"});
        Rig rig(sim.endpoint);
        rig.click("Command45"); // Input Mode
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Input 1"));
        rig.click("Command12"); // Video
        // Its acknowledgement must be in before the next query, or it would stand in
        // front of the answer and shift it out of place.
        QTRY_COMPARE(rig.form->Label12->text(), QString("  [ACK] "));
        rig.click("Command45");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Wired"));
    }

    void silentProjectorShowsXXXX() {
        QTemporaryDir dir;
        const QString log = dir.filePath("log");
        Simulator sim({"--pty", "--silent", "--log", log});
        Rig rig(sim.endpoint);
        rig.click("Command44");
        QTRY_COMPARE(contents(log), QByteArray("CR0\n")); // the projector has it, and says nothing
        QCOMPARE(rig.form->ReplyWait, quint8(1));
        rig.form->Timer2_Timer();
        QCOMPARE(rig.form->Label12->text(), QString(" X X X X"));
    }

    void unpluggedProjectorLeavesTheProgramRunningAndSaysSoOnce() {
        Simulator sim({"--pty", "--unplug-after", "2"});
        Rig rig(sim.endpoint);
        QSignalSpy lost(&rig.port, &SerialComponent::portLost);
        rig.click("Command44");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Stand by"));
        rig.click("Command44");
        QTRY_VERIFY(!rig.port.portOpen());
        QTest::qWait(100);
        QCOMPARE(lost.count(), 1);
        QVERIFY(rig.form->portNotice->text().startsWith("Port closed:"));

        // The operator goes on clicking: nothing is sent, the notice says why, no crash.
        rig.click("Command17");
        QVERIFY(rig.form->portNotice->text().startsWith("Not sent:"));

        // Re-plugged (a fresh simulator): COM, then OK on the same port, brings it back.
        Simulator again({"--pty"});
        rig.settings.save(store::application, store::ports, "COM1", again.endpoint);
        rig.click("Command33"); // COM
        Form2 *dialog = Form2::instance();
        QVERIFY(dialog);
        QTest::mouseClick(dialog->Option[3], Qt::LeftButton);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTRY_VERIFY(rig.port.portOpen());
        QVERIFY(rig.form->portNotice->isHidden());
        rig.click("Command44");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Stand by"));
    }
};

QTEST_MAIN(WithSimulator)
#include "test_with_simulator.moc"
