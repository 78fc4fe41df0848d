#include "exchange/ReceivedText.h"

qsizetype ReceivedText::append(QStringView piece) {
    const qsizetype taken = std::min(piece.size(), capacity - m_text.size());
    m_dropped += piece.size() - taken;
    if (taken <= 0)
        return 0;
    const QStringView kept = piece.left(taken);
    m_text += kept;
    // Rendering is character by character, so the rendering of the whole is the
    // rendering so far followed by that of the new piece without its leading blank.
    const TranscriptLine more = renderTranscript(kept);
    m_rendering.text += QStringView(more.text).mid(1);
    m_rendering.showsSpace = m_rendering.showsSpace || more.showsSpace;
    m_rendering.showsCarriageReturn = m_rendering.showsCarriageReturn || more.showsCarriageReturn;
    return taken;
}

void ReceivedText::clear() {
    m_text.clear();
    m_rendering = TranscriptLine{QStringLiteral(" ")};
    m_dropped = 0;
}
