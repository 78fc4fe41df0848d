#include "Commands.h"

#include "panel/Actions.h"

#include <algorithm>

namespace {

// A carriage return inside a command would put two commands on the line for one reply,
// and a character beyond Latin-1 has no byte to go out as.
bool goesOutAsWritten(const QString &code) {
    return std::all_of(code.begin(), code.end(), [](QChar c) { return c != u'\r' && c.unicode() <= 0xFF; });
}

} // namespace

std::variant<QList<Command>, QString> commandsFrom(const QStringList &arguments) {
    if (arguments.isEmpty())
        return QStringLiteral("no COMMAND given (an action name such as status, or a code such as CR0; "
                              "--list shows the names)");
    QList<Command> commands;
    for (const QString &argument : arguments) {
        if (argument.isEmpty())
            return QStringLiteral("an empty COMMAND");
        if (panel::looksLikeActionName(argument)) {
            const auto code = panel::actionCode(argument);
            if (!code)
                return QStringLiteral("unknown action name \"%1\" (--list shows the names; a raw code is "
                                      "written in capitals, e.g. CR0)")
                    .arg(argument);
            commands.append({*code, argument});
            continue;
        }
        if (!goesOutAsWritten(argument))
            return QStringLiteral("\"%1\" cannot go out as written: write the code without its carriage "
                                  "return, in ASCII")
                .arg(argument);
        commands.append({argument, QString()});
    }
    return commands;
}

QString actionList() {
    QString text =
        QStringLiteral("# Action names: every button of the panel that sends a command, named by the group title and\n"
                       "# the caption (an arrow button by its direction: up, down, left, right), in lower case, each\n"
                       "# run of other characters than letters and digits written as one \"-\". A caption that only\n"
                       "# repeats its group title is left out, and a button standing on the window has its caption\n"
                       "# alone. Any other COMMAND (e.g. CR0, \"CF BRIGHT 042\") is a raw code, sent as written.\n"
                       "# name, code, button\n");
    qsizetype nameWidth = 0;
    qsizetype codeWidth = 0;
    for (const panel::Action &action : panel::actions()) {
        nameWidth = std::max(nameWidth, action.name.size());
        codeWidth = std::max(codeWidth, action.code.size());
    }
    for (const panel::Action &action : panel::actions()) {
        const QString button =
            action.group.isEmpty() ? action.caption : QStringLiteral("%1: %2").arg(action.group, action.caption);
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(action.name.leftJustified(nameWidth), action.code.leftJustified(codeWidth), button);
    }
    return text;
}
