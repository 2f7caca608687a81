// gfx/Texture.cpp: the texture table. PNG files load through SDL_image into
// surfaces; every surface is repacked into tight RGB or RGBA rows before it
// reaches GL, because SDL pads each row of a surface to a multiple of four
// bytes (its pitch) and may order the channels differently from the file.
//
// Sections:
//   --- Surfaces ---
//   --- Upload ---
//   --- Table ---
#include "gfx/Texture.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_opengl.h>
#include <GL/glu.h>

#include <cstddef>
#include <vector>

TextureTable textureTable;

namespace {

bool validSlot(int slot)
{
    return slot >= 0 && slot < TEXTURE_SLOTS;
}

// --- Surfaces ---------------------------------------------------------------------

// Owns an SDL surface for the length of one load.
class SurfaceHandle {
public:
    explicit SurfaceHandle(SDL_Surface* surface) : surface_(surface) {}
    ~SurfaceHandle()
    {
        if (surface_)
            SDL_FreeSurface(surface_);
    }
    SurfaceHandle(const SurfaceHandle&) = delete;
    SurfaceHandle& operator=(const SurfaceHandle&) = delete;

    SDL_Surface* get() const { return surface_; }

private:
    SDL_Surface* surface_;
};

// Bytes per pixel of a surface the table accepts (3 or 4), or 0 when it refuses
// it: paletted and grey images (1 byte), 16-bit surfaces, and surfaces whose
// pixel buffer is missing or shorter than their declared size.
int acceptedBytesPerPixel(const SDL_Surface* surface)
{
    if (!surface || !surface->format || !surface->pixels || surface->w <= 0 || surface->h <= 0)
        return 0;
    const int bpp = surface->format->BytesPerPixel;
    if (bpp != 3 && bpp != 4)
        return 0;
    if (surface->pitch < surface->w * bpp)
        return 0;
    return bpp;
}

// Byte offset of a channel inside one pixel, from its mask shift.
int channelByte(uint32_t shift, int bytesPerPixel)
{
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    (void)bytesPerPixel;
    return static_cast<int>(shift / 8);
#else
    return bytesPerPixel - 1 - static_cast<int>(shift / 8);
#endif
}

// Copies the surface into tight rows of `outChannels` bytes (3: R, G, B;
// 4: R, G, B, A), first image row first. Channel order comes from the surface's
// masks; a surface without an alpha mask gives alpha 255.
std::vector<uint8_t> packSurface(const SDL_Surface* surface, int outChannels)
{
    const SDL_PixelFormat* format = surface->format;
    const int bpp = format->BytesPerPixel;
    const int r = channelByte(format->Rshift, bpp);
    const int g = channelByte(format->Gshift, bpp);
    const int b = channelByte(format->Bshift, bpp);
    const int a = format->Amask ? channelByte(format->Ashift, bpp) : -1;

    std::vector<uint8_t> out(static_cast<size_t>(surface->w) * surface->h * outChannels);
    const uint8_t* base = static_cast<const uint8_t*>(surface->pixels);
    uint8_t* dst = out.data();
    for (int row = 0; row < surface->h; ++row) {
        const uint8_t* src = base + static_cast<size_t>(row) * surface->pitch;
        for (int column = 0; column < surface->w; ++column, src += bpp, dst += outChannels) {
            dst[0] = src[r];
            dst[1] = src[g];
            dst[2] = src[b];
            if (outChannels == 4)
                dst[3] = a >= 0 ? src[a] : 255;
        }
    }
    return out;
}

// --- Upload ------------------------------------------------------------------------

// Binds the slot's name, sets the filters and the modulating texture
// environment, and uploads tight rows of `format` (GL_RGB or GL_RGBA): the
// whole mipmap chain when `mipmaps` is set (level 0 alone if GLU fails),
// level 0 otherwise. Leaves texture 0 bound.
void uploadWithParameters(uint32_t name, int width, int height, GLenum format, int mipmaps,
                          const uint8_t* pixels)
{
    GLint savedAlignment = 4;
    GLint savedRowLength = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &savedRowLength);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    bool uploaded = false;
    if (mipmaps) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        uploaded = gluBuild2DMipmaps(GL_TEXTURE_2D, static_cast<GLint>(format), width, height, format,
                                     GL_UNSIGNED_BYTE, pixels) == 0;
    }
    if (!uploaded)
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format, GL_UNSIGNED_BYTE,
                     pixels);
    glBindTexture(GL_TEXTURE_2D, 0);

    glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, savedRowLength);
}

// True when the driver can hold a width x height texture; larger images are
// refused before anything of the slot changes.
bool fitsTexture(int width, int height)
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    return maxSize <= 0 || (width <= maxSize && height <= maxSize);
}

// True while a GL context can exist: SDL video is up and has a surface.
bool glContextAlive()
{
    return SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetVideoSurface() != nullptr;
}

} // namespace

// --- Table -------------------------------------------------------------------------

TextureTable::~TextureTable()
{
    // At exit the window (and with it every texture) may already be gone; GL
    // is only called while a context can still be current.
    if (!glContextAlive())
        generated = false;
    release();
}

void TextureTable::release()
{
    if (generated) {
        GLuint toDelete[TEXTURE_SLOTS];
        for (int i = 0; i < TEXTURE_SLOTS; ++i)
            toDelete[i] = names[i];
        glDeleteTextures(TEXTURE_SLOTS, toDelete);
        generated = false;
    }
    for (int i = 0; i < TEXTURE_SLOTS; ++i) {
        names[i] = 0;
        widths[i] = 0;
        heights[i] = 0;
        components[i] = 0;
    }
}

void TextureTable::generate()
{
    if (generated)
        return;
    GLuint made[TEXTURE_SLOTS] = {};
    glGenTextures(TEXTURE_SLOTS, made);
    for (int i = 0; i < TEXTURE_SLOTS; ++i)
        names[i] = made[i];
    generated = true;
}

int TextureTable::createEmpty(int width, int height, uint32_t format, int slot)
{
    if (!validSlot(slot) || width < 0 || height < 0)
        return 0;
    const GLenum chosen = format == GL_RGBA ? GL_RGBA : GL_RGB;
    const int channels = chosen == GL_RGBA ? 4 : 3;
    // Zeroed rather than left undefined, so the first frame that reads it
    // before any copy shows black.
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);

    GLint savedAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, names[slot]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(chosen), width, height, 0, chosen, GL_UNSIGNED_BYTE,
                 pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);

    components[slot] = channels;
    widths[slot] = width;
    heights[slot] = height;
    return slot;
}

int TextureTable::loadPng(const char* path, int slot, int mipmaps)
{
    if (!validSlot(slot) || !path)
        return 0;
    SurfaceHandle surface(IMG_Load(path));
    const int bpp = acceptedBytesPerPixel(surface.get());
    if (bpp == 0 || !fitsTexture(surface.get()->w, surface.get()->h))
        return 0;
    const SDL_Surface* s = surface.get();
    const std::vector<uint8_t> pixels = packSurface(s, bpp);
    components[slot] = bpp;
    uploadWithParameters(names[slot], s->w, s->h, bpp == 4 ? GL_RGBA : GL_RGB, mipmaps, pixels.data());
    widths[slot] = s->w;
    heights[slot] = s->h;
    return slot;
}

int TextureTable::loadPngWithMask(const char* colourPath, const char* maskPath, int slot, int mipmaps)
{
    if (!validSlot(slot) || !colourPath || !maskPath)
        return 0;
    SurfaceHandle colour(IMG_Load(colourPath));
    if (!colour.get())
        return 0;
    SurfaceHandle mask(IMG_Load(maskPath));
    if (!mask.get())
        return 0;
    const SDL_Surface* c = colour.get();
    const SDL_Surface* m = mask.get();
    if (c->w != m->w || c->h != m->h)
        return 0;
    // Paletted or grey images have one byte per pixel and no channels to take.
    if (acceptedBytesPerPixel(c) == 0 || acceptedBytesPerPixel(m) == 0 || !fitsTexture(c->w, c->h))
        return 0;

    std::vector<uint8_t> pixels = packSurface(c, 4);
    const std::vector<uint8_t> maskPixels = packSurface(m, 3);
    const size_t count = static_cast<size_t>(c->w) * c->h;
    for (size_t i = 0; i < count; ++i)
        pixels[4 * i + 3] = maskPixels[3 * i];   // the mask's first channel becomes alpha

    components[slot] = 4;
    uploadWithParameters(names[slot], c->w, c->h, GL_RGBA, mipmaps, pixels.data());
    widths[slot] = c->w;
    heights[slot] = c->h;
    return slot;
}

void TextureTable::copyFromFramebuffer(int x, int y, int width, int height, int slot)
{
    if (!validSlot(slot))
        return;
    glBindTexture(GL_TEXTURE_2D, names[slot]);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, x, y, width, height);
}

uint32_t TextureTable::nameOf(int slot) const
{
    if (slot == 0 || !validSlot(slot))
        return 0;
    return names[slot];
}
