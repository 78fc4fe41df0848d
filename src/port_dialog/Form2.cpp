#include "port_dialog/Form2.h"

#include "host/Look.h"
#include "host/PortDiscovery.h"
#include "host/PortError.h"
#include "host/SerialComponent.h"
#include "host/SettingsStore.h"
#include "host/Twips.h"
#include "link/Form1.h"
#include "link/Module1.h"
#include "panel/PanelLook.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <climits>

namespace {

QPointer<Form2> openDialog;

struct OptionDesign {
    const char *caption;
    QRect geometry; // twips, inside its frame
};

// Option1 and Option2 choose the speed, Option3 to Option7 the port.
const OptionDesign optionDesigns[8] = {
    {nullptr, {}},
    {"9600", twipsRect(120, 180, 1575, 375)},
    {"19200", twipsRect(1320, 240, 975, 255)},
    {"COM1", twipsRect(180, 180, 1155, 315)},
    {"COM2", twipsRect(180, 540, 1095, 255)},
    {"COM3", twipsRect(180, 900, 975, 255)},
    {"COM4", twipsRect(180, 1260, 1215, 255)},
    {"COM5", twipsRect(180, 1620, 1335, 255)},
};

// The OTHER box holds a port number: digits only, 0 to 255; anything else counts as 0.
// Leading zeros are read past, so "0012" is 12.
int otherBoxNumber(const QString &text) {
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return 0;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9')
            return 0;
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits[first] == u'0')
        ++first;
    const QStringView significant = QStringView(digits).mid(first);
    if (significant.size() > 3)
        return 0;
    const int number = significant.toInt();
    return number <= 255 ? number : 0;
}

// The room a caption has in its control, as the control's style lays it out: beside an
// option's round mark, inside a button's border, or the whole of a label.
int roomForCaption(QWidget *control) {
    QStyleOptionButton look;
    look.initFrom(control);
    if (auto *option = qobject_cast<QRadioButton *>(control)) {
        look.text = option->text();
        return control->style()->subElementRect(QStyle::SE_RadioButtonContents, &look, control).width();
    }
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        look.text = button->text();
        return control->style()->subElementRect(QStyle::SE_PushButtonContents, &look, control).width();
    }
    return control->contentsRect().width();
}

// The design draws a frame's top line through its title and places the choices just below
// it; the desktop's style draws the line below the title, through the first choice. The
// choices move down into the frame, and the frame grows by as much.
void keepInsideFrame(QGroupBox *frame) {
    const auto inside = frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    int top = INT_MAX;
    for (const QWidget *control : inside)
        top = std::min(top, control->y());
    const int shift = frame->contentsRect().top() - top;
    if (inside.isEmpty() || shift <= 0)
        return;
    for (QWidget *control : inside)
        control->move(control->x(), control->y() + shift);
    frame->resize(frame->width(), frame->height() + shift);
}

} // namespace

void showPortWarning(QWidget *parent, const QString &reason, const QString &details) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), QStringLiteral("Retry Comport"), QMessageBox::Ok,
                    parent);
    box.setObjectName(QStringLiteral("PortWarning"));
    if (!reason.isEmpty())
        box.setInformativeText(reason);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

Form2::Form2(Form1 &main)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      m_main(&main) {
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("  COM PORT"));
    setFixedSize(twipsToPixels(3105), twipsToPixels(4005));

    auto *frame1 = new QGroupBox(QStringLiteral("Baud Rate"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(twipsRect(360, 240, 2415, 615));
    auto *frame2 = new QGroupBox(QStringLiteral("Com Port"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(twipsRect(360, 1200, 1455, 2535));

    auto *speeds = new QButtonGroup(this);
    auto *ports = new QButtonGroup(this);
    for (int n = 1; n <= 7; ++n) {
        QWidget *frame = n <= 2 ? static_cast<QWidget *>(frame1) : frame2;
        Option[n] = new QRadioButton(QLatin1String(optionDesigns[n].caption), frame);
        Option[n]->setObjectName(QStringLiteral("Option%1").arg(n));
        Option[n]->setGeometry(optionDesigns[n].geometry);
        (n <= 2 ? speeds : ports)->addButton(Option[n], n);
        if (n >= 3) {
            // Which device the number opens, and whether it is there: the step a new user
            // finds hardest on a machine whose ports have other names.
            const QString opens = portNumberDescription(n - 2, main.settingsStore);
            Option[n]->setToolTip(opens);
            Option[n]->setAccessibleDescription(opens);
        }
        // Selecting an option from code (Load, Cancel) or through the accessibility
        // interface counts as a click, as the operator's does; neither raises `clicked`.
        connect(Option[n], &QRadioButton::toggled, this, [this, n](bool checked) {
            if (checked)
                Option_Click(n);
        });
        // A click on the option already selected toggles nothing, yet it is the operator's
        // choice over a number typed since, or over the port a Cancel put back. A click that
        // does select runs Click twice, which sets the same value again.
        connect(Option[n], &QRadioButton::clicked, this, [this, n] { Option_Click(n); });
    }

    Text1 = new QLineEdit(QStringLiteral("0"), frame2);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(180, 2040, 375, 270));
    Text1->setAccessibleName(QStringLiteral("Other port number"));
    connect(Text1, &QLineEdit::textChanged, this, &Form2::Text1_Change);
    auto *other = new QLabel(QStringLiteral("OTHER"), frame2);
    other->setObjectName(QStringLiteral("Label1"));
    other->setGeometry(twipsRect(600, 2100, 615, 255));
    other->setBuddy(Text1);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(2040, 1320, 735, 615));
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twipsRect(2040, 2160, 735, 615));
    for (QPushButton *button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);

    fitToTheDesktopFont();

    // The OTHER box comes first, so it has the focus when the dialog opens.
    setTabOrder(Text1, Option[1]);
    setTabOrder(Option[1], Option[2]);
    for (int n = 2; n < 7; ++n)
        setTabOrder(Option[n], Option[n + 1]);
    setTabOrder(Option[7], Command1);
    setTabOrder(Command1, Command2);
    Text1->setFocus();

    Form_Load();
}

void Form2::fitToTheDesktopFont() {
    // The dialog is in the desktop's font, which may be wider than the boxes were drawn for;
    // a caption steps down in size as the panel's do rather than lose its last letters.
    for (QRadioButton *option : findChildren<QRadioButton *>())
        panel::fitText(option, option->text(), roomForCaption(option));
    for (QPushButton *button : {Command1, Command2})
        panel::fitText(button, button->text(), roomForCaption(button));
    for (QLabel *label : findChildren<QLabel *>())
        panel::fitText(label, label->text(), roomForCaption(label));
    // The titles last: what a frame holds takes the frame's font unless it has one of its own.
    for (QGroupBox *frame : findChildren<QGroupBox *>()) {
        panel::fitText(frame, frame->title(), frame->width());
        keepInsideFrame(frame);
    }
}

Form2 *Form2::instance() { return openDialog; }

void Form2::showModal(Form1 &main) {
    if (openDialog) {
        openDialog->raise();
        openDialog->activateWindow();
        return;
    }
    auto *dialog = new Form2(main);
    openDialog = dialog;
    dialog->exec();
}

Form2 *Form2::showModeless(Form1 &main) {
    if (!openDialog)
        openDialog = new Form2(main);
    openDialog->show();
    openDialog->raise();
    openDialog->activateWindow();
    return openDialog;
}

void Form2::Form_Load() {
    if (Module1::ComPortNo >= 1 && Module1::ComPortNo <= 5)
        Option[Module1::ComPortNo + 2]->setChecked(true);
    applySpeed();
    Text1->setSelection(0, 1);
}

void Form2::applySpeed() {
    if (m_main)
        m_main->MSComm1.setSettings(speed::portSettingsFor(Module1::BaudCode));
    if (Module1::BaudCode == speed::code9600) {
        Option[1]->setChecked(true);
    } else {
        Option[2]->setChecked(true);
        Module1::BaudCode = speed::code19200;
    }
}

bool Form2::openPort() {
    try {
        m_main->MSComm1.setCommPort(Module1::ComPortNo);
        m_main->MSComm1.setPortOpen(true);
        return true;
    } catch (const PortError &error) {
        // Which ports there are, and the [Ports] line that reaches one, under the reason.
        showPortWarning(this, error.detail(), portsFoundText(m_main->settingsStore));
        return false;
    }
}

void Form2::Option_Click(int option) {
    switch (option) {
    case 1:
        Module1::BaudCode = speed::code9600;
        break;
    case 2:
        Module1::BaudCode = speed::code19200;
        break;
    default:
        if (option >= 3 && option <= 7)
            Module1::ComPortNo = static_cast<qint16>(option - 2);
    }
}

void Form2::Text1_Change() {
    const int number = otherBoxNumber(Text1->text());
    if (speed::isUsablePort(number))
        Module1::ComPortNo = static_cast<qint16>(number);
    else
        Text1->setText(QStringLiteral("0")); // no further change when it already holds "0"
}

void Form2::Command1_Click() {
    if (!m_main) {
        close();
        return;
    }
    m_main->MSComm1.setSettings(speed::portSettingsFor(Module1::BaudCode));
    if (Module1::ComPortNo == 0) {
        showPortWarning(this, QStringLiteral("Choose a port first."));
        return;
    }
    if (!speed::isUsablePort(Module1::ComPortNo)) {
        showPortWarning(this, QStringLiteral("There is no port %1; choose one of 1 to 15.").arg(Module1::ComPortNo));
        return;
    }
    if (!openPort())
        return;
    try {
        m_main->settingsStore.save(store::application, store::startUp, store::comPortKey,
                                   QString::number(Module1::ComPortNo));
        m_main->settingsStore.save(store::application, store::startUp, store::baudRateKey,
                                   QString::number(Module1::BaudCode));
    } catch (const std::exception &error) {
        // The port is open and usable; only remembering it failed. Say so, then go on:
        // keeping the dialog open over an open port would leave OK nothing to do.
        showPortWarning(this, QStringLiteral("The port is open, but the choice could not be saved for the next "
                                             "start: %1")
                                  .arg(QString::fromStdString(error.what())));
    }
    unloadAndShowMain();
}

void Form2::Command2_Click() {
    Module1::ComPortNo = Module1::SavedComPortNo;
    if (!speed::isUsablePort(Module1::ComPortNo)) {
        // Opened at start-up: there is no earlier port to go back to.
        if (m_main && m_main->MSComm1.portOpen()) {
            m_main->MSComm1.setPortOpen(false);
            close();
        }
        showPortWarning(this, QStringLiteral("There is no earlier port to go back to; choose a port."));
        return;
    }
    Module1::BaudCode = Module1::SavedBaudCode;
    if (!m_main) {
        close();
        return;
    }
    applySpeed();
    if (openPort())
        unloadAndShowMain();
}

void Form2::unloadAndShowMain() {
    QPointer<Form1> main = m_main;
    close();
    if (main) {
        main->clearPortNotice();
        main->show();
        main->raise();
        main->activateWindow();
    }
}

void Form2::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
