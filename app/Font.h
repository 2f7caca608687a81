// app/Font.h: text drawn from the 16 x 16 glyph font texture (slot 7) with one
// display list per glyph. Owns the 256 lists; the texture belongs to the
// texture table. Everything but the record needs a current GL context.
#pragma once

#include <cstdint>

constexpr int FONT_GLYPHS       = 256;      // lists built, one per glyph
constexpr int FONT_GRID         = 16;       // glyphs per row and per column of the texture
constexpr int FONT_SET_GLYPHS   = 128;      // glyphs per character set (set 0: 0..127, set 1: 128..255)
constexpr int FONT_FIRST_CODE   = 32;       // glyph k of a set shows character k + 32
constexpr double FONT_CELL      = 0.0625;   // one cell in texture coordinates (1 / 16)

struct FontLists {
    uint32_t base = 0;   // first of 256 consecutive display lists; 0 = not built
};

// The program's font lists (built by asset loading, read by the caption).
extern FontLists fontLists;

// Builds the 256 glyph lists over `textureName` (released first if built).
// Each list draws a unit quad whose top edge takes the top of the glyph's cell
// and then moves the pen one unit right. A failed glGenLists leaves base 0.
void buildFont(FontLists& fontLists, uint32_t textureName);

// Draws the zero-terminated bytes of `text` with its baseline-left corner at
// (x, y): each glyph covers scaleX by scaleY units and advances scaleX. `set`
// picks glyphs 0..127 (0 and below) or 128..255 (1 and above). Colour, blending
// and the texture enable are the caller's. Bytes whose glyph lies outside the
// 256 lists (below 32; above 159 in set 1) are skipped without advancing.
// Returns the number of glyphs drawn; nothing is drawn before buildFont.
int drawText(const FontLists& fontLists, float x, float y, float scaleX, float scaleY, int set,
             const char* text, uint32_t textureName);

// Deletes the lists once and sets base to 0.
void releaseFont(FontLists& fontLists);
