#include "panel/PanelLook.h"

#include "panel/Faces.h"

#include <QFontMetrics>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace panel {

QColor faceColour(Face face) {
    const FaceRow *row = faceRow(face);
    return row ? QColor(row->colour.red, row->colour.green, row->colour.blue) : QColor();
}

QString faceName(Face face) {
    const FaceRow *row = faceRow(face);
    return row ? QString::fromLatin1(row->name.data(), qsizetype(row->name.size())) : QString();
}

QString faceStyleSheet() {
    // A style sheet rather than the palette: several desktop styles draw their own
    // button faces and would ignore a palette colour, leaving the panel grey.
    QString sheet;
    for (const FaceRow &row : faces) {
        const Face face = row.face;
        const QColor colour = faceColour(face);
        sheet += QStringLiteral("QPushButton[%1=\"%2\"] { background-color: %3; color: black;"
                                " border: 1px solid rgb(64, 64, 64); border-radius: 2px; }"
                                "QPushButton[%1=\"%2\"]:hover { border-color: black; }"
                                "QPushButton[%1=\"%2\"]:focus { border: 2px solid black; }"
                                "QPushButton[%1=\"%2\"]:pressed { background-color: %4; }\n")
                     .arg(QLatin1String(faceProperty), faceName(face), colour.name(), colour.darker(125).name());
    }
    return sheet;
}

QImage arrowImage(Arrow arrow, QSize size) {
    const int width = std::max(size.width(), 1);
    const int height = std::max(size.height(), 1);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(faceColour(Face::yellow));
    const QRgb black = qRgb(0, 0, 0);
    // The triangle through the middles of its corner pixels, widened by half a pixel all
    // round, with no smoothing grey on the yellow. In whole numbers: both sides of
    // |x - middle| <= half-width + 1/2 are doubled and multiplied out.
    switch (arrow) {
    case Arrow::up:
    case Arrow::down:
        for (int fromPoint = 0; fromPoint < height; ++fromPoint) {
            const int y = arrow == Arrow::up ? fromPoint : height - 1 - fromPoint;
            for (int x = 0; x < width; ++x)
                if (std::abs(2 * x - (width - 1)) * (height - 1) <= (width - 1) * fromPoint + (height - 1))
                    image.setPixel(x, y, black);
        }
        break;
    case Arrow::right:
    case Arrow::left:
        for (int fromBase = 0; fromBase < width; ++fromBase) {
            const int x = arrow == Arrow::right ? fromBase : width - 1 - fromBase;
            for (int y = 0; y < height; ++y)
                if (std::abs(2 * y - (height - 1)) * (width - 1) <= (height - 1) * (width - 1 - fromBase) + (width - 1))
                    image.setPixel(x, y, black);
        }
        break;
    case Arrow::none:
        break;
    }
    return image;
}

namespace {

// Asked for a picture in device pixels, at whatever scale the screen has, it draws one of
// exactly that size. A plain icon would enlarge its 17 x 9 picture and blur its edges.
class ArrowIconEngine : public QIconEngine {
public:
    explicit ArrowIconEngine(Arrow arrow) : m_arrow(arrow) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override {
        const qreal scale = painter->device()->devicePixelRatio();
        QImage image = arrowImage(m_arrow, (QSizeF(rect.size()) * scale).toSize());
        image.setDevicePixelRatio(scale);
        painter->drawImage(rect, image);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override {
        return QPixmap::fromImage(arrowImage(m_arrow, size));
    }

    QIconEngine *clone() const override { return new ArrowIconEngine(m_arrow); }

private:
    Arrow m_arrow;
};

} // namespace

QIcon arrowIcon(Arrow arrow) { return QIcon(new ArrowIconEngine(arrow)); }

QIcon windowIcon() {
    // The desktop icon's own pictures (data/icons, compiled in as a resource), so the
    // title bar, the task switcher and the menu show the same projector. The title bar's
    // 32 x 32 comes first. Loaded at once: a missing picture leaves the size out.
    // Title bars and task switchers draw at most 64 pixels; the larger pictures are the
    // installed icon's, and sending them to the window system costs the start-up several
    // milliseconds for nothing.
    // Read as PNG outright: left to guess, Qt loads every image-format plugin installed
    // to ask whether it reads PNG, before using its own reader.
    QIcon icon;
    for (const int size : {32, 16, 48, 64}) {
        QImageReader reader(QStringLiteral(":/icons/hicolor/%1x%1/apps/tavo-control.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

QColor powerGroupColour() { return {powerGroupGrey.red, powerGroupGrey.green, powerGroupGrey.blue}; }

void fitText(QWidget *widget, const QString &text, int width) {
    constexpr qreal smallest = 7;
    QFont font = widget->font();
    while (font.pointSizeF() > smallest && QFontMetrics(font).horizontalAdvance(text) > width)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    widget->setFont(font);
}

} // namespace panel
