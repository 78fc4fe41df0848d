#include "link/Form1.h"

#include "host/Look.h"
#include "host/PortError.h"
#include "host/SerialComponent.h"
#include "host/SettingsStore.h"
#include "host/Twips.h"
#include "link/Module1.h"
#include "link/StoredNumber.h"
#include "port_dialog/Form2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int clientWidth = 10185; // twips
constexpr int clientHeight = 7620; // twips

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, QRect twipsGeometry) {
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(twipsGeometry);
    return label;
}

QFrame *makeFrame(QWidget *parent, const char *name, QRect twipsGeometry) {
    auto *frame = new QFrame(parent);
    frame->setObjectName(QLatin1String(name));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(twipsGeometry);
    return frame;
}

QTimer *makeTimer(QObject *parent, const char *name, int intervalMs) {
    auto *timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(intervalMs);
    return timer;
}

// A white, bordered line of text: the transcript lines and the status text. Black text
// and border unless the line has a colour of its own: left to the desktop, a dark theme's
// light text would vanish on the white.
void makeWhiteLine(QLabel *label, qreal points) {
    label->setFont(look::boldFont(points));
    label->setFrameShape(QFrame::Box);
    label->setFrameShadow(QFrame::Plain);
    label->setTextFormat(Qt::PlainText);
    look::setBackground(label, look::white);
    look::setTextColour(label, look::black);
}

// What the operator is told about the port, and what to do about it with "COM". At the
// compact height "COM" is out of view, and the hint says how to bring it in.
QString portHint(const QString &problem, const QString &remedy, bool comInView) {
    // Ctrl+H works in the panel only; the console repeats the panel's notice word for word.
    return comInView
               ? QStringLiteral("%1 Use COM to %2.").arg(problem, remedy)
               : QStringLiteral("%1 Press Ctrl+H in the panel to show COM, and use it to %2.").arg(problem, remedy);
}

} // namespace

Form1::Form1(SerialComponent &comm, SettingsStore &store, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      MSComm1(comm), settingsStore(store) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("TAVO   QT735  CONTROL"));
    setFont(look::boldFont(9));
    look::setBackground(this, look::panelGrey);
    setFixedSize(twipsToPixels(clientWidth), twipsToPixels(clientHeight));
    m_outerHeight = clientHeight + frameAllowance;

    Timer1 = makeTimer(this, "Timer1", 200);
    Timer1->setTimerType(Qt::PreciseTimer); // the repeat cadence is what the operator feels
    Timer2 = makeTimer(this, "Timer2", 5000);
    Timer4 = makeTimer(this, "Timer4", 5500);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(Timer4, &QTimer::timeout, this, &Form1::Timer4_Timer);

    connect(&MSComm1, &SerialComponent::OnComm, this, &Form1::MSComm1_OnComm);
    connect(&MSComm1, &SerialComponent::portLost, this, &Form1::portLost);
    connect(&MSComm1, &SerialComponent::writeFailed, this, [this](const QString &reason) {
        // The command was drawn as sent, but the driver could not write it after all; a
        // hold stops repeating what cannot go out.
        Timer1->stop();
        sendFailed(reason);
    });

    endProgram = [] { QCoreApplication::exit(0); };

    buildDisplay();
    buildPanel();
}

Form1::~Form1() {
    // Form2 and Form3 hold this window by QPointer; the port closes with the program.
    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
}

void Form1::buildDisplay() {
    Frame9 = makeFrame(this, "Frame9", twipsRect(120, 5400, 8295, 948));
    Frame9->setAccessibleName(QStringLiteral("TxD and RxD"));
    look::setBackground(Frame9, look::buttonFace()); // and so its "TxD" and "RxD"
    auto *txd = makeLabel(Frame9, "Label9", QStringLiteral("TxD"), twipsRect(120, 240, 372, 252));
    auto *rxd = makeLabel(Frame9, "Label10", QStringLiteral("RxD"), twipsRect(120, 612, 372, 180));
    txd->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rxd->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label11 = makeLabel(Frame9, "Label11", QString(), twipsRect(600, 195, 7575, 300));
    Label12 = makeLabel(Frame9, "Label12", QString(), twipsRect(585, 555, 7575, 300));
    makeWhiteLine(Label11, 12);
    makeWhiteLine(Label12, 12);

    Label28 = makeLabel(this, "Label28", QStringLiteral("[CR] :Carriage Return Code (0x0D)"),
                        twipsRect(120, 6405, 3495, 255));
    Label27 = makeLabel(this, "Label27", QStringLiteral("_ :Space Code (0x20)"), twipsRect(4200, 6405, 2295, 255));
    for (QLabel *legend : {Label28, Label27}) {
        legend->setFont(look::boldFont(9.75));
        look::setTextColour(legend, look::red);
        legend->hide();
    }

    Frame15 = makeFrame(this, "Frame15", twipsRect(120, 6840, 6105, 492));
    Frame15->setAccessibleName(QStringLiteral("Status"));
    look::setBackground(Frame15, look::buttonFace()); // and so its "Status"
    makeLabel(Frame15, "Label26", QStringLiteral("Status"), twipsRect(120, 210, 855, 180));
    Label25 = makeLabel(Frame15, "Label25", QString(), twipsRect(1020, 135, 4950, 285));
    makeWhiteLine(Label25, 10.5);
    look::setTextColour(Label25, look::red);

    // Below the Menu group, inside the compact height, so a send that did not go out
    // is seen whichever height the window has.
    portNotice = makeLabel(this, "PortNotice", QString(), twipsRect(120, 4400, 2760, 900));
    portNotice->setWordWrap(true);
    portNotice->setTextFormat(Qt::PlainText);
    portNotice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    portNotice->setFont(look::boldFont(8));
    look::setTextColour(portNotice, look::red);
    portNotice->hide();
}

int Form1::Height() const { return m_outerHeight; }

void Form1::setHeight(int twips) {
    // Kept in twips: the compact height is not a whole number of pixels.
    m_outerHeight = twips;
    setFixedSize(width(), twipsToPixels(std::max(twips - frameAllowance, 0)));
    keepFocusInView();
    updatePortNotice();
}

bool Form1::isInView(const QWidget *widget) const {
    return rect().contains(QRect(widget->mapTo(this, QPoint(0, 0)), widget->size()));
}

void Form1::keepFocusInView() {
    // A button below the visible area takes no keyboard focus: Tab would land on it
    // unseen, and the space bar would press it unseen ("COM" closes the port).
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setFocusPolicy(isInView(button) ? Qt::StrongFocus : Qt::NoFocus);
    QWidget *focused = focusWidget();
    if (!focused || focused->focusPolicy() != Qt::NoFocus)
        return;
    // Shrunk under the focus: it goes to the first control in view, in the order Tab takes.
    for (QWidget *next = nextInFocusChain(); next != this; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(this) && next->isEnabled()) {
            next->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    focused->clearFocus();
}

void Form1::showPortNotice(const QString &problem, const QString &remedy) {
    m_noticeProblem = problem;
    m_noticeRemedy = remedy;
    updatePortNotice();
    portNotice->show();
    portNotice->raise();
}

void Form1::updatePortNotice() {
    if (m_noticeProblem.isEmpty())
        return;
    const auto *com = findChild<QPushButton *>(QStringLiteral("Command33"));
    const QString text = portHint(m_noticeProblem, m_noticeRemedy, com && isInView(com));
    portNotice->setText(text);
    portNotice->setToolTip(text); // a long device name may not fit the space
}

void Form1::clearPortNotice() {
    m_noticeProblem.clear();
    m_noticeRemedy.clear();
    portNotice->hide();
    portNotice->clear();
    portNotice->setToolTip(QString());
}

void Form1::Form_Load() {
    setHeight(compactHeight);

    // A value beyond 16 bits was never written by the program; it counts as no port.
    Module1::ComPortNo = storedPortNumber(settingsStore);
    // Only 1 to 15 were ever stored; a negative number is as unusable as 0 or 16.
    if (!speed::isUsablePort(Module1::ComPortNo)) {
        showPortDialogModal();
        return;
    }

    Module1::BaudCode = storedBaudCode(settingsStore);
    MSComm1.setSettings(speed::portSettingsFor(Module1::BaudCode));
    if (Module1::BaudCode != speed::code9600)
        Module1::BaudCode = speed::code19200;

    try {
        MSComm1.setCommPort(Module1::ComPortNo);
        MSComm1.setPortOpen(true);
    } catch (const PortError &) {
        // The dialog lets the operator choose again; it starts from the values just read.
        showPortDialogModal();
        return;
    }

    Timer2->setInterval(1000);
    Timer4->setInterval(1200);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        placeOnScreen(screen->availableGeometry());
    RepeatCode = 0;
    ReplyWait = 0;
    RxBuffer.clear();
}

void Form1::placeOnScreen(const QRect &available) {
    // Centred across, and raised 1350 twips above the middle; but never off the
    // screen, which a small screen would otherwise push the title bar above.
    const int outerHeight = twipsToPixels(Height());
    const int outerWidth = width();
    int left = available.left() + (available.width() - outerWidth) / 2;
    int top = available.top() + (available.height() - outerHeight) / 2 - twipsToPixels(1350);
    top = std::min(top, available.bottom() + 1 - outerHeight);
    top = std::max(top, available.top());
    left = std::max(left, available.left());
    move(left, top);
}

void Form1::showPortDialogModal() { Form2::showModal(*this); }

void Form1::Form_QueryUnload() {
    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
}

void Form1::closeEvent(QCloseEvent *event) {
    Form_QueryUnload();
    event->accept();
}

void Form1::MSComm1_OnComm() {
    if (MSComm1.commEvent() != SerialComponent::comEvReceive)
        return;
    QString piece;
    try {
        piece = MSComm1.input();
    } catch (const PortError &) {
        return; // the port closed under us; the loss is reported on its own
    }
    ReplyWait = 0;
    // Once the collection is full, further characters change nothing on screen.
    if (RxBuffer.append(piece) == 0)
        return;
    Hyouji(RxBuffer.text(), 2);
}

void Form1::Timer2_Timer() {
    if (ReplyWait == 1)
        Label12->setText(QStringLiteral(" X X X X"));
    Timer2->stop();
    Label27->hide();
    Label28->hide();
    RxBuffer.clear();
    ReplyWait = 0;
}

void Form1::Timer4_Timer() {
    Label11->clear();
    Label12->clear();
    Label25->clear();
    Timer4->stop();
}

void Form1::sendFailed(const QString &reason) {
    showPortNotice(QStringLiteral("Not sent: %1").arg(reason), QStringLiteral("choose a port"));
    QApplication::beep();
}

void Form1::portLost(const QString &reason) {
    showPortNotice(QStringLiteral("Port closed: %1").arg(reason), QStringLiteral("open it again"));
    QApplication::beep();
}
