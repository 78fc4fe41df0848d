#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for the serial cable: the program opens the
// slave path through the real serial adapter; the benchmark plays the projector on
// the master, which is non-blocking so it can be polled in a tight loop.
class BenchPty {
public:
    BenchPty();
    ~BenchPty();
    BenchPty(const BenchPty &) = delete;
    BenchPty &operator=(const BenchPty &) = delete;

    bool isValid() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // One non-blocking read; appends what was there and returns how many bytes came.
    qsizetype readSome(QByteArray &into);
    // Throws away whatever is waiting on the master side.
    void drain();
    // Writes all of it (the buffer of a pty is far larger than anything written here).
    bool writeAll(const QByteArray &bytes);

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the slave exists before the program opens it
    QString m_slavePath;
};
