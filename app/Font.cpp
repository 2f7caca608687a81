// app/Font.cpp: glyph display lists and text drawing.
#include "app/Font.h"

#include "gl/GL.h"

#include <cstring>
#include <string>

FontLists fontLists;

namespace {

// Glyph of byte `code` in character set `set` (0 or 1): the list index relative
// to base; valid when 0 <= glyph < FONT_GLYPHS.
int glyphOf(unsigned char code, int set)
{
    return static_cast<int>(code) - FONT_FIRST_CODE + FONT_SET_GLYPHS * set;
}

} // namespace

void buildFont(FontLists& lists, uint32_t textureName)
{
    releaseFont(lists);
    lists.base = glGenLists(FONT_GLYPHS);
    if (lists.base == 0)
        return;
    glBindTexture(GL_TEXTURE_2D, textureName);
    for (int g = 0; g < FONT_GLYPHS; ++g) {
        const double u = (g % FONT_GRID) * FONT_CELL;
        const double v = (g / FONT_GRID) * FONT_CELL;
        glNewList(lists.base + g, GL_COMPILE);
        glBegin(GL_QUADS);
        glTexCoord2d(u, v);
        glVertex2i(0, 1);
        glTexCoord2d(u + FONT_CELL, v);
        glVertex2i(1, 1);
        glTexCoord2d(u + FONT_CELL, v + FONT_CELL);
        glVertex2i(1, 0);
        glTexCoord2d(u, v + FONT_CELL);
        glVertex2i(0, 0);
        glEnd();
        glTranslated(1.0, 0.0, 0.0);
        glEndList();
    }
}

int drawText(const FontLists& lists, float x, float y, float scaleX, float scaleY, int set,
             const char* text, uint32_t textureName)
{
    if (lists.base == 0 || !text)
        return 0;
    const int s = set < 1 ? 0 : 1;
    const size_t length = std::strlen(text);

    // The common case draws the caller's bytes as they are; a string with
    // bytes outside the built lists is drawn from a copy without them, since
    // those list numbers may belong to other display lists or to none.
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t count = length;
    std::string kept;
    for (size_t i = 0; i < length; ++i) {
        const int glyph = glyphOf(bytes[i], s);
        if (glyph < 0 || glyph >= FONT_GLYPHS) {
            kept.reserve(length);
            for (size_t j = 0; j < length; ++j) {
                const int g = glyphOf(bytes[j], s);
                if (g >= 0 && g < FONT_GLYPHS)
                    kept.push_back(static_cast<char>(bytes[j]));
            }
            bytes = reinterpret_cast<const unsigned char*>(kept.data());
            count = kept.size();
            break;
        }
    }

    glBindTexture(GL_TEXTURE_2D, textureName);
    glPushMatrix();
    glTranslatef(x, y, 0.0f);
    // base - 32 + 128 s, with the unsigned wrap GL applies to list offsets.
    glListBase(lists.base - FONT_FIRST_CODE + FONT_SET_GLYPHS * s);
    glScalef(scaleX, scaleY, 1.0f);
    if (count > 0)
        glCallLists(static_cast<GLsizei>(count), GL_UNSIGNED_BYTE, bytes);
    glPopMatrix();
    return static_cast<int>(count);
}

void releaseFont(FontLists& lists)
{
    if (lists.base != 0) {
        glDeleteLists(lists.base, FONT_GLYPHS);
        lists.base = 0;
    }
}
