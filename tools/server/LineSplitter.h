#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cuts what a client sends into lines ending in CR, as a line protocol's clients send them
// (PJLink, the projector's own commands). An LF in front of a line is dropped, for clients
// that end their lines with CR LF. Holds at most one line's worth of bytes.
class LineSplitter {
public:
    enum class Next {
        line,     // a line, its CR taken off
        needMore, // no whole line yet
        tooLong,  // a line longer than allowed: the client is not speaking the protocol
    };

    explicit LineSplitter(qsizetype longest) : m_longest(longest) {}

    // The first line may be this much longer (a PJLink digest in front of it).
    void setFirstLineAllowance(qsizetype extra) { m_allowance = extra; }
    // How many more bytes add() takes now.
    qsizetype room() const { return longest() - m_inbox.size(); }
    // Takes bytes; no more than room().
    void add(QByteArrayView bytes);
    Next next(QByteArray *line);
    // True when a whole line waits to be taken.
    bool holdsLine() const { return m_inbox.indexOf('\r') >= 0; }

private:
    qsizetype longest() const { return m_longest + m_allowance; }

    qsizetype m_longest;
    qsizetype m_allowance = 0;
    QByteArray m_inbox;
};
