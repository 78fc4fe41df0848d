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
#include <QTest>

namespace {

// One simulator process; its first line on stdout tells where it serves.
struct Simulator {
    QProcess process;
    QString endpoint; // a pty path or socket://127.0.0.1:port

    explicit Simulator(QStringList arguments) {
        process.setProgram(qEnvironmentVariable("TAVO_PROJECTOR_SIM"));
        process.setArguments(arguments << "--warmup" << "300" << "--cooldown" << "300");
        process.start();
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
};

// The program, started, with port 1 on the simulator.
struct Rig : DeviceRig {
    explicit Rig(const QString &endpoint) : DeviceRig(endpoint) { form->Form_Load(); }
    // Asks "Status" until the box shows `status`; the projector changes state on its own clock.
    bool statusBecomes(const QString &status) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            click("Command44");
            if (QTest::qWaitFor([&] { return form->Label25->text() == status; }, 100))
                return true;
        }
        return false;
    }
};

} // namespace

class WithSimulator : public QObject {
    Q_OBJECT

    void powerOnSequence(const QString &endpoint) {
        Rig rig(endpoint);
        QVERIFY(rig.port.portOpen());
        rig.click("Command44"); // Status
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Stand by"));
        rig.click("Command17"); // Power On
        QTRY_COMPARE(rig.form->Label12->text(), QString("  [ACK] "));
        rig.click("Command44");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Count down"));
        QVERIFY(rig.statusBecomes(" Power ON"));

        rig.click("Command46"); // Lamp Time
        QTRY_VERIFY(rig.form->Label25->text().endsWith(" Hour Use"));
        QVERIFY(rig.form->Label25->text().contains("1 2 3 4"));
        rig.click("Command54"); // Temp
        QTRY_VERIFY(rig.form->Label25->text().endsWith(" deg C "));
        QCOMPARE(rig.form->Label25->text().count(" deg C "), 3);
        rig.click("Command55"); // Lamp Status
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Lamp is ON"));
    }

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariable("TAVO_PROJECTOR_SIM").isEmpty(), "TAVO_PROJECTOR_SIM is not set");
    }

    void powerOnAndStatusOverASerialLine() {
        Simulator sim({"--pty"});
        QVERIFY(!sim.endpoint.isEmpty());
        powerOnSequence(sim.endpoint);
    }

    void powerOnAndStatusOverTcp() {
        Simulator sim({"--tcp", "0"});
        QVERIFY(sim.endpoint.startsWith("socket://"));
        powerOnSequence(sim.endpoint);
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
        Simulator sim({"--pty", "--silent"});
        Rig rig(sim.endpoint);
        rig.click("Command44");
        QTest::qWait(200); // time enough for an answer that is not coming
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
