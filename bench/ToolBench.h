#pragma once

#include <string>
#include <vector>

// Starts a console program with its stdout on a pipe and times it from fork to the
// first complete line it prints and to its exit. Prints "key value" lines on stdout:
// first_line_us, exit_us, exit_status and first_line (the text).
int runSpawn(const std::vector<std::string> &command, int timeoutMs);

struct PjlinkOptions {
    std::string host = "127.0.0.1";
    int port = 4352;
    int queries = 200; // per connection
    int clients = 1;
    int timeoutMs = 60000;
};

// One PJLink connection: reads the greeting, then sends "%1POWR ?" `queries` times, each
// after the previous answer, timing each from the write to the answer's carriage return.
// One more query goes first as a warm-up and is not counted. Prints pjlink_rtt_* lines.
int runPjlinkRoundTrips(int argc, char **argv, const PjlinkOptions &options);

// `clients` PJLink connections at once, each sending `queries` "%1POWR ?" one after
// another as its answers come; the clock runs from the moment every connection has its
// greeting (all send their first query then) to the last answer. Prints pjlink_clients_*
// lines, the queries answered per second among them.
int runPjlinkClients(int argc, char **argv, const PjlinkOptions &options);
