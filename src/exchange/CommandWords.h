#pragma once

// The command words every program takes (tavo-send's COMMAND arguments, the HTTP API, the
// MQTT command topic): an action name of the panel's buttons, or a raw protocol code sent as
// written.

#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

struct Command {
    QString code;   // as it goes on the line, without its carriage return
    QString action; // the action name it was given by, or empty for a raw code
};

// The commands, in order; a string is the usage error (unknown action name, an action name
// in another case, empty command, a command that is not printable ASCII).
std::variant<QList<Command>, QString> commandsFrom(const QStringList &arguments);

// The text of --list: how names are made, then every name with its code and its button.
QString actionList();
