#pragma once

// The panel's buttons as named actions, for programs without a window: every click and
// repeat button of the button table, under one name made by one rule:
//
//   the group title and the caption (for an arrow button, its direction: up, down, left,
//   right), in lower case, each run of other characters than letters and digits written
//   as one "-"; a caption that only repeats its group title ("HDMI" in "HDMI") is left
//   out, and a button standing on the window has its caption alone.
//
// So "On" in "Power" is power-on, the Volume up arrow volume-up, "Status" status,
// "Eco 1" in "Lamp Mode" lamp-mode-eco-1, "NONE" in "R/C Key Off" r-c-key-off-none.

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace panel {

struct Action {
    QString name;
    QString code; // what goes on the line, without its carriage return
    QString group;   // the group title; empty for a button on the window
    QString caption; // the caption, or the arrow's direction
};

// In the order of the button table.
const std::vector<Action> &actions();

// The code an action name stands for.
std::optional<QString> actionCode(QStringView name);

// True for a text made only of lower-case letters, digits and "-": it names an action
// (known or not) rather than being a raw code.
bool looksLikeActionName(QStringView text);

} // namespace panel
