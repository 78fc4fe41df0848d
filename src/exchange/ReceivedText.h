#pragma once

#include "exchange/Transcript.h"

#include <QString>

// The characters received since the last send (RxBuffer), with their transcript
// rendering kept up to date as pieces arrive, so a long stream is not re-rendered
// from its start on every notification.
//
// Bounded: a device that streams without pause must not grow memory without limit.
// The first characters are kept and later ones dropped until the next send or reply
// timeout empties the collection: the status decoding reads a reply from its start,
// and the transcript line only has room for the start anyway.
class ReceivedText {
public:
    static constexpr qsizetype capacity = 32767;

    // Appends what fits; returns how many characters were taken.
    qsizetype append(QStringView piece);
    void clear();

    const QString &text() const { return m_text; }
    const TranscriptLine &rendering() const { return m_rendering; }
    qsizetype size() const { return m_text.size(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    bool isFull() const { return m_text.size() >= capacity; }
    // Characters thrown away since the collection was last emptied.
    qsizetype dropped() const { return m_dropped; }

private:
    QString m_text;
    TranscriptLine m_rendering{QStringLiteral(" ")};
    qsizetype m_dropped = 0;
};
