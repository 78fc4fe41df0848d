#pragma once

#include "panel/ButtonTable.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QString>

class QWidget;

namespace panel {

// Size of an arrow picture, in pixels.
inline constexpr int arrowWidth = 17;
inline constexpr int arrowHeight = 9;

QColor faceColour(Face face);
// A coloured button carries its face's name in this property; the plain ones carry none.
inline constexpr char faceProperty[] = "face";
QString faceName(Face face);
// The panel's one style sheet: it paints each button's face from the name in its
// faceProperty, and leaves the platform's plain buttons alone.
QString faceStyleSheet();
// A solid black triangle on the repeat buttons' yellow, `size` pixels large (17 x 9 at the
// ordinary scale). Worked out afresh for each size rather than scaled from the small one,
// so its edges are whole pixels on a screen at any scale.
QImage arrowImage(Arrow arrow, QSize size = {arrowWidth, arrowHeight});
// The arrow picture as an icon that draws itself for the scale of the screen it is on.
QIcon arrowIcon(Arrow arrow);
// The program's icon at 16 to 256 pixels, 32 x 32 (the title bar's) first.
QIcon windowIcon();
// The Power group's background. The desktop has no inactive-caption-text colour to
// ask for, so this is the light grey that colour has in the classic desktop scheme.
QColor powerGroupColour();

// Steps the point size down, to no less than 7, until the text fits the width: on a
// desktop with only wide faces a clipped caption would be unreadable.
void fitText(QWidget *widget, const QString &text, int width);

} // namespace panel
