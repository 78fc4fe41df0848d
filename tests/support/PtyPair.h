#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a serial cable: the program opens the
// slave path through the real serial adapter; the test plays the projector on the master.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    // Non-blocking; for callers that poll the line themselves.
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Bytes the program wrote, waiting (while the event loop runs) until at least
    // `atLeast` have come or `timeoutMs` has passed.
    QByteArray readFromProgram(int atLeast, int timeoutMs = 3000);
    void writeToProgram(const QByteArray &bytes);
    // The far end goes away, as when a USB adapter is pulled.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the slave exists before the program opens it
    QString m_slavePath;
};
