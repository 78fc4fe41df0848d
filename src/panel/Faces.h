#pragma once

// The panel's colours as plain numbers: the button faces, the Power group and the window's
// own colours. The window paints with them, and tavo-server hands them to its page, so the
// two show the same panel.

#include "panel/ButtonTable.h"

#include <array>
#include <string_view>

namespace panel {

struct Rgb {
    int red;
    int green;
    int blue;
};

struct FaceRow {
    Face face;
    std::string_view name; // what style sheets and the page call it
    Rgb colour;
};

// Every face but the platform's plain button.
// clang-format off
inline constexpr std::array<FaceRow, 6> faces{{
    {Face::teal,   "teal",   {0,   192, 192}},
    {Face::green,  "green",  {128, 255, 128}},
    {Face::red,    "red",    {255, 128, 128}},
    {Face::orange, "orange", {255, 192, 128}},
    {Face::yellow, "yellow", {255, 255, 128}},
    {Face::cyan,   "cyan",   {192, 255, 255}},
}};
// clang-format on

// The row of a coloured face; nullptr for the plain button.
constexpr const FaceRow *faceRow(Face face) {
    for (const FaceRow &row : faces)
        if (row.face == face)
            return &row;
    return nullptr;
}

inline constexpr Rgb windowGrey{192, 192, 192};
inline constexpr Rgb transcriptWhite{255, 255, 255};
// The status text and the legends.
inline constexpr Rgb legendRed{255, 0, 0};
// The Power group's title.
inline constexpr Rgb powerTitleRed{192, 0, 0};
// The Power group's background. The desktop has no inactive-caption-text colour to ask for,
// so this is the light grey that colour has in the classic desktop scheme.
inline constexpr Rgb powerGroupGrey{212, 208, 200};

} // namespace panel
