#pragma once

// The control panel's design data: the titled groups, the 68 buttons and the
// commands of the twelve repeat buttons. Positions are in twips, relative to the
// group's frame or, for buttons standing on the window, to the client area.

#include <array>
#include <cstddef>
#include <string_view>

namespace panel {

struct TwipsBox {
    int left;
    int top;
    int width;
    int height;
};

enum class Align { leftAligned, centred };

struct GroupRow {
    std::string_view frame;      // objectName of the QFrame
    std::string_view titleLabel; // objectName of the QLabel holding the title
    std::string_view title;
    TwipsBox frameAt; // in the client area
    TwipsBox titleAt; // in the frame
    Align titleAlign;
};

using enum Align;

// clang-format off
inline constexpr std::array<GroupRow, 19> groups{{
    {"Frame1",  "Label1",  "Power",       {120,  0,    975,  1520}, {120, 240, 735,  255}, centred},
    {"Frame2",  "Label2",  "Computer 1",  {1200, 0,    1620, 1575}, {120, 120, 1335, 255}, centred},
    {"Frame8",  "Label15", "Computer 2",  {2880, 0,    1785, 735},  {360, 120, 1095, 255}, leftAligned},
    {"Frame12", "Label21", "HDMI",        {2880, 840,  1785, 735},  {360, 120, 975,  255}, centred},
    {"Frame11", "Label19", "Video",       {4725, 15,   1785, 735},  {600, 120, 615,  255}, leftAligned},
    {"Frame18", "Label22", "S-VIDEO",     {4725, 840,  1785, 735},  {480, 120, 855,  255}, leftAligned},
    {"Frame5",  "Label6",  "Screen",      {6600, 0,    1650, 1575}, {240, 120, 975,  255}, centred},
    {"Frame21", "Label18", "Lamp Mode",   {8400, 0,    1695, 1890}, {360, 120, 1200, 255}, leftAligned},
    {"Frame3",  "Label4",  "Audio Mute",  {120,  1600, 1935, 732},  {360, 120, 1335, 255}, centred},
    {"Frame4",  "Label5",  "Video Mute",  {2173, 1600, 1935, 732},  {360, 120, 1215, 255}, leftAligned},
    {"Frame7",  "Label8",  "Freeze",      {4226, 1600, 1935, 732},  {360, 120, 1215, 255}, centred},
    {"Frame13", "Label23", "On Start",    {6279, 1600, 1935, 732},  {480, 120, 1215, 255}, leftAligned},
    {"Frame14", "Label20", "MIC",         {8400, 2040, 1695, 1425}, {240, 240, 1095, 255}, centred},
    {"Frame6",  "Label7",  "Menu",        {120,  2400, 2700, 1935}, {960, 120, 975,  255}, centred},
    {"Frame19", "Label3",  "Volume",      {2940, 2400, 1230, 1095}, {240, 120, 735,  255}, centred},
    {"Frame17", "Label16", "Bright",      {4290, 2400, 1230, 1095}, {360, 120, 555,  255}, leftAligned},
    {"Frame16", "Label17", "D.Zoom",      {5640, 2400, 1230, 1095}, {300, 120, 645,  255}, leftAligned},
    {"Frame10", "Label13", "Keystone",    {6990, 2400, 1230, 1095}, {220, 120, 900,  255}, leftAligned},
    {"Frame20", "Label14", "R/C Key Off", {2940, 4600, 5240, 555},  {120, 180, 1335, 255}, centred},
}};
// clang-format on

// The group drawn in the platform's inactive-caption-text colour with a dark red title.
inline constexpr std::string_view powerGroup = "Power";

enum class Arrow { none, up, down, left, right };

// The word for an arrow picture, where words stand in for it (names, screen readers).
constexpr std::string_view arrowDirection(Arrow arrow) {
    switch (arrow) {
    case Arrow::up:
        return "up";
    case Arrow::down:
        return "down";
    case Arrow::left:
        return "left";
    case Arrow::right:
        return "right";
    case Arrow::none:
        break;
    }
    return {};
}

// A button shows either a text or an arrow picture, never both.
struct Caption {
    std::string_view text;
    Arrow arrow = Arrow::none;
};
constexpr Caption text(std::string_view caption) { return {caption, Arrow::none}; }
constexpr Caption picture(Arrow arrow) { return {{}, arrow}; }

enum class Face { standard, teal, green, red, orange, yellow, cyan };

enum class KindOf { click, hold, windowCommand };

struct Kind {
    KindOf of;
    int repeatCode = 0; // 1 to 12 for a hold button
};
inline constexpr Kind click{KindOf::click};
inline constexpr Kind windowCommand{KindOf::windowCommand};
constexpr Kind hold(int repeatCode) { return {KindOf::hold, repeatCode}; }

struct ButtonRow {
    std::string_view control;
    Caption caption;
    // What a screen reader says for the button, and what any other front end calls it:
    // unique among the 68, where captions are not ("On" five times), and beginning with the
    // group's title where the caption alone would not say which button it is.
    std::string_view name;
    std::string_view group; // a group title, or onWindow
    TwipsBox at;
    Face face;
    Kind kind;
    std::string_view sends; // without the carriage return; empty for window commands
};

inline constexpr std::string_view onWindow{};

using enum Arrow;
using enum Face;

// clang-format off
inline constexpr std::array<ButtonRow, 68> buttons{{
    {"Command17", text("On"),               "Power On",              "Power",       {180,  600,  615,  300}, green,    click,         "C00"},
    {"Command18", text("Off"),              "Power Off",             "Power",       {180,  1080, 615,  300}, red,      click,         "C01"},
    {"Command28", text("Analog RGB"),       "Computer 1 Analog RGB", "Computer 1",  {120,  480,  1300, 300}, teal,     click,         "C50"},
    {"Command53", text("Component"),        "Computer 1 Component",  "Computer 1",  {120,  840,  1300, 300}, teal,     click,         "C54"},
    {"Command29", text("Scart"),            "Computer 1 Scart",      "Computer 1",  {120,  1200, 1300, 300}, teal,     click,         "C51"},
    {"Command11", text("Analog RGB"),       "Computer 2 Analog RGB", "Computer 2",  {243,  360,  1300, 300}, teal,     click,         "C06"},
    {"Command39", text("HDMI"),             "HDMI",                  "HDMI",        {243,  360,  1300, 300}, teal,     click,         "C04"},
    {"Command12", text("Video"),            "Video",                 "Video",       {243,  360,  1300, 300}, teal,     click,         "C07"},
    {"Command27", text("S-VIDEO"),          "S-VIDEO",               "S-VIDEO",     {240,  360,  1300, 300}, teal,     click,         "C34"},
    {"Command32", text("Full"),             "Screen Full",           "Screen",      {120,  500,  1400, 300}, teal,     click,         "C10"},
    {"Command31", text("Normal"),           "Screen Normal",         "Screen",      {120,  1080, 1400, 300}, teal,     click,         "C0F"},
    {"Command9",  text("AUTO"),             "Lamp Mode AUTO",        "Lamp Mode",   {120,  360,  1460, 300}, teal,     click,         "CF LAMPMODE AUTO"},
    {"Command68", text("Normal"),           "Lamp Mode Normal",      "Lamp Mode",   {120,  720,  1460, 300}, teal,     click,         "CF LAMPMODE NORMAL"},
    {"Command75", text("Eco 1"),            "Lamp Mode Eco 1",       "Lamp Mode",   {120,  1080, 1460, 300}, teal,     click,         "CF LAMPMODE ECO1"},
    {"Command40", text("Eco 2"),            "Lamp Mode Eco 2",       "Lamp Mode",   {120,  1440, 1460, 300}, teal,     click,         "CF LAMPMODE ECO2"},
    {"Command19", text("On"),               "Audio Mute On",         "Audio Mute",  {120,  360,  800,  300}, green,    click,         "C0B"},
    {"Command20", text("Off"),              "Audio Mute Off",        "Audio Mute",  {1015, 360,  800,  300}, red,      click,         "C0C"},
    {"Command21", text("On"),               "Video Mute On",         "Video Mute",  {120,  360,  800,  300}, green,    click,         "C0D"},
    {"Command22", text("Off"),              "Video Mute Off",        "Video Mute",  {1015, 360,  800,  300}, red,      click,         "C0E"},
    {"Command25", text("On"),               "Freeze On",             "Freeze",      {120,  360,  800,  300}, green,    click,         "C43"},
    {"Command26", text("Off"),              "Freeze Off",            "Freeze",      {1015, 360,  800,  300}, red,      click,         "C44"},
    {"Command69", text("Enable"),           "On Start Enable",       "On Start",    {120,  360,  800,  300}, green,    click,         "C28"},
    {"Command70", text("Disable"),          "On Start Disable",      "On Start",    {1040, 360,  800,  300}, red,      click,         "C29"},
    {"Command41", text("ON"),               "MIC ON",                "MIC",         {120,  600,  1460, 300}, green,    click,         "CF MIC ON"},
    {"Command43", text("OFF"),              "MIC OFF",               "MIC",         {120,  960,  1460, 300}, red,      click,         "CF MIC OFF"},
    {"Command23", text("On"),               "Menu On",               "Menu",        {120,  360,  750,  300}, green,    click,         "C1C"},
    {"Command24", text("Off"),              "Menu Off",              "Menu",        {120,  840,  750,  300}, red,      click,         "C1D"},
    {"Command6",  text("Enter"),            "Menu Enter",            "Menu",        {120,  1320, 750,  300}, orange,   click,         "C3F"},
    {"Command5",  picture(up),              "Menu up",               "Menu",        {1440, 360,  735,  300}, yellow,   hold(3),       "C3C"},
    {"Command38", picture(left),            "Menu left",             "Menu",        {990,  840,  735,  300}, yellow,   hold(5),       "C3B"},
    {"Command8",  picture(right),           "Menu right",            "Menu",        {1845, 840,  735,  300}, yellow,   hold(6),       "C3A"},
    {"Command7",  picture(down),            "Menu down",             "Menu",        {1440, 1320, 735,  300}, yellow,   hold(4),       "C3D"},
    {"Command1",  picture(up),              "Volume up",             "Volume",      {120,  360,  990,  255}, yellow,   hold(1),       "C09"},
    {"Command2",  picture(down),            "Volume down",           "Volume",      {120,  720,  990,  255}, yellow,   hold(2),       "C0A"},
    {"Command30", picture(up),              "Bright up",             "Bright",      {120,  360,  990,  255}, yellow,   hold(7),       "C20"},
    {"Command42", picture(down),            "Bright down",           "Bright",      {120,  720,  990,  255}, yellow,   hold(8),       "C21"},
    {"Command48", picture(up),              "D.Zoom up",             "D.Zoom",      {120,  360,  990,  255}, yellow,   hold(9),       "C30"},
    {"Command49", picture(down),            "D.Zoom down",           "D.Zoom",      {120,  720,  990,  255}, yellow,   hold(10),      "C31"},
    {"Command10", picture(up),              "Keystone up",           "Keystone",    {120,  360,  990,  255}, yellow,   hold(11),      "C8E"},
    {"Command35", picture(down),            "Keystone down",         "Keystone",    {120,  720,  990,  255}, yellow,   hold(12),      "C8F"},
    {"Command4",  text("Standard"),         "Standard",              onWindow,      {2940, 3600, 1095, 300}, teal,     click,         "C11"},
    {"Command36", text("Real"),             "Real",                  onWindow,      {4050, 3600, 1095, 300}, teal,     click,         "C12"},
    {"Command37", text("Cinema"),           "Cinema",                onWindow,      {5160, 3600, 1095, 300}, teal,     click,         "C13"},
    {"Command50", text("Image 1"),          "Image 1",               onWindow,      {2940, 3910, 1095, 300}, teal,     click,         "C14"},
    {"Command51", text("Image 2"),          "Image 2",               onWindow,      {4050, 3910, 1095, 300}, teal,     click,         "C15"},
    {"Command52", text("Image 3"),          "Image 3",               onWindow,      {5160, 3910, 1095, 300}, teal,     click,         "C16"},
    {"Command57", text("Image 4"),          "Image 4",               onWindow,      {2940, 4230, 1095, 300}, teal,     click,         "C17"},
    {"Command58", text("B.Board"),          "B.Board",               onWindow,      {4050, 4230, 1095, 300}, teal,     click,         "C18"},
    {"Command59", text("Dynamic"),          "Dynamic",               onWindow,      {5160, 4230, 1095, 300}, teal,     click,         "C19"},
    {"Command3",  text("Display Clear"),    "Display Clear",         onWindow,      {6480, 3600, 1740, 300}, teal,     click,         "C1E"},
    {"Command73", text("Image (Toggle)"),   "Image (Toggle)",        onWindow,      {6450, 3910, 1740, 300}, teal,     click,         "C27"},
    {"Command15", text("Image Colorboard"), "Image Colorboard",      onWindow,      {6450, 4230, 1740, 300}, teal,     click,         "C39"},
    {"Command13", text("Auto Pc Adj"),      "Auto Pc Adj",           onWindow,      {8200, 3600, 1830, 300}, teal,     click,         "C89"},
    {"Command14", text("P-Timer"),          "P-Timer",               onWindow,      {8200, 3910, 1830, 300}, teal,     click,         "C8A"},
    {"Command34", text("P-Timer (Exit)"),   "P-Timer (Exit)",        onWindow,      {8200, 4230, 1830, 300}, teal,     click,         "C8B"},
    {"Command60", text("NONE"),             "R/C Key Off NONE",      "R/C Key Off", {1560, 150,  1095, 300}, teal,     click,         "CF KEYDIS NONE"},
    {"Command61", text("R/C"),              "R/C Key Off R/C",       "R/C Key Off", {2760, 150,  1095, 300}, teal,     click,         "CF KEYDIS RC"},
    {"Command62", text("KEY"),              "R/C Key Off KEY",       "R/C Key Off", {3990, 150,  1095, 300}, teal,     click,         "CF KEYDIS KEY"},
    {"Command16", text("END"),              "END",                   onWindow,      {8520, 4680, 1500, 375}, standard, windowCommand, ""},
    {"Command44", text("Status"),           "Status",                onWindow,      {8520, 5380, 1500, 300}, cyan,     click,         "CR0"},
    {"Command45", text("Input Mode"),       "Input Mode",            onWindow,      {8520, 5680, 1500, 300}, cyan,     click,         "CR1"},
    {"Command54", text("Temp"),             "Temp",                  onWindow,      {8520, 5980, 1500, 300}, cyan,     click,         "CR6"},
    {"Command47", text("Setting"),          "Setting",               onWindow,      {8520, 6280, 1500, 300}, cyan,     click,         "CR4"},
    {"Command46", text("Lamp Time"),        "Lamp Time",             onWindow,      {8520, 6580, 1500, 300}, cyan,     click,         "CR3"},
    {"Command55", text("Lamp Status"),      "Lamp Status",           onWindow,      {8520, 6880, 1500, 300}, cyan,     click,         "CR LAMPSTS"},
    {"Command76", text("Lamp Mode"),        "Lamp Mode",             onWindow,      {8520, 7180, 1500, 300}, cyan,     click,         "CR7"},
    {"Command74", text("Command Table"),    "Command Table",         onWindow,      {6480, 6660, 1850, 375}, standard, windowCommand, ""},
    {"Command33", text("COM"),              "COM",                   onWindow,      {6480, 7080, 1850, 375}, standard, windowCommand, ""},
}};
// clang-format on

// "END" is the one caption in 12 points; every other caption is in the window's size.
inline constexpr std::string_view largeCaptionControl = "Command16";

struct RepeatRow {
    int repeatCode;
    std::string_view control;
    std::string_view group;
    Arrow arrow;
    std::string_view sends;
};

// What a repeat button sends, both on its press and on every tick while it is held.
// clang-format off
inline constexpr std::array<RepeatRow, 12> repeats{{
    {1,  "Command1",  "Volume",   up,    "C09"},
    {2,  "Command2",  "Volume",   down,  "C0A"},
    {3,  "Command5",  "Menu",     up,    "C3C"},
    {4,  "Command7",  "Menu",     down,  "C3D"},
    {5,  "Command38", "Menu",     left,  "C3B"},
    {6,  "Command8",  "Menu",     right, "C3A"},
    {7,  "Command30", "Bright",   up,    "C20"},
    {8,  "Command42", "Bright",   down,  "C21"},
    {9,  "Command48", "D.Zoom",   up,    "C30"},
    {10, "Command49", "D.Zoom",   down,  "C31"},
    {11, "Command10", "Keystone", up,    "C8E"},
    {12, "Command35", "Keystone", down,  "C8F"},
}};
// clang-format on

// The code a repeat button sends, or an empty view for a number no button has.
constexpr std::string_view repeatCommand(int repeatCode) {
    if (repeatCode < 1 || repeatCode > int(repeats.size()))
        return {};
    return repeats[std::size_t(repeatCode - 1)].sends;
}

// --- consistency of the tables, checked by the compiler -------------------------------

namespace checks {

constexpr bool groupExists(std::string_view title) {
    for (const GroupRow &group : groups)
        if (group.title == title)
            return true;
    return false;
}

constexpr bool everyButtonInAKnownGroup() {
    for (const ButtonRow &row : buttons)
        if (row.group != onWindow && !groupExists(row.group))
            return false;
    return true;
}

constexpr bool namesUnique() {
    for (std::size_t i = 0; i < buttons.size(); ++i)
        for (std::size_t j = i + 1; j < buttons.size(); ++j)
            if (buttons[i].control == buttons[j].control || buttons[i].name == buttons[j].name)
                return false;
    for (std::size_t i = 0; i < groups.size(); ++i)
        for (std::size_t j = i + 1; j < groups.size(); ++j)
            if (groups[i].frame == groups[j].frame || groups[i].title == groups[j].title)
                return false;
    return true;
}

constexpr int countOf(KindOf kind) {
    int count = 0;
    for (const ButtonRow &row : buttons)
        count += row.kind.of == kind ? 1 : 0;
    return count;
}

// Every button either has a caption or a picture; holds are exactly the yellow
// picture buttons; only window commands send nothing.
constexpr bool rowsWellFormed() {
    for (const ButtonRow &row : buttons) {
        const bool isHold = row.kind.of == KindOf::hold;
        if (isHold != (row.caption.arrow != Arrow::none) || isHold != (row.face == Face::yellow))
            return false;
        if (!isHold && row.caption.text.empty())
            return false;
        if ((row.kind.of == KindOf::windowCommand) != row.sends.empty())
            return false;
        if ((row.kind.of == KindOf::windowCommand) != (row.face == Face::standard))
            return false;
    }
    return true;
}

// A button's name says what the operator sees on it: its caption, or its arrow's direction,
// after the group's title, unless the button stands on the window or its caption is the title.
constexpr bool namesSayWhatIsShown() {
    for (const ButtonRow &row : buttons) {
        const std::string_view shown =
            row.caption.arrow == Arrow::none ? row.caption.text : arrowDirection(row.caption.arrow);
        if (shown.empty())
            return false;
        if (row.group == onWindow || row.group == shown) {
            if (row.name != shown)
                return false;
        } else if (row.name.size() != row.group.size() + 1 + shown.size() || !row.name.starts_with(row.group) ||
                   row.name[row.group.size()] != ' ' || !row.name.ends_with(shown)) {
            return false;
        }
    }
    return true;
}

// The repeat table is numbered 1 to 12 in order, and each hold button's row agrees
// with it on control, group, picture and code.
constexpr bool repeatsAgreeWithButtons() {
    for (std::size_t i = 0; i < repeats.size(); ++i)
        if (repeats[i].repeatCode != int(i + 1))
            return false;
    for (const ButtonRow &row : buttons) {
        if (row.kind.of != KindOf::hold)
            continue;
        if (row.kind.repeatCode < 1 || row.kind.repeatCode > int(repeats.size()))
            return false;
        const RepeatRow &repeat = repeats[std::size_t(row.kind.repeatCode - 1)];
        if (repeat.control != row.control || repeat.group != row.group || repeat.arrow != row.caption.arrow ||
            repeat.sends != row.sends)
            return false;
    }
    return true;
}

static_assert(everyButtonInAKnownGroup());
static_assert(namesUnique());
static_assert(countOf(KindOf::click) == 53);
static_assert(countOf(KindOf::hold) == 12);
static_assert(countOf(KindOf::windowCommand) == 3);
static_assert(rowsWellFormed());
static_assert(namesSayWhatIsShown());
static_assert(repeatsAgreeWithButtons());

} // namespace checks

} // namespace panel
