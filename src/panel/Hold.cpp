// Hold-to-repeat: a press on an arrow button sends at once, the repeat timer sends
// the same command every 100 ms while the mouse button stays down, and the release
// stops it and lets the display clear.

#include "link/Form1.h"
#include "link/Module1.h"
#include "panel/ButtonTable.h"

#include <QLabel>
#include <QTimer>

namespace {

constexpr int repeatIntervalMs = 100;
// While a hold lasts the reply timeout and the display clear run fast, so the
// transcript keeps pace with the stream of commands.
constexpr int holdReplyTimeoutMs = 150;
constexpr int holdDisplayClearMs = 200;
// After the release: the panel's own values.
constexpr int releasedReplyTimeoutMs = 500;
constexpr int releasedDisplayClearMs = 1000;

QString repeatText(int repeatCode) {
    const std::string_view code = panel::repeatCommand(repeatCode);
    return QString::fromLatin1(code.data(), qsizetype(code.size())) + QLatin1Char('\r');
}

} // namespace

void Form1::repeatButtonDown(int repeatCode) {
    if (panel::repeatCommand(repeatCode).empty())
        return; // no button has this number
    if (HoldActive != 0)
        return; // a second mouse button, or another arrow, while one is held
    HoldActive = 1;
    RepeatCode = static_cast<quint8>(repeatCode);
    Module1::TxCommand = repeatText(repeatCode);
    Cont_M_down();
}

void Form1::Cont_M_down() {
    Timer1->setInterval(repeatIntervalMs);
    Timer2->setInterval(holdReplyTimeoutMs);
    Timer4->setInterval(holdDisplayClearMs);
    // Nothing went out (the port is closed): the operator has been told, and repeating
    // would only fail again every 100 ms. The release still ends the hold as usual.
    if (!Hyouji(Module1::TxCommand, 1))
        return;
    Timer1->start();
}

void Form1::Timer1_Timer() {
    if (RepeatCode == 0) {
        // No hold: an idle timer has nothing to send and no reason to keep waking up.
        Timer1->stop();
        return;
    }
    // Rebuilt on every tick: a click or the console may have changed TxCommand.
    Module1::TxCommand = repeatText(RepeatCode);
    if (!Hyouji(Module1::TxCommand, 1)) {
        // The port went away mid-hold; one notice is enough.
        Timer1->stop();
        return;
    }
    // Keeps running; restarting it here would stretch every period by this handler.
    if (!Timer1->isActive())
        Timer1->start();
}

void Form1::Cont_M_up() {
    RepeatCode = 0;
    Timer1->stop();
    Timer2->stop();
    Timer4->start();
    Label11->clear();
    Label12->clear();
    Timer2->setInterval(releasedReplyTimeoutMs);
    // Changing the interval of the running display clear restarts it: it fires one
    // second after the release and empties what is left on screen.
    Timer4->setInterval(releasedDisplayClearMs);
    RxBuffer.clear();
    HoldActive = 0;
}
