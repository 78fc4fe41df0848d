// The command console driven as the operator drives it: buttons clicked, items picked from the
// lists (from code, with the keyboard and from the open list), text typed into the entry box.
// Checks are on the bytes that reach the port, on what the console and the panel show, and on
// the panel's timers (state and interval only; no test waits for a timer).

#include "TestSupport.h"

#include "console/Catalogues.h"
#include "console/Form3.h"
#include "host/Twips.h"
#include "link/Module1.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <map>
#include <memory>
#include <span>
#include <string_view>

namespace {

const QString firstBasicItem = QStringLiteral("C00[CR]     POWER ON");

// Opens the console with the panel's "Command Table" button, as the operator does.
Form3 *openConsole(Form1 &form) {
    auto *commandTable = form.findChild<QPushButton *>(QStringLiteral("Command74"));
    if (!commandTable) {
        qWarning("no \"Command Table\" button on the panel");
        return nullptr;
    }
    QTest::mouseClick(commandTable, Qt::LeftButton);
    return Form3::instance();
}

int indexStartingWith(const QComboBox *list, const QString &prefix) {
    for (int i = 0; i < list->count(); ++i)
        if (list->itemText(i).startsWith(prefix))
            return i;
    return -1;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// Replaces the whole entry box with what the operator types.
void retype(QLineEdit *box, const QString &text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

// The columns of a picture of text that hold ink: a pixel far from the picture's commonest
// colour, its paper.
int inkColumns(const QImage &picture) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            ++counts[picture.pixel(x, y)];
    const auto commonest = std::max_element(counts.begin(), counts.end(),
                                            [](const auto &a, const auto &b) { return a.second < b.second; });
    const QColor paper = QColor::fromRgb(commonest->first);
    int columns = 0;
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y) {
            const QColor pixel = picture.pixelColor(x, y);
            if (std::max({std::abs(pixel.red() - paper.red()), std::abs(pixel.green() - paper.green()),
                          std::abs(pixel.blue() - paper.blue())}) > 96) {
                ++columns;
                break;
            }
        }
    return columns;
}

// The ink the same text leaves in the same font, written out in one line with a blank for
// each tab: what the operator should see of it, whatever spacing stands for the tabs.
int inkColumnsOfWholeText(const QString &text, const QFont &font) {
    const QString line = QString(text).replace(QLatin1Char('\t'), QLatin1Char(' '));
    const QFontMetrics metrics(font);
    QImage picture(metrics.horizontalAdvance(line) + 8, metrics.height() + 4, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(4, 2 + metrics.ascent()), line);
    painter.end();
    return inkColumns(picture);
}

} // namespace

class ConsoleTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelRig> rig;
    QPointer<Form3> console;

    QString written() const { return rig->written(); }
    void send() { QTest::mouseClick(console->Command1, Qt::LeftButton); }
    void choose(QComboBox *list, const QString &prefix) {
        const int index = indexStartingWith(list, prefix);
        QVERIFY2(index >= 0, qPrintable(prefix));
        list->setCurrentIndex(index);
    }

private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        // The lists are in the desktop's font; a face scripts/bootstrap.sh installs stands in
        // for it, so what fits in the open list does not depend on the machine.
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
        QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("DejaVu Sans"));
    }

    void init() {
        rig = std::make_unique<PanelRig>();
        rig->startWithPort();
        rig->form->show();
        console = openConsole(*rig->form);
        QVERIFY(console);
    }

    void cleanup() {
        delete Form3::instance();
        delete console.data();
        flushDeletes();
        rig.reset();
    }

    // --- opening -------------------------------------------------------------------------

    void opensOnTheFirstBasicItemAndSendsIt() {
        QCOMPARE(console->windowTitle(), QStringLiteral("Command List"));
        // 2500 twips high overall, title bar and borders (480) included.
        QCOMPARE(console->height(), twipsToPixels(2500 - 480));
        QCOMPARE(console->width(), twipsToPixels(10005));
        QVERIFY(!(console->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(console->isVisible());
        QCOMPARE(console->parentWidget(), nullptr);

        QVERIFY(console->Combo1->isVisible());
        QVERIFY(!console->Combo2->isVisible());
        QVERIFY(!console->Combo3->isVisible());
        for (QComboBox *list : {console->Combo1, console->Combo2, console->Combo3})
            QCOMPARE(list->y(), twipsToPixels(1560));
        QCOMPARE(console->Combo1->currentText(), firstBasicItem);
        QCOMPARE(console->Text1->text(), QStringLiteral("C00[CR]"));
        QCOMPARE(console->ConsoleCommand, QStringLiteral("C00\r"));
        QVERIFY(console->Label2->isVisible());
        QVERIFY(!console->Label1->isVisible());
        QCOMPARE(console->Label2->text(), QStringLiteral("[CR] :Carriage Return Code (0x0D)"));
        QCOMPARE(console->Label1->text(), QStringLiteral("% :Parameter (0-9)."));

        // The panel as "Command Table" leaves it.
        QVERIFY(rig->form->Frame15->isHidden());
        QCOMPARE(rig->form->Timer2->interval(), 5000);
        QCOMPARE(rig->form->Timer4->interval(), 5500);

        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("C00\\r"));
    }

    void listsHoldTheCataloguesWithTheirTabs() {
        const struct {
            QComboBox *list;
            std::span<const std::string_view> items;
        } lists[] = {{console->Combo1, catalogue::basic},
                     {console->Combo2, catalogue::expanded},
                     {console->Combo3, catalogue::expandedRead}};
        for (const auto &[list, items] : lists) {
            QCOMPARE(list->count(), qsizetype(items.size()));
            for (int i = 0; i < list->count(); ++i)
                QCOMPARE(list->itemText(i), catalogue::toQString(items[size_t(i)]));
        }
        QCOMPARE(console->Combo2->itemText(0), QStringLiteral("CF BRIGHT UP[CR]  \t\t:Set Brightness value"));
    }

    void tabOrderFollowsTheDesign() {
        console->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(console));
        QCOMPARE(QApplication::focusWidget(), console->Combo1);
        // The two hidden lists are skipped; the chain comes round to the basic list.
        const QList<QWidget *> expected{console->Command1, console->Command2, console->Command3, console->Text1,
                                        console->Command4, console->Command5, console->Combo1};
        for (QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // With the expanded list showing, Tab reaches it after the read-list button.
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        console->Command5->setFocus();
        QTest::keyClick(console->Command5, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), console->Combo2);
    }

    // The space bar or Enter on a focused button clicks it, as everywhere on the panel.
    void keyboardClicksAFocusedButton_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("space") << int(Qt::Key_Space);
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }

    void keyboardClicksAFocusedButton() {
        QFETCH(int, key);
        console->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(console));
        for (QPushButton *button : {console->Command4, console->Command1}) { // Expand Command List, SEND
            button->setFocus();
            QVERIFY(button->hasFocus());
            QTest::keyClick(button, Qt::Key(key));
        }
        QVERIFY(console->Combo2->isVisible());
        QCOMPARE(visible(rig->port.written), QStringLiteral("CF BRIGHT UP\\r"));
    }

    // --- catalogue buttons ----------------------------------------------------------------

    void catalogueButtonShowsItsListFromTheTop_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("firstItem");
        QTest::addColumn<QString>("entry");
        QTest::newRow("Basic Command List") << 3 << 1 << firstBasicItem << "C00[CR]";
        QTest::newRow("Expand Command List") << 4 << 2 << "CF BRIGHT UP[CR]  \t\t:Set Brightness value"
                                             << "CF BRIGHT UP[CR]";
        QTest::newRow("Expand Read Command List") << 5 << 3 << "CR BRIGHT[CR] \t:Get Brightness value"
                                                  << "CR BRIGHT[CR]";
    }

    void catalogueButtonShowsItsListFromTheTop() {
        QFETCH(int, button);
        QFETCH(int, shown);
        QFETCH(QString, firstItem);
        QFETCH(QString, entry);
        QPushButton *buttons[] = {nullptr, nullptr, nullptr, console->Command3, console->Command4, console->Command5};
        QComboBox *lists[] = {nullptr, console->Combo1, console->Combo2, console->Combo3};
        QCOMPARE(buttons[button]->text(), QString::fromLatin1(QTest::currentDataTag()));

        // Twice: from another list with an item further down chosen, and again after a SEND
        // has hidden the legends and the operator has typed over the box, when the list
        // already shows its first item.
        choose(lists[shown == 1 ? 2 : 1], shown == 1 ? QStringLiteral("CF COLOR 0%%") : QStringLiteral("C1C"));
        lists[shown]->setCurrentIndex(7);
        for (int round = 0; round < 2; ++round) {
            QTest::mouseClick(buttons[button], Qt::LeftButton);
            for (int n = 1; n <= 3; ++n)
                QCOMPARE(lists[n]->isVisible(), n == shown);
            QCOMPARE(lists[shown]->currentIndex(), 0);
            QCOMPARE(lists[shown]->currentText(), firstItem);
            QCOMPARE(console->Text1->text(), entry);
            QCOMPARE(console->ConsoleCommand, entry.chopped(4) + u'\r');
            QVERIFY(console->Label2->isVisible());
            QVERIFY(!console->Label1->isVisible());

            send();
            QVERIFY(!console->Label2->isVisible());
            retype(console->Text1, QStringLiteral("C99"));
        }
        QCOMPARE(visible(rig->port.written), visible((entry.chopped(4) + u'\r').toLatin1().repeated(2)));
    }

    // --- choosing items -----------------------------------------------------------------

    void placeholderItemAsksForDigits() {
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        console->Command4->setFocus();
        choose(console->Combo2, QStringLiteral("CF BRIGHT 0%%[CR]"));
        QCOMPARE(console->Text1->text(), QStringLiteral("CF BRIGHT 0%%[CR]"));
        QCOMPARE(console->ConsoleCommand, QStringLiteral("CF BRIGHT 0%%\r"));
        QVERIFY(console->Label1->isVisible());
        QVERIFY(console->Label2->isVisible());
        QCOMPARE(console->focusWidget(), console->Text1);

        // Over the two "%" with the keyboard: after "CF BRIGHT 0", select two, type.
        QTest::keyClick(console->Text1, Qt::Key_Home);
        for (int i = 0; i < 11; ++i)
            QTest::keyClick(console->Text1, Qt::Key_Right);
        QTest::keyClick(console->Text1, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(console->Text1, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClicks(console->Text1, QStringLiteral("42"));
        QCOMPARE(console->Text1->text(), QStringLiteral("CF BRIGHT 042[CR]"));

        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("CF BRIGHT 042\\r"));
        QVERIFY(!console->Label1->isVisible());
        QVERIFY(!console->Label2->isVisible());
    }

    void unfilledPlaceholdersGoOutAsTheyStand() {
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        choose(console->Combo2, QStringLiteral("CF TDOTS %%%%[CR]"));
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("CF TDOTS %%%%\\r"));
    }

    void parameterLegendFollowsThePercentSign() {
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        console->Command1->setFocus();

        // "%1" in the description only.
        choose(console->Combo2, QStringLiteral("CF INPUT1 ANALOG[CR]"));
        QCOMPARE(console->Text1->text(), QStringLiteral("CF INPUT1 ANALOG[CR]"));
        QVERIFY(console->Label1->isVisible());
        QCOMPARE(console->focusWidget(), console->Text1);

        // No "%" anywhere: the legend goes, the focus stays where it is.
        console->Command1->setFocus();
        choose(console->Combo2, QStringLiteral("CF INPUT1 YPBPR[CR]"));
        QVERIFY(!console->Label1->isVisible());
        QVERIFY(console->Label2->isVisible());
        QCOMPARE(console->focusWidget(), console->Command1);

        // A read item, and a basic item, after a "%" item: the legend goes as well.
        choose(console->Combo2, QStringLiteral("CF VOLUME 0%%[CR]"));
        QVERIFY(console->Label1->isVisible());
        QTest::mouseClick(console->Command5, Qt::LeftButton);
        QVERIFY(!console->Label1->isVisible());
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        choose(console->Combo2, QStringLiteral("CF VOLUME 0%%[CR]"));
        QTest::mouseClick(console->Command5, Qt::LeftButton);
        choose(console->Combo2, QStringLiteral("CF MICGAIN 0%%[CR]")); // the hidden list, from code
        QVERIFY(console->Label1->isVisible());
        choose(console->Combo3, QStringLiteral("CR LAMPH[CR]"));
        QVERIFY(!console->Label1->isVisible());
        QCOMPARE(console->Text1->text(), QStringLiteral("CR LAMPH[CR]"));
        choose(console->Combo2, QStringLiteral("CF MICGAIN 0%%[CR]"));
        choose(console->Combo1, QStringLiteral("C1E"));
        QVERIFY(!console->Label1->isVisible());
        QCOMPARE(console->Text1->text(), QStringLiteral("C1E[CR]"));
    }

    void keyboardAndOpenListChoicesRunTheSameSteps() {
        console->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(console));
        console->Combo1->setFocus();
        QTest::keyClick(console->Combo1, Qt::Key_Down);
        QCOMPARE(console->Combo1->currentIndex(), 1);
        QCOMPARE(console->Text1->text(), QStringLiteral("C01[CR]"));

        // From the open list, with the mouse.
        QTest::mouseClick(console->Command5, Qt::LeftButton);
        QComboBox *list = console->Combo3;
        const auto pickFromOpenList = [list](int row) {
            list->showPopup();
            QAbstractItemView *view = list->view();
            QTRY_VERIFY(view->isVisible());
            const QModelIndex item = view->model()->index(row, list->modelColumn(), view->rootIndex());
            view->scrollTo(item);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
            QTRY_VERIFY(!view->isVisible());
        };
        pickFromOpenList(3);
        QCOMPARE(list->currentIndex(), 3);
        QCOMPARE(console->Text1->text(), QStringLiteral("CR TINT[CR]"));
        QVERIFY(console->Label2->isVisible());

        // Picking the item that is already chosen puts it back in the box after an edit and
        // a SEND.
        retype(console->Text1, QStringLiteral("CR TEMP"));
        send();
        QVERIFY(!console->Label2->isVisible());
        pickFromOpenList(3);
        QCOMPARE(console->Text1->text(), QStringLiteral("CR TINT[CR]"));
        QVERIFY(console->Label2->isVisible());
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("CR TEMP\\rCR TINT\\r"));
    }

    // A tab in an item is spacing in the open list, not a menu's shortcut column that shows
    // only the first letters of the description at the list's right edge.
    void openListShowsTabbedItemsWhole_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("blanks and two tabs") << 4 << "CF CONT UP[CR]" << QByteArray("CF CONT UP\r");
        QTest::newRow("a tab and eight blanks")
            << 4 << "CF PIPPOSITION BTMRIGHT[CR]" << QByteArray("CF PIPPOSITION BTMRIGHT\r");
        QTest::newRow("a blank and a tab") << 5 << "CR CONT[CR]" << QByteArray("CR CONT\r");
    }

    void openListShowsTabbedItemsWhole() {
        QFETCH(int, button);
        QFETCH(QString, item);
        QFETCH(QByteArray, sent);
        QTest::mouseClick(button == 4 ? console->Command4 : console->Command5, Qt::LeftButton);
        QComboBox *list = button == 4 ? console->Combo2 : console->Combo3;
        const int row = indexStartingWith(list, item);
        QVERIFY(row > 0);
        const QString text = list->itemText(row);
        QVERIFY(text.contains(QLatin1Char('\t')));

        list->showPopup();
        QAbstractItemView *view = list->view();
        QTRY_VERIFY(view->isVisible());
        const QModelIndex index = view->model()->index(row, list->modelColumn(), view->rootIndex());
        view->scrollTo(index, QAbstractItemView::PositionAtCenter);
        const QRect shown = view->visualRect(index);
        const QImage picture = view->viewport()->grab(shown).toImage().convertToFormat(QImage::Format_RGB32);
        const int whole = inkColumnsOfWholeText(text, view->font());
        QVERIFY2(inkColumns(picture) >= whole * 9 / 10,
                 qPrintable(QStringLiteral("%1 of %2 columns of ink").arg(inkColumns(picture)).arg(whole)));

        // Picked from the open list, the item still sends exactly its command.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, shown.center());
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(list->currentText(), text);
        send();
        QCOMPARE(visible(rig->port.written), visible(sent));
    }

    // --- the entry box ------------------------------------------------------------------

    void entryBoxIsSentAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("lower case and blanks") << "cf bright up" << QByteArray("cf bright up\r");
        QTest::newRow("leading and trailing blanks") << " C01  " << QByteArray(" C01  \r");
        QTest::newRow("text after a bracket") << "CR0[anything at all" << QByteArray("CR0\r");
        QTest::newRow("two markers") << "C0A[CR][CR]" << QByteArray("C0A\r");
        QTest::newRow("no marker") << "C43" << QByteArray("C43\r");
        QTest::newRow("blanks only") << "   " << QByteArray("   \r");
    }

    void entryBoxIsSentAsTyped() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, sent);
        retype(console->Text1, typed);
        QCOMPARE(console->Text1->text(), typed);
        send();
        QCOMPARE(visible(rig->port.written), visible(sent));
        QCOMPARE(console->Text1->text(), typed); // SEND leaves the box as it is
    }

    void deletingTheMarkerChangesNothingSent() {
        console->Text1->setFocus();
        QTest::keyClick(console->Text1, Qt::Key_End);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(console->Text1, Qt::Key_Backspace);
        QCOMPARE(console->Text1->text(), QStringLiteral("C00"));
        QCOMPARE(console->ConsoleCommand, QStringLiteral("C00\r"));
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("C00\\r"));
    }

    void emptiedEntryBoxSendsNothing_data() {
        QTest::addColumn<QString>("left");
        QTest::newRow("nothing") << QString();
        QTest::newRow("marker only") << QStringLiteral("[CR]");
    }

    void emptiedEntryBoxSendsNothing() {
        QFETCH(QString, left);
        retype(console->Text1, left);
        QVERIFY(!rig->form->Timer2->isActive());
        send();
        QVERIFY(rig->port.written.isEmpty());
        QVERIFY(console->sendNote->isVisible());
        QVERIFY(console->sendNote->text().startsWith(QStringLiteral("Nothing sent")));
        QVERIFY(!console->Label2->isVisible()); // the note has the legends' row
        QVERIFY(!rig->form->Timer2->isActive());
        QVERIFY(!rig->form->Timer4->isActive());

        // Typing a command takes the note away, and SEND works again.
        QTest::keyClick(console->Text1, Qt::Key_Home);
        QTest::keyClicks(console->Text1, QStringLiteral("C44"));
        QVERIFY(!console->sendNote->isVisible());
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("C44\\r"));
    }

    // --- sending and the panel --------------------------------------------------------------

    void sendRestartsTheReplyTimersAndHidesTheLegends() {
        Form1 &form = *rig->form;
        QVERIFY(!form.Timer2->isActive());
        QVERIFY(!form.Timer4->isActive());
        send();
        QVERIFY(form.Timer2->isActive());
        QVERIFY(form.Timer4->isActive());
        QCOMPARE(form.Timer2->interval(), 5000);
        QCOMPARE(form.Timer4->interval(), 5500);
        QVERIFY(!console->Label1->isVisible());
        QVERIFY(!console->Label2->isVisible());
        QCOMPARE(form.Label11->text(), QStringLiteral(" C 0 0  [CR] "));

        // No answer: the reply timeout and the display clear run their course as usual.
        form.Timer2_Timer();
        QCOMPARE(form.Label12->text(), QStringLiteral(" X X X X"));
        QVERIFY(!form.Timer2->isActive());
        form.Timer4_Timer();
        QVERIFY(form.Label11->text().isEmpty());
        QVERIFY(!form.Timer4->isActive());

        // The legends stay hidden until an item is chosen.
        retype(console->Text1, QStringLiteral("C1C"));
        QVERIFY(!console->Label2->isVisible());
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        QVERIFY(console->Label2->isVisible());

        // A second send while both are running sets them going again, still at the slow pace.
        send();
        send();
        QVERIFY(form.Timer2->isActive());
        QVERIFY(form.Timer4->isActive());
        QCOMPARE(form.Timer2->interval(), 5000);
        QCOMPARE(form.Timer4->interval(), 5500);
        QCOMPARE(visible(rig->port.written), QStringLiteral("C00\\rCF BRIGHT UP\\rCF BRIGHT UP\\r"));
    }

    void replyIsDecodedByThePanelsLastCommand() {
        Module1::TxCommand = QStringLiteral("CR0\r");
        QTest::mouseClick(console->Command5, Qt::LeftButton);
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("CR BRIGHT\\r"));
        rig->port.receive("00\r");
        QCOMPARE(rig->form->Label25->text(), QStringLiteral(" Power ON"));
        QCOMPARE(rig->form->Label12->text(), QStringLiteral(" 0 0  [CR] "));
        QCOMPARE(Module1::TxCommand, QStringLiteral("CR0\r"));

        // Nothing the console does touches the panel's last command.
        choose(console->Combo1, QStringLiteral("CR1"));
        send();
        QTest::mouseClick(console->Command2, Qt::LeftButton);
        QCOMPARE(Module1::TxCommand, QStringLiteral("CR0\r"));
    }

    // --- closing and reopening ---------------------------------------------------------

    void closingGivesThePanelBack_data() {
        QTest::addColumn<bool>("byCloseButton");
        QTest::newRow("CLOSE") << true;
        QTest::newRow("close control") << false;
    }

    void closingGivesThePanelBack() {
        QFETCH(bool, byCloseButton);
        Form1 &form = *rig->form;
        send(); // both timers running at the slow pace
        if (byCloseButton)
            QTest::mouseClick(console->Command2, Qt::LeftButton);
        else
            console->windowHandle()->close();
        QVERIFY(!console->isVisible());
        QCOMPARE(Form3::instance(), nullptr);
        QVERIFY(!form.Frame15->isHidden());
        QCOMPARE(form.Timer2->interval(), 1000);
        QCOMPARE(form.Timer4->interval(), 1200);
        QVERIFY(form.isVisible());
        flushDeletes();
        QVERIFY(console.isNull());
    }

    void reopeningStartsFromLoad() {
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        choose(console->Combo2, QStringLiteral("CF BRIGHT 0%%[CR]"));
        QTest::mouseClick(console->Command2, Qt::LeftButton);

        // "Command Table" again before the old window has even been deleted.
        Form3 *second = openConsole(*rig->form);
        QVERIFY(second);
        QVERIFY(!console.isNull());
        QVERIFY(second != console.data());
        flushDeletes();
        QVERIFY(console.isNull());
        console = second;

        QVERIFY(console->Combo1->isVisible());
        QVERIFY(!console->Combo2->isVisible());
        QCOMPARE(console->Combo1->currentText(), firstBasicItem);
        QCOMPARE(console->Text1->text(), QStringLiteral("C00[CR]"));
        QVERIFY(console->Label2->isVisible());
        QVERIFY(!console->Label1->isVisible());
        QVERIFY(rig->form->Frame15->isHidden());
        QCOMPARE(rig->form->Timer2->interval(), 5000);
        QCOMPARE(rig->form->Timer4->interval(), 5500);
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("C00\\r"));
    }

    void commandTableWhileOpenBringsTheSameConsoleForward() {
        QTest::mouseClick(console->Command5, Qt::LeftButton);
        retype(console->Text1, QStringLiteral("CR TEMP"));
        rig->form->Timer2->setInterval(500); // as a hold on a repeat button leaves them
        rig->form->Timer4->setInterval(1000);
        rig->form->activateWindow();
        Form3 *again = openConsole(*rig->form);
        QCOMPARE(rig->form->Timer2->interval(), 5000);
        QCOMPARE(rig->form->Timer4->interval(), 5500);
        QVERIFY(rig->form->Frame15->isHidden());
        QCOMPARE(again, console.data());
        QVERIFY(console->isVisible());
        // Load did not run again: the choice and the typing are still there.
        QVERIFY(console->Combo3->isVisible());
        QCOMPARE(console->Text1->text(), QStringLiteral("CR TEMP"));
        int open = 0;
        for (QWidget *window : QApplication::topLevelWidgets())
            open += qobject_cast<Form3 *>(window) != nullptr;
        QCOMPARE(open, 1);
    }

    // --- failures ------------------------------------------------------------------------

    void sendWithThePortClosedLeavesTheTimersUsable() {
        Form1 &form = *rig->form;
        send(); // an exchange in progress: both timers running
        rig->port.setPortOpen(false);
        const QByteArray before = rig->port.written;

        send();
        QCOMPARE(rig->port.written, before);
        QVERIFY(console->sendNote->isVisible());
        QVERIFY(console->sendNote->text().startsWith(QStringLiteral("Not sent")));
        QVERIFY(!form.portNotice->isHidden());
        // The earlier exchange is still timed out and cleared.
        QVERIFY(form.Timer2->isActive());
        QVERIFY(form.Timer4->isActive());
        form.Timer2_Timer();
        form.Timer4_Timer();
        QVERIFY(form.Label11->text().isEmpty());

        // Failing again with nothing running starts nothing.
        send();
        QVERIFY(!form.Timer2->isActive());
        QVERIFY(!form.Timer4->isActive());
        QCOMPARE(form.Timer2->interval(), 5000);
        QCOMPARE(form.Timer4->interval(), 5500);

        // The port back: the next SEND goes out and both timers count from it.
        rig->port.setPortOpen(true);
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        QVERIFY(!console->sendNote->isVisible());
        send();
        QCOMPARE(visible(rig->port.written), QStringLiteral("C00\\rCF BRIGHT UP\\r"));
        QVERIFY(form.Timer2->isActive());
        QVERIFY(form.Timer4->isActive());
        QCOMPARE(form.Label11->text(), QStringLiteral(" C F _ B R I G H T _ U P  [CR] "));
        QVERIFY(form.portNotice->isHidden());
        QVERIFY(!console->sendNote->isVisible());
        form.Timer2_Timer();
        QCOMPARE(form.Label12->text(), QStringLiteral(" X X X X"));
    }

    void mainWindowClosedWhileTheConsoleIsOpen() {
        Form1 &form = *rig->form;
        form.close(); // hides the panel and closes its port
        QVERIFY(!form.isVisible());

        QTest::mouseClick(console->Command5, Qt::LeftButton);
        QCOMPARE(console->Text1->text(), QStringLiteral("CR BRIGHT[CR]"));
        send();
        QVERIFY(rig->port.written.isEmpty());
        QVERIFY(console->sendNote->isVisible());

        // CLOSE shows the panel again, with its status box and quick intervals.
        QTest::mouseClick(console->Command2, Qt::LeftButton);
        QVERIFY(form.isVisible());
        QVERIFY(!form.Frame15->isHidden());
        QCOMPARE(form.Timer2->interval(), 1000);
        QCOMPARE(form.Timer4->interval(), 1200);

        // The close control gives the status box back too, but leaves a closed panel closed.
        console = openConsole(form);
        QVERIFY(console);
        form.close();
        console->windowHandle()->close();
        QVERIFY(!form.isVisible());
        QVERIFY(!form.Frame15->isHidden());
        QCOMPARE(form.Timer2->interval(), 1000);
        QCOMPARE(form.Timer4->interval(), 1200);
    }

    void mainWindowDestroyedWhileTheConsoleIsOpen() {
        rig->form.reset();
        QTest::mouseClick(console->Command4, Qt::LeftButton);
        choose(console->Combo2, QStringLiteral("CF BRIGHT 0%%[CR]"));
        send();
        QVERIFY(rig->port.written.isEmpty());
        QVERIFY(console->sendNote->isVisible());
        QTest::mouseClick(console->Command2, Qt::LeftButton);
        QCOMPARE(Form3::instance(), nullptr);
        flushDeletes();
        QVERIFY(console.isNull());
    }
};

QTEST_MAIN(ConsoleTest)
#include "test_console.moc"
