#pragma once

#include <QRect>
#include <cmath>

// Window design data is in twips (1440 to the inch); Qt lays out in device-independent
// pixels, 96 to the inch, and scales those itself on high-DPI screens.
constexpr int twipsPerPixel = 15;

constexpr int twipsToPixels(int twips) {
    return twips >= 0 ? (twips + twipsPerPixel / 2) / twipsPerPixel : -((-twips + twipsPerPixel / 2) / twipsPerPixel);
}
constexpr int pixelsToTwips(int pixels) { return pixels * twipsPerPixel; }

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}
