// gfx/Texture.cpp: the texture table. PNG files load through SDL_image into
// surfaces; every surface is repacked into tight RGB or RGBA rows before it
// reaches GL, because SDL pads each row of a surface to a multiple of four
// bytes (its pitch) and may order the channels differently from the file.
//
// Before SDL_image sees a file, the file is checked: a PNG is read through
// once with our own libpng handlers (gfx/PngFile.h), so an image too large to
// decode is refused from its header and a damaged one with libpng's reason; a
// BMP is checked from its header. Every failed load prints one line naming
// the file and the reason.
//
// Sections:
//   --- Image files ---
//   --- Surfaces ---
//   --- Upload ---
//   --- Table ---
#include "gfx/Texture.h"

#include "base/Report.h"
#include "base/SafeFile.h"
#include "gfx/PngFile.h"
#include "gl/GL.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TextureTable textureTable;

namespace {

bool validSlot(int slot)
{
    return slot >= 0 && slot < TEXTURE_SLOTS;
}

// --- Image files ------------------------------------------------------------------

// One line on stderr for a load that failed: the file, the reason and what
// happens to the slot. Loads run at start-up, once per file.
void reportFailure(const char* path, const std::string& reason, int slot)
{
    reportLine("The image %s could not be loaded (%s): texture slot %d is left as it was.\n", path,
               reason.c_str(), slot);
}

uint32_t readLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What the file check learnt: the libpng warning to pass on, if any.
struct ImageCheck {
    std::string warning;
    bool        palettedPng = false;   // a paletted PNG: a mask takes its indices
};

// Width and height of a BMP from its header (the two header layouts SDL reads).
bool bmpSize(const uint8_t* head, size_t got, uint32_t& width, uint32_t& height)
{
    if (got < 26)
        return false;
    const uint32_t infoSize = readLe32(head + 14);
    if (infoSize == 12) {
        width = uint32_t(head[18]) | uint32_t(head[19]) << 8;
        height = uint32_t(head[20]) | uint32_t(head[21]) << 8;
        return true;
    }
    const int32_t w = static_cast<int32_t>(readLe32(head + 18));
    const int32_t h = static_cast<int32_t>(readLe32(head + 22));
    width = w < 0 ? 0u - uint32_t(w) : uint32_t(w);        // a negative height means rows top first
    height = h < 0 ? 0u - uint32_t(h) : uint32_t(h);
    return true;
}

// Checks the file at `path` before SDL_image decodes it: it must be a regular
// file holding a PNG (read through once, see checkPngFile) or a BMP within the
// size limits. Anything else SDL_image could read is refused, since its size
// cannot be known before decoding. False with `reason` when refused.
bool checkImageFile(const char* path, ImageCheck& check, std::string& reason)
{
    const int fd = openForReading(path);   // never waits on a pipe; refused below
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info;
    uint8_t head[32] = {};
    ssize_t got = -1;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular)
        got = pread(fd, head, sizeof head, 0);
    const int readErrno = errno;
    close(fd);
    if (!regular) {
        reason = "not a regular file";
        return false;
    }
    if (got < 0) {
        reason = std::strerror(readErrno);
        return false;
    }
    if (got == 0) {
        reason = "the file is empty";
        return false;
    }
    static const uint8_t PNG_SIGNATURE[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    if (got >= 8 && std::memcmp(head, PNG_SIGNATURE, 8) == 0) {
        PngCheck png;
        if (!checkPngFile(path, png, reason))
            return false;
        check.warning = png.warning;
        check.palettedPng = png.paletted;
        return true;
    }
    uint32_t width = 0, height = 0;
    if (head[0] == 'B' && head[1] == 'M' && bmpSize(head, size_t(got), width, height)) {
        if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE ||
            uint64_t(width) * height * 4 > IMAGE_MAX_DECODED_BYTES) {
            char text[160];
            std::snprintf(text, sizeof text, "%u x %u pixels, over the limit of %u a side", width, height,
                          IMAGE_MAX_SIDE);
            reason = text;
            return false;
        }
        return true;
    }
    reason = "not a PNG image";
    return false;
}

// Runs `load` with stderr sent to /dev/null. Used only for a file whose check
// already reported libpng's warning in our own line: SDL_image's libpng would
// print the same warning again, bare.
template <typename F>
SDL_Surface* withQuietStderr(F load)
{
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = saved >= 0 ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    if (null >= 0) {
        dup2(null, 2);
        close(null);
    }
    SDL_Surface* surface = load();
    if (saved >= 0) {
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
    }
    return surface;
}

// Checks and decodes one image file. Null with `reason` when it is refused;
// `checked` (if given) gets what the check learnt.
SDL_Surface* loadImageSurface(const char* path, std::string& reason, ImageCheck* checked = nullptr)
{
    ImageCheck check;
    const bool fine = checkImageFile(path, check, reason);
    if (checked)
        *checked = check;
    if (!fine)
        return nullptr;
    SDL_Surface* surface = nullptr;
    if (check.warning.empty()) {
        surface = IMG_Load(path);
    } else {
        reportLine("The image %s is damaged but readable (%s): it is loaded as it decodes.\n", path,
                   check.warning.c_str());
        surface = withQuietStderr([path] { return IMG_Load(path); });
    }
    if (!surface)
        reason = IMG_GetError();
    return surface;
}

// --- Surfaces ---------------------------------------------------------------------

// Owns an SDL surface for the length of one load.
class SurfaceHandle {
public:
    explicit SurfaceHandle(SDL_Surface* surface) : surface_(surface) {}
    ~SurfaceHandle() { reset(); }
    SurfaceHandle(const SurfaceHandle&) = delete;
    SurfaceHandle& operator=(const SurfaceHandle&) = delete;

    SDL_Surface* get() const { return surface_; }
    void reset()   // frees the surface early, once its pixels are copied
    {
        if (surface_)
            SDL_FreeSurface(surface_);
        surface_ = nullptr;
    }

private:
    SDL_Surface* surface_;
};

// Bytes per pixel of a surface (1 to 4), or 0 when its pixel buffer is missing
// or shorter than its declared size.
int surfaceBytesPerPixel(const SDL_Surface* surface)
{
    if (!surface || !surface->format || !surface->pixels || surface->w <= 0 || surface->h <= 0)
        return 0;
    const int bpp = surface->format->BytesPerPixel;
    if (bpp < 1 || bpp > 4 || surface->pitch < surface->w * bpp)
        return 0;
    return bpp;
}

// A grey PNG with a transparency chunk decodes to two bytes a pixel, grey
// then alpha, with the red and green masks on those bytes and blue beyond
// them; a 16-bit colour image (5-6-5, 5-5-5) packs all three into the two.
bool isGreyWithAlpha(const SDL_Surface* surface)
{
    const SDL_PixelFormat* f = surface->format;
    const auto oneByte = [](uint32_t mask) { return mask == 0xFFu || mask == 0xFF00u; };
    return f->BytesPerPixel == 2 && oneByte(f->Rmask) && oneByte(f->Gmask) && f->Rmask != f->Gmask &&
           (f->Bmask & 0xFFFFu) == 0;
}

// Why the table refuses a surface as a colour image (3 or 4 bytes per pixel
// are taken), or empty when it accepts it.
std::string colourRefusal(const SDL_Surface* surface)
{
    const int bpp = surfaceBytesPerPixel(surface);
    if (bpp == 3 || bpp == 4)
        return std::string();
    if (bpp == 1)
        return "a paletted or grey image; colour images need RGB or RGBA";
    if (bpp == 2 && isGreyWithAlpha(surface))
        return "a grey image with a transparent grey level; colour images need RGB or RGBA";
    if (bpp == 2)
        return "16-bit colour pixels; colour images need 8 bits per channel, RGB or RGBA";
    return "the decoded image has no usable pixels";
}

// A mask may also be one grey or palette byte per pixel, or grey with the
// alpha of a transparency chunk: that grey (or index) byte is the alpha.
// 16-bit colour pixels have no byte channel to take.
std::string maskRefusal(const SDL_Surface* surface)
{
    const int bpp = surfaceBytesPerPixel(surface);
    if (bpp == 1 || bpp == 3 || bpp == 4 || (bpp == 2 && isGreyWithAlpha(surface)))
        return std::string();
    if (bpp == 2)
        return "16-bit colour pixels; a mask needs 8-bit grey, paletted, RGB or RGBA pixels";
    return "the decoded image has no usable pixels";
}

// Byte offset of a channel inside one pixel, from its mask.
// From the mask, not the surface's shift fields: the browser's SDL fills in
// the masks of the surfaces it decodes, but leaves their shifts at 0.
int channelByte(uint32_t mask, int bytesPerPixel)
{
    uint32_t shift = 0;
    while (mask && !(mask & 1u)) {
        mask >>= 1;
        ++shift;
    }
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
    const int r = channelByte(format->Rmask, bpp);
    const int g = channelByte(format->Gmask, bpp);
    const int b = channelByte(format->Bmask, bpp);
    const int a = format->Amask ? channelByte(format->Amask, bpp) : -1;

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

// Per pixel, the byte the mask gives as alpha, first image row first: byte 0
// of a one-byte pixel (a grey level or palette index), the grey byte of grey
// with alpha, the red channel of an RGB or RGBA pixel.
std::vector<uint8_t> maskAlpha(const SDL_Surface* mask)
{
    const int bpp = mask->format->BytesPerPixel;
    const int at = bpp >= 2 ? channelByte(mask->format->Rmask, bpp) : 0;
    std::vector<uint8_t> alpha(static_cast<size_t>(mask->w) * mask->h);
    const uint8_t* base = static_cast<const uint8_t*>(mask->pixels);
    uint8_t* dst = alpha.data();
    for (int row = 0; row < mask->h; ++row) {
        const uint8_t* src = base + static_cast<size_t>(row) * mask->pitch;
        for (int column = 0; column < mask->w; ++column, src += bpp)
            *dst++ = src[at];
    }
    return alpha;
}

// --- Upload ------------------------------------------------------------------------

// Binds the slot's name, sets the filters and the modulating texture
// environment, and uploads tight rows of `format` (GL_RGB or GL_RGBA): the
// whole mipmap chain when `mipmaps` is set (level 0 alone if GLU fails),
// level 0 otherwise. Leaves texture 0 bound. `width` and `height` come back
// as the size of level 0 as uploaded: GLU scales an image whose sides are not
// powers of two to sides that are before it builds the chain.
void uploadWithParameters(uint32_t name, int& width, int& height, GLenum format, int mipmaps,
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
    if (uploaded) {
        GLint levelWidth = 0, levelHeight = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &levelWidth);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &levelHeight);
        width = levelWidth;
        height = levelHeight;
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format, GL_UNSIGNED_BYTE,
                     pixels);
    }
    glBindTexture(GL_TEXTURE_2D, 0);

    glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, savedRowLength);
}

// Empty when the driver can hold a width x height texture, else why not;
// larger images are refused before anything of the slot changes.
std::string textureSizeRefusal(int width, int height)
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize <= 0 || (width <= maxSize && height <= maxSize))
        return std::string();
    char text[128];
    std::snprintf(text, sizeof text, "%d x %d pixels, larger than the driver's textures of %d a side", width, height,
                  static_cast<int>(maxSize));
    return text;
}

// True while a GL context can exist: SDL video is up and has a surface.
bool glContextAlive()
{
#if VORTALUNE_GL_LAYER
    return vglStarted();
#else
    return SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetVideoSurface() != nullptr;
#endif
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
    std::string reason;
    SurfaceHandle surface(loadImageSurface(path, reason));
    const SDL_Surface* s = surface.get();
    if (s && reason.empty())
        reason = colourRefusal(s);
    if (s && reason.empty())
        reason = textureSizeRefusal(s->w, s->h);
    if (!reason.empty()) {
        reportFailure(path, reason, slot);
        return 0;
    }
    const int bpp = s->format->BytesPerPixel;
    int width = s->w;
    int height = s->h;
    const std::vector<uint8_t> pixels = packSurface(s, bpp);
    surface.reset();   // one copy of the pixels at a time besides GL's
    components[slot] = bpp;
    uploadWithParameters(names[slot], width, height, bpp == 4 ? GL_RGBA : GL_RGB, mipmaps, pixels.data());
    widths[slot] = width;
    heights[slot] = height;
    return slot;
}

int TextureTable::loadPngWithMask(const char* colourPath, const char* maskPath, int slot, int mipmaps)
{
    if (!validSlot(slot) || !colourPath || !maskPath)
        return 0;
    std::string reason;
    SurfaceHandle colour(loadImageSurface(colourPath, reason));
    if (!colour.get()) {
        reportFailure(colourPath, reason, slot);
        return 0;
    }
    // The same file as colour and mask (the sprite) is read and reported once.
    const bool sameFile = std::strcmp(colourPath, maskPath) == 0;
    ImageCheck maskCheck;
    SurfaceHandle mask(sameFile ? nullptr : loadImageSurface(maskPath, reason, &maskCheck));
    if (!sameFile && !mask.get()) {
        reportFailure(maskPath, reason, slot);
        return 0;
    }
    const SDL_Surface* c = colour.get();
    const SDL_Surface* m = sameFile ? c : mask.get();
    if (c->w != m->w || c->h != m->h) {
        char text[160];
        std::snprintf(text, sizeof text, "a mask of %d x %d pixels for a colour image of %d x %d", m->w, m->h, c->w,
                      c->h);
        reportFailure(maskPath, text, slot);
        return 0;
    }
    // The colour image needs channels to take; the mask may be one byte a pixel.
    reason = colourRefusal(c);
    if (reason.empty())
        reason = textureSizeRefusal(c->w, c->h);
    if (!reason.empty()) {
        reportFailure(colourPath, reason, slot);
        return 0;
    }
    reason = maskRefusal(m);
    if (!reason.empty()) {
        reportFailure(maskPath, reason, slot);
        return 0;
    }

    int width = c->w;
    int height = c->h;
    std::vector<uint8_t> alpha;
    if (maskCheck.palettedPng) {
        // SDL_image expands a palette with a transparency chunk to RGBA: the
        // indices themselves come from the file.
        PngImage indices;
        if (!readPngIndices(maskPath, indices, reason) || int(indices.width) != m->w ||
            int(indices.height) != m->h) {
            reportFailure(maskPath, reason.empty() ? "its palette indices could not be read" : reason, slot);
            return 0;
        }
        alpha = std::move(indices.rgb);
    } else {
        alpha = maskAlpha(m);
    }
    mask.reset();
    std::vector<uint8_t> pixels = packSurface(c, 4);
    colour.reset();
    const size_t count = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < count; ++i)
        pixels[4 * i + 3] = alpha[i];

    components[slot] = 4;
    uploadWithParameters(names[slot], width, height, GL_RGBA, mipmaps, pixels.data());
    widths[slot] = width;
    heights[slot] = height;
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
