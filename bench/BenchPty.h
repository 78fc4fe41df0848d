#pragma once

#include "PtyPair.h"

#include <QByteArray>

// The tests' pseudo-terminal pair, read and written without waiting on the event loop,
// so the benchmark can poll the line in a tight loop.
class BenchPty : public PtyPair {
public:
    // One non-blocking read; appends what was there and returns how many bytes came.
    qsizetype readSome(QByteArray &into);
    // Throws away whatever is waiting on the master side.
    void drain();
    // Writes all of it (the buffer of a pty is far larger than anything written here).
    bool writeAll(const QByteArray &bytes);
};
