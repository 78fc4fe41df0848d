// tavo-bench: measurements of the control program, printed as "key value" lines for
// bench/run.sh to put in its table. Nothing here passes or fails.
//
//   tavo-bench [line] [--clicks N] [--replies N] [--short-hold-ms MS] [--long-hold-ms MS]
//       the panel on a pseudo-terminal through the real serial adapter
//   tavo-bench launch [--tavo-conf DIR] [--idle-ms MS] [--timeout-ms MS] -- PROGRAM [ARGS...]
//       start-up to first window and peak memory of any X program
//   tavo-bench spawn [--timeout-ms MS] -- PROGRAM [ARGS...]
//       fork to the first line on a console program's stdout, and to its exit
//   tavo-bench pjlink-rtt [--host H] [--port P] [--queries N]
//       "%1POWR ?" round trips on one PJLink connection
//   tavo-bench pjlink-clients [--host H] [--port P] [--clients N] [--queries N]
//       many PJLink connections at once, queries answered per second
//   tavo-bench server-memory --pid PID --pjlink P --line P --http P [--flood-mb N]
//       tavo-server's resident memory at rest, at its connection caps, and under a flood
//   tavo-bench http-get --url URL [--count N]
//       GETs on one connection, median and p99
//   tavo-bench poll-share --url METRICS-URL [--seconds N]
//       the poll's share of the line's time, from the server's metrics
//   tavo-bench http-rate --http P [--clients N] [--seconds N]
//       GET /api/status answered per second to many keep-alive clients
//   tavo-bench http-abuse --pid PID --http P
//       tavo-server's resident memory under clients that misbehave over HTTP
//   tavo-bench power-follow --http P --pjlink P --broker P --base TOPIC [--count N]
//       a power command's acknowledgement to every front end showing the new power state

#include "Launch.h"
#include "LineBench.h"
#include "ServerBench.h"
#include "ToolBench.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: tavo-bench [line] [--clicks N] [--replies N] [--short-hold-ms MS] [--long-hold-ms MS]\n"
                 "       tavo-bench launch [--tavo-conf DIR] [--idle-ms MS] [--timeout-ms MS] -- PROGRAM [ARGS...]\n"
                 "       tavo-bench spawn [--timeout-ms MS] -- PROGRAM [ARGS...]\n"
                 "       tavo-bench pjlink-rtt [--host H] [--port P] [--queries N]\n"
                 "       tavo-bench pjlink-clients [--host H] [--port P] [--clients N] [--queries N]\n"
                 "       tavo-bench server-memory --pid PID --pjlink P --line P --http P [--flood-mb N]\n"
                 "       tavo-bench http-get --url URL [--count N]\n"
                 "       tavo-bench poll-share --url METRICS-URL [--seconds N]\n"
                 "       tavo-bench http-rate --http P [--clients N] [--seconds N]\n"
                 "       tavo-bench http-abuse --pid PID --http P\n"
                 "       tavo-bench power-follow --http P --pjlink P --broker P --base TOPIC [--count N]\n");
    return 2;
}

bool number(const char *text, int &into) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!text[0] || *end || value < 0 || value > 1000000)
        return false;
    into = int(value);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "spawn") {
        int timeoutMs = 30000;
        int i = 2;
        if (i + 1 < argc && std::strcmp(argv[i], "--timeout-ms") == 0 && number(argv[i + 1], timeoutMs))
            i += 2;
        if (i >= argc || std::strcmp(argv[i], "--") != 0)
            return usage();
        return runSpawn({argv + i + 1, argv + argc}, timeoutMs);
    }
    if (mode == "pjlink-rtt" || mode == "pjlink-clients") {
        PjlinkOptions options;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            if (word == "--host" && i + 1 < argc) {
                options.host = argv[++i];
                continue;
            }
            int *target = word == "--port"      ? &options.port
                          : word == "--queries" ? &options.queries
                          : word == "--clients" ? &options.clients
                                                : nullptr;
            if (!target || i + 1 >= argc || !number(argv[++i], *target))
                return usage();
        }
        int qtArgc = 1;
        return mode == "pjlink-rtt" ? runPjlinkRoundTrips(qtArgc, argv, options)
                                    : runPjlinkClients(qtArgc, argv, options);
    }
    if (mode == "server-memory") {
        ServerMemoryOptions options;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            int *target = word == "--pid"        ? &options.pid
                          : word == "--pjlink"   ? &options.pjlinkPort
                          : word == "--line"     ? &options.linePort
                          : word == "--http"     ? &options.httpPort
                          : word == "--flood-mb" ? &options.floodMegabytes
                                                 : nullptr;
            if (!target || i + 1 >= argc || !number(argv[++i], *target))
                return usage();
        }
        int qtArgc = 1;
        return runServerMemory(qtArgc, argv, options);
    }
    if (mode == "power-follow") {
        PowerFollowOptions options;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            int *target = word == "--http"     ? &options.httpPort
                          : word == "--pjlink" ? &options.pjlinkPort
                          : word == "--broker" ? &options.brokerPort
                          : word == "--count"  ? &options.count
                                               : nullptr;
            if (word == "--base" && i + 1 < argc) {
                options.base = argv[++i];
                continue;
            }
            if (!target || i + 1 >= argc || !number(argv[++i], *target))
                return usage();
        }
        int qtArgc = 1;
        return runPowerFollow(qtArgc, argv, options);
    }
    if (mode == "http-get" || mode == "poll-share") {
        std::string url;
        int count = mode == "http-get" ? 200 : 10;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            if (word == "--url" && i + 1 < argc)
                url = argv[++i];
            else if ((word == "--count" || word == "--seconds") && i + 1 < argc && number(argv[i + 1], count))
                ++i;
            else
                return usage();
        }
        if (url.empty())
            return usage();
        int qtArgc = 1;
        return mode == "http-get" ? runHttpGets(qtArgc, argv, url, count) : runPollShare(qtArgc, argv, url, count);
    }
    if (mode == "http-abuse") {
        int pid = 0, port = 0;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            int *target = word == "--pid" ? &pid : word == "--http" ? &port : nullptr;
            if (!target || i + 1 >= argc || !number(argv[++i], *target))
                return usage();
        }
        if (pid == 0 || port == 0)
            return usage();
        int qtArgc = 1;
        return runHttpAbuse(qtArgc, argv, pid, port);
    }
    if (mode == "http-rate") {
        int port = 0, clients = 50, seconds = 10;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            int *target = word == "--http" ? &port : word == "--clients" ? &clients : word == "--seconds" ? &seconds : nullptr;
            if (!target || i + 1 >= argc || !number(argv[++i], *target))
                return usage();
        }
        if (port == 0)
            return usage();
        int qtArgc = 1;
        return runHttpRate(qtArgc, argv, port, clients, seconds);
    }
    const bool launch = argc > 1 && std::strcmp(argv[1], "launch") == 0;
    const int first = argc > 1 && (launch || std::strcmp(argv[1], "line") == 0) ? 2 : 1;

    if (launch) {
        LaunchOptions options;
        for (int i = first; i < argc; ++i) {
            const std::string word = argv[i];
            if (word == "--") {
                for (++i; i < argc; ++i)
                    options.command.emplace_back(argv[i]);
                break;
            }
            if (i + 1 >= argc)
                return usage();
            if (word == "--tavo-conf")
                options.tavoConfDir = argv[++i];
            else if (word == "--idle-ms" ? !number(argv[++i], options.idleMs)
                     : word == "--timeout-ms" ? !number(argv[++i], options.timeoutMs)
                                              : true)
                return usage();
        }
        return runLaunch(options);
    }

    LineBenchOptions options;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        int *target = word == "--clicks"          ? &options.clicks
                      : word == "--replies"       ? &options.replies
                      : word == "--short-hold-ms" ? &options.shortHoldMs
                      : word == "--long-hold-ms"  ? &options.longHoldMs
                                                  : nullptr;
        if (!target || i + 1 >= argc || !number(argv[++i], *target))
            return usage();
    }
    // Qt sees only the program name; the options above are the benchmark's.
    int qtArgc = 1;
    return runLineBench(qtArgc, argv, options);
}
