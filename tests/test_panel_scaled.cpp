// The panel on a screen at twice the scale, as a desktop set to 200 % shows it. A program's
// scale is fixed when it starts, so these cases run in a program of their own.

#include "TestSupport.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

class PanelScaled : public QObject {
    Q_OBJECT
private slots:
    void arrowPicturesStaySharp_data();
    void arrowPicturesStaySharp();
};

void PanelScaled::arrowPicturesStaySharp_data() {
    QTest::addColumn<QString>("control");
    QTest::newRow("Menu up") << QStringLiteral("Command5");
    QTest::newRow("Menu down") << QStringLiteral("Command7");
    QTest::newRow("Menu left") << QStringLiteral("Command38");
    QTest::newRow("Menu right") << QStringLiteral("Command8");
    QTest::newRow("Volume up") << QStringLiteral("Command1");
}

// Every device pixel of an arrow picture is black or the yellow field, never a blend of
// the two that an enlarged 17 x 9 picture would show along its edges.
void PanelScaled::arrowPicturesStaySharp() {
    QFETCH(QString, control);
    PanelRig rig;
    QVERIFY(showPanel(rig));
    QPushButton *arrow = buttonNamed(rig, control);
    QVERIFY(arrow);
    buttonNamed(rig, QStringLiteral("Command17"))->setFocus(); // a focused face has a black border
    const qreal scale = arrow->devicePixelRatio();
    QCOMPARE(scale, 2.0);

    const QImage face = arrow->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect picture; // where the black is: the face's own border is dark grey
    for (int y = 0; y < face.height(); ++y)
        for (int x = 0; x < face.width(); ++x)
            if (face.pixel(x, y) == qRgb(0, 0, 0))
                picture |= QRect(x, y, 1, 1);
    QCOMPARE(picture.size(), QSize(17, 9) * 2);
    int blended = 0;
    for (int y = picture.top(); y <= picture.bottom(); ++y)
        for (int x = picture.left(); x <= picture.right(); ++x)
            blended += face.pixel(x, y) != qRgb(0, 0, 0) && face.pixel(x, y) != qRgb(255, 255, 128) ? 1 : 0;
    QCOMPARE(blended, 0);
}

int main(int argc, char *argv[]) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    PanelScaled test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_panel_scaled.moc"
