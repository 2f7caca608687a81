// gfx/Texture.h: the global table of ten texture slots and PNG loading.
// Owns the GL texture names; renderers bind slots by number through nameOf.
// Slot 0 means "no texture". Needs a current GL context for everything but
// construction.
#pragma once

#include <cstdint>

constexpr int TEXTURE_SLOTS = 10;

// Slots used by the demo.
constexpr int SLOT_NONE       = 0;
constexpr int SLOT_CHARACTER  = 1;   // "data/ovrin_tex.png"
constexpr int SLOT_SKY        = 2;   // "data/blue_cross.png"
constexpr int SLOT_PASTEL     = 3;   // "data/pastel.png"
constexpr int SLOT_BUMPY      = 4;   // "data/bumpy.png"
constexpr int SLOT_GLOW       = 5;   // 256x256 RGB glow capture target
constexpr int SLOT_SPRITE     = 6;   // "data/sprite01_mask.png" as colour and mask
constexpr int SLOT_FONT       = 7;   // "data/font.png" + "data/font_mask.png"
constexpr int SLOT_TITLE      = 8;   // "data/vortalune.png"
constexpr int SLOT_CREDITS    = 9;   // "data/credits.png"

class TextureTable {
public:
    bool     generated = false;                 // true while the ten GL names exist
    uint32_t names[TEXTURE_SLOTS] = {};         // GL texture names, one per slot
    int32_t  widths[TEXTURE_SLOTS] = {};        // level-0 size as last uploaded
    int32_t  heights[TEXTURE_SLOTS] = {};
    int32_t  components[TEXTURE_SLOTS] = {};    // bytes per pixel: 3 or 4

    constexpr TextureTable() = default;
    ~TextureTable();
    TextureTable(const TextureTable&) = delete;
    TextureTable& operator=(const TextureTable&) = delete;

    void     release();                                         // deletes names once, zeroes all
    void     generate();                                        // creates the ten names once
    // Empty level 0 (zeroed) of width x height; GL_RGBA gives 4 components,
    // any other format GL_RGB and 3. Returns slot, or 0 for a slot outside
    // 0..9 or a negative size.
    int      createEmpty(int width, int height, uint32_t format, int slot);
    // PNG (or BMP) of 3 or 4 bytes per pixel into the slot, mipmapped when
    // `mipmaps` is non-zero. Returns slot, or 0 with the slot unchanged for a
    // missing, damaged or unreadable file, an image over IMAGE_MAX_SIDE a side
    // or IMAGE_MAX_DECODED_BYTES decoded (gfx/PngFile.h; refused from its
    // header), a paletted or grey image, an image larger than the driver's
    // textures, or a slot outside 0..9. A failed load prints one line naming
    // the file and the reason. widths/heights record level 0 as uploaded:
    // with mipmaps, a side that is not a power of two is scaled to one.
    int      loadPng(const char* path, int slot, int mipmaps);
    // One RGBA texture: RGB from the colour image (3 or 4 bytes per pixel),
    // alpha from the mask: byte 0 of each mask pixel for a grey or paletted
    // mask (one byte per pixel), the red channel for an RGB or RGBA mask. Both
    // need the same size; otherwise, and for every failure of loadPng, returns
    // 0 with the slot unchanged and one line naming the file.
    int      loadPngWithMask(const char* colourPath, const char* maskPath, int slot, int mipmaps);
    // Framebuffer rectangle with lower-left (x, y) into level 0 at (0, 0); the
    // slot stays bound. Nothing happens for a slot outside 0..9.
    void     copyFromFramebuffer(int x, int y, int width, int height, int slot);
    uint32_t nameOf(int slot) const;                            // 0 for slot 0 (and outside 0..9)
};

// The program's texture table (written by asset loading and the render passes).
extern TextureTable textureTable;
