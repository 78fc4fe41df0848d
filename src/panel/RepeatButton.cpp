#include "panel/RepeatButton.h"

#include <QKeyEvent>
#include <QMouseEvent>

// The base class is bypassed for the mouse: it reacts to the left button only, and
// a right or middle press it ignores would travel on to the frame behind.
void RepeatButton::mousePressEvent(QMouseEvent *event) {
    event->accept();
    setDown(true);
    emit mouseDown();
}

// The pressed widget keeps the mouse until the last button comes up, so the release
// arrives here even when the pointer has left the button or the window meanwhile.
void RepeatButton::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    if (event->buttons() == Qt::NoButton)
        setDown(false);
    emit mouseUp();
}

// The second press of a double click is a press like any other.
void RepeatButton::mouseDoubleClickEvent(QMouseEvent *event) { mousePressEvent(event); }

// Sliding off the button while holding keeps the hold going; only the release ends it.
void RepeatButton::mouseMoveEvent(QMouseEvent *event) { event->accept(); }

// Space and Enter would otherwise press the button visually and click it; neither
// means anything here, so they go on to the window like any other key.
void RepeatButton::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Select:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->ignore();
        return;
    default:
        QPushButton::keyPressEvent(event);
    }
}

void RepeatButton::keyReleaseEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) {
        event->ignore();
        return;
    }
    QPushButton::keyReleaseEvent(event);
}
