// Fuzzes the receive path without a window: random bytes in random pieces go into the
// received-text collection, which must stay bounded and render exactly as the whole
// text would, and the status decoding runs over every state as the window does.
#include "exchange/ReceivedText.h"
#include "exchange/StatusDecoding.h"
#include "exchange/Transcript.h"

#include <cstdint>
#include <cstdlib>

namespace {
const char *const lastCommands[] = {"CR0\r", "CR1\r", "CR3\r", "CR4\r",        "CR6\r",
                                    "CR7\r", "C00\r", "CR LAMPSTS\r", "CR LAMPMODE\r", ""};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const QString txCommand = QString::fromLatin1(lastCommands[data[0] % std::size(lastCommands)]);
    ReceivedText collection;
    size_t at = 1;
    while (at < size) {
        // Each piece: one length byte, then up to that many received bytes; a length of
        // 255 repeats the piece many times to push the collection past its bound.
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        const int repeats = data[at] == 255 ? 200 : 1;
        const QString piece = QString::fromLatin1(reinterpret_cast<const char *>(data + at + 1),
                                                  static_cast<qsizetype>(length));
        at += 1 + length;
        for (int r = 0; r < repeats; ++r) {
            if (collection.append(piece) == 0 && !piece.isEmpty() && !collection.isFull())
                std::abort();
            if (collection.size() > ReceivedText::capacity)
                std::abort();
            (void)decodeStatus(collection.rendering().text, collection.size(), txCommand);
        }
    }
    if (collection.rendering().text != renderTranscript(collection.text()).text)
        std::abort();
    return 0;
}
