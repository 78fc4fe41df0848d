#include "host/Application.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    setUpApplication();

    QtSettingsStore settings;
    QtSerialComponent port(settings);
    Form1 panel(port, settings);
    panel.Form_Load();
    panel.show();
    return app.exec();
}
