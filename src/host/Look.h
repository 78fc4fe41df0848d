#pragma once

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>

#include "panel/Faces.h"

// Colours and fonts of the windows, in one place.
namespace look {
inline QColor colour(panel::Rgb rgb) { return {rgb.red, rgb.green, rgb.blue}; }

inline const QColor panelGrey = colour(panel::windowGrey);
inline const QColor white = colour(panel::transcriptWhite);
inline const QColor black{0, 0, 0};
inline const QColor red = colour(panel::legendRed);
inline const QColor darkRed = colour(panel::powerTitleRed);

// Bold proportional sans-serif at the given point size. The windows were laid out for a
// narrow face; Arial-metric faces come first so that captions fit the design's widths.
inline QFont boldFont(qreal points) {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Helvetica"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("FreeSans"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// What frames and labels without a colour of their own show: the platform's button face.
inline QColor buttonFace() { return QApplication::palette().color(QPalette::Active, QPalette::Button); }

inline void setBackground(QWidget *widget, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

inline void setTextColour(QWidget *widget, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}
} // namespace look
