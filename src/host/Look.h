#pragma once

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>

// Colours and fonts of the windows, in one place.
namespace look {
inline const QColor panelGrey{192, 192, 192};
inline const QColor white{255, 255, 255};
inline const QColor black{0, 0, 0};
inline const QColor red{255, 0, 0};
inline const QColor darkRed{192, 0, 0};

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
