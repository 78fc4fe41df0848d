#include "panel/Actions.h"

#include "panel/ButtonTable.h"

namespace panel {

namespace {

QString qs(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

// Lower case, every run of other characters than letters and digits one "-", none at the ends.
QString kebab(const QString &words) {
    QString name;
    bool gap = false;
    for (const QChar c : words) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
            if (gap && !name.isEmpty())
                name += QLatin1Char('-');
            name += c.toLower();
            gap = false;
        } else {
            gap = true;
        }
    }
    return name;
}

std::vector<Action> buildActions() {
    std::vector<Action> all;
    for (const ButtonRow &row : buttons) {
        if (row.kind.of == KindOf::windowCommand)
            continue;
        Action action;
        action.group = qs(row.group);
        action.caption = row.caption.arrow == Arrow::none ? qs(row.caption.text) : qs(arrowDirection(row.caption.arrow));
        action.code = qs(row.sends);
        const QString group = kebab(action.group);
        const QString caption = kebab(action.caption);
        action.name = group.isEmpty() || group == caption ? caption : group + QLatin1Char('-') + caption;
        all.push_back(action);
    }
    return all;
}

} // namespace

const std::vector<Action> &actions() {
    static const std::vector<Action> all = buildActions();
    return all;
}

std::optional<QString> actionCode(QStringView name) {
    for (const Action &action : actions())
        if (action.name == name)
            return action.code;
    return std::nullopt;
}

bool looksLikeActionName(QStringView text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'))
            return false;
    return true;
}

} // namespace panel
