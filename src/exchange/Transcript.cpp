#include "exchange/Transcript.h"

TranscriptLine renderTranscript(QStringView text) {
    TranscriptLine line;
    line.text.reserve(1 + 2 * text.size() + 8);
    line.text += QLatin1Char(' ');
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == 0x06) {
            line.text += QLatin1String(" [ACK] ");
        } else if (code == 0x0D) {
            line.text += QLatin1String(" [CR] ");
            line.showsCarriageReturn = true;
        } else if (code == 0x0A) {
            line.text += QLatin1String(" [LF]  ");
        } else if (code == 0x20) {
            line.text += QLatin1String("_ ");
            line.showsSpace = true;
        } else if (code >= u'!' && code <= u'z') {
            line.text += c;
            line.text += QLatin1Char(' ');
        } else {
            line.text += QLatin1String("? ");
        }
    }
    return line;
}
