#include "host/Application.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    setUpApplication();
    // Names the installed desktop entry, so Wayland shells show its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tavo-control"));

    QtSettingsStore settings;
    QtSerialComponent port(settings);
    Form1 panel(port, settings);
    panel.Form_Load();
    panel.show();
    return app.exec();
}
