#pragma once

// tavo-server's command line: the options turned into what the server is made of, or the
// reason it must not start with the exit status that says so.

#include "ProjectorServer.h"

#include <QString>
#include <QStringList>

#include <variant>

class SettingsStore;

// sysexits.h, besides cli::exitUsage (64).
constexpr int exitNoInput = 66;     // a password file cannot be read
constexpr int exitUnavailable = 69; // a listen address cannot be used
constexpr int exitConfig = 78;      // a listener beyond this machine without its safeguard

struct StartOptions {
    ServerOptions server;
    QString device;       // what is opened for server.port
    QString lineSettings; // "9600,N,8,1"
    bool unpublish = false; // --mqtt-unpublish: remove the retained messages, and exit
};

struct OptionsExit {
    int status;      // 0 after --help or --version
    QString message; // for stderr; empty when already said (help, version, the parser's complaint)
};

// `arguments` as QCoreApplication::arguments() gives them, the program's name first. Without
// --port or --baud, what `store` holds, as the panel reads it.
std::variant<StartOptions, OptionsExit> optionsFrom(const QStringList &arguments, const SettingsStore &store);
