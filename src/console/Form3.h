#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class Form1;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The command console ("Command List"): any command of the projector's protocol, picked
// from one of the three catalogues or typed into the entry box, is sent through the main
// window's Hyouji. The console never touches the port itself and never writes
// Module1::TxCommand, so a reply to a console command is decoded as if it answered the
// panel's last command.
//
// The main window may be closed (hidden, and its port with it) or even destroyed while the
// console is open; the console holds it by QPointer and keeps working, reporting in its own
// window that nothing went out.
class Form3 : public QWidget {
    Q_OBJECT
public:
    static constexpr int clientWidth = 10005; // twips
    static constexpr int loadHeight = 2500;   // outer height in twips, set by Load

    // "Command Table": creates the console (Load runs) and shows it modelessly without an
    // owner, or brings the open console forward (Load does not run again).
    static Form3 *showConsole(Form1 &main);
    // The open console, or nullptr. A console that is closing no longer counts as open.
    static Form3 *instance();

    ~Form3() override;

    // --- event handlers -------------------------------------------------------------
    void Form_Load();
    void Combo1_Click(); // the chosen-item steps of each list
    void Combo2_Click();
    void Combo3_Click();
    void Text1_Change();
    void Command1_Click(); // SEND
    void Command2_Click(); // CLOSE
    void Command3_Click(); // Basic Command List
    void Command4_Click(); // Expand Command List
    void Command5_Click(); // Expand Read Command List

    // Outer height in twips, title bar and borders included, as the main window counts it.
    int Height() const;
    void setHeight(int twips);

    // The command SEND hands to Hyouji: the entry box's text up to its first "[", plus CR.
    QString ConsoleCommand;

    QComboBox *Combo1 = nullptr; // basic catalogue
    QComboBox *Combo2 = nullptr; // expanded catalogue
    QComboBox *Combo3 = nullptr; // expanded read catalogue
    QLineEdit *Text1 = nullptr;  // entry box
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QLabel *Label1 = nullptr; // parameter legend
    QLabel *Label2 = nullptr; // CR legend
    // Why the last SEND put nothing on the line; shown in the legends' row.
    QLabel *sendNote = nullptr;

protected:
    // The window's own close control ends up here as well as CLOSE.
    void closeEvent(QCloseEvent *event) override;

private:
    explicit Form3(Form1 &main);

    void chosenItem(QComboBox *list);
    void composeFrom(const QString &item);
    void selectFirstFromCode(QComboBox *list);
    void showOnly(QComboBox *list);
    void restorePanel();
    void showSendNote(const QString &text);

    QPointer<Form1> m_main;
};
