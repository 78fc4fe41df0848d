#pragma once

struct LineBenchOptions {
    int clicks = 1000;
    int replies = 1000;
    int shortHoldMs = 1000;
    int longHoldMs = 10000;
};

// Measures the panel over a pseudo-terminal; prints "key value" lines on stdout.
int runLineBench(int argc, char **argv, const LineBenchOptions &options);
