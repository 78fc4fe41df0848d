// The main window's keyboard shortcut (Ctrl+H switches between the compact and the
// full height) and the three buttons that act on windows: "END", "COM" and
// "Command Table".

#include "TestSupport.h"

#include "console/Form3.h"
#include "host/Twips.h"
#include "link/Module1.h"
#include "port_dialog/Form2.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTest>
#include <QTimer>

namespace {

const int compactPixels = twipsToPixels(Form1::compactHeight - Form1::frameAllowance);
const int fullPixels = twipsToPixels(7620); // exactly the design's client area

// Records the keys pressed on a widget that reach it after every earlier filter has
// had its look (a modifier held for a shortcut is a press of its own).
class KeyRecorder : public QObject {
public:
    QList<int> presses;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::KeyPress)
            presses << static_cast<QKeyEvent *>(event)->key();
        return false;
    }
};

// Records the heights a widget is resized to.
class ResizeRecorder : public QObject {
public:
    QList<int> heights;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Resize)
            heights << static_cast<QResizeEvent *>(event)->size().height();
        return false;
    }
};

void closeOtherWindows() {
    if (QWidget *dialog = Form2::instance())
        dialog->close();
    if (QWidget *console = Form3::instance())
        console->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class PanelWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { Module1::reset(); }
    void cleanup() { closeOtherWindows(); }

    // --- Ctrl+H ----------------------------------------------------------------------------
    void onlyCtrlAloneWithHSwitches_data();
    void onlyCtrlAloneWithHSwitches();
    void ctrlHSwitchesBackAndForth();
    void keyRepeatSwitchesOnEveryPress();
    void oneSwitchPerPressWhereverTheFocusIs_data();
    void oneSwitchPerPressWhereverTheFocusIs();
    void theKeyStillReachesTheFocusedButton();
    void otherWindowsKeysAreNotSeen();
    void controlsOutOfViewTakeNoFocus();

    // --- window commands --------------------------------------------------------------
    void endClosesThePortAndEndsOnce();
    void endWhileThePortDialogIsOpen();
    void comClosesThePortAndOpensOneDialog();
    void commandTableHidesStatusAndSlowsTheTimers();
};

void PanelWindow::onlyCtrlAloneWithHSwitches_data() {
    QTest::addColumn<char>("key"); // as typed: 'h', or 'H' with Caps Lock on
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("switches");
    QTest::newRow("H") << 'h' << int(Qt::NoModifier) << false;
    QTest::newRow("Shift+H") << 'H' << int(Qt::ShiftModifier) << false;
    QTest::newRow("Alt+H") << 'h' << int(Qt::AltModifier) << false;
    QTest::newRow("Ctrl+Shift+H") << 'H' << int(Qt::ControlModifier | Qt::ShiftModifier) << false;
    QTest::newRow("Ctrl+Alt+H") << 'h' << int(Qt::ControlModifier | Qt::AltModifier) << false;
    QTest::newRow("Ctrl+Alt+Shift+H") << 'H' << int(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier) << false;
    QTest::newRow("Ctrl+G") << 'g' << int(Qt::ControlModifier) << false;
    QTest::newRow("Ctrl+J") << 'j' << int(Qt::ControlModifier) << false;
    QTest::newRow("Ctrl+H") << 'h' << int(Qt::ControlModifier) << true;
    QTest::newRow("Ctrl+H, Caps Lock on") << 'H' << int(Qt::ControlModifier) << true;
    QTest::newRow("Ctrl+H on the keypad's modifier") << 'h' << int(Qt::ControlModifier | Qt::KeypadModifier) << true;
}

void PanelWindow::onlyCtrlAloneWithHSwitches() {
    QFETCH(char, key);
    QFETCH(int, modifiers);
    QFETCH(bool, switches);
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    QCOMPARE(rig.form->height(), compactPixels);
    const QPoint topLeft = rig.form->pos();
    const int width = rig.form->width();

    QPushButton *focused = buttonNamed(rig, QStringLiteral("Command3"));
    focused->setFocus();
    QTest::keyClick(focused, key, Qt::KeyboardModifiers(modifiers));

    QCOMPARE(rig.form->height(), switches ? fullPixels : compactPixels);
    QCOMPARE(rig.form->Height() >= 7000, switches);
    QCOMPARE(rig.form->pos(), topLeft);
    QCOMPARE(rig.form->width(), width);
    QVERIFY(rig.port.written.isEmpty());
}

void PanelWindow::ctrlHSwitchesBackAndForth() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    QPushButton *focused = buttonNamed(rig, QStringLiteral("Command17"));
    focused->setFocus();
    const QPoint topLeft = rig.form->pos();
    for (const int expected : {fullPixels, compactPixels, fullPixels, compactPixels}) {
        QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(rig.form->height(), expected);
        QCOMPARE(rig.form->pos(), topLeft);
    }
    // Whatever height the window was given, the threshold decides.
    rig.form->setHeight(6999);
    QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(rig.form->height(), fullPixels);
    rig.form->setHeight(7100);
    QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(rig.form->height(), compactPixels);
}

void PanelWindow::keyRepeatSwitchesOnEveryPress() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    QPushButton *focused = buttonNamed(rig, QStringLiteral("Command4"));
    focused->setFocus();
    // Held down: the keyboard repeats the press without releasing in between.
    for (const int expected : {fullPixels, compactPixels, fullPixels}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::ControlModifier, QStringLiteral("\x08"), true);
        QApplication::sendEvent(focused, &press);
        QCOMPARE(rig.form->height(), expected);
    }
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_H, Qt::ControlModifier, QStringLiteral("\x08"));
    QApplication::sendEvent(focused, &release);
    QCOMPARE(rig.form->height(), fullPixels);
}

void PanelWindow::oneSwitchPerPressWhereverTheFocusIs_data() {
    QTest::addColumn<QString>("focus");
    QTest::newRow("button on the window") << QStringLiteral("Command13");
    QTest::newRow("button in a group") << QStringLiteral("Command28");
    QTest::newRow("arrow in a group") << QStringLiteral("Command1");
    QTest::newRow("nothing focused") << QString();
}

void PanelWindow::oneSwitchPerPressWhereverTheFocusIs() {
    QFETCH(QString, focus);
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    QWidget *target = rig.form.get();
    if (!focus.isEmpty()) {
        target = buttonNamed(rig, focus);
        target->setFocus();
    } else if (QWidget *focused = rig.form->focusWidget()) {
        focused->clearFocus();
    }
    ResizeRecorder resizes;
    rig.form->installEventFilter(&resizes);
    // An unhandled key travels from the focused button up through its group to the
    // window; it must switch the height once, not once per step.
    QTest::keyClick(target, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(rig.form->height(), fullPixels);
    QCOMPARE(resizes.heights, QList<int>{fullPixels});
    // Sent to the window itself while a button has the focus: still exactly once.
    if (!focus.isEmpty()) {
        QTest::keyClick(rig.form.get(), Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(rig.form->height(), compactPixels);
        QCOMPARE(resizes.heights, (QList<int>{fullPixels, compactPixels}));
    }
}

void PanelWindow::theKeyStillReachesTheFocusedButton() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    QPushButton *focused = buttonNamed(rig, QStringLiteral("Command25")); // Freeze On
    focused->setFocus();
    KeyRecorder recorder;
    focused->installEventFilter(&recorder);

    QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(recorder.presses, (QList<int>{Qt::Key_Control, Qt::Key_H}));
    QCOMPARE(rig.form->height(), fullPixels);
    // The keys the button answers to are previewed too, and still press it.
    QTest::keyClick(focused, Qt::Key_Space);
    QTest::keyClick(focused, Qt::Key_Return);
    QCOMPARE(recorder.presses, (QList<int>{Qt::Key_Control, Qt::Key_H, Qt::Key_Space, Qt::Key_Return}));
    QCOMPARE(visible(rig.port.written), QStringLiteral("C43\\rC43\\r"));
    QCOMPARE(rig.form->height(), fullPixels);
}

void PanelWindow::otherWindowsKeysAreNotSeen() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->Command33_Click(); // the port dialog, with its number box
    Form2 *dialog = Form2::instance();
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(dialog->Text1, Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(dialog, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(rig.form->height(), compactPixels);
    dialog->close();

    rig.form->Command74_Click(); // the command console, with its entry box and lists
    Form3 *console = Form3::instance();
    QVERIFY(console);
    QVERIFY(QTest::qWaitForWindowActive(console));
    for (QWidget *focused : {static_cast<QWidget *>(console->Text1), static_cast<QWidget *>(console->Combo1),
                             static_cast<QWidget *>(console->Command3)}) {
        focused->setFocus();
        QVERIFY(focused->hasFocus());
        QTest::keyClick(focused, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(rig.form->height(), compactPixels);
    }

    QWidget stranger;
    auto *line = new QLineEdit(&stranger);
    stranger.show();
    line->setFocus();
    QTest::keyClick(line, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(rig.form->height(), compactPixels);
}

void PanelWindow::controlsOutOfViewTakeNoFocus() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    const QStringList below{"Command44", "Command45", "Command54", "Command47", "Command46",
                            "Command55", "Command76", "Command74", "Command33"};
    // The controls Tab reaches in two rounds of the panel.
    const auto tabbedTo = [] {
        QSet<QString> reached;
        for (int press = 0; press < 2 * 68; ++press) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        return reached;
    };

    QSet<QString> reached = tabbedTo();
    QCOMPARE(reached.size(), 68 - 9); // every button in view
    for (const QString &name : below)
        QVERIFY2(!reached.contains(name), qPrintable(name));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier); // full height
    reached = tabbedTo();
    QCOMPARE(reached.size(), 68);

    // Shrunk while "COM" has the focus: the focus goes to the first control in view, and
    // the space bar no longer reaches the unseen "COM".
    QPushButton *com = buttonNamed(rig, QStringLiteral("Command33"));
    com->setFocus();
    QTest::keyClick(com, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(rig.form->height(), compactPixels);
    QCOMPARE(QApplication::focusWidget(), buttonNamed(rig, QStringLiteral("Command17")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(rig.port.portOpen());
    QVERIFY(!Form2::instance());
}

void PanelWindow::endClosesThePortAndEndsOnce() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    QVERIFY(rig.port.portOpen());
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command16")), Qt::LeftButton);
    QVERIFY(!rig.port.portOpen());
    QCOMPARE(rig.endCalls, 1);
    QVERIFY(!rig.form->isVisible());
    QVERIFY(rig.port.written.isEmpty());
}

void PanelWindow::endWhileThePortDialogIsOpen() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command33")), Qt::LeftButton);
    QVERIFY(Form2::instance());
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command16")), Qt::LeftButton);
    QCOMPARE(rig.endCalls, 1);
    QVERIFY(!rig.form->isVisible());
    QVERIFY(!rig.port.portOpen());
}

void PanelWindow::comClosesThePortAndOpensOneDialog() {
    PanelRig rig;
    rig.startWithPort(3, 96);
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    QVERIFY(rig.port.portOpen());
    QPushButton *com = buttonNamed(rig, QStringLiteral("Command33"));

    QTest::mouseClick(com, Qt::LeftButton);
    QVERIFY(!rig.port.portOpen());
    QCOMPARE(Module1::SavedComPortNo, qint16(3));
    QCOMPARE(Module1::SavedBaudCode, quint8(96));
    Form2 *dialog = Form2::instance();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal()); // the panel stays usable
    QVERIFY(rig.form->isVisible());

    // The dialog's choices change the current values; a second "COM" copies them again.
    Module1::ComPortNo = 5;
    Module1::BaudCode = 192;
    QTest::mouseClick(com, Qt::LeftButton);
    QVERIFY(!rig.port.portOpen());
    QCOMPARE(rig.port.openCount, 1); // opened at start-up only
    QCOMPARE(Module1::SavedComPortNo, qint16(5));
    QCOMPARE(Module1::SavedBaudCode, quint8(192));
    QCOMPARE(Form2::instance(), dialog);
    int dialogs = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        dialogs += qobject_cast<Form2 *>(window) && window->isVisible() ? 1 : 0;
    QCOMPARE(dialogs, 1);

    // With the port closed, a click button still goes through the send path, which
    // tells the operator instead of sending.
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command44")), Qt::LeftButton);
    QVERIFY(rig.port.written.isEmpty());
    QVERIFY(rig.form->findChild<QWidget *>(QStringLiteral("PortNotice"))->isVisible());
}

void PanelWindow::commandTableHidesStatusAndSlowsTheTimers() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    QVERIFY(rig.form->Frame15->isVisible());
    QCOMPARE(rig.form->Timer2->interval(), 1000);
    QCOMPARE(rig.form->Timer4->interval(), 1200);

    QPushButton *commandTable = buttonNamed(rig, QStringLiteral("Command74"));
    QTest::mouseClick(commandTable, Qt::LeftButton);
    QVERIFY(!rig.form->Frame15->isVisible());
    QCOMPARE(rig.form->Timer2->interval(), 5000);
    QCOMPARE(rig.form->Timer4->interval(), 5500);
    QVERIFY(rig.form->isVisible());

    // Pressed again while the console is open: the box stays hidden, the intervals are
    // set again.
    rig.form->Timer2->setInterval(1000);
    rig.form->Timer4->setInterval(1200);
    QTest::mouseClick(commandTable, Qt::LeftButton);
    QVERIFY(!rig.form->Frame15->isVisible());
    QCOMPARE(rig.form->Timer2->interval(), 5000);
    QCOMPARE(rig.form->Timer4->interval(), 5500);
    QVERIFY(rig.port.written.isEmpty());
}

QTEST_MAIN(PanelWindow)
#include "test_panel_window.moc"
