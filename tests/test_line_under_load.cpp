// The serial line under load: every command reaches the wire in order, and a device that
// floods the line cannot grow memory or take the window down.
#include "PtyPair.h"
#include "TestSupport.h"

#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"
#include "link/Module1.h"

#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
// The program, started, on one end of a pseudo-terminal; the test on the other.
struct LineRig {
    PtyPair pty;
    DeviceRig device{pty.slavePath()};
    QtSerialComponent &port = device.port;
    std::unique_ptr<Form1> &form = device.form;
    LineRig() { form->Form_Load(); }
    QPushButton *button(const char *name) const { return device.button(name); }
};
} // namespace

class LineUnderLoad : public QObject {
    Q_OBJECT
private slots:
    void tenThousandClicksAllReachTheWireInOrder() {
        LineRig rig;
        QVERIFY(rig.port.portOpen());
        const char *buttons[] = {"Command17", "Command18", "Command41", "Command60", "Command44"};
        const QByteArray codes[] = {"C00\r", "C01\r", "CF MIC ON\r", "CF KEYDIS NONE\r", "CR0\r"};
        QByteArray expected;
        QByteArray wire;
        for (int i = 0; i < 10000; ++i) {
            QPushButton *button = rig.button(buttons[i % 5]);
            QVERIFY(button);
            QTest::mouseClick(button, Qt::LeftButton);
            expected += codes[i % 5];
            if (i % 500 == 499) // keep the terminal's buffer from filling up
                wire += rig.pty.readFromProgram(int(expected.size() - wire.size()));
        }
        wire += rig.pty.readFromProgram(int(expected.size() - wire.size()));
        QCOMPARE(wire.size(), expected.size());
        QVERIFY(wire == expected);
        QVERIFY(rig.form->portNotice->isHidden());
    }

    void aMinuteLongHoldSendsEveryRepeat() {
        LineRig rig;
        QPushButton *volumeUp = rig.button("Command1");
        QVERIFY(volumeUp);
        // The real repeat timer also fires while the test reads the line; those sends count too.
        QSignalSpy realTicks(rig.form->Timer1, &QTimer::timeout);
        QTest::mousePress(volumeUp, Qt::LeftButton);
        QVERIFY(rig.form->Timer1->isActive());
        QByteArray wire;
        for (int tick = 0; tick < 600; ++tick) { // 60 s of 100 ms ticks, driven directly
            rig.form->Timer1_Timer();
            if (tick % 100 == 99)
                wire += rig.pty.readFromProgram(int(601 * 4 - wire.size()), 200);
        }
        QTest::mouseRelease(volumeUp, Qt::LeftButton);
        QVERIFY(!rig.form->Timer1->isActive());
        const int sends = 601 + int(realTicks.count());
        wire += rig.pty.readFromProgram(int(sends * 4 - wire.size()));
        QCOMPARE(wire.size(), sends * 4);
        QVERIFY(wire == QByteArray("C09\r").repeated(sends));
        QCOMPARE(rig.pty.readFromProgram(1, 300), QByteArray()); // nothing after the release
    }

    void aMegabyteOfAnythingInAnyPiecesLeavesTheWindowWorking() {
        LineRig rig;
        QRandomGenerator random(735);
        qsizetype sent = 0;
        while (sent < 1024 * 1024) {
            QByteArray piece(1 + random.bounded(8192), Qt::Uninitialized);
            for (char &byte : piece)
                byte = static_cast<char>(random.bounded(256));
            rig.pty.writeToProgram(piece);
            sent += piece.size();
            QCoreApplication::processEvents();
        }
        // Every byte has arrived: kept up to the collection's capacity, the rest counted as dropped.
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->RxBuffer.size() + rig.form->RxBuffer.dropped(), sent, 30000);
        QCOMPARE(rig.form->RxBuffer.size(), ReceivedText::capacity);
        QVERIFY(rig.form->Label12->text().size() <= Form1::transcriptShown);
        QVERIFY(rig.port.portOpen());

        // The next exchange starts clean and is shown and decoded as usual.
        Module1::TxCommand = QStringLiteral("CR0\r");
        QVERIFY(rig.form->Hyouji(Module1::TxCommand, 1));
        QCOMPARE(rig.pty.readFromProgram(4), QByteArray("CR0\r"));
        rig.pty.writeToProgram("20\r");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Cooling down"));
    }
};

QTEST_MAIN(LineUnderLoad)
#include "test_line_under_load.moc"
