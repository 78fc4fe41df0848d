#include "PanelJson.h"

#include "console/Catalogues.h"
#include "panel/Actions.h"
#include "panel/ButtonTable.h"
#include "panel/Faces.h"

#include <QJsonArray>

#include <array>
#include <string_view>

namespace {

QString qs(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

QString css(panel::Rgb rgb) {
    return QStringLiteral("#%1%2%3")
        .arg(rgb.red, 2, 16, QLatin1Char('0'))
        .arg(rgb.green, 2, 16, QLatin1Char('0'))
        .arg(rgb.blue, 2, 16, QLatin1Char('0'));
}

QJsonObject box(const panel::TwipsBox &at) {
    return {{QStringLiteral("left"), at.left},
            {QStringLiteral("top"), at.top},
            {QStringLiteral("width"), at.width},
            {QStringLiteral("height"), at.height}};
}

// What the page does with the window commands. The console is part of the page, so
// "Command Table" takes the operator there; END and COM act on the program and its port,
// which are the server's, and stay off the page.
struct WindowCommandRow {
    std::string_view control;
    std::string_view onPage; // empty: not on the page
};
constexpr std::array<WindowCommandRow, 3> windowCommands{{
    {"Command16", ""},        // END
    {"Command74", "console"}, // Command Table
    {"Command33", ""},        // COM
}};

constexpr std::string_view onPage(std::string_view control) {
    for (const WindowCommandRow &row : windowCommands)
        if (row.control == control)
            return row.onPage;
    return {};
}

constexpr bool everyWindowCommandDecided() {
    for (const panel::ButtonRow &row : panel::buttons) {
        if (row.kind.of != panel::KindOf::windowCommand)
            continue;
        bool found = false;
        for (const WindowCommandRow &decided : windowCommands)
            found = found || decided.control == row.control;
        if (!found)
            return false;
    }
    return true;
}
static_assert(everyWindowCommandDecided());

// The cards the page lays the buttons out in, in the page's order: what people reach for
// first (power, the input, the volume) before the picture, the lamp and the rest. A group's
// buttons go where the group goes; a button standing on the window goes by its own name.
// Anything not listed here lands in "More", so a new button is never lost from the page.
struct CardRow {
    std::string_view card;
    std::string_view member; // a group title, or the name of a button on the window
};
constexpr std::array<CardRow, 32> cards{{
    {"Power", "Power"},
    {"Input", "Computer 1"},      {"Input", "Computer 2"},   {"Input", "HDMI"},
    {"Input", "Video"},           {"Input", "S-VIDEO"},
    {"Volume", "Volume"},         {"Volume", "Audio Mute"},
    {"Picture", "Standard"},      {"Picture", "Real"},       {"Picture", "Cinema"},
    {"Picture", "Image 1"},       {"Picture", "Image 2"},    {"Picture", "Image 3"},
    {"Picture", "Image 4"},       {"Picture", "B.Board"},    {"Picture", "Dynamic"},
    {"Picture", "Video Mute"},    {"Picture", "Freeze"},     {"Picture", "Bright"},
    {"Picture", "Screen"},        {"Picture", "Keystone"},   {"Picture", "D.Zoom"},
    {"Lamp", "Lamp Mode"},
    {"Menu", "Menu"},
    {"Read", "Status"},           {"Read", "Input Mode"},    {"Read", "Temp"},
    {"Read", "Setting"},          {"Read", "Lamp Time"},     {"Read", "Lamp Status"},
    {"Read", "Command Table"},
}};
constexpr std::string_view otherCard = "More";

QString cardOf(const panel::ButtonRow &row) {
    const std::string_view member = row.group.empty() ? row.name : row.group;
    for (const CardRow &card : cards)
        if (card.member == member)
            return qs(card.card);
    return qs(otherCard);
}

// Every name in the card table is a group's title or a button's on the window ("Lamp Mode"
// is both: the reading button joins the group's card).
constexpr bool everyCardMemberKnown() {
    for (const CardRow &card : cards) {
        bool found = false;
        for (const panel::GroupRow &group : panel::groups)
            found = found || group.title == card.member;
        for (const panel::ButtonRow &row : panel::buttons)
            found = found || (row.group.empty() && row.name == card.member);
        if (!found)
            return false;
    }
    return true;
}
static_assert(everyCardMemberKnown());

QString actionNameOf(const panel::ButtonRow &row) {
    const QString code = qs(row.sends);
    for (const panel::Action &action : panel::actions())
        if (action.code == code)
            return action.name;
    return {};
}

QJsonArray listOf(const auto &items) {
    QJsonArray list;
    for (const std::string_view item : items)
        list.append(catalogue::shownText(qs(item)));
    return list;
}

} // namespace

QJsonObject panelJson(const QString &name) {
    QJsonArray groups;
    for (const panel::GroupRow &group : panel::groups) {
        QJsonObject row{{QStringLiteral("title"), qs(group.title)},
                        {QStringLiteral("at"), box(group.frameAt)},
                        {QStringLiteral("title_at"), box(group.titleAt)},
                        {QStringLiteral("centred"), group.titleAlign == panel::Align::centred}};
        if (group.title == panel::powerGroup) {
            row.insert(QStringLiteral("background"), css(panel::powerGroupGrey));
            row.insert(QStringLiteral("title_colour"), css(panel::powerTitleRed));
        }
        groups.append(row);
    }

    QJsonArray buttons;
    for (const panel::ButtonRow &row : panel::buttons) {
        QJsonObject button{{QStringLiteral("control"), qs(row.control)},
                           {QStringLiteral("name"), qs(row.name)},
                           {QStringLiteral("group"), qs(row.group)},
                           {QStringLiteral("card"), cardOf(row)},
                           {QStringLiteral("at"), box(row.at)}};
        if (row.caption.arrow == panel::Arrow::none)
            button.insert(QStringLiteral("caption"), qs(row.caption.text));
        else
            button.insert(QStringLiteral("arrow"), qs(panel::arrowDirection(row.caption.arrow)));
        if (const panel::FaceRow *face = panel::faceRow(row.face)) {
            button.insert(QStringLiteral("face"), qs(face->name));
            button.insert(QStringLiteral("colour"), css(face->colour));
        }
        switch (row.kind.of) {
        case panel::KindOf::click:
            button.insert(QStringLiteral("kind"), QStringLiteral("click"));
            button.insert(QStringLiteral("action"), actionNameOf(row));
            break;
        case panel::KindOf::hold:
            button.insert(QStringLiteral("kind"), QStringLiteral("hold"));
            button.insert(QStringLiteral("action"), actionNameOf(row));
            break;
        case panel::KindOf::windowCommand:
            if (onPage(row.control).empty())
                continue;
            button.insert(QStringLiteral("kind"), qs(onPage(row.control)));
            break;
        }
        buttons.append(button);
    }

    QJsonArray cardOrder;
    for (const CardRow &card : cards)
        if (!cardOrder.contains(qs(card.card)))
            cardOrder.append(qs(card.card));
    cardOrder.append(qs(otherCard));

    return {{QStringLiteral("title"), QStringLiteral("TAVO QT735 CONTROL")},
            {QStringLiteral("name"), name},
            {QStringLiteral("cards"), cardOrder},
            {QStringLiteral("colours"), QJsonObject{{QStringLiteral("window"), css(panel::windowGrey)},
                                                    {QStringLiteral("transcript"), css(panel::transcriptWhite)}}},
            {QStringLiteral("groups"), groups},
            {QStringLiteral("buttons"), buttons}};
}

QJsonObject cataloguesJson() {
    const auto list = [](const char *name, const char *title, bool placeholders, QJsonArray items) {
        return QJsonObject{{QStringLiteral("name"), QLatin1String(name)},
                           {QStringLiteral("title"), QLatin1String(title)},
                           {QStringLiteral("placeholders"), placeholders},
                           {QStringLiteral("items"), items}};
    };
    // Only the expanded list's choices show the parameter legend, as in the console.
    return {{QStringLiteral("lists"),
             QJsonArray{list("basic", "Basic Command List", false, listOf(catalogue::basic)),
                        list("expanded", "Expand Command List", true, listOf(catalogue::expanded)),
                        list("read", "Expand Read Command List", false, listOf(catalogue::expandedRead))}}};
}
