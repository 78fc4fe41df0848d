#pragma once

#include "host/FakeSerialComponent.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"

#include <QCoreApplication>
#include <QProcess>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

// A main window on the in-memory port and settings, as a test needs it.
struct PanelRig {
    MemorySettingsStore settings;
    FakeSerialComponent port;
    std::unique_ptr<Form1> form;
    int endCalls = 0;

    PanelRig();
    ~PanelRig();
    // Stores port 3 at 9600 bit/s and runs the start-up, which then opens the port.
    void startWithPort(int port = 3, int baudCode = 96);
    // Sets the stored texts as given (a null QString leaves the key out).
    void store(const QString &comPort, const QString &baudRate);
    QString written() const { return QString::fromLatin1(port.written); }
};

// Shows the main window and waits until it is on screen and active.
bool showPanel(PanelRig &rig);
class QPushButton;
QPushButton *buttonNamed(PanelRig &rig, const QString &name);

// A main window on the real serial adapter, with port 1 standing for `device` (a
// pseudo-terminal path or socket://host:port) and that port stored as the last choice.
// The start-up is left to the test.
struct DeviceRig {
    MemorySettingsStore settings;
    QtSerialComponent port{settings};
    std::unique_ptr<Form1> form;

    explicit DeviceRig(const QString &device, const QString &baudRate = QStringLiteral("96"));
    ~DeviceRig();
    QPushButton *button(const char *control) const;
    // A real mouse click on the named button.
    void click(const char *control) const;
};

// Closes every message box that opens from now on with OK, recording its text and
// informative text; stop by destroying the returned object.
class MessageBoxCloser {
public:
    MessageBoxCloser();
    ~MessageBoxCloser();
    QStringList texts;       // "Retry Comport" ...
    QStringList informative; // the reason under it
    QStringList details;     // behind the details button
private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The bytes written to a stream, CR shown as \r, for readable failure messages.
QString visible(const QByteArray &bytes);

// Runs the event loop until `done` holds or the time is up. Unlike QTest::qWaitFor it does
// not sleep while events come, so a server or projector in this process answers at once.
template <typename Done>
bool waitUntil(Done done, int timeoutMs = 5000) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // looks again at least this often when nothing happens
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A file's bytes; empty when it cannot be read.
QByteArray fileContents(const QString &path);

// A loopback port no one listens on just now, for a program the test starts.
quint16 freeLoopbackPort();

// The words that start a program of this build: in a cross build, the emulator the build
// names in TAVO_EMULATOR and then the program, which is named by the environment variable
// `variable` (TAVO_SERVER ...); natively the program alone.
QStringList emulator();
QStringList builtCommand(const char *variable);
// Starts that program with `arguments` on `process`.
void startBuilt(QProcess &process, const char *variable, const QStringList &arguments,
                QIODevice::OpenMode mode = QIODevice::ReadWrite);

// Adds every message of the server's log categories (tavo.*) to `lines` while it lives,
// instead of printing it; other messages go on as before. Captures may nest.
class LogCapture {
public:
    explicit LogCapture(QStringList &lines);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

private:
    QStringList &m_lines;
    QtMessageHandler m_before;
    LogCapture *m_outer;
};
