// Where the launcher puts things on its skin, in the skin image's pixels.
// This is the one table of these places: scripts/make-artwork.py reads the
// `constexpr SkinBox` lines below to draw the skin's button plates and the
// browser's frame, so keep each on one line in this form.
#pragma once

struct SkinBox {
    int x;
    int y;
    int width;
    int height;
};

constexpr SkinBox kCloseButtonBox = {1110, 174, 35, 31};
constexpr SkinBox kMinimiseButtonBox = {1070, 174, 35, 31};
constexpr SkinBox kClearButtonBox = {720, 185, 73, 24};
constexpr SkinBox kRepairButtonBox = {665, 185, 42, 24};
constexpr SkinBox kBrowserBox = {488, 232, 670, 400};
// Only its position is the launcher's; its size is the logo image's.
constexpr SkinBox kLogoBox = {760, 70, 369, 177};
