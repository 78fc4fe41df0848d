// Hold-to-repeat buttons: what goes on the line on a press, on each repeat tick and
// after the release, the timers the hold leaves behind, and the ways a hold must end
// even when the release never reaches the button. Ticks are driven by calling the
// tick handler; the timers' state is read, never waited for, but for one case that
// waits for the real repeat timer's ticks. While another window comes up, the real
// timers run too, for as long as that takes, and the cases allow for it.

#include "TestSupport.h"

#include "console/Form3.h"
#include "link/Module1.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// A started panel on an open port, on screen, with nothing sent yet.
struct HoldRig : PanelRig {
    bool ready() {
        startWithPort();
        port.written.clear();
        return showPanel(*this);
    }
    QPushButton *volumeUp() { return buttonNamed(*this, QStringLiteral("Command1")); }
    QLabel *portNotice() { return form->findChild<QLabel *>(QStringLiteral("PortNotice")); }
};

QByteArray times(const QByteArray &bytes, int count) { return bytes.repeated(count); }

} // namespace

class PanelHold : public QObject {
    Q_OBJECT
private slots:
    void init() { Module1::reset(); }

    void pressAndQuickReleaseSendsOnce_data();
    void pressAndQuickReleaseSendsOnce();
    void eachTickSendsTheHeldCommandAgain();
    void theRepeatTimerDrivesTheTicks();
    void timersWhileHoldingAndAfterRelease();
    void otherMouseButtonsHoldToo_data();
    void otherMouseButtonsHoldToo();
    void secondPressWhileHoldingIsIgnored();
    void releaseWhileIdleRunsTheReleaseAgain();
    void tickWhileIdleSendsNothing();
    void holdWhileConsoleIsOpenEndsWithPanelIntervals();
    void clickButtonDuringHoldDoesNotChangeTheRepeat();

    // --- sending fails ------------------------------------------------------------------
    void failedFirstSendDoesNotStartRepeating();
    void failedTickStopsRepeating();

    // --- a release that never arrives ------------------------------------------------------
    void releaseOutsideTheButtonEndsHold();
    void losingActivationEndsHold();
    void modalWindowEndsHold();
    void hidingTheWindowEndsHold();
    void deactivationWhileIdleLeavesTheDisplayAlone();
};

void PanelHold::pressAndQuickReleaseSendsOnce_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("repeatCode");
    QTest::newRow("Volume up") << QStringLiteral("Command1") << QByteArray("C09\r") << 1;
    QTest::newRow("Volume down") << QStringLiteral("Command2") << QByteArray("C0A\r") << 2;
    QTest::newRow("Menu up") << QStringLiteral("Command5") << QByteArray("C3C\r") << 3;
    QTest::newRow("Menu down") << QStringLiteral("Command7") << QByteArray("C3D\r") << 4;
    QTest::newRow("Menu left") << QStringLiteral("Command38") << QByteArray("C3B\r") << 5;
    QTest::newRow("Menu right") << QStringLiteral("Command8") << QByteArray("C3A\r") << 6;
    QTest::newRow("Bright up") << QStringLiteral("Command30") << QByteArray("C20\r") << 7;
    QTest::newRow("Bright down") << QStringLiteral("Command42") << QByteArray("C21\r") << 8;
    QTest::newRow("D.Zoom up") << QStringLiteral("Command48") << QByteArray("C30\r") << 9;
    QTest::newRow("D.Zoom down") << QStringLiteral("Command49") << QByteArray("C31\r") << 10;
    QTest::newRow("Keystone up") << QStringLiteral("Command10") << QByteArray("C8E\r") << 11;
    QTest::newRow("Keystone down") << QStringLiteral("Command35") << QByteArray("C8F\r") << 12;
}

void PanelHold::pressAndQuickReleaseSendsOnce() {
    QFETCH(QString, control);
    QFETCH(QByteArray, bytes);
    QFETCH(int, repeatCode);
    HoldRig rig;
    QVERIFY(rig.ready());
    QPushButton *arrow = buttonNamed(rig, control);
    QVERIFY(arrow);

    QTest::mousePress(arrow, Qt::LeftButton);
    QCOMPARE(visible(rig.port.written), visible(bytes)); // at once, on the press
    QCOMPARE(rig.form->RepeatCode, quint8(repeatCode));
    QCOMPARE(rig.form->HoldActive, qint16(1));
    QCOMPARE(Module1::TxCommand, QString::fromLatin1(bytes));
    QVERIFY(arrow->isDown());

    QTest::mouseRelease(arrow, Qt::LeftButton);
    QCOMPARE(visible(rig.port.written), visible(bytes));
    QCOMPARE(rig.form->RepeatCode, quint8(0));
    QCOMPARE(rig.form->HoldActive, qint16(0));
    QVERIFY(!rig.form->Timer1->isActive());
    QVERIFY(!arrow->isDown());
}

void PanelHold::eachTickSendsTheHeldCommandAgain() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    // One second of holding: the press and ten ticks.
    for (int tick = 1; tick <= 10; ++tick) {
        if (tick == 5) {
            // Something else may have taken the shared command meanwhile; the tick
            // rebuilds its own.
            Module1::TxCommand = QStringLiteral("CR0\r");
        }
        rig.form->Timer1_Timer();
        QVERIFY(rig.form->Timer1->isActive());
        QCOMPARE(rig.form->Timer1->interval(), 100);
    }
    QCOMPARE(visible(rig.port.written), visible(times("C09\r", 11)));
    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    rig.form->Timer1_Timer(); // a tick already queued when the release came
    QCOMPARE(visible(rig.port.written), visible(times("C09\r", 11)));
}

// The real repeat timer is wired to its tick: the test waits for three ticks' sends after
// the press's, however long a busy machine takes.
void PanelHold::theRepeatTimerDrivesTheTicks() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(rig.port.written.count("C09\r") >= 4, 30000);
    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    const qsizetype sends = rig.port.written.count("C09\r");
    QCOMPARE(visible(rig.port.written), visible(times("C09\r", int(sends))));
}

void PanelHold::timersWhileHoldingAndAfterRelease() {
    HoldRig rig;
    QVERIFY(rig.ready());
    Form1 &form = *rig.form;

    QTest::mousePress(buttonNamed(rig, QStringLiteral("Command42")), Qt::LeftButton); // Bright down
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.Timer1->interval(), 100);
    QVERIFY(form.Timer2->isActive());
    QCOMPARE(form.Timer2->interval(), 150);
    QVERIFY(form.Timer4->isActive());
    QCOMPARE(form.Timer4->interval(), 200);
    QVERIFY(!form.Label11->text().isEmpty());

    rig.port.receive("C21\r"); // the projector echoes something mid-hold
    QVERIFY(!form.Label12->text().isEmpty());
    QVERIFY(!form.RxBuffer.text().isEmpty());

    QTest::mouseRelease(buttonNamed(rig, QStringLiteral("Command42")), Qt::LeftButton);
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!form.Timer2->isActive());
    QCOMPARE(form.Timer2->interval(), 500);
    QVERIFY(form.Timer4->isActive()); // clears what is left, one second on
    QCOMPARE(form.Timer4->interval(), 1000);
    QCOMPARE(form.Label11->text(), QString());
    QCOMPARE(form.Label12->text(), QString());
    QVERIFY(form.RxBuffer.text().isEmpty());
}

void PanelHold::otherMouseButtonsHoldToo_data() {
    QTest::addColumn<int>("mouseButton");
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void PanelHold::otherMouseButtonsHoldToo() {
    QFETCH(int, mouseButton);
    HoldRig rig;
    QVERIFY(rig.ready());
    QPushButton *menuLeft = buttonNamed(rig, QStringLiteral("Command38"));
    QTest::mousePress(menuLeft, Qt::MouseButton(mouseButton));
    QCOMPARE(rig.form->HoldActive, qint16(1));
    QVERIFY(rig.form->Timer1->isActive());
    rig.form->Timer1_Timer();
    QTest::mouseRelease(menuLeft, Qt::MouseButton(mouseButton));
    QCOMPARE(rig.form->HoldActive, qint16(0));
    QVERIFY(!rig.form->Timer1->isActive());
    QCOMPARE(visible(rig.port.written), QStringLiteral("C3B\\rC3B\\r"));
}

void PanelHold::secondPressWhileHoldingIsIgnored() {
    HoldRig rig;
    QVERIFY(rig.ready());
    Form1 &form = *rig.form;
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    QTest::mousePress(rig.volumeUp(), Qt::RightButton);                                 // same button
    QTest::mousePress(buttonNamed(rig, QStringLiteral("Command35")), Qt::MiddleButton); // another arrow
    QCOMPARE(visible(rig.port.written), QStringLiteral("C09\\r"));
    QCOMPARE(form.RepeatCode, quint8(1));
    form.Timer1_Timer();
    QCOMPARE(visible(rig.port.written), QStringLiteral("C09\\rC09\\r"));

    // Releasing either ends the hold ...
    QTest::mouseRelease(rig.volumeUp(), Qt::RightButton);
    QCOMPARE(form.HoldActive, qint16(0));
    QVERIFY(!form.Timer1->isActive());
    // ... and releasing the others runs the release once more, sending nothing.
    form.Label11->setText(QStringLiteral("left over"));
    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    QCOMPARE(form.Label11->text(), QString());
    QTest::mouseRelease(buttonNamed(rig, QStringLiteral("Command35")), Qt::MiddleButton);
    QCOMPARE(visible(rig.port.written), QStringLiteral("C09\\rC09\\r"));
    QCOMPARE(form.HoldActive, qint16(0));
}

void PanelHold::releaseWhileIdleRunsTheReleaseAgain() {
    HoldRig rig;
    QVERIFY(rig.ready());
    Form1 &form = *rig.form;
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command44")), Qt::LeftButton); // Status query
    rig.port.receive("80");
    QVERIFY(!form.Label11->text().isEmpty() && !form.Label12->text().isEmpty());
    QVERIFY(form.Timer2->isActive());
    rig.port.written.clear();

    QTest::mouseRelease(buttonNamed(rig, QStringLiteral("Command49")), Qt::LeftButton);
    QCOMPARE(form.Label11->text(), QString());
    QCOMPARE(form.Label12->text(), QString());
    QVERIFY(!form.Timer2->isActive());
    QCOMPARE(form.Timer2->interval(), 500);
    QVERIFY(form.Timer4->isActive());
    QCOMPARE(form.Timer4->interval(), 1000);
    QVERIFY(form.RxBuffer.text().isEmpty());
    QCOMPARE(form.HoldActive, qint16(0));
    QVERIFY(rig.port.written.isEmpty());
}

void PanelHold::tickWhileIdleSendsNothing() {
    HoldRig rig;
    QVERIFY(rig.ready());
    rig.form->Timer1_Timer();
    QVERIFY(rig.port.written.isEmpty());
    QVERIFY(!rig.form->Timer1->isActive());
}

void PanelHold::holdWhileConsoleIsOpenEndsWithPanelIntervals() {
    HoldRig rig;
    QVERIFY(rig.ready());
    rig.form->Command74_Click(); // Command Table
    QCOMPARE(rig.form->Timer2->interval(), 5000);
    QCOMPARE(rig.form->Timer4->interval(), 5500);
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    QCOMPARE(rig.form->Timer2->interval(), 500);
    QCOMPARE(rig.form->Timer4->interval(), 1000);
    if (QWidget *console = Form3::instance())
        console->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void PanelHold::clickButtonDuringHoldDoesNotChangeTheRepeat() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(buttonNamed(rig, QStringLiteral("Command10")), Qt::LeftButton); // Keystone up
    // A click on another button comes between two ticks.
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command19")), Qt::LeftButton); // Audio Mute On
    rig.form->Timer1_Timer();
    QCOMPARE(visible(rig.port.written), QStringLiteral("C8E\\rC0B\\rC8E\\r"));
    QCOMPARE(Module1::TxCommand, QStringLiteral("C8E\r"));
    QCOMPARE(rig.form->RepeatCode, quint8(11));
}

void PanelHold::failedFirstSendDoesNotStartRepeating() {
    HoldRig rig;
    QVERIFY(showPanel(rig)); // never started: the port is closed
    QVERIFY(!rig.port.portOpen());
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    QVERIFY(rig.port.written.isEmpty());
    QVERIFY(!rig.form->Timer1->isActive());
    QVERIFY(rig.portNotice()->isVisible());
    // The hold is still on until the release, which ends it as usual.
    QCOMPARE(rig.form->HoldActive, qint16(1));
    QCOMPARE(rig.form->RepeatCode, quint8(1));
    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    QCOMPARE(rig.form->HoldActive, qint16(0));
    QCOMPARE(rig.form->RepeatCode, quint8(0));
    QVERIFY(!rig.form->Timer1->isActive());
}

void PanelHold::failedTickStopsRepeating() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    rig.form->Timer1_Timer();
    QCOMPARE(visible(rig.port.written), QStringLiteral("C09\\rC09\\r"));
    QVERIFY(!rig.portNotice()->isVisible());

    rig.port.setPortOpen(false); // the port goes away mid-hold
    rig.form->Timer1_Timer();
    QCOMPARE(visible(rig.port.written), QStringLiteral("C09\\rC09\\r"));
    QVERIFY(!rig.form->Timer1->isActive());
    QVERIFY(rig.portNotice()->isVisible());

    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    QCOMPARE(rig.form->HoldActive, qint16(0));
}

void PanelHold::releaseOutsideTheButtonEndsHold() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QPushButton *arrow = buttonNamed(rig, QStringLiteral("Command7"));
    QTest::mousePress(arrow, Qt::LeftButton);
    // The pointer slid off the button, and off the window, before letting go.
    QTest::mouseMove(arrow, QPoint(-40, arrow->height() * 3));
    QTest::mouseRelease(arrow, Qt::LeftButton, {}, QPoint(-200, -200));
    QCOMPARE(rig.form->HoldActive, qint16(0));
    QVERIFY(!rig.form->Timer1->isActive());
    QVERIFY(!arrow->isDown());
    QCOMPARE(visible(rig.port.written), QStringLiteral("C3D\\r"));
}

void PanelHold::losingActivationEndsHold() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    QVERIFY(rig.form->Timer1->isActive());

    // The real repeat timer runs until the other window takes over, which takes as long as
    // the machine makes it: the repeats it sends meanwhile are the hold's own.
    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));

    QCOMPARE(rig.form->HoldActive, qint16(0));
    QCOMPARE(rig.form->RepeatCode, quint8(0));
    QVERIFY(!rig.form->Timer1->isActive());
    QVERIFY(!rig.volumeUp()->isDown());
    QCOMPARE(rig.form->Timer2->interval(), 500);
    QCOMPARE(rig.form->Timer4->interval(), 1000);
    const QByteArray sentWhileHeld = rig.port.written;
    QVERIFY(sentWhileHeld.startsWith("C09\r"));
    QCOMPARE(visible(sentWhileHeld), visible(times("C09\r", int(sentWhileHeld.count("C09\r")))));
    // The release that finally arrives changes nothing on the line.
    QTest::mouseRelease(rig.volumeUp(), Qt::LeftButton);
    QCOMPARE(visible(rig.port.written), visible(sentWhileHeld));
}

void PanelHold::modalWindowEndsHold() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(buttonNamed(rig, QStringLiteral("Command48")), Qt::LeftButton); // D.Zoom up
    QVERIFY(rig.form->Timer1->isActive());

    QDialog box;
    box.setModal(true);
    box.show();
    QTRY_COMPARE(rig.form->HoldActive, qint16(0));
    QVERIFY(!rig.form->Timer1->isActive());
    QCOMPARE(rig.form->RepeatCode, quint8(0));
    box.hide();
}

void PanelHold::hidingTheWindowEndsHold() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QTest::mousePress(rig.volumeUp(), Qt::LeftButton);
    rig.form->hide();
    QCOMPARE(rig.form->HoldActive, qint16(0));
    QVERIFY(!rig.form->Timer1->isActive());
}

void PanelHold::deactivationWhileIdleLeavesTheDisplayAlone() {
    HoldRig rig;
    QVERIFY(rig.ready());
    QCOMPARE(rig.form->Timer2->interval(), 1000);
    // The reply timeout and the display clear run for real while the other window comes up,
    // however long that takes: ten times their time keeps them from running out meanwhile.
    rig.form->Timer2->setInterval(10 * 1000);
    rig.form->Timer4->setInterval(10 * 1200);
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command17")), Qt::LeftButton);
    const QString shown = rig.form->Label11->text();
    QVERIFY(!shown.isEmpty());
    QVERIFY(rig.form->Timer2->isActive());

    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QCOMPARE(rig.form->Label11->text(), shown);
    QVERIFY(rig.form->Timer2->isActive());
    QCOMPARE(rig.form->Timer2->interval(), 10 * 1000); // not the 500 ms a hold's end sets
}

QTEST_MAIN(PanelHold)
#include "test_panel_hold.moc"
