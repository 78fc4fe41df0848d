#include "exchange/StatusDecoding.h"
#include "exchange/Transcript.h"
#include "host/PortError.h"
#include "host/SerialComponent.h"
#include "link/Form1.h"
#include "link/Module1.h"

#include <QLabel>
#include <QTimer>

void Form1::setTranscript(QLabel *line, const TranscriptLine &rendering) {
    line->setText(rendering.text.size() > transcriptShown ? rendering.text.left(transcriptShown) : rendering.text);
    if (rendering.showsCarriageReturn)
        Label28->show();
    if (rendering.showsSpace)
        Label27->show();
}

bool Form1::Hyouji(const QString &text, int mode) {
    if (mode == 1) {
        try {
            MSComm1.setOutput(text);
        } catch (const PortError &error) {
            // Nothing went out: the screen and the exchange state stay as they were, and
            // the operator is told in the panel rather than by a box per click or per
            // repeat tick.
            sendFailed(error.detail());
            return false;
        }
        Label12->clear();
        RxBuffer.clear();
        setTranscript(Label11, renderTranscript(text));
        Timer2->start();
        ReplyWait = 1;
        Timer4->start();
        if (!portNotice->isHidden())
            clearPortNotice();
        return true;
    }

    // The receive event passes RxBuffer itself, whose rendering is kept as it grows.
    const bool isCollection = &text == &RxBuffer.text();
    const TranscriptLine rendering = isCollection ? RxBuffer.rendering() : renderTranscript(text);
    setTranscript(Label12, rendering);
    if (const auto status = decodeStatus(rendering.text, text.size(), Module1::TxCommand))
        Label25->setText(*status);
    return true;
}
