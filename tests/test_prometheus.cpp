// The server's metrics as a monitoring system takes them: promtool accepts their format, and
// a real Prometheus server scrapes tavo-server and answers the lamp time through its query API.
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

struct Started {
    QProcess process;
    QByteArray out;
    explicit Started(const QString &program, const QStringList &arguments) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, &process, [this] { out += process.readAll(); });
        process.start(program, arguments);
    }
    ~Started() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

} // namespace

class PrometheusScrape : public QObject {
    Q_OBJECT
private slots:
    void prometheusReadsTheLampTimeInSeconds() {
        QTemporaryDir dir;
        Started sim(qEnvironmentVariable("TAVO_PROJECTOR_SIM"), {"--pty", "--lamp-hours", "2345"});
        QVERIFY(QTest::qWaitFor([&] { return sim.out.contains('\n'); }, 5000));
        const QString device = QString::fromLatin1(sim.out.left(sim.out.indexOf('\n'))).mid(4);
        Started server(qEnvironmentVariable("TAVO_SERVER"),
                       {"--port", device, "--baud", "9600", "--pjlink", "off", "--http", "127.0.0.1:0", "--poll", "1"});
        QVERIFY(QTest::qWaitFor([&] { return server.out.contains("for HTTP"); }, 5000));
        const QString target =
            QRegularExpression("listening on (127.0.0.1:\\d+) for HTTP").match(QString::fromUtf8(server.out)).captured(1);

        QNetworkAccessManager web;
        const auto get = [&](const QUrl &url) {
            QNetworkReply *reply = web.get(QNetworkRequest(url));
            (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
            reply->deleteLater();
            return reply->readAll();
        };
        QByteArray metrics;
        QVERIFY(QTest::qWaitFor(
            [&] { return (metrics = get(QUrl("http://" + target + "/metrics"))).contains("tavo_lamp_seconds"); }, 10000));
        QProcess promtool;
        promtool.start("promtool", {"check", "metrics"});
        promtool.write(metrics);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(30000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());

        QFile config(dir.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: projector\n    static_configs:\n"
                     "      - targets: ['" +
                     target.toLatin1() + "']\n");
        config.close();
        const QString web_address = QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort());
        Started prometheus("prometheus", {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                                          "--web.listen-address=" + web_address, "--log.level=warn"});
        QUrl query("http://" + web_address + "/api/v1/query");
        query.setQuery(QUrlQuery{{"query", "tavo_lamp_seconds"}});
        QJsonArray result;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         result = QJsonDocument::fromJson(get(query)).object()["data"].toObject()["result"].toArray();
                         return !result.isEmpty() || prometheus.process.state() == QProcess::NotRunning;
                     },
                     60000),
                 prometheus.out.constData());
        QVERIFY2(!result.isEmpty(), prometheus.out.constData());
        const QJsonObject sample = result[0].toObject();
        QCOMPARE(sample["value"].toArray()[1].toString(), QString("8442000")); // 2345 hours
        QCOMPARE(sample["metric"].toObject()["job"].toString(), QString("projector"));
    }
};

QTEST_GUILESS_MAIN(PrometheusScrape)
#include "test_prometheus.moc"
