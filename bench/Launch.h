#pragma once

#include <string>
#include <vector>

struct LaunchOptions {
    std::string tavoConfDir; // when set, a TAVO.conf there names a fresh pty as port 1
    int idleMs = 1000;       // how long the program idles after its window appears
    int timeoutMs = 30000;   // give up when no window has appeared by then
    std::vector<std::string> command;
};

// Starts a program on the X display and waits for its first top-level window to be
// mapped and then drawn in; then lets it idle, reads its peak resident memory and ends
// it. Prints "key value" lines on stdout.
int runLaunch(const LaunchOptions &options);
