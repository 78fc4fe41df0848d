// What the operator reads: the transcript lines and the status box words.
#include "exchange/ReceivedText.h"
#include "exchange/StatusDecoding.h"
#include "exchange/Transcript.h"

#include <QTest>

namespace {
QString rx(const char *bytes) { return QString::fromLatin1(bytes); }
QString rendered(const QString &text) { return renderTranscript(text).text; }
// The status box after the reply `reply` to the query `query` has arrived whole.
std::optional<QString> statusAfter(const char *query, const char *reply) {
    const QString text = QString::fromLatin1(reply);
    return decodeStatus(rendered(text), text.size(), QString::fromLatin1(query) + QLatin1Char('\r'));
}
} // namespace

class RenderingDecoding : public QObject {
    Q_OBJECT
private slots:
    void commandsRenderWithVisibleControlCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("spaceLegend");
        QTest::addColumn<bool>("crLegend");
        QTest::newRow("status query") << rx("CR0\r") << rx(" C R 0  [CR] ") << false << true;
        QTest::newRow("blank in command") << rx("CF MIC ON\r") << rx(" C F _ M I C _ O N  [CR] ") << true << true;
        QTest::newRow("ACK alone") << rx("\x06") << rx("  [ACK] ") << false << false;
        QTest::newRow("empty") << QString() << rx(" ") << false << false;
        QTest::newRow("CR LF") << rx("\r\n") << rx("  [CR]  [LF]  ") << false << true;
        QTest::newRow("tab and NUL") << QString(QChar(9)) + QChar(0) << rx(" ? ? ") << false << false;
        QTest::newRow("edges of the visible range") << rx("!z{~\x7f") << rx(" ! z ? ? ? ") << false << false;
        QTest::newRow("above ASCII") << QString(QChar(0xE9)) + QChar(0x3042) << rx(" ? ? ") << false << false;
        QTest::newRow("key lock") << rx("CF KEYDIS NONE\r") << rx(" C F _ K E Y D I S _ N O N E  [CR] ") << true
                                  << true;
    }
    void commandsRenderWithVisibleControlCharacters() {
        QFETCH(QString, text);
        QFETCH(QString, line);
        QFETCH(bool, spaceLegend);
        QFETCH(bool, crLegend);
        const TranscriptLine result = renderTranscript(text);
        QCOMPARE(result.text, line);
        QCOMPARE(result.showsSpace, spaceLegend);
        QCOMPARE(result.showsCarriageReturn, crLegend);
    }

    void powerStatusRepliesBecomeWords() {
        QCOMPARE(statusAfter("CR0", "80\r"), QString(" Stand by"));
        QCOMPARE(statusAfter("CR0", "00\r"), QString(" Power ON"));
        QCOMPARE(statusAfter("CR0", "40\r"), QString(" Count down"));
        QCOMPARE(statusAfter("CR0", "20\r"), QString(" Cooling down"));
        QCOMPARE(statusAfter("CR0", "10\r"), QString(" Power abnormality"));
        QCOMPARE(statusAfter("CR0", "28\r"), QString(" Temperature abnormality"));
        QCOMPARE(statusAfter("CR0", "81\r"), QString(" Lamp Failure"));
        QCOMPARE(statusAfter("CR0", "04\r"), std::nullopt);
        // The first received piece is too short to mean anything yet.
        QCOMPARE(statusAfter("CR0", "8"), std::nullopt);
        // An ACK before the code shifts it out of place.
        QCOMPARE(statusAfter("CR0", "\x06" "80\r"), std::nullopt);
    }

    void inputAndSettingReplies() {
        QCOMPARE(statusAfter("CR1", "4\r"), QString(" Wired"));
        QCOMPARE(statusAfter("CR1", "5\r"), QString(" Wireless/Viewer"));
        QCOMPARE(statusAfter("CR1", "6\r"), std::nullopt);
        QCOMPARE(statusAfter("CR4", "11\r"), QString(" Normally"));
        QCOMPARE(statusAfter("CR4", "00\r"), QString(" Top/Bottom , Left/Right reversal"));
        QCOMPARE(statusAfter("CR4", "01\r"), QString(" Left/Right reversal"));
    }

    void lampHoursKeepTheirPlaceWithLeadingZerosBlanked() {
        QCOMPARE(statusAfter("CR3", "01234\r"), QString("   1 2 3 4   Hour Use"));
        QCOMPARE(statusAfter("CR3", "00000\r"), QString(12, QLatin1Char(' ')) + " Hour Use");
        QCOMPARE(statusAfter("CR3", "10203\r"), QString(" 1 0 2 0 3   Hour Use"));
        // Only a reply of exactly five characters and CR is a lamp time.
        QCOMPARE(statusAfter("CR3", "0123\r"), std::nullopt);
        QCOMPARE(statusAfter("CR3", "012345\r"), std::nullopt);
    }

    void temperaturesShowThreeReadings() {
        QCOMPARE(statusAfter("CR6", "032.5 041.0 038.0\r"),
                 QString(" 0 3 2 . 5 deg C 0 4 1 . 0 deg C 0 3 8 . 0 deg C "));
        QCOMPARE(statusAfter("CR6", "032.5 041.0 038.\r"), std::nullopt);   // 17 characters
        QCOMPARE(statusAfter("CR6", "032.5 041.0 038.01\r"), std::nullopt); // 19 characters
    }

    void lampStatusAndModeRepliesAreRecognised() {
        QCOMPARE(statusAfter("CR LAMPSTS", "000 1I\r"), QString(" Lamp is ON"));
        QCOMPARE(statusAfter("CR LAMPSTS", "000 1O\r"), QString(" Lamp is OFF"));
        QCOMPARE(statusAfter("CR LAMPSTS", "000 1X\r"), QString(" Lamp is failure"));
        QCOMPARE(statusAfter("CR LAMPMODE", "000 HIGH\r"), QString(" Lamp Mode is High"));
        QCOMPARE(statusAfter("CR LAMPMODE", "000 NORMAL\r"), QString(" Lamp Mode is NORMAL"));
        QCOMPARE(statusAfter("CR LAMPMODE", "000 ECO\r"), QString(" Lamp Mode is Eco"));
        QCOMPARE(statusAfter("CR LAMPMODE", "000 ECO2\r"), std::nullopt);
    }

    void repliesToOtherCommandsAreNotDecoded() {
        QCOMPARE(statusAfter("CR7", "000 NORMAL\r"), std::nullopt);
        QCOMPARE(statusAfter("C00", "80\r"), std::nullopt);
        // The query must match exactly, case and terminator included.
        QCOMPARE(decodeStatus(rendered(rx("80\r")), 3, rx("cr0\r")), std::nullopt);
        QCOMPARE(decodeStatus(rendered(rx("80\r")), 3, rx("CR0")), std::nullopt);
    }

    void collectionRendersPiecewiseAsAWhole() {
        ReceivedText collection;
        collection.append(rx("8"));
        QCOMPARE(collection.rendering().text, rx(" 8 "));
        collection.append(rx("0\r"));
        QCOMPARE(collection.rendering().text, rendered(rx("80\r")));
        QVERIFY(collection.rendering().showsCarriageReturn);
        QVERIFY(!collection.rendering().showsSpace);
        collection.append(rx(" \x06\n"));
        QCOMPARE(collection.rendering().text, rendered(rx("80\r \x06\n")));
        QVERIFY(collection.rendering().showsSpace);
        collection.clear();
        QCOMPARE(collection.rendering().text, rx(" "));
        QVERIFY(!collection.rendering().showsCarriageReturn);
    }

    void collectionKeepsTheFirstCharactersWhenFull() {
        ReceivedText collection;
        const QString chunk(1000, QLatin1Char('A'));
        qsizetype taken = 0;
        for (int i = 0; i < 40; ++i)
            taken += collection.append(chunk);
        QCOMPARE(taken, ReceivedText::capacity);
        QCOMPARE(collection.size(), ReceivedText::capacity);
        QCOMPARE(collection.dropped(), 40000 - ReceivedText::capacity);
        QCOMPARE(collection.rendering().text.size(), 1 + 2 * ReceivedText::capacity);
        QCOMPARE(collection.append(rx("B")), 0);
        QVERIFY(!collection.text().contains(QLatin1Char('B')));
        collection.clear();
        QCOMPARE(collection.append(rx("B")), 1);
    }
};

QTEST_APPLESS_MAIN(RenderingDecoding)
#include "test_rendering_decoding.moc"
