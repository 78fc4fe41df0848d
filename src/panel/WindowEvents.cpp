// What the panel sees of the window's events before its buttons do: the key preview
// with its one shortcut, and the window-level changes that must end a hold.

#include "link/Form1.h"
#include "panel/RepeatButton.h"

#include <QKeyEvent>

namespace {

constexpr int shiftBit = 1;
constexpr int ctrlBit = 2;
constexpr int altBit = 4;
constexpr int keyH = 72;
constexpr int heightThreshold = 7000; // twips

int shiftState(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= shiftBit;
    if (modifiers & Qt::ControlModifier)
        shift |= ctrlBit;
    if (modifiers & Qt::AltModifier)
        shift |= altBit;
    return shift;
}

// The key press last previewed on one of the panel's buttons, so that the same press
// is not previewed again when the button passes it on to the window. A release ends
// the press, and with it any chance of meeting it again.
const QEvent *previewedPress = nullptr;

} // namespace

void Form1::Form_KeyDown(int keyCode, int shift) {
    // Caps Lock is no modifier, and the key code of a letter is the same in either case.
    if ((shift & (shiftBit | ctrlBit | altBit)) != ctrlBit || keyCode != keyH)
        return;
    setHeight(Height() >= heightThreshold ? compactHeight : fullHeight);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        if (!watched->isWidgetType())
            break;
        auto *widget = static_cast<QWidget *>(watched);
        // Other windows (the port dialog, the console) have keys of their own.
        if (widget->window() != this)
            break;
        QWidget *firstReceiver = QWidget::keyboardGrabber();
        if (!firstReceiver)
            firstReceiver = focusWidget() ? focusWidget() : this;
        if (widget == firstReceiver) {
            previewedPress = event;
        } else if (widget == this && previewedPress != event) {
            // Addressed to the window itself rather than to the focused button.
        } else {
            break; // on its way up from the button, or through a frame: already seen
        }
        const auto *key = static_cast<QKeyEvent *>(event);
        Form_KeyDown(key->key(), shiftState(key->modifiers()));
        break; // never consumed: the focused button gets its key as usual
    }
    case QEvent::KeyRelease:
        previewedPress = nullptr;
        break;
    case QEvent::WindowDeactivate:
    case QEvent::WindowBlocked:
    case QEvent::Hide:
        // Once another window has the mouse, or this one is blocked by a modal box or
        // put away, the release may never come back to the arrow button; the hold
        // would go on sending every 100 ms. It ends here as a release would end it.
        if (watched == this && HoldActive != 0) {
            Cont_M_up();
            for (RepeatButton *button : findChildren<RepeatButton *>())
                button->setDown(false);
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
