#include "pixel_font.h"

namespace {

struct Glyph {
    char character;
    std::uint8_t rows[7];  // the top row first; bit 4 is the leftmost pixel
};

constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'w', {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}}, {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
    {'g', {0x00, 0x00, 0x0F, 0x11, 0x0F, 0x01, 0x0E}}, {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
};

const Glyph* glyphOf(char character)
{
    for (const Glyph& glyph : kGlyphs)
        if (glyph.character == character)
            return &glyph;
    return nullptr;
}

bool inked(const Glyph* glyph, std::int64_t column, std::int64_t row)
{
    return glyph != nullptr && column >= 0 && column < 5 && row >= 0 && row < 7 &&
           (glyph->rows[row] >> (4 - column) & 1) != 0;
}

}  // namespace

void drawText(RgbPicture& picture, std::int64_t x, std::int64_t y, std::string_view text, int scale,
              const std::uint8_t (&rgb)[3])
{
    const auto put = [&](std::int64_t px, std::int64_t py, const std::uint8_t* colour) {
        if (px < 0 || py < 0 || px >= picture.width || py >= picture.height)
            return;
        std::uint8_t* out = &picture.rgb[3 * (static_cast<std::size_t>(py) * picture.width + px)];
        out[0] = colour[0];
        out[1] = colour[1];
        out[2] = colour[2];
    };
    // Font pixel (column, row) of character i, or the outline round it: outline first.
    const std::uint8_t dark[3] = {0, 0, 0};
    for (const bool outline : {true, false}) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const Glyph* glyph = glyphOf(text[i]);
            const std::int64_t left = x + static_cast<std::int64_t>(i) * 6 * scale;
            for (std::int64_t row = -1; row <= 7; ++row) {
                for (std::int64_t column = -1; column <= 5; ++column) {
                    bool near = inked(glyph, column, row);
                    for (int d = 0; outline && !near && d < 9; ++d)
                        near = inked(glyph, column + d % 3 - 1, row + d / 3 - 1);
                    if (!near || (!outline && !inked(glyph, column, row)))
                        continue;
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            put(left + column * scale + dx, y + row * scale + dy, outline ? dark : rgb);
                }
            }
        }
    }
}
