// tavo-bench-floor: the floor under the panel's start-up. A bare Qt window with the
// panel's 68 push buttons, each with a coloured style sheet of the panel's kind, its
// caption and its place, in a window of the panel's size; nothing else. No fonts of
// its own, no icons, no frames, no settings, no serial port, no event filter: what
// any Qt 6 program showing these buttons pays at the least.
//
// It reads the button table (constant data in a header) and nothing else of the
// program, so that it stays the same floor whatever the panel does.

#include "panel/ButtonTable.h"

#include <QApplication>
#include <QColor>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace {

// The panel's design is in twips; 15 to the pixel at 96 dpi.
int pixels(int twips) { return (twips + 7) / 15; }

// The panel's face colours; invalid for the platform's plain button.
QColor colourOf(panel::Face face) {
    switch (face) {
    case panel::Face::teal:
        return {0, 192, 192};
    case panel::Face::green:
        return {128, 255, 128};
    case panel::Face::red:
        return {255, 128, 128};
    case panel::Face::orange:
        return {255, 192, 128};
    case panel::Face::yellow:
        return {255, 255, 128};
    case panel::Face::cyan:
        return {192, 255, 255};
    case panel::Face::standard:
        break;
    }
    return {};
}

QString caption(const panel::ButtonRow &row) {
    if (row.caption.arrow != panel::Arrow::none)
        return QString::fromLatin1(panel::arrowDirection(row.caption.arrow));
    return QString::fromLatin1(row.caption.text.data(), qsizetype(row.caption.text.size()));
}

// Where a button stands in the window: its group's frame, if any, plus its own place.
QRect place(const panel::ButtonRow &row) {
    int left = row.at.left;
    int top = row.at.top;
    for (const panel::GroupRow &group : panel::groups)
        if (group.title == row.group) {
            left += group.frameAt.left;
            top += group.frameAt.top;
        }
    return {pixels(left), pixels(top), pixels(row.at.width), pixels(row.at.height)};
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle(QStringLiteral("tavo-bench floor"));
    // The panel's client area at the height it first opens with (the buttons only).
    window.setFixedSize(pixels(10185), pixels(5780 - 480));

    for (const panel::ButtonRow &row : panel::buttons) {
        auto *button = new QPushButton(caption(row), &window);
        button->setGeometry(place(row));
        // One style sheet per button, the same rules as the panel's coloured faces.
        if (const QColor colour = colourOf(row.face); colour.isValid())
            button->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black;"
                                                 " border: 1px solid rgb(64, 64, 64); border-radius: 2px; }"
                                                 "QPushButton:hover { border-color: black; }"
                                                 "QPushButton:focus { border: 2px solid black; }"
                                                 "QPushButton:pressed { background-color: %2; }")
                                      .arg(colour.name(), colour.darker(125).name()));
    }

    window.show();
    return app.exec();
}
