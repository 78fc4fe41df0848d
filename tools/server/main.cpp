// tavo-server: the one owner of a projector's serial line, serving every front end at once:
// PJLink, the projector's own protocol over TCP, an HTTP API with live events and metrics,
// MQTT. This file only wires the library beside it together: the options, the server, the
// signals.

#include "CommandLine.h"
#include "Log.h"
#include "Options.h"
#include "ServerProcess.h"
#include "Termination.h"
#include "mqtt/FrontEnd.h"

#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavo-server"));
    setLogFormat();
    QtSettingsStore store;
    const auto options = optionsFrom(QCoreApplication::arguments(), store);
    if (const OptionsExit *exit = std::get_if<OptionsExit>(&options)) {
        if (!exit->message.isEmpty())
            cli::complain(exit->message);
        return exit->status;
    }
    const StartOptions &start = std::get<StartOptions>(options);
    if (start.unpublish)
        return mqtt::unpublish(*start.server.mqtt) ? 0 : exitUnavailable;

    std::signal(SIGPIPE, SIG_IGN); // a client gone while its answer is written must not end the server
    raiseFileLimit(start.server);
    if (!cli::quitOnTerminationSignals(app)) {
        cli::complain(QStringLiteral("cannot set up signal handling"));
        return 1;
    }
    QtSerialComponent port(store);
    port.setDevice(start.device);
    port.setSettings(start.lineSettings);
    ProjectorServer projector(start.server, port);
    if (QString error; !projector.start(&error)) {
        cli::complain(error);
        return exitUnavailable;
    }
    // Written before the listeners are announced, so that whoever waits for those finds it.
    const ServerRecord record(projector, port.deviceName());
    announceStart(projector, start, port.deviceName());
    const int status = QCoreApplication::exec();
    qCInfo(logServer, "stopping");
    projector.stop();
    return status;
}
