#include "panel/PanelLook.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

namespace panel {

QColor faceColour(Face face) {
    switch (face) {
    case Face::teal:
        return {0, 192, 192};
    case Face::green:
        return {128, 255, 128};
    case Face::red:
        return {255, 128, 128};
    case Face::orange:
        return {255, 192, 128};
    case Face::yellow:
        return {255, 255, 128};
    case Face::cyan:
        return {192, 255, 255};
    case Face::standard:
        break;
    }
    return {};
}

QString faceStyleSheet(Face face) {
    if (face == Face::standard)
        return {};
    // A style sheet rather than the palette: several desktop styles draw their own
    // button faces and would ignore a palette colour, leaving the panel grey.
    const QColor colour = faceColour(face);
    return QStringLiteral("QPushButton { background-color: %1; color: black;"
                          " border: 1px solid rgb(64, 64, 64); border-radius: 2px; }"
                          "QPushButton:hover { border-color: black; }"
                          "QPushButton:focus { border: 2px solid black; }"
                          "QPushButton:pressed { background-color: %2; }")
        .arg(colour.name(), colour.darker(125).name());
}

QImage arrowImage(Arrow arrow) {
    QImage image(arrowWidth, arrowHeight, QImage::Format_RGB32);
    image.fill(faceColour(Face::yellow));
    const QRgb black = qRgb(0, 0, 0);
    constexpr int midX = arrowWidth / 2;  // 8
    constexpr int midY = arrowHeight / 2; // 4
    // Filled row by row (or column by column) so the edges are crisp pixels at any
    // scale, with no smoothing grey on the yellow.
    switch (arrow) {
    case Arrow::up:
    case Arrow::down:
        for (int row = 0; row < arrowHeight; ++row) {
            const int y = arrow == Arrow::up ? row : arrowHeight - 1 - row;
            for (int x = midX - row; x <= midX + row; ++x)
                image.setPixel(x, y, black);
        }
        break;
    case Arrow::right:
    case Arrow::left:
        for (int column = 0; column < arrowWidth; ++column) {
            // Half the height, shrinking from the full base to the point.
            const int half = (midY * (arrowWidth - 1 - column) + (arrowWidth - 1) / 2) / (arrowWidth - 1);
            const int x = arrow == Arrow::right ? column : arrowWidth - 1 - column;
            for (int y = midY - half; y <= midY + half; ++y)
                image.setPixel(x, y, black);
        }
        break;
    case Arrow::none:
        break;
    }
    return image;
}

QIcon windowIcon() {
    // A projector seen from the front, casting a beam to the upper right.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath beam;
    beam.moveTo(13, 14);
    beam.lineTo(31, 1);
    beam.lineTo(31, 15);
    beam.lineTo(13, 19);
    beam.closeSubpath();
    painter.fillPath(beam, QColor(255, 255, 128, 200));

    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(QColor(0, 160, 160));
    painter.drawRoundedRect(QRectF(1.5, 11.5, 26, 14), 3, 3);
    painter.setBrush(QColor(30, 30, 30));
    painter.drawEllipse(QPointF(9, 18.5), 5, 5);
    painter.setBrush(QColor(160, 220, 255));
    painter.drawEllipse(QPointF(9, 18.5), 2.5, 2.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(128, 255, 128));
    painter.drawEllipse(QPointF(23, 15), 1.5, 1.5);
    painter.setBrush(QColor(60, 60, 60));
    painter.drawRect(QRectF(4, 25.5, 4, 3));
    painter.drawRect(QRectF(20, 25.5, 4, 3));
    painter.end();
    return QIcon(pixmap);
}

QColor powerGroupColour() { return {212, 208, 200}; }

void fitText(QWidget *widget, const QString &text, int width) {
    constexpr qreal smallest = 7;
    QFont font = widget->font();
    while (font.pointSizeF() > smallest && QFontMetrics(font).horizontalAdvance(text) > width)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    widget->setFont(font);
}

} // namespace panel
