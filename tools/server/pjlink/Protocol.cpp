#include "Protocol.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>

namespace pjlink {

namespace {

bool isPrintable(char c) { return c >= 0x20 && c <= 0x7e; }
bool isNameCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

} // namespace

CommandLine readCommandLine(QByteArrayView line) {
    CommandLine read;
    // "%", the class digit and four printable characters make a header worth echoing.
    const bool echoable = line.size() >= 6 && line[0] == '%' && line[1] >= '0' && line[1] <= '9' &&
                          std::all_of(line.begin() + 2, line.begin() + 6, [](char c) { return c > 0x20 && c <= 0x7e; });
    if (!echoable)
        return read;
    read.header = line.first(6).toByteArray();
    read.name = line.sliced(2, 4).toByteArray();
    read.verdict = CommandLine::Verdict::undefined;
    if (line[1] != '1' || !std::all_of(read.name.begin(), read.name.end(), isNameCharacter) || line.size() < 7 ||
        line[6] != ' ' || !std::all_of(line.begin() + 7, line.end(), isPrintable))
        return read;
    read.parameter = line.sliced(7).toByteArray();
    read.verdict = CommandLine::Verdict::command;
    return read;
}

QByteArray answerLine(QByteArrayView header, QByteArrayView result) {
    return header.toByteArray() + '=' + result.toByteArray() + '\r';
}

QByteArray greeting(QByteArrayView random) {
    return random.isEmpty() ? QByteArray("PJLINK 0\r") : "PJLINK 1 " + random.toByteArray() + '\r';
}

QByteArray freshRandom() {
    return QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
}

QByteArray digestFor(QByteArrayView random, QByteArrayView password) {
    return QCryptographicHash::hash(random.toByteArray() + password.toByteArray(), QCryptographicHash::Md5).toHex();
}

bool digestMatches(QByteArrayView received, QByteArrayView expected) {
    if (received.size() != expected.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < received.size(); ++i) {
        char c = received[i];
        if (c >= 'A' && c <= 'F')
            c = char(c - 'A' + 'a');
        difference |= static_cast<unsigned char>(c ^ expected[i]);
    }
    return difference == 0;
}

} // namespace pjlink
