// Start-up with the remembered port, and the port settings dialog.
#include "TestSupport.h"

#include "link/Module1.h"
#include "port_dialog/Form2.h"

#include <QApplication>
#include <QFontDatabase>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

namespace {
QString stored(const PanelRig &rig, const QString &key) {
    return rig.settings.read(store::application, store::startUp, key, QStringLiteral("<none>"));
}

// Runs the start-up; when the dialog comes up, `inDialog` works it (and must end it or
// leave it for the caller to close). Returns whether the dialog was shown.
bool startUp(PanelRig &rig, std::function<void(Form2 &)> inDialog = {}) {
    bool shown = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<Form2 *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll.stop();
        shown = true;
        if (inDialog)
            inDialog(*dialog);
        if (Form2::instance())
            Form2::instance()->close();
    });
    poll.start();
    rig.form->Form_Load();
    QTest::qWait(0);
    return shown;
}

void type(QLineEdit *box, const QString &text) { QTest::keyClicks(box, text); }

// The room a caption has in its control, as the control's style lays it out.
int roomForCaption(QWidget *control) {
    QStyle *style = control->style();
    if (auto *option = qobject_cast<QRadioButton *>(control)) {
        QStyleOptionButton look;
        look.initFrom(option);
        look.text = option->text();
        return style->subElementRect(QStyle::SE_RadioButtonContents, &look, option).width();
    }
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton look;
        look.initFrom(button);
        look.text = button->text();
        return style->subElementRect(QStyle::SE_PushButtonContents, &look, button).width();
    }
    return control->contentsRect().width();
}

// The desktop's font for as long as it lives, set before the windows are built.
class DesktopFont {
public:
    explicit DesktopFont(const QFont &font) : m_saved(QApplication::font()) { QApplication::setFont(font); }
    ~DesktopFont() { QApplication::setFont(m_saved); }

private:
    QFont m_saved;
};
} // namespace

class StartUpAndPortDialog : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        if (Form2 *dialog = Form2::instance())
            dialog->close();
        QTest::qWait(0); // lets closed dialogs go
    }

    void storedPortOpensWithoutAsking() {
        PanelRig rig;
        rig.store("3", "96");
        QVERIFY(!startUp(rig));
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.commPort(), 3);
        QCOMPARE(rig.port.openedSettings, QString("9600,N,8,1"));
        QCOMPARE(Module1::ComPortNo, qint16(3));
        QCOMPARE(Module1::BaudCode, quint8(96));
        QCOMPARE(rig.form->Timer2->interval(), 1000);
        QCOMPARE(rig.form->Timer4->interval(), 1200);
        QCOMPARE(rig.form->Height(), Form1::compactHeight);
    }

    // Centred across; raised 1350 twips (90 pixels) above the middle; kept on the screen.
    // The window is 679 pixels wide and, at the compact height, 385 high (5780 twips).
    void placedCentredAndRaised_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("topLeft");
        // (1024 - 679) / 2 = 172; (768 - 385) / 2 - 90 = 101
        QTest::newRow("1024 x 768") << QRect(0, 0, 1024, 768) << QPoint(172, 101);
        // 1280 + (1920 - 679) / 2 = 1900; 28 + (1052 - 385) / 2 - 90 = 271
        QTest::newRow("second screen, panel on top") << QRect(1280, 28, 1920, 1052) << QPoint(1900, 271);
        // (480 - 385) / 2 - 90 = -43: the title bar would leave the screen
        QTest::newRow("small screen") << QRect(0, 0, 800, 480) << QPoint(60, 0);
    }
    void placedCentredAndRaised() {
        QFETCH(QRect, available);
        QFETCH(QPoint, topLeft);
        PanelRig rig;
        rig.startWithPort();
        rig.form->placeOnScreen(available);
        QCOMPARE(rig.form->pos(), topLeft);
    }

    void anySpeedButNinetySixMeans19200() {
        for (const char *text : {"192", "19", "0", "300", "abc"}) {
            PanelRig rig;
            rig.store("2", text);
            QVERIFY(!startUp(rig));
            QCOMPARE(rig.port.openedSettings, QString("19200,N,8,1"));
            QCOMPARE(Module1::BaudCode, quint8(192));
        }
        PanelRig rig;
        rig.store("2", QString());
        QVERIFY(!startUp(rig));
        QCOMPARE(rig.port.openedSettings, QString("19200,N,8,1"));
    }

    void storedNumbersAreReadFromTheStartOfTheText() {
        PanelRig rig;
        rig.store("  7 (the USB adapter)", "96");
        QVERIFY(!startUp(rig));
        QCOMPARE(rig.port.commPort(), 7);
        PanelRig highest;
        highest.store("15", "96");
        QVERIFY(!startUp(highest));
        QCOMPARE(highest.port.commPort(), 15);
    }

    void unusableStoredPortAsksInstead_data() {
        QTest::addColumn<QString>("comPort");
        QTest::newRow("first run") << QString();
        QTest::newRow("16") << "16";
        QTest::newRow("0") << "0";
        QTest::newRow("negative") << "-3";
        QTest::newRow("beyond 16 bits") << "99999";
        QTest::newRow("not a number") << "COM3";
        QTest::newRow("empty") << "";
    }
    void unusableStoredPortAsksInstead() {
        QFETCH(QString, comPort);
        PanelRig rig;
        rig.store(comPort, "96");
        QVERIFY(startUp(rig));
        QCOMPARE(rig.port.openCount, 0);
        // The intervals stay as designed until something else sets them.
        QCOMPARE(rig.form->Timer2->interval(), 5000);
        QCOMPARE(rig.form->Timer4->interval(), 5500);
    }

    void firstRunDialogStartsEmptyAndInsistsOnAPort() {
        PanelRig rig;
        MessageBoxCloser boxes;
        QVERIFY(startUp(rig, [&](Form2 &dialog) {
            for (int n = 3; n <= 7; ++n)
                QVERIFY(!dialog.Option[n]->isChecked());
            QVERIFY(dialog.Option[2]->isChecked());
            QCOMPARE(Module1::BaudCode, quint8(192)); // never read: the dialog settles it
            QCOMPARE(dialog.Text1->text(), QString("0"));
            QCOMPARE(dialog.Text1->selectedText(), QString("0"));

            QTest::mouseClick(dialog.Command1, Qt::LeftButton);
            QCOMPARE(boxes.texts, QStringList{"Retry Comport"});
            QVERIFY(dialog.isVisible());
            QCOMPARE(stored(rig, store::comPortKey), QString("<none>"));

            QTest::mouseClick(dialog.Option[1], Qt::LeftButton);
            QTest::mouseClick(dialog.Option[5], Qt::LeftButton);
            QTest::mouseClick(dialog.Command1, Qt::LeftButton);
        }));
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.commPort(), 3);
        QCOMPARE(rig.port.openedSettings, QString("9600,N,8,1"));
        QCOMPARE(stored(rig, store::comPortKey), QString("3"));
        QCOMPARE(stored(rig, store::baudRateKey), QString("96"));
        QVERIFY(rig.form->isVisible());
    }

    void missingDeviceFallsBackToTheDialogStartingFromTheStoredPort() {
        PanelRig rig;
        rig.port.existingPorts.remove(7);
        rig.store("7", "96");
        MessageBoxCloser boxes;
        QVERIFY(startUp(rig, [&](Form2 &dialog) {
            QCOMPARE(Module1::ComPortNo, qint16(7));
            for (int n = 3; n <= 7; ++n)
                QVERIFY(!dialog.Option[n]->isChecked());
            QVERIFY(dialog.Option[1]->isChecked());
            // Meanwhile the store holds another choice, so that a save, or a missing one, shows.
            rig.store("9", "192");
            // OK without a change tries port 7 again: still missing, nothing stored anew.
            QTest::mouseClick(dialog.Command1, Qt::LeftButton);
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY(boxes.informative.value(0).contains("no such device"));
            // The details list the serial ports there are (or say there are none).
            QVERIFY2(boxes.details.value(0).contains("Serial ports found:") ||
                         boxes.details.value(0).contains("No serial ports were found"),
                     qPrintable(boxes.details.value(0)));
            QCOMPARE(stored(rig, store::comPortKey), QString("9"));
            QCOMPARE(stored(rig, store::baudRateKey), QString("192"));
            rig.port.existingPorts.insert(7);
            QTest::mouseClick(dialog.Command1, Qt::LeftButton);
        }));
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.commPort(), 7);
        QCOMPARE(stored(rig, store::comPortKey), QString("7"));
        QCOMPARE(stored(rig, store::baudRateKey), QString("96"));
    }

    void otherBoxTakesOneToFifteenEditByEdit() {
        PanelRig rig;
        rig.startWithPort(3);
        Form2 *dialog = Form2::showModeless(*rig.form);
        QCOMPARE(Module1::ComPortNo, qint16(3));
        QVERIFY(dialog->Option[5]->isChecked());

        type(dialog->Text1, "12"); // "0" was selected: the first digit replaces it
        QCOMPARE(Module1::ComPortNo, qint16(12));
        QCOMPARE(dialog->Text1->text(), QString("12"));

        dialog->Text1->selectAll();
        type(dialog->Text1, "16");
        QCOMPARE(Module1::ComPortNo, qint16(1));
        QCOMPARE(dialog->Text1->text(), QString("0"));

        type(dialog->Text1, "x"); // letters count as no number
        QCOMPARE(dialog->Text1->text(), QString("0"));
        QCOMPARE(Module1::ComPortNo, qint16(1));
        dialog->Text1->selectAll();
        QTest::keyClick(dialog->Text1, Qt::Key_Backspace); // empty
        QCOMPARE(dialog->Text1->text(), QString("0"));
        dialog->Text1->setText("300");
        QCOMPARE(dialog->Text1->text(), QString("0"));
        QCOMPARE(Module1::ComPortNo, qint16(1));
    }

    void otherBoxReadsLeadingZerosAsTheWholeNumber() {
        PanelRig rig;
        rig.startWithPort(3);
        Form2 *dialog = Form2::showModeless(*rig.form);
        dialog->Text1->selectAll();
        dialog->Text1->insert("0012"); // pasted
        QCOMPARE(Module1::ComPortNo, qint16(12));
        QCOMPARE(dialog->Text1->text(), QString("0012"));
        dialog->Text1->selectAll();
        dialog->Text1->insert("00016");
        QCOMPARE(Module1::ComPortNo, qint16(12));
        QCOMPARE(dialog->Text1->text(), QString("0"));
    }

    void theLastChoiceWinsBetweenOptionsAndTheBox() {
        PanelRig rig;
        rig.startWithPort(3);
        Form2 *dialog = Form2::showModeless(*rig.form);
        QTest::mouseClick(dialog->Option[4], Qt::LeftButton);
        dialog->Text1->selectAll();
        type(dialog->Text1, "9");
        QCOMPARE(Module1::ComPortNo, qint16(9));
        QVERIFY(dialog->Option[4]->isChecked()); // still shown, but no longer the choice
        QTest::mouseClick(dialog->Option[3], Qt::LeftButton);
        QCOMPARE(Module1::ComPortNo, qint16(1));
    }

    void eachPortOptionNamesTheDeviceItOpens() {
        PanelRig rig;
        rig.settings.save(store::application, store::ports, "COM1", QCoreApplication::applicationFilePath());
        rig.settings.save(store::application, store::ports, "COM2", "/nonexistent/ttyUSB9");
        rig.settings.save(store::application, store::ports, "COM3", "socket://192.0.2.10:4001");
        rig.startWithPort(1);
        Form2 *dialog = Form2::showModeless(*rig.form);
        const QString present = dialog->Option[3]->toolTip();
        QVERIFY2(present.contains(QCoreApplication::applicationFilePath()) && present.contains("is present"),
                 qPrintable(present));
        QCOMPARE(dialog->Option[4]->toolTip(), QString("COM2 opens /nonexistent/ttyUSB9, which is not present."));
        QCOMPARE(dialog->Option[4]->accessibleDescription(), dialog->Option[4]->toolTip());
        QVERIFY(dialog->Option[5]->toolTip().contains("serial device server socket://192.0.2.10:4001"));
    }

    void okOnABusyPortKeepsTheStoreAndTheDialog() {
        PanelRig rig;
        rig.startWithPort(3, 96);
        rig.port.setPortOpen(false);
        rig.port.busyPorts.insert(9);
        Form2 *dialog = Form2::showModeless(*rig.form);
        dialog->Text1->selectAll();
        type(dialog->Text1, "9");
        MessageBoxCloser boxes;
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(boxes.texts, QStringList{"Retry Comport"});
        QVERIFY(boxes.informative.value(0).contains("in use"));
        QVERIFY(Form2::instance());
        QVERIFY(!rig.port.portOpen());
        QCOMPARE(stored(rig, store::comPortKey), QString("3"));
        QCOMPARE(Module1::ComPortNo, qint16(9));
    }

    void okOpensAndRemembersTheChoice() {
        PanelRig rig;
        rig.startWithPort(3, 96);
        rig.port.setPortOpen(false);
        Form2 *dialog = Form2::showModeless(*rig.form);
        QTest::mouseClick(dialog->Option[2], Qt::LeftButton);
        dialog->Text1->selectAll();
        type(dialog->Text1, "11");
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTest::qWait(0);
        QVERIFY(!Form2::instance());
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.commPort(), 11);
        QCOMPARE(rig.port.openedSettings, QString("19200,N,8,1"));
        QCOMPARE(stored(rig, store::comPortKey), QString("11"));
        QCOMPARE(stored(rig, store::baudRateKey), QString("192"));
    }

    void aSaveThatFailsIsReportedButThePortStaysOpen() {
        PanelRig rig;
        rig.startWithPort(3, 96);
        rig.port.setPortOpen(false);
        rig.settings.failSaves = true;
        Form2 *dialog = Form2::showModeless(*rig.form);
        QTest::mouseClick(dialog->Option[6], Qt::LeftButton);
        MessageBoxCloser boxes;
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTest::qWait(0);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.informative.value(0).contains("could not be saved"));
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.commPort(), 4);
        QCOMPARE(stored(rig, store::comPortKey), QString("3"));
    }

    void cancelGoesBackToThePreviousPortWithoutSaving() {
        PanelRig rig;
        rig.startWithPort(3, 96);
        // What the panel's COM button does before opening the dialog.
        rig.port.setPortOpen(false);
        Module1::SavedComPortNo = Module1::ComPortNo;
        Module1::SavedBaudCode = Module1::BaudCode;
        // The store holds neither the port gone back to nor the one clicked, so any save shows.
        rig.store("12", "192");
        Form2 *dialog = Form2::showModeless(*rig.form);
        QTest::mouseClick(dialog->Option[2], Qt::LeftButton);
        QTest::mouseClick(dialog->Option[7], Qt::LeftButton);
        QTest::mouseClick(dialog->Command2, Qt::LeftButton);
        QTest::qWait(0);
        QVERIFY(!Form2::instance());
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.commPort(), 3);
        QCOMPARE(rig.port.openedSettings, QString("9600,N,8,1"));
        QCOMPARE(Module1::ComPortNo, qint16(3));
        QCOMPARE(Module1::BaudCode, quint8(96));
        QCOMPARE(rig.port.openCount, 2);
        QCOMPARE(stored(rig, store::comPortKey), QString("12"));
        QCOMPARE(stored(rig, store::baudRateKey), QString("192"));
    }

    void cancelWithNothingToGoBackToWarnsAndStays() {
        PanelRig rig;
        MessageBoxCloser boxes;
        QVERIFY(startUp(rig, [&](Form2 &dialog) {
            QTest::mouseClick(dialog.Option[6], Qt::LeftButton);
            QCOMPARE(Module1::ComPortNo, qint16(4));
            QTest::mouseClick(dialog.Command2, Qt::LeftButton);
            QCOMPARE(boxes.texts, QStringList{"Retry Comport"});
            QVERIFY(dialog.isVisible());
            QCOMPARE(Module1::ComPortNo, qint16(0));
            QVERIFY(dialog.Option[6]->isChecked());
        }));
        QCOMPARE(rig.port.openCount, 0);
    }

    // Qt raises no toggle for a click on the option already selected; the click must count.
    void aClickOnTheOptionAlreadySelectedCounts() {
        PanelRig rig;
        rig.port.existingPorts.remove(2); // COM2 remembered, but not there at start
        rig.store("2", "96");
        MessageBoxCloser boxes;
        QVERIFY(startUp(rig, [&](Form2 &dialog) {
            QVERIFY(dialog.Option[4]->isChecked());
            type(dialog.Text1, "1");
            QCOMPARE(Module1::ComPortNo, qint16(1));
            QTest::mouseClick(dialog.Option[4], Qt::LeftButton);
            QCOMPARE(Module1::ComPortNo, qint16(2));
            rig.port.existingPorts.insert(2); // plugged in meanwhile
            QTest::mouseClick(dialog.Command1, Qt::LeftButton);
        }));
        QCOMPARE(rig.port.commPort(), 2);
        QCOMPARE(stored(rig, store::comPortKey), QString("2"));

        // A start-up Cancel puts the port number back to 0, with "COM4" still selected.
        PanelRig firstRun;
        QVERIFY(startUp(firstRun, [&](Form2 &dialog) {
            QTest::mouseClick(dialog.Option[6], Qt::LeftButton);
            QTest::mouseClick(dialog.Command2, Qt::LeftButton);
            QCOMPARE(Module1::ComPortNo, qint16(0));
            QVERIFY(dialog.Option[6]->isChecked());
            QTest::mouseClick(dialog.Option[6], Qt::LeftButton);
            QCOMPARE(Module1::ComPortNo, qint16(4));
            QTest::mouseClick(dialog.Command1, Qt::LeftButton);
        }));
        QCOMPARE(boxes.texts, (QStringList{"Retry Comport"})); // the Cancel's only
        QVERIFY(firstRun.port.portOpen());
        QCOMPARE(firstRun.port.commPort(), 4);
        QCOMPARE(stored(firstRun, store::comPortKey), QString("4"));
    }

    void badPortNumbersReachingOkOrCancelOnlyWarn() {
        PanelRig rig;
        rig.store("16", "96");
        MessageBoxCloser boxes;
        QVERIFY(startUp(rig, [&](Form2 &dialog) {
            QTest::mouseClick(dialog.Command1, Qt::LeftButton); // port 16 from the store
            Module1::SavedComPortNo = -2;
            QTest::mouseClick(dialog.Command2, Qt::LeftButton);
            QVERIFY(dialog.isVisible());
        }));
        QCOMPARE(boxes.texts, (QStringList{"Retry Comport", "Retry Comport"}));
        QCOMPARE(rig.port.openCount, 0);
    }

    // The start-up dialog closed without a choice: the first click says where to choose a
    // port, and how to bring "COM" into view when it is not.
    void firstClickWithoutAPortLeadsToCom_data() {
        QTest::addColumn<bool>("full");
        QTest::newRow("compact height") << false;
        QTest::newRow("full height") << true;
    }

    void firstClickWithoutAPortLeadsToCom() {
        QFETCH(bool, full);
        PanelRig rig;
        QVERIFY(startUp(rig)); // closed by its close control
        QVERIFY(showPanel(rig));
        QPushButton *com = buttonNamed(rig, QStringLiteral("Command33"));
        const auto comInView = [&rig, com] {
            return rig.form->rect().contains(QRect(com->mapTo(rig.form.get(), QPoint(0, 0)), com->size()));
        };
        QPushButton *powerOn = buttonNamed(rig, QStringLiteral("Command17"));
        if (full)
            QTest::keyClick(powerOn, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(comInView(), full);

        QTest::mouseClick(powerOn, Qt::LeftButton);
        QVERIFY(rig.port.written.isEmpty());
        const QLabel *notice = rig.form->portNotice;
        QVERIFY(notice->isVisible());
        QVERIFY2(notice->text().contains(QLatin1String("COM")), qPrintable(notice->text()));
        QVERIFY2(notice->text().contains(QLatin1String("Ctrl+H")) == !full, qPrintable(notice->text()));

        // Doing as it says: Ctrl+H brings "COM" into view, and the notice no longer asks for it.
        if (!full) {
            QTest::keyClick(powerOn, Qt::Key_H, Qt::ControlModifier);
            QVERIFY(comInView());
            QVERIFY2(!notice->text().contains(QLatin1String("Ctrl+H")), qPrintable(notice->text()));
        }
        QTest::mouseClick(com, Qt::LeftButton);
        QVERIFY(Form2::instance());
    }

    // Under whatever fonts the machine has: the desktop's default, and the two common sans
    // families where installed (DejaVu Sans is the wider).
    void captionsFitUnderTheDesktopsFont_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("points");
        QStringList families{QFontInfo(QApplication::font()).family()};
        for (const QString &family : {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")})
            if (QFontDatabase::hasFamily(family) && !families.contains(family))
                families << family;
        for (const QString &family : families)
            for (const int points : {8, 10, 11, 12})
                QTest::addRow("%s %d", qPrintable(family), points) << family << points;
    }

    void captionsFitUnderTheDesktopsFont() {
        QFETCH(QString, family);
        QFETCH(int, points);
        const DesktopFont desktop(QFont(family, points));
        PanelRig rig;
        rig.startWithPort(3, 96);
        Form2 *dialog = Form2::showModeless(*rig.form);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));

        QList<QWidget *> captioned{dialog->Command1, dialog->Command2,
                                   dialog->findChild<QLabel *>(QStringLiteral("Label1"))};
        for (int n = 1; n <= 7; ++n)
            captioned << dialog->Option[n];
        for (QWidget *control : captioned) {
            const QString caption = control->property("text").toString();
            const int width = QFontMetrics(control->font()).horizontalAdvance(caption);
            QVERIFY2(width <= roomForCaption(control),
                     qPrintable(QStringLiteral("\"%1\" is %2 pixels wide in %3 (%4)")
                                    .arg(caption)
                                    .arg(width)
                                    .arg(roomForCaption(control))
                                    .arg(QFontInfo(control->font()).family())));
        }

        // Each frame holds its choices between its top line, drawn below the title, and its
        // bottom line: within the part of the box its style keeps for what it holds.
        for (QGroupBox *box : dialog->findChildren<QGroupBox *>()) {
            QVERIFY2(QFontMetrics(box->font()).horizontalAdvance(box->title()) <= box->width(),
                     qPrintable(box->title()));
            const QRect inner = box->contentsRect();
            for (QWidget *inside : box->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                QVERIFY2(inside->geometry().top() >= inner.top() && inside->geometry().bottom() <= inner.bottom(),
                         qPrintable(box->title() + QLatin1String(": ") + inside->objectName()));
            QVERIFY(dialog->rect().contains(box->geometry()));
        }
    }

    void dialogOutlivesAClosedMainWindow() {
        PanelRig rig;
        rig.startWithPort(3, 96);
        rig.form->show();
        rig.port.setPortOpen(false);
        Form2 *dialog = Form2::showModeless(*rig.form);
        rig.form->close();
        QVERIFY(!rig.port.portOpen());
        QTest::mouseClick(dialog->Option[5], Qt::LeftButton);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTest::qWait(0);
        QVERIFY(rig.port.portOpen());
        QVERIFY(rig.form->isVisible());
    }

    void escapeDoesNotCloseTheDialog() {
        PanelRig rig;
        rig.startWithPort(3, 96);
        Form2 *dialog = Form2::showModeless(*rig.form);
        QTest::keyClick(dialog->Text1, Qt::Key_Escape);
        QVERIFY(Form2::instance());
        QVERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(StartUpAndPortDialog)
#include "test_startup_and_port_dialog.moc"
