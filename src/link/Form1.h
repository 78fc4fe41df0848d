#pragma once

#include "exchange/ReceivedText.h"

#include <QWidget>
#include <functional>

class QFrame;
class QLabel;
class QTimer;
class SerialComponent;
class SettingsStore;

// The main window: the control panel. It owns the serial-port component, the three
// timers, the transcript lines and the status box, and the exchange state; the port
// settings dialog and the command console reach the port only through it.
class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int compactHeight = 5780; // outer height in twips: the upper panel only
    static constexpr int fullHeight = 8100;    // outer height in twips: everything
    // Title bar and borders, in twips, between the outer and the client height.
    static constexpr int frameAllowance = 480;

    Form1(SerialComponent &comm, SettingsStore &store, QWidget *parent = nullptr);
    ~Form1() override;

    // --- start and stop -------------------------------------------------------
    void Form_Load();
    void Form_QueryUnload();

    // --- the one road to and from the projector ---------------------------------
    // Mode 1 sends the text; any other mode shows what has been received and decodes it.
    // A send that fails is reported to the operator here and returns false; nothing
    // else then changes, and callers stop what they were doing.
    bool Hyouji(const QString &text, int mode);

    // --- receive path and reply timers ---------------------------------------------
    void MSComm1_OnComm();
    void Timer2_Timer(); // reply timeout
    void Timer4_Timer(); // display clear

    // --- control panel --------------------------------------------------------------
    void sendPanelCommand(QStringView code); // a click button: TxCommand = code + CR, then send
    void repeatButtonDown(int repeatCode);   // MouseDown of a repeat button
    void Cont_M_down();
    void Cont_M_up();
    void Timer1_Timer(); // repeat tick
    void Form_KeyDown(int keyCode, int shift);
    void Command16_Click(); // END
    void Command33_Click(); // COM
    void Command74_Click(); // Command Table

    // Centres the window across the available part of a screen, raised 1350 twips above
    // its middle, but never off it. The start-up places it on the primary screen.
    void placeOnScreen(const QRect &available);

    // Outer height, left and top of the window, in twips.
    int Height() const;
    void setHeight(int twips);

    // Shows a problem with the port in the panel (visible at both heights) and what "COM" is
    // to do about it ("choose a port"), or hides it.
    void showPortNotice(const QString &problem, const QString &remedy);
    void clearPortNotice();

    SerialComponent &MSComm1;
    SettingsStore &settingsStore;

    QTimer *Timer1 = nullptr; // repeat
    QTimer *Timer2 = nullptr; // reply timeout
    QTimer *Timer4 = nullptr; // display clear

    QFrame *Frame9 = nullptr;  // transcript frame
    QLabel *Label11 = nullptr; // transmit transcript
    QLabel *Label12 = nullptr; // receive transcript
    QFrame *Frame15 = nullptr; // status box
    QLabel *Label25 = nullptr; // status text
    QLabel *Label27 = nullptr; // space legend
    QLabel *Label28 = nullptr; // CR legend
    QLabel *portNotice = nullptr;

    quint8 RepeatCode = 0;
    quint8 ReplyWait = 0;
    ReceivedText RxBuffer;
    qint16 HoldActive = 0;

    // Ends the program at once ("END"); tests put a recorder in its place.
    std::function<void()> endProgram;

    // Characters of a transcript line that are put on screen: the line has room for
    // a few dozen, and drawing a very long label would stall the window.
    static constexpr qsizetype transcriptShown = 512;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildDisplay();
    void buildPanel(); // the groups and the 68 buttons
    // Only the controls in view take the keyboard focus; moves it off one that is not.
    void keepFocusInView();
    bool isInView(const QWidget *widget) const;
    // Writes the notice for the height the window has: at the compact one "COM" is out of view.
    void updatePortNotice();
    void showPortDialogModal();
    void setTranscript(QLabel *line, const TranscriptLine &rendering);
    void portLost(const QString &reason);
    // Tells the operator that a command did not go out.
    void sendFailed(const QString &reason);

    int m_outerHeight = 0; // twips
    QString m_noticeProblem;
    QString m_noticeRemedy;
};
