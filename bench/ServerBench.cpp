#include "ServerBench.h"

#include "Stats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

long residentKiB(int pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+) kB"));
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLong();
}

// Runs the event loop for a while: connections settle, the server answers.
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<std::unique_ptr<QTcpSocket>> connectMany(const QString &host, int port, int count) {
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(host, quint16(port));
    }
    for (auto &socket : sockets)
        socket->waitForConnected(3000);
    return sockets;
}

double metricValue(const QByteArray &metrics, const QString &sample) {
    for (const QByteArray &line : metrics.split('\n'))
        if (line.startsWith(sample.toUtf8() + ' '))
            return line.mid(sample.size() + 1).toDouble();
    return 0;
}

QByteArray get(QNetworkAccessManager &web, const QUrl &url) {
    QNetworkReply *reply = web.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

} // namespace

int runServerMemory(int argc, char **argv, const ServerMemoryOptions &options) {
    QCoreApplication app(argc, argv);
    const QString host = QString::fromStdString(options.host);
    settle(500);
    std::printf("memory_rest_kib %ld\n", residentKiB(options.pid));
    {
        auto pjlink = connectMany(host, options.pjlinkPort, options.pjlinkClients);
        auto line = connectMany(host, options.linePort, options.lineClients);
        auto http = connectMany(host, options.httpPort, options.httpClients);
        settle(1000);
        int open = 0;
        for (const auto *group : {&pjlink, &line, &http})
            for (const auto &socket : *group)
                open += socket->state() == QAbstractSocket::ConnectedState;
        std::printf("memory_caps_connections %d\n", open);
        std::printf("memory_caps_kib %ld\n", residentKiB(options.pid));
    }
    settle(1000);
    std::printf("memory_after_caps_kib %ld\n", residentKiB(options.pid));

    QTcpSocket flood;
    flood.setReadBufferSize(1); // takes nothing: every answer stays on the server's side
    flood.connectToHost(host, quint16(options.pjlinkPort));
    if (!flood.waitForConnected(3000))
        return 1;
    QByteArray queries;
    while (queries.size() < qsizetype(options.floodMegabytes) * 1024 * 1024)
        queries += "%1NAME ?\r";
    flood.write(queries);
    long peak = 0;
    QElapsedTimer clock;
    clock.start();
    // The server closes it when it has taken no line for its idle time; its end shows here
    // as the socket's error once the kernel's buffers have drained.
    bool closed = false;
    QObject::connect(&flood, &QTcpSocket::errorOccurred, &app, [&] { closed = true; });
    QObject::connect(&flood, &QTcpSocket::disconnected, &app, [&] { closed = true; });
    while (!closed && clock.elapsed() < options.timeoutMs) {
        peak = std::max(peak, residentKiB(options.pid));
        settle(50);
    }
    std::printf("memory_flood_megabytes %d\n", options.floodMegabytes);
    std::printf("memory_flood_peak_kib %ld\n", peak);
    std::printf("memory_flood_closed %d\n", closed ? 1 : 0);
    std::printf("memory_flood_closed_after_ms %lld\n", clock.elapsed());
    flood.abort();
    settle(500);
    std::printf("memory_after_flood_kib %ld\n", residentKiB(options.pid));
    return 0;
}

int runHttpGets(int argc, char **argv, const std::string &url, int count) {
    QCoreApplication app(argc, argv);
    QNetworkAccessManager web;
    const QUrl target(QString::fromStdString(url));
    std::vector<double> samples;
    qsizetype bytes = 0;
    for (int i = 0; i <= count; ++i) {
        QElapsedTimer clock;
        clock.start();
        bytes = get(web, target).size();
        if (i > 0) // the first opens the connection
            samples.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    const Summary s = summarise(samples);
    std::printf("get_n %zu\n", samples.size());
    std::printf("get_bytes %lld\n", qlonglong(bytes));
    std::printf("get_median_us %.1f\n", s.median);
    std::printf("get_p99_us %.1f\n", s.p99);
    return bytes > 0 ? 0 : 1;
}

int runPollShare(int argc, char **argv, const std::string &url, int seconds) {
    QCoreApplication app(argc, argv);
    QNetworkAccessManager web;
    const QUrl target(QString::fromStdString(url));
    const QString sample = QStringLiteral("tavo_line_seconds_total{front_end=\"poll\"}");
    QElapsedTimer clock;
    clock.start();
    const double before = metricValue(get(web, target), sample);
    settle(seconds * 1000);
    const double after = metricValue(get(web, target), sample);
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    std::printf("poll_line_seconds %.4f\n", after - before);
    std::printf("poll_wall_seconds %.2f\n", wall);
    std::printf("poll_share %.5f\n", (after - before) / wall);
    return after > before ? 0 : 1;
}

int runHttpRate(int argc, char **argv, int port, int clients, int seconds) {
    QCoreApplication app(argc, argv);
    // Each client keeps its connection and asks again as soon as its answer is whole.
    struct Client {
        QTcpSocket socket;
        QByteArray pending;
    };
    const QByteArray request = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<std::unique_ptr<Client>> all;
    long answered = 0, failed = 0;
    bool counting = false;
    for (int i = 0; i < clients; ++i) {
        all.push_back(std::make_unique<Client>());
        Client *client = all.back().get();
        client->socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(&client->socket, &QTcpSocket::readyRead, &app, [&, client] {
            client->pending += client->socket.readAll();
            for (;;) {
                const qsizetype headEnd = client->pending.indexOf("\r\n\r\n");
                if (headEnd < 0)
                    return;
                const QByteArray head = client->pending.left(headEnd).toLower();
                const qsizetype at = head.indexOf("content-length:");
                const qsizetype length = at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLong();
                if (client->pending.size() < headEnd + 4 + length)
                    return;
                if (counting)
                    (head.startsWith("http/1.1 200") ? answered : failed)++;
                client->pending.remove(0, headEnd + 4 + length);
                client->socket.write(request);
            }
        });
        QObject::connect(&client->socket, &QTcpSocket::connected, &app, [&, client] { client->socket.write(request); });
        client->socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    }
    settle(1000); // every client connected and asking
    counting = true;
    QElapsedTimer clock;
    clock.start();
    settle(seconds * 1000);
    counting = false;
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    int open = 0;
    for (const auto &client : all)
        open += client->socket.state() == QAbstractSocket::ConnectedState;
    std::printf("rate_clients %d\n", open);
    std::printf("rate_answered %ld\n", answered);
    std::printf("rate_failed %ld\n", failed);
    std::printf("rate_rps %.0f\n", double(answered) / wall);
    return answered > 0 && failed == 0 ? 0 : 1;
}

int runHttpAbuse(int argc, char **argv, int pid, int port) {
    QCoreApplication app(argc, argv);
    const auto open = [port] {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        socket->waitForConnected(3000);
        return socket;
    };
    long peak = 0;
    const auto sample = [&] { peak = std::max(peak, residentKiB(pid)); };
    settle(500);
    std::printf("abuse_rest_kib %ld\n", residentKiB(pid));

    // A 200 MiB body, sent as fast as the server takes it.
    {
        auto socket = open();
        socket->write("POST /api/commands HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                      "Content-Length: 209715200\r\n\r\n");
        const QByteArray chunk(1024 * 1024, '{');
        for (int i = 0; i < 200 && socket->state() == QAbstractSocket::ConnectedState; ++i) {
            socket->write(chunk);
            socket->waitForBytesWritten(2000);
            sample();
        }
        socket->waitForReadyRead(2000);
        std::printf("abuse_body_answer %s\n", socket->readAll().left(12).constData());
    }
    settle(500);
    sample();
    std::printf("abuse_body_kib %ld\n", peak);

    // 10,000 pipelined requests from a client that never reads.
    peak = 0;
    {
        auto socket = open();
        socket->setReadBufferSize(1);
        QByteArray requests;
        for (int i = 0; i < 10000; ++i)
            requests += "GET /api/catalogues HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        socket->write(requests);
        for (int i = 0; i < 20; ++i) {
            socket->waitForBytesWritten(100);
            sample();
        }
    }
    settle(500);
    sample();
    std::printf("abuse_pipelined_kib %ld\n", peak);

    // 1,000 events sockets opened and dropped.
    peak = 0;
    for (int i = 0; i < 1000; ++i) {
        auto socket = open();
        socket->write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                      "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
        socket->waitForReadyRead(2000);
        socket->abort();
        if (i % 100 == 0)
            sample();
    }
    settle(500);
    sample();
    std::printf("abuse_websockets_kib %ld\n", peak);

    // 64 clients that send their heads a few bytes at a time.
    peak = 0;
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 64; ++i)
            slow.push_back(open());
        const QByteArray head = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
        for (int step = 0; step < 20; ++step) {
            for (auto &socket : slow)
                socket->write(step * 3 < head.size() ? head.mid(step * 3, 3) : QByteArray("a"));
            settle(100);
            sample();
        }
        int open = 0;
        for (auto &socket : slow)
            open += socket->state() == QAbstractSocket::ConnectedState;
        std::printf("abuse_slow_open %d\n", open);
    }
    std::printf("abuse_slow_kib %ld\n", peak);
    settle(500);
    std::printf("abuse_after_kib %ld\n", residentKiB(pid));
    return 0;
}

int runPowerFollow(int argc, char **argv, const PowerFollowOptions &options) {
    QCoreApplication app(argc, argv);
    QNetworkAccessManager web;
    const QString http = QStringLiteral("http://127.0.0.1:%1").arg(options.httpPort);
    QElapsedTimer clock;
    clock.start();
    const auto now = [&] { return double(clock.nsecsElapsed()) / 1e6; };

    // What each front end last showed, and when it first showed the state awaited.
    QString awaited;
    enum { events, status, metrics, mqtt, count };
    const char *names[count] = {"events", "status", "metrics", "mqtt"};
    double shownAt[count];
    const auto shows = [&](int frontEnd, const QString &state) {
        if (state == awaited && shownAt[frontEnd] < 0)
            shownAt[frontEnd] = now();
    };
    QWebSocket socket;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &app, [&](const QString &text) {
        const QJsonObject event = QJsonDocument::fromJson(text.toUtf8()).object();
        if (event[QStringLiteral("type")] == QStringLiteral("reading") &&
            event[QStringLiteral("name")] == QStringLiteral("power"))
            shows(events, event[QStringLiteral("value")].toString());
    });
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(options.httpPort)));
    QProcess subscriber;
    QByteArray pending;
    QObject::connect(&subscriber, &QProcess::readyReadStandardOutput, &app, [&] {
        pending += subscriber.readAllStandardOutput();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            shows(mqtt, QString::fromUtf8(pending.left(end)));
    });
    subscriber.start(QStringLiteral("mosquitto_sub"),
                     {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                      QString::number(options.brokerPort), QStringLiteral("-t"),
                      QString::fromStdString(options.base) + QStringLiteral("/power_state")});
    QTcpSocket pjlink;
    pjlink.connectToHost(QStringLiteral("127.0.0.1"), quint16(options.pjlinkPort));
    pjlink.waitForConnected(3000);
    pjlink.waitForReadyRead(3000);
    pjlink.readAll(); // the greeting
    settle(500);

    std::vector<double> all, each[count];
    int timeouts = 0, pjlinkDisagrees = 0;
    for (int i = 0; i < 2 * options.count; ++i) {
        const bool on = i % 2 == 0;
        awaited = on ? QStringLiteral("on") : QStringLiteral("standby");
        std::fill(std::begin(shownAt), std::end(shownAt), -1.0);
        QNetworkRequest post(QUrl(http + QStringLiteral("/api/commands")));
        post.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply *reply =
            web.post(post, on ? QByteArray(R"({"command": "power-on"})") : QByteArray(R"({"command": "power-off"})"));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        const double acknowledged = now();
        const auto pending = [&] {
            return std::any_of(std::begin(shownAt), std::end(shownAt), [](double at) { return at < 0; });
        };
        while (pending() && now() - acknowledged < options.timeoutMs) {
            const QJsonObject state =
                QJsonDocument::fromJson(get(web, QUrl(http + QStringLiteral("/api/status")))).object();
            shows(status, state[QStringLiteral("power")].toObject()[QStringLiteral("value")].toString());
            const QByteArray text = get(web, QUrl(http + QStringLiteral("/metrics")));
            if (text.contains("tavo_power_state{state=\"" + awaited.toUtf8() + "\"} 1\n"))
                shows(metrics, awaited);
            settle(1);
        }
        if (pending()) {
            ++timeouts;
            continue;
        }
        double last = 0;
        for (int f = 0; f < count; ++f) {
            each[f].push_back(shownAt[f] - acknowledged);
            last = std::max(last, shownAt[f] - acknowledged);
        }
        all.push_back(last);
        pjlink.write("%1POWR ?\r");
        pjlink.waitForReadyRead(3000);
        if (!pjlink.readAll().startsWith(on ? "%1POWR=1" : "%1POWR=0"))
            ++pjlinkDisagrees;
    }
    subscriber.terminate();
    subscriber.waitForFinished(3000);
    const Summary s = summarise(all);
    std::printf("follow_n %zu\n", all.size());
    std::printf("follow_timeouts %d\n", timeouts);
    std::printf("follow_pjlink_disagrees %d\n", pjlinkDisagrees);
    std::printf("follow_all_median_ms %.2f\n", s.median);
    std::printf("follow_all_max_ms %.2f\n", s.max);
    for (int f = 0; f < count; ++f)
        std::printf("follow_%s_median_ms %.2f\n", names[f], summarise(each[f]).median);
    return all.empty() ? 1 : 0;
}
