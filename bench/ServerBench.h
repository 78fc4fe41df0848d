#pragma once

// tavo-server measured from outside, as its clients and its administrator meet it.

#include <string>

struct ServerMemoryOptions {
    int pid = 0;
    std::string host = "127.0.0.1";
    int pjlinkPort = 0, linePort = 0, httpPort = 0;
    int pjlinkClients = 256, lineClients = 16, httpClients = 64; // the server's default caps
    int floodMegabytes = 10;
    int timeoutMs = 60000;
};

// The server's resident memory at rest; with every front end at its cap of idle connections;
// and while one PJLink client writes `floodMegabytes` of queries and reads nothing, until the
// server closes it (run the server with a short --pjlink-idle). Prints memory_* lines.
int runServerMemory(int argc, char **argv, const ServerMemoryOptions &options);

// GETs the URL `count` times on one keep-alive connection, timing each to the last byte.
// Prints get_* lines.
int runHttpGets(int argc, char **argv, const std::string &url, int count);

// Reads tavo_line_seconds_total{front_end="poll"} from the metrics at the URL, `seconds`
// apart: the share of the line's time the poll took. Prints poll_* lines.
int runPollShare(int argc, char **argv, const std::string &url, int seconds);

// `clients` keep-alive connections each asking GET /api/status again as soon as its answer
// is whole, for `seconds`: answers per second. Prints rate_* lines.
int runHttpRate(int argc, char **argv, int port, int clients, int seconds);

// tavo-server's resident memory at rest, and at most while a client sends a 200 MiB body,
// while one sends 10,000 pipelined requests and reads nothing, over 1,000 events sockets
// opened and dropped, and under 64 clients sending their heads slowly. Prints abuse_* lines.
int runHttpAbuse(int argc, char **argv, int pid, int port);

struct PowerFollowOptions {
    int httpPort = 0, pjlinkPort = 0, brokerPort = 0;
    std::string base; // the server's MQTT base
    int count = 20;   // power-on and power-off each
    int timeoutMs = 10000;
};

// Sends power-on and power-off in turn over HTTP to a server without a poll (the projector
// warms up and cools down at once), and times from the POST's answer, which the server sends
// when the projector has acknowledged, until every front end shows the new power state: the
// events socket, GET /api/status, /metrics and the MQTT power_state (read by mosquitto_sub).
// PJLink asks the projector itself: its POWR ? is checked once all the others show the
// state. Prints follow_* lines.
int runPowerFollow(int argc, char **argv, const PowerFollowOptions &options);
