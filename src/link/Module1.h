#pragma once

#include <QString>
#include <QtGlobal>

// Program-wide values shared by the three windows.
namespace Module1 {
inline qint16 ComPortNo = 0;      // port in use, 1 to 15 when usable
inline quint8 BaudCode = 0;       // 96 = 9600 bit/s, 192 = 19200 bit/s
inline qint16 SavedComPortNo = 0; // taken by "COM", put back by the dialog's Cancel
inline quint8 SavedBaudCode = 0;
inline QString TxCommand;         // the panel's last command, ending in a carriage return

// Back to the values of a program that has just started.
inline void reset() {
    ComPortNo = 0;
    BaudCode = 0;
    SavedComPortNo = 0;
    SavedBaudCode = 0;
    TxCommand.clear();
}
} // namespace Module1

// Speed codes and the line settings they stand for.
namespace speed {
constexpr quint8 code9600 = 96;
constexpr quint8 code19200 = 192;
constexpr int firstPort = 1;
constexpr int lastPort = 15;
// 96 gives 9600 bit/s; every other code gives 19200.
inline QString portSettingsFor(quint8 baudCode) {
    return baudCode == code9600 ? QStringLiteral("9600,N,8,1") : QStringLiteral("19200,N,8,1");
}
inline bool isUsablePort(int portNumber) { return portNumber >= firstPort && portNumber <= lastPort; }
} // namespace speed
