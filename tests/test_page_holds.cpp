// The page's held arrows as the server keeps them: a lease the page renews, the repeat on
// the queue every 100 ms, its end 300 ms after the last renewal or at once when the page's
// socket closes, and nothing left waiting to go out after either. On the in-memory port, with
// the handlers called as the events socket calls them.
#include "LineQueue.h"
#include "exchange/Readings.h"
#include "web/Holds.h"

#include "exchange/ProjectorLine.h"
#include "host/FakeSerialComponent.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// A projector that acknowledges each command a millisecond after it, while it answers at
// all, and notes when each command went out.
class AnsweringPort : public FakeSerialComponent {
public:
    QElapsedTimer clock;
    QList<std::pair<qint64, QString>> sent;
    bool answering = true;

    AnsweringPort() {
        clock.start();
        setPortOpen(true);
    }
    void setOutput(const QString &text) override {
        FakeSerialComponent::setOutput(text);
        sent.append({clock.elapsed(), text.trimmed()});
        if (answering)
            QTimer::singleShot(1, this, [this] { receive("\x06"); });
    }
    QList<qint64> timesOf(const QString &command) const {
        QList<qint64> times;
        for (const auto &[at, text] : sent)
            if (text == command)
                times << at;
        return times;
    }
};

const QString hold = QStringLiteral(R"({"type": "hold", "action": "volume-up"})");

HttpRequestFacts fromPage(const QByteArray &authorization = {}, const QByteArray &origin = "http://127.0.0.1:8735") {
    return {"GET", QStringLiteral("/api/events"), true, "127.0.0.1:8735", origin, authorization};
}

} // namespace

class PageHolds : public QObject {
    Q_OBJECT
private slots:
    void aRenewedHoldRepeatsAndEnds300msAfterTheLastRenewal() {
        AnsweringPort port;
        ProjectorLine line(port, 500);
        Readings readings;
        LineQueue queue(line, readings, {8, 64, 0});
        Holds holds(queue, {{}, false, {"127.0.0.1"}});
        QSignalSpy ended(&holds, &Holds::ended);
        QObject page;

        const qint64 start = port.clock.elapsed();
        QVERIFY(holds.take(&page, fromPage(), "127.0.0.1", hold).isEmpty());
        // The page renews every 80 ms for half a second, then its finger-up is lost.
        qint64 lastRenewal = start;
        QTimer renew;
        renew.setTimerType(Qt::PreciseTimer);
        QObject::connect(&renew, &QTimer::timeout, &renew, [&] {
            if (port.clock.elapsed() - start >= 500)
                return renew.stop();
            lastRenewal = port.clock.elapsed();
            holds.take(&page, fromPage(), "127.0.0.1", hold);
        });
        renew.start(80);
        QVERIFY(waitUntil([&] { return !ended.isEmpty(); }, 3000));
        const qint64 end = port.clock.elapsed();
        QCOMPARE(ended.first().at(1).toString(), QString("lease"));
        QVERIFY2(end - lastRenewal >= 299 && end - lastRenewal <= 300 + 150,
                 qPrintable(QString("ended %1 ms after the last renewal").arg(end - lastRenewal)));

        const QList<qint64> sends = port.timesOf("C09");
        QVERIFY2(sends.size() >= 6 && sends.size() <= 10, qPrintable(QString("%1 sends").arg(sends.size())));
        QVERIFY(sends.first() - start < 50); // on the press
        QVERIFY(sends.last() > start + 400); // kept up by the renewals
        QVERIFY(waitUntil([&] { return queue.length() == 0; }));
        QCOMPARE(port.timesOf("C09").size(), sends.size()); // and nothing after the end
        QCOMPARE(holds.count(), 0);
    }

    void aClosedPageDropsItsWaitingRepeatAndAChangeNeedsTheRules() {
        AnsweringPort port;
        port.answering = false;
        ProjectorLine line(port, 300);
        Readings readings;
        LineQueue queue(line, readings, {8, 64, 0});
        Holds holds(queue, {"secret", false, {"127.0.0.1"}});
        QSignalSpy ended(&holds, &Holds::ended);
        const QByteArray password = "Basic " + QByteArray("x:secret").toBase64();

        // Another client's command holds the line; the hold's first repeat waits behind it.
        bool busyDone = false;
        LineRequest busy;
        busy.commands = {"CR0"};
        busy.done = [&](const QList<LineExchange> &) { busyDone = true; };
        queue.submit(queue.addClient("pjlink", "192.0.2.9"), std::move(busy));
        QObject page;
        QVERIFY(holds.take(&page, fromPage(password), "127.0.0.1", hold).isEmpty());
        QCOMPARE(holds.count(), 1);
        QCOMPARE(queue.length(), 2);
        holds.pageGone(&page);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.first().at(1).toString(), QString("closed"));
        QCOMPARE(queue.length(), 1);
        QVERIFY(waitUntil([&] { return busyDone && queue.length() == 0; }));
        QCOMPARE(port.timesOf("C09").size(), 0);

        // The same rules as a POST: the password where it is set, this server's own pages only;
        // and only the arrows repeat.
        const struct {
            const char *why;
            HttpRequestFacts facts;
            QString message;
        } refused[] = {
            {"no password", fromPage(), hold},
            {"another origin", fromPage(password, "http://192.0.2.66"), hold},
            {"not an arrow", fromPage(password), R"({"type": "hold", "action": "power-on"})"},
        };
        for (const auto &each : refused) {
            const QJsonObject answer = holds.take(&page, each.facts, "127.0.0.1", each.message);
            QVERIFY2(answer["type"] == "hold_refused" && !answer["error"].toString().isEmpty(), each.why);
            QCOMPARE(holds.count(), 0);
        }
        QCOMPARE(port.sent.size(), 1); // the busy CR0 alone
        QVERIFY(holds.take(&page, fromPage(password), "127.0.0.1", hold).isEmpty());
        QCOMPARE(holds.take(&page, fromPage(password), "127.0.0.1", R"({"type": "release"})")["type"], "hold_ended");
        QCOMPARE(ended.last().at(1).toString(), QString("released"));
        QCOMPARE(holds.count(), 0);
    }
};

QTEST_MAIN(PageHolds)
#include "test_page_holds.moc"
