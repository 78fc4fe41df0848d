// Fuzzes what a PJLink client sends, as the server reads it: bytes in any pieces are cut
// into lines, each line is read as a command, and a command that needs no projector is
// answered. No line may hold a CR or run past its bound, and every answer is one line.
#include "LineSplitter.h"
#include "Mapping.h"
#include "Protocol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    LineSplitter splitter(pjlink::maxLineLength);
    // The first byte says whether a digest may come in front of the first line.
    const bool digest = data[0] & 1;
    if (digest)
        splitter.setFirstLineAllowance(pjlink::digestLength);
    const pjlink::Memory memory;
    size_t at = 1;
    bool first = true;
    while (at < size) {
        // Each piece: one length byte, then up to that many bytes from the client.
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        QByteArrayView piece(reinterpret_cast<const char *>(data + at + 1), qsizetype(length));
        at += 1 + length;
        while (!piece.isEmpty()) {
            const qsizetype taken = std::min(piece.size(), splitter.room());
            if (taken <= 0)
                std::abort(); // a full splitter must hold a line or be too long
            splitter.add(piece.first(taken));
            piece = piece.sliced(taken);
            QByteArray line;
            for (LineSplitter::Next next; (next = splitter.next(&line)) != LineSplitter::Next::needMore;) {
                if (next == LineSplitter::Next::tooLong)
                    return 0; // the connection closes
                const qsizetype bound = pjlink::maxLineLength + (first && digest ? pjlink::digestLength : 0);
                if (line.contains('\r') || line.size() >= bound)
                    std::abort();
                if (first && digest)
                    line.remove(0, std::min(line.size(), pjlink::digestLength));
                first = false;
                const pjlink::CommandLine command = pjlink::readCommandLine(line);
                if (command.verdict != pjlink::CommandLine::Verdict::command)
                    continue;
                const pjlink::Row *row = pjlink::findRow(command.name, command.parameter);
                if (!row || row->needsLine())
                    continue;
                const QByteArray answer =
                    pjlink::answerLine(command.header, pjlink::answerFor(*row, {}, memory, "TAVO QT735"));
                if (answer.count('\r') != 1 || !answer.endsWith('\r'))
                    std::abort();
            }
        }
    }
    return 0;
}
