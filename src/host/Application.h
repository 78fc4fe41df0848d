#pragma once

#include <QGuiApplication>

// What the program sets on its application object before the first window: the same for
// the program and for the tests that check what the desktop shows of it.
//
// No display name: Qt would append one to every title bar (_NET_WM_NAME on X11), and the
// windows' titles are their own, exactly as they are set. The desktop file name lets
// Wayland shells match the windows to the installed entry, its name and its icon.
inline void setUpApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("tavo-control"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tavo-control"));
}
