// The control panel seen from outside: which bytes each button puts on the line when
// the operator clicks it, how the keyboard and double clicks behave, and what the
// operator sees of the layout (captions, groups, faces, arrow pictures, the two heights).

#include "TestSupport.h"

#include "console/Form3.h"
#include "host/Twips.h"
#include "link/Module1.h"
#include "port_dialog/Form2.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QTransform>

#include <algorithm>
#include <map>

namespace {

// The title the operator reads above a button: its group's title label, or "window"
// for a button standing on the window itself.
QString groupTitleOf(const QWidget *button, const Form1 *form) {
    QWidget *parent = button->parentWidget();
    if (parent == form)
        return QStringLiteral("window");
    const auto labels = parent->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    return labels.size() == 1 ? labels.first()->text() : QStringLiteral("?");
}

QRect rectInForm(const QWidget *widget, const Form1 *form) {
    return QRect(widget->mapTo(form, QPoint(0, 0)), widget->size());
}

// The colour most of a widget's own area shows in a picture of the panel, the widgets on
// it left out: its background, whatever a caption covers of it.
QColor backgroundSeen(const QImage &panel, const QWidget *widget, const Form1 *form) {
    QRegion area(rectInForm(widget, form));
    for (const QWidget *child : widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        area -= rectInForm(child, form);
    const qreal scale = panel.devicePixelRatio(); // the picture is in device pixels
    std::map<QRgb, int> counts;
    for (const QRect &part : QTransform::fromScale(scale, scale).map(area))
        for (int y = part.top(); y <= part.bottom(); ++y)
            for (int x = part.left(); x <= part.right(); ++x)
                ++counts[panel.pixel(x, y)];
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto &a, const auto &b) { return a.second < b.second; });
    return most == counts.end() ? QColor() : QColor::fromRgb(most->first);
}

// The colours a dark desktop theme gives every window: light text on near-black.
QPalette darkDesktop() {
    const QColor dark(53, 53, 53), darker(42, 42, 42), light(240, 240, 240);
    QPalette palette(light, dark, dark.lighter(), dark.darker(), dark, light, light, darker, dark);
    palette.setColor(QPalette::ButtonText, light);
    return palette;
}

// Sets the application's palette for as long as it lives, as a desktop theme does before
// the first window is built.
class DesktopPalette {
public:
    explicit DesktopPalette(const QPalette &palette) : m_saved(QApplication::palette()) {
        QApplication::setPalette(palette);
    }
    ~DesktopPalette() { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

// The paper and the ink of a widget in a picture of its window: the colour most of its
// contents show, and the colour most of the rest shows (where the strokes of the letters
// are solid, they are exactly the text's colour; their smoothed edges are many colours).
struct PaperAndInk {
    QColor paper;
    QColor ink;
};

PaperAndInk paperAndInk(const QImage &window, const QWidget *widget) {
    const QRect contents = widget->contentsRect().translated(widget->mapTo(widget->window(), QPoint(0, 0)));
    const qreal scale = window.devicePixelRatio();
    const QRect inPicture = QTransform::fromScale(scale, scale).mapRect(contents);
    std::map<QRgb, int> counts;
    for (int y = inPicture.top(); y <= inPicture.bottom(); ++y)
        for (int x = inPicture.left(); x <= inPicture.right(); ++x)
            ++counts[window.pixel(x, y)];
    const auto commonest = [&counts] {
        const auto most = std::max_element(counts.begin(), counts.end(),
                                           [](const auto &a, const auto &b) { return a.second < b.second; });
        return most == counts.end() ? QRgb(0) : most->first;
    };
    PaperAndInk seen;
    seen.paper = QColor::fromRgb(commonest());
    counts.erase(seen.paper.rgb());
    seen.ink = counts.empty() ? QColor() : QColor::fromRgb(commonest());
    return seen;
}

} // namespace

class PanelButtons : public QObject {
    Q_OBJECT
private slots:
    void init() { Module1::reset(); }

    // --- the command of each click button, on the wire ---------------------------------
    void clickSendsItsCommand_data();
    void clickSendsItsCommand();
    void sameCaptionDifferentCommand_data();
    void sameCaptionDifferentCommand();
    void eco2IsSeventeenBytes();
    void doubleClickSendsTwice();
    void clickingTwoButtonsSendsBothInOrder();
    void keyboardClicksAFocusedButton_data();
    void keyboardClicksAFocusedButton();
    void keyboardOnAFocusedArrowSendsNothing_data();
    void keyboardOnAFocusedArrowSendsNothing();
    void windowCommandsSendNothing();

    // --- what the operator sees ----------------------------------------------------------
    void sixtyEightButtonsAllEnabledAndShown();
    void buttonsStayInsideTheirGroupAndDoNotOverlap();
    void compactHeightShowsOnlyTheUpperPanel();
    void faceColours_data();
    void faceColours();
    void arrowButtons_data();
    void arrowButtons();
    void displayIsEmptyAtStart();
    void framesWithoutAColourTakeTheButtonFace();
    void screenReaderTellsButtonsAndGroupsApart();
    void darkDesktopKeepsTheDesignsColours_data();
    void darkDesktopKeepsTheDesignsColours();
};

void PanelButtons::clickSendsItsCommand_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QByteArray>("bytes");
    const auto row = [](const char *control, const char *caption, const char *bytes) {
        QTest::newRow(control) << QString::fromLatin1(control) << QString::fromLatin1(caption) << QByteArray(bytes);
    };
    row("Command17", "On", "C00\r");
    row("Command18", "Off", "C01\r");
    row("Command28", "Analog RGB", "C50\r");
    row("Command53", "Component", "C54\r");
    row("Command29", "Scart", "C51\r");
    row("Command11", "Analog RGB", "C06\r");
    row("Command39", "HDMI", "C04\r");
    row("Command12", "Video", "C07\r");
    row("Command27", "S-VIDEO", "C34\r");
    row("Command32", "Full", "C10\r");
    row("Command31", "Normal", "C0F\r");
    row("Command9", "AUTO", "CF LAMPMODE AUTO\r");
    row("Command68", "Normal", "CF LAMPMODE NORMAL\r");
    row("Command75", "Eco 1", "CF LAMPMODE ECO1\r");
    row("Command40", "Eco 2", "CF LAMPMODE ECO2\r");
    row("Command19", "On", "C0B\r");
    row("Command20", "Off", "C0C\r");
    row("Command21", "On", "C0D\r");
    row("Command22", "Off", "C0E\r");
    row("Command25", "On", "C43\r");
    row("Command26", "Off", "C44\r");
    row("Command69", "Enable", "C28\r");
    row("Command70", "Disable", "C29\r");
    row("Command41", "ON", "CF MIC ON\r");
    row("Command43", "OFF", "CF MIC OFF\r");
    row("Command23", "On", "C1C\r");
    row("Command24", "Off", "C1D\r");
    row("Command6", "Enter", "C3F\r");
    row("Command4", "Standard", "C11\r");
    row("Command36", "Real", "C12\r");
    row("Command37", "Cinema", "C13\r");
    row("Command50", "Image 1", "C14\r");
    row("Command51", "Image 2", "C15\r");
    row("Command52", "Image 3", "C16\r");
    row("Command57", "Image 4", "C17\r");
    row("Command58", "B.Board", "C18\r");
    row("Command59", "Dynamic", "C19\r");
    row("Command3", "Display Clear", "C1E\r");
    row("Command73", "Image (Toggle)", "C27\r");
    row("Command15", "Image Colorboard", "C39\r");
    row("Command13", "Auto Pc Adj", "C89\r");
    row("Command14", "P-Timer", "C8A\r");
    row("Command34", "P-Timer (Exit)", "C8B\r");
    row("Command60", "NONE", "CF KEYDIS NONE\r");
    row("Command61", "R/C", "CF KEYDIS RC\r");
    row("Command62", "KEY", "CF KEYDIS KEY\r");
    row("Command44", "Status", "CR0\r");
    row("Command45", "Input Mode", "CR1\r");
    row("Command54", "Temp", "CR6\r");
    row("Command47", "Setting", "CR4\r");
    row("Command46", "Lamp Time", "CR3\r");
    row("Command55", "Lamp Status", "CR LAMPSTS\r");
    row("Command76", "Lamp Mode", "CR7\r");
}

void PanelButtons::clickSendsItsCommand() {
    QFETCH(QString, control);
    QFETCH(QString, caption);
    QFETCH(QByteArray, bytes);
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight); // the query buttons are below the compact height
    rig.port.written.clear();

    QPushButton *button = buttonNamed(rig, control);
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    QTest::mouseClick(button, Qt::LeftButton);

    QCOMPARE(visible(rig.port.written), visible(bytes));
    // Kept for the status decoding, which reads it to know what a reply answers.
    QCOMPARE(Module1::TxCommand, QString::fromLatin1(bytes));
    // Shown in the transmit transcript: the command went through the one send path.
    QVERIFY(!rig.form->Label11->text().isEmpty());
}

void PanelButtons::sameCaptionDifferentCommand_data() {
    QTest::addColumn<QString>("caption");
    // Group title as the operator reads it -> bytes on the line.
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("Analog RGB") << QStringLiteral("Analog RGB")
                                << QStringList{"Computer 1=C50\\r", "Computer 2=C06\\r"};
    QTest::newRow("Normal") << QStringLiteral("Normal")
                            << QStringList{"Lamp Mode=CF LAMPMODE NORMAL\\r", "Screen=C0F\\r"};
    QTest::newRow("On") << QStringLiteral("On")
                        << QStringList{"Audio Mute=C0B\\r", "Freeze=C43\\r", "Menu=C1C\\r", "Power=C00\\r",
                                       "Video Mute=C0D\\r"};
    QTest::newRow("Off") << QStringLiteral("Off")
                         << QStringList{"Audio Mute=C0C\\r", "Freeze=C44\\r", "Menu=C1D\\r", "Power=C01\\r",
                                        "Video Mute=C0E\\r"};
    // Also a group title, and the status box's title: neither label is a button.
    QTest::newRow("Lamp Mode") << QStringLiteral("Lamp Mode") << QStringList{"window=CR7\\r"};
    QTest::newRow("Status") << QStringLiteral("Status") << QStringList{"window=CR0\\r"};
}

void PanelButtons::sameCaptionDifferentCommand() {
    QFETCH(QString, caption);
    QFETCH(QStringList, expected);
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);

    QStringList sent;
    for (QPushButton *button : rig.form->findChildren<QPushButton *>()) {
        if (button->text() != caption)
            continue;
        rig.port.written.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        sent << groupTitleOf(button, rig.form.get()) + QLatin1Char('=') + visible(rig.port.written);
    }
    sent.sort();
    QCOMPARE(sent, expected);
}

void PanelButtons::eco2IsSeventeenBytes() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command40")), Qt::LeftButton);
    QCOMPARE(rig.port.written.size(), 17);
    QVERIFY(rig.port.written.startsWith("CF LAMPMODE ECO2"));
    QCOMPARE(rig.port.written.back(), '\r');
}

void PanelButtons::doubleClickSendsTwice() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    QPushButton *freezeOn = buttonNamed(rig, QStringLiteral("Command25"));
    // What the platform delivers for a double click: press, release, double-click
    // press, release.
    QTest::mouseClick(freezeOn, Qt::LeftButton);
    QTest::mouseDClick(freezeOn, Qt::LeftButton);
    QTest::mouseRelease(freezeOn, Qt::LeftButton);
    QCOMPARE(visible(rig.port.written), QStringLiteral("C43\\rC43\\r"));

    rig.port.written.clear();
    QTest::mouseClick(freezeOn, Qt::LeftButton);
    QTest::mouseClick(freezeOn, Qt::LeftButton);
    QCOMPARE(visible(rig.port.written), QStringLiteral("C43\\rC43\\r"));
}

void PanelButtons::clickingTwoButtonsSendsBothInOrder() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command17")), Qt::LeftButton);
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command9")), Qt::LeftButton);
    QCOMPARE(visible(rig.port.written), QStringLiteral("C00\\rCF LAMPMODE AUTO\\r"));
    QCOMPARE(Module1::TxCommand, QStringLiteral("CF LAMPMODE AUTO\r"));
}

void PanelButtons::keyboardClicksAFocusedButton_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("space") << int(Qt::Key_Space);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
}

void PanelButtons::keyboardClicksAFocusedButton() {
    QFETCH(int, key);
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    for (const char *name : {"Command21", "Command3"}) { // in a group, and on the window
        QPushButton *button = buttonNamed(rig, QString::fromLatin1(name));
        button->setFocus();
        QVERIFY(button->hasFocus());
        QTest::keyClick(button, Qt::Key(key));
    }
    QCOMPARE(visible(rig.port.written), QStringLiteral("C0D\\rC1E\\r"));
}

void PanelButtons::keyboardOnAFocusedArrowSendsNothing_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("space") << int(Qt::Key_Space);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
}

void PanelButtons::keyboardOnAFocusedArrowSendsNothing() {
    QFETCH(int, key);
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.port.written.clear();
    for (const char *name : {"Command1", "Command8"}) {
        QPushButton *arrow = buttonNamed(rig, QString::fromLatin1(name));
        arrow->setFocus();
        QVERIFY(arrow->hasFocus());
        QTest::keyClick(arrow, Qt::Key(key));
        QTest::keyPress(arrow, Qt::Key(key)); // held down ...
        QCOMPARE(rig.form->HoldActive, qint16(0));
        QVERIFY(!rig.form->Timer1->isActive());
        QTest::keyRelease(arrow, Qt::Key(key)); // ... and let go
    }
    QCOMPARE(visible(rig.port.written), QString());
    QCOMPARE(rig.form->RepeatCode, quint8(0));
}

void PanelButtons::windowCommandsSendNothing() {
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    rig.port.written.clear();
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command74")), Qt::LeftButton); // Command Table
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command33")), Qt::LeftButton); // COM
    QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command16")), Qt::LeftButton); // END
    QCOMPARE(visible(rig.port.written), QString());
    if (QWidget *dialog = Form2::instance())
        dialog->close();
    if (QWidget *console = Form3::instance())
        console->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void PanelButtons::sixtyEightButtonsAllEnabledAndShown() {
    PanelRig rig;
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    const auto buttons = rig.form->findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 68);
    QSet<QString> names;
    const QRegularExpression controlName(QStringLiteral("^Command[0-9]+$"));
    int arrows = 0;
    for (const QPushButton *button : buttons) {
        QVERIFY2(controlName.match(button->objectName()).hasMatch(), qPrintable(button->objectName()));
        names.insert(button->objectName());
        QVERIFY2(button->isEnabled() && button->isVisible(), qPrintable(button->objectName()));
        arrows += button->text().isEmpty() ? 1 : 0;
    }
    QCOMPARE(names.size(), 68);
    QCOMPARE(arrows, 12);
    QCOMPARE(rig.form->windowTitle(), QStringLiteral("TAVO   QT735  CONTROL"));
    QCOMPARE(rig.form->windowIcon().availableSizes().value(0), QSize(32, 32));
    // The full height shows exactly the design's client area.
    QCOMPARE(rig.form->size(), QSize(twipsToPixels(10185), twipsToPixels(7620)));
}

void PanelButtons::buttonsStayInsideTheirGroupAndDoNotOverlap() {
    PanelRig rig;
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    const Form1 *form = rig.form.get();

    // Each button lies within its parent (a group frame or the window).
    for (const QPushButton *button : form->findChildren<QPushButton *>())
        QVERIFY2(button->parentWidget()->rect().contains(button->geometry()), qPrintable(button->objectName()));

    // Nothing on the window covers anything else: the frames, the buttons standing on
    // the window, the transcript, the legends and the status box. Twips do not round
    // to whole pixels, and a few neighbours in the design touch by a pixel.
    const auto apart = [](const QRect &a, const QRect &b) {
        const QRect overlap = a.intersected(b);
        return overlap.isEmpty() || overlap.width() <= 2 || overlap.height() <= 2;
    };
    QList<QWidget *> pieces;
    for (QWidget *child : form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child->objectName() != QLatin1String("PortNotice"))
            pieces << child;
    QVERIFY(pieces.size() > 40);
    for (qsizetype i = 0; i < pieces.size(); ++i)
        for (qsizetype j = i + 1; j < pieces.size(); ++j) {
            QVERIFY2(apart(rectInForm(pieces[i], form), rectInForm(pieces[j], form)),
                     qPrintable(pieces[i]->objectName() + QLatin1String(" / ") + pieces[j]->objectName()));
        }
    // And inside each group, its buttons and its title keep apart.
    for (const QFrame *frame : form->findChildren<QFrame *>(Qt::FindDirectChildrenOnly)) {
        const auto inside = frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (qsizetype i = 0; i < inside.size(); ++i)
            for (qsizetype j = i + 1; j < inside.size(); ++j)
                QVERIFY2(apart(inside[i]->geometry(), inside[j]->geometry()),
                         qPrintable(inside[i]->objectName() + QLatin1String(" / ") + inside[j]->objectName()));
    }
}

void PanelButtons::compactHeightShowsOnlyTheUpperPanel() {
    PanelRig rig;
    rig.startWithPort(); // opens at the compact height
    QVERIFY(showPanel(rig));
    const Form1 *form = rig.form.get();
    QCOMPARE(form->height(), twipsToPixels(Form1::compactHeight - Form1::frameAllowance));
    const QRect client = form->rect();

    const QStringList below{"Frame9",    "Frame15",   "Label27",   "Label28",   "Command44", "Command45", "Command54",
                            "Command47", "Command46", "Command55", "Command76", "Command74", "Command33"};
    for (const QString &name : below) {
        const auto *widget = form->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QVERIFY2(rectInForm(widget, form).top() >= client.bottom(), qPrintable(name));
    }
    // Every group, the picture-mode block with its two columns, "R/C Key Off" and "END".
    int inView = 0;
    for (const QWidget *widget : form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (below.contains(widget->objectName()) || widget->objectName() == QLatin1String("PortNotice"))
            continue;
        QVERIFY2(client.contains(rectInForm(widget, form)), qPrintable(widget->objectName()));
        ++inView;
    }
    QCOMPARE(inView, 19 + 9 + 6 + 1); // groups, picture modes, the two columns, END
}

void PanelButtons::faceColours_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QColor>("face");
    QTest::newRow("On (green)") << QStringLiteral("Command17") << QColor(128, 255, 128);
    QTest::newRow("Enable (green)") << QStringLiteral("Command69") << QColor(128, 255, 128);
    QTest::newRow("Off (red)") << QStringLiteral("Command18") << QColor(255, 128, 128);
    QTest::newRow("OFF (red)") << QStringLiteral("Command43") << QColor(255, 128, 128);
    QTest::newRow("Enter (orange)") << QStringLiteral("Command6") << QColor(255, 192, 128);
    QTest::newRow("input (teal)") << QStringLiteral("Command28") << QColor(0, 192, 192);
    QTest::newRow("picture mode (teal)") << QStringLiteral("Command59") << QColor(0, 192, 192);
    QTest::newRow("R/C Key Off (teal)") << QStringLiteral("Command62") << QColor(0, 192, 192);
    QTest::newRow("query (cyan)") << QStringLiteral("Command76") << QColor(192, 255, 255);
    QTest::newRow("arrow (yellow)") << QStringLiteral("Command35") << QColor(255, 255, 128);
}

void PanelButtons::faceColours() {
    QFETCH(QString, control);
    QFETCH(QColor, face);
    PanelRig rig;
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    QPushButton *button = buttonNamed(rig, control);
    // The face as the button's style paints it, without the caption or the picture on
    // it: a caption stepped down to fit can reach any point of the face, wherever it is
    // sampled, depending on the fonts installed.
    QStyleOptionButton option;
    option.initFrom(button);
    QImage picture(button->size(), QImage::Format_RGB32);
    picture.fill(Qt::magenta);
    QPainter painter(&picture);
    button->style()->drawControl(QStyle::CE_PushButton, &option, &painter, button);
    painter.end();
    QCOMPARE(picture.pixelColor(picture.rect().center()).rgb(), face.rgb());
}

void PanelButtons::arrowButtons_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::newRow("Command1") << QStringLiteral("Command1") << QStringLiteral("Volume up");
    QTest::newRow("Command2") << QStringLiteral("Command2") << QStringLiteral("Volume down");
    QTest::newRow("Command5") << QStringLiteral("Command5") << QStringLiteral("Menu up");
    QTest::newRow("Command7") << QStringLiteral("Command7") << QStringLiteral("Menu down");
    QTest::newRow("Command38") << QStringLiteral("Command38") << QStringLiteral("Menu left");
    QTest::newRow("Command8") << QStringLiteral("Command8") << QStringLiteral("Menu right");
    QTest::newRow("Command30") << QStringLiteral("Command30") << QStringLiteral("Bright up");
    QTest::newRow("Command42") << QStringLiteral("Command42") << QStringLiteral("Bright down");
    QTest::newRow("Command48") << QStringLiteral("Command48") << QStringLiteral("D.Zoom up");
    QTest::newRow("Command49") << QStringLiteral("Command49") << QStringLiteral("D.Zoom down");
    QTest::newRow("Command10") << QStringLiteral("Command10") << QStringLiteral("Keystone up");
    QTest::newRow("Command35") << QStringLiteral("Command35") << QStringLiteral("Keystone down");
}

void PanelButtons::arrowButtons() {
    QFETCH(QString, control);
    QFETCH(QString, name);
    PanelRig rig;
    QPushButton *arrow = buttonNamed(rig, control);
    QVERIFY(arrow);
    QVERIFY(arrow->text().isEmpty());
    QCOMPARE(arrow->accessibleName(), name);
    QCOMPARE(arrow->toolTip(), name);
    QCOMPARE(groupTitleOf(arrow, rig.form.get()), name.section(QLatin1Char(' '), 0, 0));

    QCOMPARE(arrow->iconSize(), QSize(17, 9));
    const QImage picture = arrow->icon().pixmap(QSize(17, 9)).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(17, 9));
    const auto black = [&picture](int x, int y) { return picture.pixel(x, y) == qRgb(0, 0, 0); };
    int blackCount = 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x) {
            blackCount += black(x, y) ? 1 : 0;
            QVERIFY(black(x, y) || picture.pixel(x, y) == qRgb(255, 255, 128)); // black on yellow, nothing else
        }
    const QString direction = name.section(QLatin1Char(' '), 1);
    // The base runs along a whole edge, the point is the middle of the opposite edge.
    if (direction == QLatin1String("up") || direction == QLatin1String("down")) {
        const int base = direction == QLatin1String("up") ? 8 : 0;
        const int point = 8 - base;
        for (int x = 0; x < 17; ++x)
            QVERIFY(black(x, base));
        QVERIFY(black(8, point) && !black(7, point) && !black(9, point));
        QCOMPARE(blackCount, 81); // 1 + 3 + ... + 17
    } else {
        const int base = direction == QLatin1String("right") ? 0 : 16;
        const int point = 16 - base;
        for (int y = 0; y < 9; ++y)
            QVERIFY(black(base, y));
        QVERIFY(black(point, 4) && !black(point, 3) && !black(point, 5));
        QVERIFY(blackCount > 60 && blackCount < 100); // a solid triangle, not an outline
    }
}

void PanelButtons::displayIsEmptyAtStart() {
    PanelRig rig;
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    QVERIFY(!rig.form->Label27->isVisible());
    QVERIFY(!rig.form->Label28->isVisible());
    QVERIFY(rig.form->Label11->text().isEmpty());
    QVERIFY(rig.form->Label12->text().isEmpty());
    QVERIFY(rig.form->Label25->text().isEmpty());
    QVERIFY(rig.form->Frame15->isVisible());
    QVERIFY(!rig.form->Timer1->isActive());
}

void PanelButtons::framesWithoutAColourTakeTheButtonFace() {
    PanelRig rig;
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    const QImage panel = rig.form->grab().toImage();
    const QColor buttonFace = QApplication::palette().color(QPalette::Active, QPalette::Button);
    QVERIFY2(buttonFace.rgb() != qRgb(192, 192, 192), "the button face must differ from the window's grey");
    // A group frame and its title, then the transcript frame and the status box with theirs.
    for (const char *name : {"Frame2", "Label2", "Frame9", "Label9", "Label10", "Frame15", "Label26"}) {
        const auto *widget = rig.form->findChild<QWidget *>(QLatin1String(name));
        QVERIFY2(widget, name);
        QCOMPARE(QLatin1String(name) + QLatin1Char(' ') + backgroundSeen(panel, widget, rig.form.get()).name(),
                 QLatin1String(name) + QLatin1Char(' ') + buttonFace.name());
    }
}

void PanelButtons::screenReaderTellsButtonsAndGroupsApart() {
    PanelRig rig;
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    const auto spoken = [](QWidget *widget) {
        QAccessibleInterface *read = QAccessible::queryAccessibleInterface(widget);
        return read ? read->text(QAccessible::Name) : QString();
    };

    // A group is named by the title the operator reads in it.
    int groups = 0;
    for (QFrame *frame : rig.form->findChildren<QFrame *>(Qt::FindDirectChildrenOnly)) {
        const auto titles = frame->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
        if (frame->findChildren<QPushButton *>().isEmpty() || titles.size() != 1)
            continue;
        QCOMPARE(spoken(frame), titles.first()->text());
        ++groups;
    }
    QCOMPARE(groups, 19);
    QCOMPARE(spoken(rig.form->Frame15), QStringLiteral("Status"));

    // Every button by a name of its own, which says its caption as well.
    QSet<QString> names;
    for (QPushButton *button : rig.form->findChildren<QPushButton *>()) {
        const QString name = spoken(button);
        QVERIFY2(!names.contains(name), qPrintable(name));
        names.insert(name);
        QVERIFY2(name.endsWith(button->text()), qPrintable(name + QLatin1String(" / ") + button->text()));
    }
    QCOMPARE(names.size(), 68);
    for (const char *name : {"Power On", "Freeze On", "Audio Mute Off", "Computer 2 Analog RGB", "Lamp Mode Normal",
                             "Volume up", "Lamp Mode"})
        QVERIFY2(names.contains(QLatin1String(name)), name);
}

void PanelButtons::darkDesktopKeepsTheDesignsColours_data() {
    QTest::addColumn<QString>("widget");
    QTest::addColumn<bool>("inConsole");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");
    const QColor black(0, 0, 0), white(255, 255, 255), red(255, 0, 0), grey(192, 192, 192);
    QTest::newRow("TxD line") << QStringLiteral("Label11") << false << black << white;
    QTest::newRow("RxD line") << QStringLiteral("Label12") << false << black << white;
    QTest::newRow("status text") << QStringLiteral("Label25") << false << red << white;
    QTest::newRow("CR legend") << QStringLiteral("Label28") << false << red << grey;
    QTest::newRow("space legend") << QStringLiteral("Label27") << false << red << grey;
    QTest::newRow("console CR legend") << QStringLiteral("Label2") << true << red << grey;
    QTest::newRow("console parameter legend") << QStringLiteral("Label1") << true << red << grey;
    QTest::newRow("console send note") << QStringLiteral("SendNote") << true << red << grey;
}

void PanelButtons::darkDesktopKeepsTheDesignsColours() {
    QFETCH(QString, widget);
    QFETCH(bool, inConsole);
    QFETCH(QColor, text);
    QFETCH(QColor, background);
    const DesktopPalette dark(darkDesktop());
    PanelRig rig;
    rig.startWithPort();
    QVERIFY(showPanel(rig));
    rig.form->setHeight(Form1::fullHeight);
    QImage picture;
    const QWidget *seen = nullptr;
    if (!inConsole) {
        // "Lamp Status" has a blank to show, then "Status" is answered: both lines, the
        // status text and both legends are on screen.
        QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command55")), Qt::LeftButton);
        QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command44")), Qt::LeftButton);
        rig.port.receive("80\r");
        QCOMPARE(rig.form->Label25->text(), QStringLiteral(" Stand by"));
        picture = rig.form->grab().toImage();
        seen = rig.form->findChild<QWidget *>(widget);
    } else {
        QTest::mouseClick(buttonNamed(rig, QStringLiteral("Command74")), Qt::LeftButton);
        Form3 *console = Form3::instance();
        QVERIFY(console);
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        console->Combo2->setCurrentIndex(
            console->Combo2->findText(QStringLiteral("CF BRIGHT 0%%"), Qt::MatchStartsWith));
        if (widget == QLatin1String("SendNote")) {
            rig.port.setPortOpen(false);
            QTest::mouseClick(console->Command1, Qt::LeftButton);
        }
        picture = console->grab().toImage();
        seen = console->findChild<QWidget *>(widget);
    }
    QVERIFY(seen);
    QVERIFY(seen->isVisible());
    const PaperAndInk colours = paperAndInk(picture, seen);
    QCOMPARE(colours.paper.name(), background.name());
    QCOMPARE(colours.ink.name(), text.name());
    if (QWidget *console = Form3::instance())
        console->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTEST_MAIN(PanelButtons)
#include "test_panel_buttons.moc"
