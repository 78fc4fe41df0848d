#pragma once

// The panel and the console as the page draws them, made from the same constant tables as
// the window (buttons, groups, faces, catalogues), so the page cannot drift from the panel.

#include <QJsonObject>

// {"title": ..., "name": ..., "cards": [...], "colours": {...}, "groups": [...],
// "buttons": [...]}: the cards in the order the page shows them. The
// buttons come in the table's order, which is the panel's focus order; a group's buttons
// follow each other there, and each names the card the page shows it on. `name` is the
// projector's name, for the page's title and bar. END and COM are left out: a page neither
// stops the server nor changes its port.
QJsonObject panelJson(const QString &name);

// {"lists": [{"name": "basic", "title": "Basic Command List", "placeholders": false,
//  "items": [...]}, ...]}: the three catalogues in the console's order, each item as the
// list shows it (tabs written as blanks).
QJsonObject cataloguesJson();
