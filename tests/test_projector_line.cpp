// The one-command-one-reply line that the console programs share, on the in-memory port:
// where a reply ends, what a reply reads as, and the order commands go out in.
#include "exchange/ProjectorLine.h"
#include "exchange/ReplyReading.h"
#include "host/FakeSerialComponent.h"
#include "panel/Actions.h"

#include <QJsonArray>
#include <QTest>

namespace {

struct LineRig {
    FakeSerialComponent port;
    ProjectorLine line{port, 200};
    QList<LineExchange> done;

    LineRig() { port.setPortOpen(true); }
    void send(const char *command) {
        line.send(QString::fromLatin1(command), [this](const LineExchange &exchange) { done.append(exchange); });
    }
    // Lets queued dispatches run, so the next command is on the line.
    void settle() { QCoreApplication::processEvents(); }
};

} // namespace

class ProjectorLineTest : public QObject {
    Q_OBJECT
private slots:
    void commandsWaitForTheReplyToTheOneBefore() {
        LineRig rig;
        rig.send("CR0");
        rig.send("C00");
        rig.settle();
        QCOMPARE(rig.port.written, QByteArray("CR0\r")); // C00 waits for the status reply

        rig.port.receive("8");
        rig.settle();
        QCOMPARE(rig.port.written, QByteArray("CR0\r"));
        rig.port.receive("0\rjunk"); // the end of the reply; what follows is nobody's
        QCOMPARE(rig.done.size(), 1);
        QCOMPARE(rig.done[0].reply, QString("80\r"));
        QVERIFY(rig.done[0].answered);
        QCOMPARE(rig.done[0].sent, QString("CR0\r"));
        rig.settle();
        QCOMPARE(rig.port.written, QByteArray("CR0\rC00\r"));

        rig.port.receive("\x06"); // a lone ACK ends a reply too
        QCOMPARE(rig.done.size(), 2);
        QCOMPARE(rig.done[1].reply, QString("\x06"));
        QVERIFY(rig.done[1].answered);
    }

    void silenceEndsAtTheTimeoutWithWhatCameSoFar() {
        LineRig rig;
        rig.send("CR3");
        rig.send("CR0");
        rig.settle();
        rig.port.receive("012"); // no end
        QTRY_COMPARE(rig.done.size(), 1);
        QVERIFY(!rig.done[0].answered);
        QCOMPARE(rig.done[0].reply, QString("012"));
        QVERIFY(rig.done[0].failure.isEmpty());
        QTRY_COMPARE(rig.port.written, QByteArray("CR3\rCR0\r")); // after the hold that follows a timeout
    }

    // A reply that misses its timeout is still on its way; it must not become the answer
    // to the command after.
    void aLateReplyIsNobodysAnswer() {
        LineRig rig;
        QStringList discarded;
        QObject::connect(&rig.line, &ProjectorLine::discarded, [&](const QString &c) { discarded << c; });
        rig.send("CR0");
        rig.send("CR3");
        rig.settle();
        QTRY_COMPARE(rig.done.size(), 1); // CR0 timed out
        QVERIFY(!rig.done[0].answered);
        rig.settle();
        QCOMPARE(rig.port.written, QByteArray("CR0\r")); // CR3 is held back
        QVERIFY(rig.line.holdingBack());

        rig.port.receive("80\r"); // the power reply, late
        QCOMPARE(discarded, QStringList{"80\r"});
        QCOMPARE(rig.port.written, QByteArray("CR0\r"));
        QTRY_COMPARE(rig.port.written, QByteArray("CR0\rCR3\r")); // after a short quiet
        rig.port.receive("01234\r");
        QCOMPARE(rig.done.size(), 2);
        QCOMPARE(rig.done[1].reply, QString("01234\r"));
        QVERIFY(exchangeProblem(rig.done[1], 200).isEmpty());

        // Answered in time: the next command goes at once, as a held button needs.
        rig.send("C11");
        rig.settle();
        QCOMPARE(rig.port.written, QByteArray("CR0\rCR3\rC11\r"));
        rig.port.receive("\x06");

        // Nothing late at all: the hold ends one timeout later.
        rig.send("CR1");
        rig.send("CR6");
        rig.settle();
        QTRY_COMPARE(rig.done.size(), 4);
        QVERIFY(rig.line.holdingBack());
        QTRY_VERIFY(rig.port.written.endsWith("CR1\rCR6\r"));
        QVERIFY(!rig.line.holdingBack());
    }

    void aReplyWithoutEndIsCutAtItsLimit() {
        LineRig rig;
        rig.send("CR0");
        rig.settle();
        rig.port.receive(QByteArray(ProjectorLine::maxReplyLength + 10, '8'));
        QCOMPARE(rig.done.size(), 1);
        QCOMPARE(rig.done[0].reply.size(), ProjectorLine::maxReplyLength);
        QVERIFY2(rig.done[0].failure.contains("4096"), qPrintable(rig.done[0].failure));
        QVERIFY(rig.line.holdingBack()); // the rest of the stream is nobody's reply either
    }

    // Where a reply is read into a reading, anything else is a failure, never a success.
    void answersThatAreNotGoodAnswers_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("problem"); // empty: a good answer
        QTest::newRow("refused") << "C00" << "?\r" << "refused";
        QTest::newRow("refused query") << "CR0" << "?\r" << "refused";
        QTest::newRow("power as hours") << "CR3" << "80\r" << "not a reply to CR3";
        QTest::newRow("hours as power") << "CR0" << "01234\r" << "not a reply to CR0";
        QTest::newRow("letters for hours") << "CR3" << "0A234\r" << "not a reply to CR3";
        QTest::newRow("temperatures as input") << "CR1" << "025.0 026.0 025.5\r" << "not a reply to CR1";
        QTest::newRow("lamp status") << "CR LAMPSTS" << "000 1I\r" << "";
        QTest::newRow("undecoded command, any reply") << "CF BRIGHT 042" << "000\r" << "";
        QTest::newRow("acknowledged") << "C0D" << "\x06" << "";
    }
    void answersThatAreNotGoodAnswers() {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        QFETCH(QString, problem);
        LineExchange exchange;
        exchange.command = command;
        exchange.sent = command + '\r';
        exchange.reply = reply;
        exchange.answered = true;
        const QString found = exchangeProblem(exchange, 1000);
        QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
        if (!problem.isEmpty())
            QCOMPARE(readReply(command, reply).status, std::nullopt); // no words for a failure
    }

    void aLostPortFailsTheWaitingCommandAndTheRest() {
        LineRig rig;
        rig.send("CR0");
        rig.send("CR1");
        rig.settle();
        rig.port.unplug();
        rig.settle();
        QCOMPARE(rig.done.size(), 2);
        QVERIFY(rig.done[0].failure.contains("stopped answering"));
        QVERIFY(!rig.done[1].failure.isEmpty());
        QCOMPARE(rig.done[1].sent, QString()); // nothing was written for it
        QCOMPARE(rig.port.written, QByteArray("CR0\r"));

        // A line that reopens its port takes the next command through a fresh open.
        rig.line.reopenWhenClosed = true;
        rig.send("CR1");
        rig.settle();
        QCOMPARE(rig.port.written, QByteArray("CR0\rCR1\r"));
        QCOMPARE(rig.port.openCount, 2);
    }

    void repliesReadAsThePanelDecodesThem() {
        const ReplyReading power = readReply(u"CR0", u"20\r");
        QCOMPARE(power.status, QString("Cooling down"));
        QCOMPARE(power.value.toString(), QString("cooling"));
        QCOMPARE(power.shown, QString(" 2 0  [CR] "));

        const ReplyReading hours = readReply(u"CR3", u"01234\r");
        QCOMPARE(hours.status, QString("1 2 3 4   Hour Use"));
        QCOMPARE(hours.value.toInt(), 1234);

        const ReplyReading temps = readReply(u"CR6", u"031.5 033.0 035.2\r");
        QCOMPARE(temps.value.toArray(), QJsonArray({31.5, 33.0, 35.2}));

        const ReplyReading input = readReply(u"CR1", u"4\r");
        QCOMPARE(input.status, QString("Wired"));
        QCOMPARE(input.value.toString(), QString("Video"));
        // A reply to anything else is shown, never decoded.
        const ReplyReading ack = readReply(u"C00", u"\x06");
        QCOMPARE(ack.status, std::nullopt);
        QVERIFY(ack.value.isNull());
    }

    void actionNamesFollowOneRule() {
        QCOMPARE(panel::actions().size(), std::size_t(65)); // 53 click and 12 repeat buttons
        QSet<QString> names;
        for (const panel::Action &action : panel::actions()) {
            QVERIFY2(panel::looksLikeActionName(action.name), qPrintable(action.name));
            names.insert(action.name);
        }
        QCOMPARE(names.size(), 65);
        QCOMPARE(panel::actionCode(u"lamp-status"), QString("CR LAMPSTS"));
        QCOMPARE(panel::actionCode(u"menu-left"), QString("C3B"));
        QCOMPARE(panel::actionCode(u"computer-2-analog-rgb"), QString("C06"));
        QCOMPARE(panel::actionCode(u"hdmi"), QString("C04"));
        QCOMPARE(panel::actionCode(u"r-c-key-off-none"), QString("CF KEYDIS NONE"));
        QCOMPARE(panel::actionCode(u"end"), std::nullopt); // window commands send nothing
        QVERIFY(!panel::looksLikeActionName(u"CR0"));
    }
};

QTEST_GUILESS_MAIN(ProjectorLineTest)
#include "test_projector_line.moc"
