// The server's metrics as a monitoring system takes them: promtool accepts their format, a
// real Prometheus server scrapes tavo-server and answers the lamp time through its query API,
// and the shipped alert rules and fleet dashboard work on two servers, an alert reaching a
// real Alertmanager.
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <functional>
#include <memory>

namespace {

struct Started {
    QProcess process;
    QByteArray out;
    explicit Started(const QString &program, const QStringList &arguments) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, &process, [this] { out += process.readAll(); });
        process.start(program, arguments);
    }
    // A program of this build, named by an environment variable.
    struct Built {
        const char *variable;
    };
    Started(Built program, const QStringList &arguments) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, &process, [this] { out += process.readAll(); });
        startBuilt(process, program.variable, arguments);
    }
    ~Started() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
};

// A simulated projector on a pseudo-terminal, and tavo-server on it polling every second with
// HTTP on a free loopback port; `target` is that address, empty when either did not start.
struct ServedProjector {
    Started simulator;
    std::unique_ptr<Started> server;
    QString target;
    ServedProjector(const QStringList &simulatorArguments, const QStringList &serverArguments)
        : simulator(Started::Built{"TAVO_PROJECTOR_SIM"}, QStringList{"--pty"} + simulatorArguments) {
        if (!waitUntil([&] { return simulator.out.contains('\n') || !simulator.running(); }))
            return;
        const QString device = QString::fromLatin1(simulator.out.left(simulator.out.indexOf('\n'))).mid(4);
        server = std::make_unique<Started>(Started::Built{"TAVO_SERVER"},
                                           QStringList{"--port", device, "--baud", "9600", "--pjlink", "off", "--http",
                                                       "127.0.0.1:0", "--poll", "1"} +
                                               serverArguments);
        if (waitUntil([&] { return server->out.contains("for HTTP") || !server->running(); }))
            target = QRegularExpression("listening on (127.0.0.1:\\d+) for HTTP")
                         .match(QString::fromUtf8(server->out))
                         .captured(1);
    }
};

QByteArray get(const QUrl &url) {
    QNetworkAccessManager web;
    std::unique_ptr<QNetworkReply> reply(web.get(QNetworkRequest(url)));
    (void)waitUntil([&] { return reply->isFinished(); }, 10000);
    return reply->readAll();
}

// Waits for `done` while a program the test started works, asking at most five times a second.
bool awaitWhile(const Started &program, const std::function<bool()> &done) {
    QElapsedTimer asked;
    return waitUntil(
               [&] {
                   if (asked.isValid() && asked.elapsed() < 200)
                       return false;
                   asked.start();
                   return done() || !program.running();
               },
               60000) &&
           program.running();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Prometheus on a free loopback port, with its data in `dir`.
struct Prometheus : Started {
    QString address;
    Prometheus(const QTemporaryDir &dir, const QString &config, const QString &at)
        : Started("prometheus", {"--config.file=" + config, "--storage.tsdb.path=" + dir.filePath("data"),
                                 "--web.listen-address=" + at, "--log.level=warn"}),
          address(at) {}
    Prometheus(const QTemporaryDir &dir, const QString &config)
        : Prometheus(dir, config, QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort())) {}
    // The series an instant query gives now; none while Prometheus starts.
    QJsonArray query(const QString &expression) const {
        QUrl url("http://" + address + "/api/v1/query");
        url.setQuery(QUrlQuery{{"query", expression}});
        return QJsonDocument::fromJson(get(url)).object()["data"].toObject()["result"].toArray();
    }
    // What `expression` gives once it is `enough`, or when Prometheus stopped or the time ran out.
    QJsonArray awaitQuery(const QString &expression, const std::function<bool(const QJsonArray &)> &enough) const {
        QJsonArray result;
        (void)awaitWhile(*this, [&] { return enough(result = query(expression)); });
        return result;
    }
};

// The values of `label` among series of a query ("metric") or alerts ("labels").
QSet<QString> labelValues(const QJsonArray &series, const char *label, const char *labels = "metric") {
    QSet<QString> values;
    for (qsizetype i = 0; i < series.size(); ++i)
        values << series.at(i).toObject()[QLatin1String(labels)].toObject()[QLatin1String(label)].toString();
    return values;
}

} // namespace

class PrometheusScrape : public QObject {
    Q_OBJECT
private slots:
    void prometheusReadsTheLampTimeInSeconds() {
        QTemporaryDir dir;
        ServedProjector projector({"--lamp-hours", "2345"}, {});
        QVERIFY2(!projector.target.isEmpty(), projector.server ? projector.server->out.constData() : "no simulator");

        QByteArray metrics;
        QVERIFY(awaitWhile(*projector.server, [&] {
            return (metrics = get(QUrl("http://" + projector.target + "/metrics"))).contains("tavo_lamp_seconds");
        }));
        QProcess promtool;
        promtool.start("promtool", {"check", "metrics"});
        promtool.write(metrics);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(30000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());

        QVERIFY(writeFile(dir.filePath("prometheus.yml"),
                          "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: projector\n    static_configs:\n"
                          "      - targets: ['" + projector.target.toLatin1() + "']\n"));
        Prometheus prometheus(dir, dir.filePath("prometheus.yml"));
        const QJsonArray result =
            prometheus.awaitQuery("tavo_lamp_seconds", [](const QJsonArray &series) { return !series.isEmpty(); });
        QVERIFY2(!result.isEmpty(), prometheus.out.constData());
        const QJsonObject sample = result[0].toObject();
        QCOMPARE(sample["value"].toArray()[1].toString(), QString("8442000")); // 2345 hours
        QCOMPARE(sample["metric"].toObject()["job"].toString(), QString("projector"));
    }

    // Two projectors, one with a failed lamp: the dashboard's queries see both, and the lamp
    // failure of that one alone reaches Alertmanager, named from tavo_info.
    void theAlertForOneProjectorReachesAlertmanager() {
        QTemporaryDir dir;
        ServedProjector hall({"--answer", "CR0=21"}, {"--instance", "hall", "--name", "Hall projector"});
        ServedProjector library({}, {"--instance", "library", "--name", "Library"});
        QVERIFY(!hall.target.isEmpty() && !library.target.isEmpty());

        const QString alertmanager = QStringLiteral("127.0.0.1:%1").arg(freeLoopbackPort());
        QVERIFY(writeFile(dir.filePath("alertmanager.yml"), "route:\n  receiver: nobody\nreceivers:\n  - name: nobody\n"));
        Started manager("prometheus-alertmanager",
                        {"--config.file=" + dir.filePath("alertmanager.yml"), "--storage.path=" + dir.filePath("am"),
                         "--web.listen-address=" + alertmanager, "--cluster.listen-address=", "--log.level=warn"});
        const QString rules = QStringLiteral(TAVO_MONITORING_DIR "/prometheus/");
        QVERIFY(writeFile(dir.filePath("prometheus.yml"),
                          ("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                           "rule_files: ['" + rules + "tavo-thresholds.yml', '" + rules + "tavo-alerts.yml']\n"
                           "alerting:\n  alertmanagers:\n    - static_configs:\n        - targets: ['" + alertmanager +
                           "']\nscrape_configs:\n  - job_name: projectors\n    static_configs:\n      - targets: ['" +
                           hall.target + "', '" + library.target + "']\n")
                              .toUtf8()));
        Prometheus prometheus(dir, dir.filePath("prometheus.yml"));

        const QSet<QString> both{hall.target, library.target};
        const QJsonObject dashboard =
            QJsonDocument::fromJson(fileContents(TAVO_MONITORING_DIR "/grafana/tavo-fleet.json")).object();
        QCOMPARE(dashboard["templating"].toObject()["list"].toArray().at(0).toObject()["type"].toString(),
                 QString("datasource"));
        int queries = 0;
        const QJsonArray panels = dashboard["panels"].toArray();
        for (qsizetype p = 0; p < panels.size(); ++p) {
            const QJsonObject panel = panels.at(p).toObject();
            QCOMPARE(panel["datasource"].toObject()["uid"].toString(), QString("${datasource}"));
            const QJsonArray targets = panel["targets"].toArray();
            for (qsizetype t = 0; t < targets.size(); ++t) {
                const QString expression = targets.at(t).toObject()["expr"].toString();
                if (expression.startsWith("ALERTS"))
                    continue; // the firing alerts: none for the healthy projector
                ++queries;
                const QJsonArray series = prometheus.awaitQuery(
                    expression, [&](const QJsonArray &result) { return labelValues(result, "instance") == both; });
                QVERIFY2(labelValues(series, "instance") == both,
                         qPrintable(panel["title"].toString() + ": " + expression + "\n" + prometheus.out));
            }
        }
        QVERIFY(queries >= 10);

        const QUrl alerts("http://" + alertmanager + "/api/v2/alerts");
        QJsonArray received;
        QVERIFY2(awaitWhile(manager,
                            [&] {
                                received = QJsonDocument::fromJson(get(alerts)).array();
                                return labelValues(received, "alertname", "labels").contains("TavoLampFailure");
                            }),
                 manager.out.constData());
        QVERIFY2(received.size() == 1, QJsonDocument(received).toJson().constData());
        const QJsonObject alert = received.at(0).toObject();
        QCOMPARE(alert["labels"].toObject()["instance"].toString(), hall.target);
        QCOMPARE(alert["annotations"].toObject()["summary"].toString(), QString("Hall projector reports a lamp failure"));
        // Prometheus holds nothing, pending or firing, for the library's projector either.
        const QJsonArray held = QJsonDocument::fromJson(get(QUrl("http://" + prometheus.address + "/api/v1/alerts")))
                                    .object()["data"]
                                    .toObject()["alerts"]
                                    .toArray();
        QCOMPARE(labelValues(held, "instance", "labels"), QSet<QString>{hall.target});
    }
};

QTEST_GUILESS_MAIN(PrometheusScrape)
#include "test_prometheus.moc"
