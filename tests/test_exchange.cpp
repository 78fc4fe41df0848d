// Sending, receiving and the two reply timers, on the main window with an in-memory port.
#include "TestSupport.h"

#include "link/Module1.h"

#include <QFrame>
#include <QLabel>
#include <QTest>
#include <QTimer>

class Exchange : public QObject {
    Q_OBJECT

    // The panel's way of sending: TxCommand, then the exchange.
    static void panelSends(PanelRig &rig, const char *command) {
        Module1::TxCommand = QString::fromLatin1(command) + QLatin1Char('\r');
        QVERIFY(rig.form->Hyouji(Module1::TxCommand, 1));
    }

private slots:
    void statusQueryAnsweredWith80ShowsStandBy() {
        PanelRig rig;
        rig.startWithPort();
        Form1 &form = *rig.form;
        panelSends(rig, "CR0");
        QCOMPARE(rig.written(), QString("CR0\r"));
        QCOMPARE(form.Label11->text(), QString(" C R 0  [CR] "));
        QCOMPARE(form.Label12->text(), QString());
        QVERIFY(!form.Label28->isHidden());
        QVERIFY(form.Label27->isHidden());
        QCOMPARE(form.ReplyWait, quint8(1));
        QVERIFY(form.Timer2->isActive());
        QVERIFY(form.Timer4->isActive());
        QCOMPARE(form.Timer2->interval(), 1000);
        QCOMPARE(form.Timer4->interval(), 1200);

        rig.port.receive("80\r");
        QCOMPARE(form.Label12->text(), QString(" 8 0  [CR] "));
        QCOMPARE(form.Label25->text(), QString(" Stand by"));
        QCOMPARE(form.ReplyWait, quint8(0));

        form.Timer2_Timer(); // one second after the send: the answer stays
        QCOMPARE(form.Label12->text(), QString(" 8 0  [CR] "));
        QVERIFY(form.Label28->isHidden());
        QVERIFY(form.RxBuffer.isEmpty());
        QVERIFY(!form.Timer2->isActive());

        form.Timer4_Timer(); // 1.2 seconds after the send: all clear
        QCOMPARE(form.Label11->text(), QString());
        QCOMPARE(form.Label12->text(), QString());
        QCOMPARE(form.Label25->text(), QString());
        QVERIFY(!form.Timer4->isActive());
    }

    void replyInTwoPiecesIsRedrawnWhole() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR0");
        rig.port.receive("8");
        QCOMPARE(rig.form->Label12->text(), QString(" 8 "));
        QCOMPARE(rig.form->Label25->text(), QString());
        QCOMPARE(rig.form->ReplyWait, quint8(0));
        rig.port.receive("0\r");
        QCOMPARE(rig.form->RxBuffer.text(), QString("80\r"));
        QCOMPARE(rig.form->Label12->text(), QString(" 8 0  [CR] "));
        QCOMPARE(rig.form->Label25->text(), QString(" Stand by"));
    }

    void unansweredCommandShowsXXXXThenClears() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "C00");
        rig.form->Timer2_Timer();
        QCOMPARE(rig.form->Label12->text(), QString(" X X X X"));
        QCOMPARE(rig.form->ReplyWait, quint8(0));
        rig.form->Timer4_Timer();
        QCOMPARE(rig.form->Label12->text(), QString());
    }

    void lateReplyReplacesXXXX() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR1");
        rig.form->Timer2_Timer();
        rig.port.receive("3\r");
        QCOMPARE(rig.form->Label12->text(), QString(" 3  [CR] "));
        QCOMPARE(rig.form->Label25->text(), QString(" Input 3"));
        QCOMPARE(rig.form->ReplyWait, quint8(0));
    }

    void replyStraddlingTheTimeoutStartsANewCollection() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR3");
        rig.port.receive("012");
        rig.form->Timer2_Timer();
        rig.port.receive("34\r");
        QCOMPARE(rig.form->Label12->text(), QString(" 3 4  [CR] "));
        QCOMPARE(rig.form->Label25->text(), QString()); // three characters are no lamp time
    }

    void lampTimeDecodesOnlyWhenTheCollectionHoldsExactlySix() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR3");
        rig.port.receive("01234\r");
        QCOMPARE(rig.form->Label25->text(), QString("   1 2 3 4   Hour Use"));
        // A status box still showing an earlier answer is not extended: the hours stand alone.
        panelSends(rig, "CR3");
        rig.port.receive("00042\r");
        QCOMPARE(rig.form->Label25->text(), QString("       4 2   Hour Use"));
        panelSends(rig, "CR6");
        rig.port.receive("032.5 041.0 038.0\r\n"); // 19 characters in one piece: not decoded
        QCOMPARE(rig.form->Label25->text(), QString("       4 2   Hour Use"));
    }

    void consoleCommandRepliesAreReadAsThePanelsLastQuery() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR0");
        const QString console = QStringLiteral("CR INPUT\r");
        QVERIFY(rig.form->Hyouji(console, 1));
        QCOMPARE(Module1::TxCommand, QString("CR0\r"));
        rig.port.receive("00\r");
        QCOMPARE(rig.form->Label25->text(), QString(" Power ON"));
    }

    void charactersNobodyAskedForAreShownAndCollected() {
        PanelRig rig;
        rig.startWithPort();
        rig.port.receive("HELLO");
        rig.port.receive(" \n");
        QCOMPARE(rig.form->Label12->text(), QString(" H E L L O _  [LF]  "));
        QVERIFY(!rig.form->Label27->isHidden());
        QCOMPARE(rig.form->ReplyWait, quint8(0));
    }

    void otherNotificationsChangeNothing() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR0");
        rig.port.raiseEvent(1);
        rig.port.raiseEvent(1009);
        QCOMPARE(rig.form->ReplyWait, quint8(1));
        QCOMPARE(rig.form->Label12->text(), QString());
        QVERIFY(rig.form->RxBuffer.isEmpty());
    }

    void aNewSendEmptiesTheReceiveSide() {
        PanelRig rig;
        rig.startWithPort();
        panelSends(rig, "CR0");
        rig.port.receive("80\r");
        panelSends(rig, "C00");
        QCOMPARE(rig.form->Label12->text(), QString());
        QVERIFY(rig.form->RxBuffer.isEmpty());
        QCOMPARE(rig.form->ReplyWait, quint8(1));
        QCOMPARE(rig.form->Label25->text(), QString(" Stand by")); // a send leaves the status box alone
    }

    void emptySendWritesNothingButStartsTheCycle() {
        PanelRig rig;
        rig.startWithPort();
        QVERIFY(rig.form->Hyouji(QString(), 1));
        QCOMPARE(rig.port.written.size(), 0);
        QCOMPARE(rig.form->Label11->text(), QString(" "));
        QCOMPARE(rig.form->ReplyWait, quint8(1));
        QVERIFY(rig.form->Timer2->isActive());
    }

    void anyModeButOneReceives() {
        PanelRig rig;
        rig.startWithPort();
        rig.port.receive("80\r");
        rig.form->Label12->clear();
        QVERIFY(rig.form->Hyouji(rig.form->RxBuffer.text(), 0));
        QCOMPARE(rig.form->Label12->text(), QString(" 8 0  [CR] "));
        rig.form->Label12->clear();
        QVERIFY(rig.form->Hyouji(rig.form->RxBuffer.text(), 3));
        QCOMPARE(rig.form->Label12->text(), QString(" 8 0  [CR] "));
        QCOMPARE(rig.port.written.size(), 0);
    }

    void sendOnAClosedPortChangesNothingAndSaysSo() {
        PanelRig rig;
        rig.startWithPort();
        Module1::TxCommand = QStringLiteral("CR0\r");
        QVERIFY(rig.form->Hyouji(Module1::TxCommand, 1));
        rig.port.receive("80");
        rig.form->Timer2->stop();
        rig.form->Timer4->stop();
        rig.port.setPortOpen(false);

        Module1::TxCommand = QStringLiteral("C00\r");
        QVERIFY(!rig.form->Hyouji(Module1::TxCommand, 1));
        QCOMPARE(rig.form->Label11->text(), QString(" C R 0  [CR] "));
        QCOMPARE(rig.form->Label12->text(), QString(" 8 0 "));
        QCOMPARE(rig.form->RxBuffer.text(), QString("80"));
        QCOMPARE(rig.form->ReplyWait, quint8(0));
        QVERIFY(!rig.form->Timer2->isActive());
        QVERIFY(!rig.form->Timer4->isActive());
        QVERIFY(!rig.form->portNotice->isHidden());
        QVERIFY(rig.form->portNotice->text().startsWith("Not sent:"));
        // The notice sits inside the compact height, so it is seen at either height.
        QVERIFY(rig.form->portNotice->geometry().bottom() < rig.form->height());

        rig.port.setPortOpen(true);
        QVERIFY(rig.form->Hyouji(Module1::TxCommand, 1));
        QVERIFY(rig.form->portNotice->isHidden());
    }

    void unpluggedPortIsReportedOnce() {
        PanelRig rig;
        rig.startWithPort();
        rig.port.unplug();
        QVERIFY(!rig.port.portOpen());
        QVERIFY(!rig.form->portNotice->isHidden());
        QVERIFY(rig.form->portNotice->text().startsWith("Port closed:"));
    }

    void endlessStreamIsBoundedAndStopsRedrawing() {
        PanelRig rig;
        rig.startWithPort();
        const QByteArray chunk(4096, 'A');
        for (int i = 0; i < 256; ++i) // 1 MiB without a pause
            rig.port.receive(chunk);
        QCOMPARE(rig.form->RxBuffer.size(), ReceivedText::capacity);
        QVERIFY(rig.form->Label12->text().size() <= Form1::transcriptShown);
        QVERIFY(rig.form->Label12->text().startsWith(" A A A"));
        rig.form->Timer2_Timer();
        rig.port.receive("80\r");
        QCOMPARE(rig.form->Label12->text(), QString(" 8 0  [CR] "));
    }
};

QTEST_MAIN(Exchange)
#include "test_exchange.moc"
