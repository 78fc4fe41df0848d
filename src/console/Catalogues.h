#pragma once

// The three fixed command catalogues of the command console, and the small helpers the console
// uses to turn a catalogue item into the command it sends.
//
// An item is one line of ASCII text (printable characters and tabs):
//   command text   the command as it goes to the projector, without its carriage return;
//   "[CR]"         stands for that carriage return; its "[" is the only "[" of the item;
//   description    optional; after five blanks in the basic catalogue, after a run of blanks
//                  and tabs and a ":" in the two expanded catalogues.
// In the expanded catalogue each "%" of the command text is a placeholder for one decimal digit
// that the operator types before sending.

#include <QString>
#include <QStringView>

#include <array>
#include <string_view>

namespace catalogue {

// Short codes ("C00" to "C8F", "CR0" to "CR7"), shown by "Basic Command List".
extern const std::array<std::string_view, 60> basic;

// "CF" set commands, shown by "Expand Command List".
extern const std::array<std::string_view, 351> expanded;

// "CR" read commands, shown by "Expand Read Command List".
extern const std::array<std::string_view, 98> expandedRead;

// The command text of an item: everything before its first "[", or the whole text if it has
// none. Works on any text, so the console also uses it on the operator's entry box.
QString commandTextOf(QStringView item);

// True if the item holds a "%" anywhere, in its command text or its description. The console
// shows the parameter legend for such an expanded item.
bool hasPlaceholder(QStringView item);

// An item as a list shows it: each tab written as blanks up to the next stop of eight
// characters. The item itself keeps its tabs; this is only how it reads on screen.
QString shownText(QStringView item);

// A catalogue item as a QString, for loading it into a list.
QString toQString(std::string_view item);

} // namespace catalogue
