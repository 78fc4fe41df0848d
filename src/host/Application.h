#pragma once

#include <QCoreApplication>

// What the program sets on its application object before the first window: the same for
// the program and for the tests that check what the desktop shows of it.
//
// No display name: Qt would append one to every title bar (_NET_WM_NAME on X11), and the
// windows' titles are their own, exactly as they are set.
inline void setUpApplication() { QCoreApplication::setApplicationName(QStringLiteral("tavo-control")); }
