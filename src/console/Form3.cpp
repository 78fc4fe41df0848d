#include "console/Form3.h"

#include "console/Catalogues.h"
#include "host/Look.h"
#include "host/Twips.h"
#include "link/Form1.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <span>
#include <string_view>

namespace {

QPointer<Form3> openConsole;

// What start-up gives the reply timeout and the display-clear timer; the console runs them
// slower while it is open and hands these back when it closes.
constexpr int replyTimeoutMs = 1000;
constexpr int displayClearMs = 1200;

constexpr int listTop = 1560; // twips; all three lists lie on top of each other here

const QLatin1String crMarker("[CR]");

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry) {
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setFont(look::boldFont(9));
    // Enter clicks the focused button, as the space bar does: outside a dialog Qt binds
    // Enter only to buttons that say so. None of them is the window's default.
    button->setAutoDefault(true);
    return button;
}

QLabel *makeLegend(QWidget *parent, const char *name, const QString &caption, QRect geometry) {
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setFont(look::boldFont(9.75));
    look::setTextColour(label, look::red);
    // Red on the window grey, whatever the desktop's window colour: on a dark theme the
    // red would otherwise stand on near-black.
    look::setBackground(label, look::panelGrey);
    return label;
}

// Draws a catalogue item in the open list with its tabs as blanks. Left to itself the list
// draws a tab as a menu's shortcut column: the description is pushed to the far edge and
// only its first letters show.
class CatalogueItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant &value, const QLocale &) const override {
        return catalogue::shownText(value.toString());
    }
};

QComboBox *makeList(QWidget *parent, const char *name, std::span<const std::string_view> items, QRect geometry) {
    auto *list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->setEditable(false);
    list->setGeometry(geometry);
    list->setItemDelegate(new CatalogueItemDelegate(list));
    for (const std::string_view item : items)
        list->addItem(catalogue::toQString(item));
    // The descriptions run far past the list's own width; let the open list show them whole.
    QAbstractItemView *view = list->view();
    const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    view->setMinimumWidth(std::max(geometry.width(), view->sizeHintForColumn(0) + scrollBar + 8));
    return list;
}

} // namespace

Form3::Form3(Form1 &main)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      m_main(&main) {
    setObjectName(QStringLiteral("Form3"));
    setAttribute(Qt::WA_DeleteOnClose); // every opening starts again from Load
    setWindowTitle(QStringLiteral("Command List"));
    setFixedWidth(twipsToPixels(clientWidth));
    setHeight(loadHeight);

    // Combo2 and Combo3 are pick-only as well: whatever is typed only matters in the entry
    // box, so text typed into a list would be silently ignored.
    Combo1 = makeList(this, "Combo1", catalogue::basic, twipsRect(120, listTop, 5055, 300));
    Combo2 = makeList(this, "Combo2", catalogue::expanded, twipsRect(120, listTop, 8655, 300));
    Combo3 = makeList(this, "Combo3", catalogue::expandedRead, twipsRect(120, listTop, 8655, 300));

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(120, 720, 8655, 300));
    Text1->setAccessibleName(QStringLiteral("Command to send"));

    Command1 = makeButton(this, "Command1", QStringLiteral("SEND"), twipsRect(9000, 680, 855, 375));
    Command2 = makeButton(this, "Command2", QStringLiteral("CLOSE"), twipsRect(9000, 1320, 855, 375));
    Command3 = makeButton(this, "Command3", QStringLiteral("Basic Command List"), twipsRect(120, 120, 2415, 375));
    Command4 = makeButton(this, "Command4", QStringLiteral("Expand Command List"), twipsRect(2760, 120, 2655, 375));
    Command5 =
        makeButton(this, "Command5", QStringLiteral("Expand Read Command List"), twipsRect(5760, 120, 3015, 375));

    Label2 = makeLegend(this, "Label2", QStringLiteral("[CR] :Carriage Return Code (0x0D)"),
                        twipsRect(240, 1200, 3975, 300));
    Label1 = makeLegend(this, "Label1", QStringLiteral("% :Parameter (0-9)."), twipsRect(4560, 1200, 2895, 300));

    // Takes the legends' row: SEND hides the legends in any case, and the row is the one
    // place left that the operator's eye passes between the entry box and the lists.
    sendNote = makeLegend(this, "SendNote", QString(), twipsRect(240, 1200, 8535, 300));
    sendNote->setFont(look::boldFont(8));
    sendNote->hide();

    setTabOrder(Combo1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Text1);
    setTabOrder(Text1, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, Combo2);
    setTabOrder(Combo2, Combo3);
    Combo1->setFocus();

    // A new current item, whether the operator picked it or code selected it, runs the
    // chosen-item steps. Picking the item that is already current changes no index, so
    // `activated` covers that; a pick that does change it raises both, and the steps give
    // the same result when run twice.
    const auto wire = [this](QComboBox *list, void (Form3::*click)()) {
        connect(list, &QComboBox::currentIndexChanged, this, click);
        connect(list, &QComboBox::activated, this, click);
    };
    wire(Combo1, &Form3::Combo1_Click);
    wire(Combo2, &Form3::Combo2_Click);
    wire(Combo3, &Form3::Combo3_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form3::Text1_Change);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form3::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form3::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form3::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form3::Command5_Click);

    Form_Load();
}

Form3::~Form3() {
    if (openConsole == this)
        openConsole = nullptr;
}

Form3 *Form3::instance() { return openConsole; }

Form3 *Form3::showConsole(Form1 &main) {
    if (!openConsole)
        openConsole = new Form3(main);
    else if (!openConsole->m_main)
        openConsole->m_main = &main; // its main window is gone; this one takes its place
    openConsole->show();
    openConsole->raise();
    openConsole->activateWindow();
    return openConsole;
}

int Form3::Height() const { return pixelsToTwips(height()) + Form1::frameAllowance; }

void Form3::setHeight(int twips) { setFixedHeight(twipsToPixels(std::max(twips - Form1::frameAllowance, 0))); }

void Form3::Form_Load() {
    setHeight(loadHeight);
    showOnly(Combo1);
    Label1->hide();
    Label2->hide();
    selectFirstFromCode(Combo1);
    composeFrom(Combo1->itemText(Combo1->currentIndex()));
    for (QComboBox *list : {Combo1, Combo2, Combo3})
        list->move(list->x(), twipsToPixels(listTop));
}

void Form3::Combo1_Click() { chosenItem(Combo1); }
void Form3::Combo2_Click() { chosenItem(Combo2); }
void Form3::Combo3_Click() { chosenItem(Combo3); }

void Form3::chosenItem(QComboBox *list) {
    const int index = list->currentIndex();
    if (index < 0)
        return;
    const QString item = list->itemText(index);
    sendNote->hide();
    Label2->show();
    // The parameter legend explains "%", which only expanded items carry; a basic or read
    // item hides one left over from an earlier expanded choice.
    if (list == Combo2 && catalogue::hasPlaceholder(item)) {
        Label1->show();
        Text1->setFocus(); // the operator's next step is typing the digits
    } else {
        Label1->hide();
    }
    composeFrom(item);
}

// Setting the box's text raises its Change, which finds the same command text again.
void Form3::composeFrom(const QString &item) {
    const QString command = catalogue::commandTextOf(item);
    ConsoleCommand = command + QLatin1Char('\r');
    Text1->setText(command + crMarker);
}

// A list raises its events only when the current item changes, but a catalogue button has to
// run the chosen-item steps even when its list already shows the first item.
void Form3::selectFirstFromCode(QComboBox *list) {
    {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(0);
    }
    chosenItem(list);
}

void Form3::showOnly(QComboBox *list) {
    for (QComboBox *each : {Combo1, Combo2, Combo3})
        if (each != list)
            each->hide();
    list->show();
}

void Form3::Text1_Change() {
    // Anything from the first "[" on is the operator's note, never part of the command.
    ConsoleCommand = catalogue::commandTextOf(Text1->text()) + QLatin1Char('\r');
    sendNote->hide();
}

void Form3::Command1_Click() {
    // An emptied box is taken as a slip, not as a request for a lone carriage return: a
    // bare CR is harmless to most projectors but is never what the operator meant to send.
    if (ConsoleCommand == QLatin1String("\r")) {
        showSendNote(QStringLiteral("Nothing sent: the entry box holds no command."));
        return;
    }
    Form1 *main = m_main.data();
    if (!main) {
        showSendNote(QStringLiteral("Not sent: the main window has been closed."));
        return;
    }

    QTimer *replyTimeout = main->Timer2;
    QTimer *displayClear = main->Timer4;
    const bool replyTimeoutWasRunning = replyTimeout->isActive();
    const bool displayClearWasRunning = displayClear->isActive();
    replyTimeout->stop();
    displayClear->stop();
    if (!main->Hyouji(ConsoleCommand, 1)) {
        // Nothing went out, and Hyouji left the transcript and exchange state alone; the
        // timers go back to what they were doing, so an earlier exchange is still timed out
        // and cleared, and the next send starts them afresh.
        if (replyTimeoutWasRunning)
            replyTimeout->start();
        if (displayClearWasRunning)
            displayClear->start();
        // The main window may be hidden, so its notice is repeated where the operator looks.
        const QString reason = main->portNotice ? main->portNotice->text() : QString();
        showSendNote(reason.isEmpty() ? QStringLiteral("Not sent: the port is not open. Use COM to open it.") : reason);
        return;
    }
    Label1->hide();
    Label2->hide();
    sendNote->hide();
    // Hyouji has started both; they count from this send.
    replyTimeout->start();
    displayClear->start();
}

void Form3::showSendNote(const QString &text) {
    Label1->hide();
    Label2->hide();
    sendNote->setText(text);
    sendNote->setToolTip(text); // a long reason is cut at the window's edge
    sendNote->show();
}

void Form3::Command2_Click() {
    const QPointer<Form1> main = m_main;
    close(); // the close handling gives the panel back its status box and intervals
    if (main) {
        main->show();
        main->raise();
        main->activateWindow();
    }
}

void Form3::closeEvent(QCloseEvent *event) {
    // From here on "Command Table" opens a fresh console, even before this one is deleted.
    if (openConsole == this)
        openConsole = nullptr;
    // CLOSE and the window's close control both pass here, so the panel never keeps its
    // status box hidden or the slow intervals. Only CLOSE shows the main window again: after
    // the close control, a main window the operator had closed stays closed, and the program
    // can end with its last window.
    restorePanel();
    event->accept();
}

void Form3::restorePanel() {
    Form1 *main = m_main.data();
    if (!main)
        return;
    main->Frame15->setVisible(true);
    main->Timer2->setInterval(replyTimeoutMs);
    main->Timer4->setInterval(displayClearMs);
}

void Form3::Command3_Click() {
    showOnly(Combo1);
    selectFirstFromCode(Combo1);
    composeFrom(Combo1->itemText(Combo1->currentIndex()));
}

void Form3::Command4_Click() {
    showOnly(Combo2);
    selectFirstFromCode(Combo2);
    composeFrom(Combo2->itemText(Combo2->currentIndex()));
}

void Form3::Command5_Click() {
    showOnly(Combo3);
    selectFirstFromCode(Combo3);
    composeFrom(Combo3->itemText(Combo3->currentIndex()));
}
