// A 5 × 7 pixel font for the labels of the checking pictures: digits, the letters of the
// compass points and of the texture names, and a few signs.
#pragma once

#include <cstdint>
#include <string_view>

#include "texture_views.h"

// Writes `text` with its top-left corner at (x, y), every font pixel a `scale` × `scale`
// square of `rgb`, on a one-pixel dark outline so that it reads on any background.
// Characters outside the font are left as gaps; pixels outside the picture are skipped.
void drawText(RgbPicture& picture, std::int64_t x, std::int64_t y, std::string_view text, int scale,
              const std::uint8_t (&rgb)[3]);

// The size `text` takes at `scale`.
constexpr std::int64_t textWidth(std::string_view text, int scale)
{
    return text.empty() ? 0 : static_cast<std::int64_t>(text.size()) * 6 * scale - scale;
}
constexpr std::int64_t textHeight(int scale) { return 7 * scale; }
