#pragma once

#include <QDialog>
#include <QPointer>

class Form1;
class QButtonGroup;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The port settings dialog ("  COM PORT"): choose port and speed, reopen the port on
// the main window's serial component, and remember the choice once it has opened.
class Form2 : public QDialog {
    Q_OBJECT
public:
    // Start-up: no usable port. Waits until the dialog is gone.
    static void showModal(Form1 &main);
    // "COM": creates the dialog, or brings the open one forward. Returns at once.
    static Form2 *showModeless(Form1 &main);
    // The open dialog, if any.
    static Form2 *instance();

    void Form_Load();
    void Option_Click(int option); // 1 to 7: Option1 ... Option7
    void Text1_Change();
    void Command1_Click(); // OK
    void Command2_Click(); // Cancel

    QRadioButton *Option[8] = {}; // Option[1] .. Option[7]; [0] unused
    QLineEdit *Text1 = nullptr;   // the OTHER box
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

protected:
    // Neither button answers Enter or Escape; the window's own close control closes
    // the dialog without OK's or Cancel's steps.
    void keyPressEvent(QKeyEvent *event) override;

private:
    explicit Form2(Form1 &main);
    // Fits the captions to their boxes in the desktop's font, and the choices into their frames.
    void fitToTheDesktopFont();
    // Sets the line settings for BaudCode and selects its option; any code but 96 becomes 192.
    void applySpeed();
    // Opens the main window's port on ComPortNo; a failure is shown as the port warning.
    bool openPort();
    void unloadAndShowMain();

    QPointer<Form1> m_main; // the main window may be closed while the dialog is open
};

// The port warning: "Retry Comport", with what went wrong as its informative text and,
// when given, further details behind the box's details button.
void showPortWarning(QWidget *parent, const QString &reason, const QString &details = QString());
