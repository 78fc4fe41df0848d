// The console programs timed from outside, as a script or a PJLink controller meets them:
// a process started and its first line read off a pipe, and a PJLink client of our own
// (a few lines of QTcpSocket) against tavo-pjlink.

#include "ToolBench.h"

#include "Launch.h"

#include "Stats.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

const QByteArray powerQuery = QByteArrayLiteral("%1POWR ?\r");

// An answer to "POWR ?" that reads as a power state (not an ERRn).
bool isPowerState(const QByteArray &line) {
    return line.size() == 8 && line.startsWith("%1POWR=") && line[7] >= '0' && line[7] <= '3';
}

// Takes one line, up to its carriage return (dropped), off the front of `inbox`.
std::optional<QByteArray> takeLine(QByteArray &inbox) {
    const qsizetype end = inbox.indexOf('\r');
    if (end < 0)
        return std::nullopt;
    QByteArray line = inbox.left(end);
    inbox.remove(0, end + 1);
    return line;
}

// Blocking: reads until a whole line has come, or nothing for `timeoutMs`.
std::optional<QByteArray> readLine(QTcpSocket &socket, QByteArray &inbox, int timeoutMs) {
    for (;;) {
        if (auto line = takeLine(inbox))
            return line;
        if (!socket.waitForReadyRead(timeoutMs))
            return std::nullopt;
        inbox += socket.readAll();
    }
}

} // namespace

int runSpawn(const std::vector<std::string> &command, int timeoutMs) {
    if (command.empty()) {
        std::fprintf(stderr, "tavo-bench spawn: no program given\n");
        return 2;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) < 0) {
        std::perror("pipe");
        return 1;
    }
    // Started exactly as the start-up measurement starts a window program.
    const Clock::time_point started = Clock::now();
    const pid_t pid = startProgram(command, out[1]);
    if (pid < 0)
        return 1;
    ::close(out[1]);

    std::string output;
    Clock::time_point firstLine;
    bool lineSeen = false;
    bool timedOut = false;
    for (;;) {
        const int left = timeoutMs - int(microsecondsBetween(started, Clock::now()) / 1000);
        pollfd readable{out[0], POLLIN, 0};
        if (left <= 0 || ::poll(&readable, 1, left) == 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        const Clock::time_point now = Clock::now();
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the program has closed its stdout: it is ending
        output.append(buffer, std::size_t(got));
        if (!lineSeen && output.find('\n') != std::string::npos) {
            firstLine = now;
            lineSeen = true;
        }
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const Clock::time_point exited = Clock::now();

    if (lineSeen)
        std::printf("first_line_us %.0f\n", microsecondsBetween(started, firstLine));
    if (!timedOut)
        std::printf("exit_us %.0f\n", microsecondsBetween(started, exited));
    std::printf("exit_status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    std::printf("first_line %s\n", output.substr(0, output.find('\n')).c_str());
    return timedOut ? 1 : 0;
}

int runPjlinkRoundTrips(int argc, char **argv, const PjlinkOptions &options) {
    QCoreApplication app(argc, argv);
    QTcpSocket socket;
    socket.connectToHost(QString::fromStdString(options.host), quint16(options.port));
    if (!socket.waitForConnected(3000)) {
        std::fprintf(stderr, "tavo-bench pjlink-rtt: cannot connect: %s\n", qPrintable(socket.errorString()));
        return 1;
    }
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QByteArray inbox;
    const auto greeting = readLine(socket, inbox, 3000);
    if (greeting != QByteArrayLiteral("PJLINK 0")) {
        std::fprintf(stderr, "tavo-bench pjlink-rtt: no \"PJLINK 0\" greeting\n");
        return 1;
    }
    std::vector<double> samples;
    int wrong = 0;
    QByteArray lastAnswer;
    for (int i = 0; i <= options.queries; ++i) {
        const Clock::time_point sent = Clock::now();
        socket.write(powerQuery);
        socket.flush();
        const auto answer = readLine(socket, inbox, options.timeoutMs);
        const Clock::time_point answered = Clock::now();
        if (!answer) {
            std::fprintf(stderr, "tavo-bench pjlink-rtt: no answer to query %d\n", i);
            return 1;
        }
        lastAnswer = *answer;
        if (i == 0)
            continue; // the warm-up
        samples.push_back(microsecondsBetween(sent, answered));
        if (!isPowerState(*answer))
            ++wrong;
    }
    const Summary s = summarise(samples);
    std::printf("pjlink_rtt_n %zu\n", samples.size());
    std::printf("pjlink_rtt_median_us %.1f\n", s.median);
    std::printf("pjlink_rtt_p99_us %.1f\n", s.p99);
    std::printf("pjlink_rtt_min_us %.1f\n", s.min);
    std::printf("pjlink_rtt_errors %d\n", wrong);
    std::printf("pjlink_rtt_last_answer %s\n", lastAnswer.constData());
    return 0;
}

namespace {

class Client {
public:
    QTcpSocket socket;
    QByteArray inbox;
    bool greeted = false;
    int answered = 0;
    Clock::time_point sentAt;

    void send() {
        sentAt = Clock::now();
        socket.write(powerQuery);
        socket.flush();
    }
};

} // namespace

int runPjlinkClients(int argc, char **argv, const PjlinkOptions &options) {
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<double> latencies;
    int greeted = 0;
    int finished = 0;
    int wrong = 0;
    int lost = 0;
    Clock::time_point started;
    Clock::time_point ended;

    const auto fail = [&](const char *why) {
        std::fprintf(stderr, "tavo-bench pjlink-clients: %s\n", why);
        ++lost;
        if (finished + lost == options.clients)
            QCoreApplication::exit(1);
    };
    for (int i = 0; i < options.clients; ++i) {
        auto client = std::make_unique<Client>();
        Client *const c = client.get();
        QObject::connect(&c->socket, &QTcpSocket::connected, &app,
                         [c] { c->socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        QObject::connect(&c->socket, &QTcpSocket::errorOccurred, &app, [&, c] {
            if (c->answered < options.queries)
                fail(qPrintable(c->socket.errorString()));
        });
        QObject::connect(&c->socket, &QTcpSocket::readyRead, &app, [&, c] {
            c->inbox += c->socket.readAll();
            while (const auto line = takeLine(c->inbox)) {
                const Clock::time_point now = Clock::now();
                if (!c->greeted) {
                    c->greeted = true;
                    if (*line != QByteArrayLiteral("PJLINK 0")) {
                        fail("no \"PJLINK 0\" greeting");
                        return;
                    }
                    // Everyone starts together, once the last greeting is in.
                    if (++greeted == options.clients) {
                        started = Clock::now();
                        for (const auto &each : clients)
                            each->send();
                    }
                    continue;
                }
                latencies.push_back(microsecondsBetween(c->sentAt, now));
                if (!isPowerState(*line))
                    ++wrong;
                if (++c->answered < options.queries) {
                    c->send();
                } else if (++finished + lost == options.clients) {
                    ended = now;
                    QCoreApplication::exit(lost ? 1 : 0);
                }
            }
        });
        clients.push_back(std::move(client));
    }
    for (const auto &client : clients)
        client->socket.connectToHost(QString::fromStdString(options.host), quint16(options.port));
    QTimer::singleShot(options.timeoutMs, &app, [] {
        std::fprintf(stderr, "tavo-bench pjlink-clients: not done in time\n");
        QCoreApplication::exit(1);
    });
    const int status = QCoreApplication::exec();
    if (status != 0 || finished != options.clients)
        return 1;

    const double seconds = microsecondsBetween(started, ended) / 1e6;
    const Summary s = summarise(latencies);
    std::printf("pjlink_clients_n %d\n", options.clients);
    std::printf("pjlink_clients_queries %zu\n", latencies.size());
    std::printf("pjlink_clients_errors %d\n", wrong);
    std::printf("pjlink_clients_wall_ms %.1f\n", seconds * 1000);
    std::printf("pjlink_clients_qps %.1f\n", double(latencies.size()) / seconds);
    std::printf("pjlink_clients_latency_median_ms %.2f\n", s.median / 1000);
    std::printf("pjlink_clients_latency_p99_ms %.2f\n", s.p99 / 1000);
    return 0;
}
