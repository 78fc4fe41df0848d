#pragma once

#include <string>
#include <vector>

struct LaunchOptions {
    std::string tavoConfDir; // when set, a TAVO.conf there names a fresh pty as port 1
    int idleMs = 1000;       // how long the program idles after its window appears
    int timeoutMs = 30000;   // give up when no window has appeared by then
    std::vector<std::string> command;
};

#include <sys/types.h>

// Forks and executes `command` (searched on PATH), its stdout on `stdoutFd` when that is
// not -1. Returns the child's pid, or -1 when the fork failed. Both measurements start
// their programs this way, so their times compare.
pid_t startProgram(const std::vector<std::string> &command, int stdoutFd = -1);

// Starts a program on the X display and waits for its first top-level window to be
// mapped and then drawn in; then lets it idle, reads its peak resident memory and ends
// it. Prints "key value" lines on stdout.
int runLaunch(const LaunchOptions &options);
