#include "exchange/CommandWords.h"

#include "panel/Actions.h"

#include <algorithm>
#include <optional>

namespace {

// The projector's codes are printable ASCII. A carriage return inside a command would put
// two commands on the line for one reply, another control character is a slip the projector
// would only answer with an error, and a character beyond ASCII was never meant for it.
bool isPrintableAscii(QChar c) { return c >= u' ' && c <= u'~'; }

// The action a word names when case is ignored: "STATUS" or "Power-off" is a slip in
// writing a name, not a code (the projector's codes are never one of its actions' names).
std::optional<QString> actionNamedIgnoringCase(const QString &word) {
    for (const panel::Action &action : panel::actions())
        if (action.name.compare(word, Qt::CaseInsensitive) == 0)
            return action.name;
    return std::nullopt;
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
        if (const auto name = actionNamedIgnoringCase(argument))
            return QStringLiteral("\"%1\" is not an action name: names are in lower case (did you mean %2?)")
                .arg(argument, *name);
        if (const auto bad = std::find_if_not(argument.begin(), argument.end(), isPrintableAscii);
            bad != argument.end()) {
            // Shown with the character replaced, so that a control character does not act on the terminal.
            QString shown = argument;
            std::replace_if(
                shown.begin(), shown.end(), [](QChar c) { return !isPrintableAscii(c); }, u'?');
            return QStringLiteral("\"%1\" cannot go out as written: character %2 is a control character or "
                                  "not ASCII (write the code in printable ASCII, without its carriage return)")
                .arg(shown)
                .arg(bad - argument.begin() + 1);
        }
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
