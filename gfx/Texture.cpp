// gfx/Texture.cpp: minimal texture table (names only) so the isosurface can
// link and be tested before the full table lands. Loading is not done here.
#include "gfx/Texture.h"

#include <SDL_opengl.h>

TextureTable textureTable;

TextureTable::~TextureTable()
{
    release();
}

void TextureTable::release()
{
    if (generated) {
        glDeleteTextures(TEXTURE_SLOTS, names);
        generated = false;
    }
    for (int i = 0; i < TEXTURE_SLOTS; ++i)
        names[i] = widths[i] = heights[i] = components[i] = 0;
}

void TextureTable::generate()
{
    if (generated)
        return;
    glGenTextures(TEXTURE_SLOTS, names);
    generated = true;
}

int TextureTable::createEmpty(int, int, uint32_t, int slot)
{
    return slot;
}

int TextureTable::loadPng(const char*, int, int)
{
    return 0;
}

int TextureTable::loadPngWithMask(const char*, const char*, int, int)
{
    return 0;
}

void TextureTable::copyFromFramebuffer(int, int, int, int, int)
{
}

uint32_t TextureTable::nameOf(int slot) const
{
    return slot == 0 ? 0 : names[slot];
}
