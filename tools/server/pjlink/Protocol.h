#pragma once

// PJLink class 1 on the wire: reading a command line, writing an answer, and the
// authentication handshake. Pure functions; the connection that uses them is in Session.

#include <QByteArray>
#include <QByteArrayView>

namespace pjlink {

// The longest line a client may send, its CR included ("%1" + 4 letters + blank + 128).
inline constexpr qsizetype maxLineLength = 136;
// The MD5 digest that prefixes the first command when a password is set, in hex.
inline constexpr qsizetype digestLength = 32;
// Sent instead of an answer when the digest is wrong or missing; then the connection closes.
inline constexpr QByteArrayView authenticationError = "PJLINK ERRA\r";

// One received line, its CR taken off.
struct CommandLine {
    enum class Verdict {
        command,    // "%1" + four upper-case letters or digits + blank + printable parameter
        undefined,  // the header can be echoed, but the rest is no class 1 command: ERR1
        unreadable, // not even a header to answer to: the connection is closed
    };
    Verdict verdict = Verdict::unreadable;
    QByteArray header;    // "%1POWR": what the answer starts with
    QByteArray name;      // "POWR"
    QByteArray parameter; // "1", "?"
};

CommandLine readCommandLine(QByteArrayView line);

// "%1POWR" and "OK" give "%1POWR=OK\r".
QByteArray answerLine(QByteArrayView header, QByteArrayView result);

// "PJLINK 0\r" without authentication; "PJLINK 1 <random>\r" with it.
QByteArray greeting(QByteArrayView random);
// Eight hex digits from the system's random source, fresh for every connection.
QByteArray freshRandom();
// 32 lower-case hex digits of MD5(random + password).
QByteArray digestFor(QByteArrayView random, QByteArrayView password);
// Compares a received digest with the expected one in time that does not depend on where
// they differ; upper-case hex digits are taken as their lower-case selves.
bool digestMatches(QByteArrayView received, QByteArrayView expected);

} // namespace pjlink
