#pragma once

#include <QString>
#include <QStringView>

// What a transcript line shows for a text: every character made visible, ACK, CR and
// LF by name, a blank as "_", anything outside "!".."z" as "?", each followed by a blank.
struct TranscriptLine {
    QString text;
    bool showsSpace = false;          // the space legend belongs on screen
    bool showsCarriageReturn = false; // the CR legend belongs on screen
};

TranscriptLine renderTranscript(QStringView text);
