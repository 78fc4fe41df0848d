// The control panel: its groups and buttons, the command each click button sends,
// and the three buttons that act on windows.

#include "console/Form3.h"
#include "host/Look.h"
#include "host/SerialComponent.h"
#include "host/Twips.h"
#include "link/Form1.h"
#include "link/Module1.h"
#include "panel/ButtonTable.h"
#include "panel/PanelLook.h"
#include "panel/RepeatButton.h"
#include "port_dialog/Form2.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <array>

namespace {

QString qs(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

QRect twips(const panel::TwipsBox &box) { return twipsRect(box.left, box.top, box.width, box.height); }

struct WindowCommand {
    std::string_view control;
    void (Form1::*handler)();
};

constexpr WindowCommand windowCommands[] = {
    {"Command16", &Form1::Command16_Click}, // END
    {"Command33", &Form1::Command33_Click}, // COM
    {"Command74", &Form1::Command74_Click}, // Command Table
};

constexpr qreal captionPoints = 9;
constexpr qreal largeCaptionPoints = 12;
constexpr qreal titlePoints = 9.75;
// Room the face's border and padding take from a caption, in pixels.
constexpr int captionMargin = 8;

} // namespace

void Form1::buildPanel() {
    setWindowIcon(panel::windowIcon());

    // Groups: a plain frame with its title as a label near the top edge.
    const QColor buttonFace = look::buttonFace();
    std::array<QFrame *, panel::groups.size()> frames{};
    for (std::size_t g = 0; g < panel::groups.size(); ++g) {
        const panel::GroupRow &group = panel::groups[g];
        const bool isPower = group.title == panel::powerGroup;
        auto *frame = new QFrame(this);
        frame->setObjectName(qs(group.frame));
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Sunken);
        frame->setGeometry(twips(group.frameAt));
        look::setBackground(frame, isPower ? panel::powerGroupColour() : buttonFace);
        frame->setAccessibleName(qs(group.title)); // a plain frame has no title of its own to give

        auto *title = new QLabel(qs(group.title), frame);
        title->setObjectName(qs(group.titleLabel));
        title->setTextFormat(Qt::PlainText);
        title->setGeometry(twips(group.titleAt));
        title->setFont(look::boldFont(titlePoints));
        panel::fitText(title, title->text(), title->width());
        title->setAlignment((group.titleAlign == panel::Align::centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignVCenter);
        if (isPower)
            look::setTextColour(title, look::darkRed);
        frames[g] = frame;
    }
    const auto frameOf = [&frames](std::string_view title) -> QWidget * {
        for (std::size_t g = 0; g < panel::groups.size(); ++g)
            if (panel::groups[g].title == title)
                return frames[g];
        return nullptr;
    };

    // Buttons, in the order of the table, which is also the order of the focus chain.
    for (const panel::ButtonRow &row : panel::buttons) {
        QWidget *parent = row.group == panel::onWindow ? this : frameOf(row.group);
        const bool isHold = row.kind.of == panel::KindOf::hold;
        QPushButton *button = isHold ? new RepeatButton(parent) : new QPushButton(parent);
        button->setObjectName(qs(row.control));
        button->setGeometry(twips(row.at));
        if (row.face == panel::Face::standard)
            // Under a style sheet a widget no longer inherits its parent's colours (a Qt
            // rule), so a plain button takes the window's itself, as it would without one.
            button->setPalette(palette());
        else
            button->setProperty(panel::faceProperty, panel::faceName(row.face));
        button->setFont(look::boldFont(row.control == panel::largeCaptionControl ? largeCaptionPoints : captionPoints));
        // Captions repeat ("On" five times) and pictures say nothing; the name tells the
        // button apart, for screen readers and wherever the panel is driven by name.
        const QString name = qs(row.name);
        button->setAccessibleName(name);

        if (isHold) {
            button->setIcon(panel::arrowIcon(row.caption.arrow));
            button->setIconSize(QSize(panel::arrowWidth, panel::arrowHeight));
            button->setToolTip(name); // the picture has no words of its own
            auto *repeat = static_cast<RepeatButton *>(button);
            const int repeatCode = row.kind.repeatCode;
            connect(repeat, &RepeatButton::mouseDown, this, [this, repeatCode] { repeatButtonDown(repeatCode); });
            connect(repeat, &RepeatButton::mouseUp, this, &Form1::Cont_M_up);
            continue;
        }

        button->setText(qs(row.caption.text));
        panel::fitText(button, button->text(), button->width() - captionMargin);
        // Enter clicks the focused button, as the space bar does.
        button->setAutoDefault(true);
        if (row.kind.of == panel::KindOf::click) {
            const QString code = qs(row.sends);
            connect(button, &QPushButton::clicked, this, [this, code] { sendPanelCommand(code); });
        } else {
            for (const WindowCommand &command : windowCommands)
                if (command.control == row.control)
                    connect(button, &QPushButton::clicked, this, command.handler);
        }
    }

    // Key preview and the end of a hold both need events addressed to the panel's
    // children, which reach the application before any widget.
    qApp->installEventFilter(this);

    // One style sheet on the window for all the coloured faces, parsed once: a sheet on
    // each button would be parsed and kept 65 times over.
    setStyleSheet(panel::faceStyleSheet());
}

void Form1::sendPanelCommand(QStringView code) {
    Module1::TxCommand = code.toString() + QLatin1Char('\r');
    Hyouji(Module1::TxCommand, 1);
}

void Form1::Command16_Click() {
    // The close request closes the port; the program then ends at once, taking any
    // other open window with it.
    close();
    endProgram();
}

void Form1::Command33_Click() {
    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
    Module1::SavedBaudCode = Module1::BaudCode;
    Module1::SavedComPortNo = Module1::ComPortNo;
    Form2::showModeless(*this);
}

void Form1::Command74_Click() {
    Frame15->hide();
    // Replies to console commands can be long and slow; they stay on screen longer.
    Timer2->setInterval(5000);
    Timer4->setInterval(5500);
    Form3::showConsole(*this);
}
