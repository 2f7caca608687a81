// tools/images/ImageGen.cpp: the demo's images, computed.
//
// Everything is computed from fixed numbers: the same build writes the same
// bytes on every run (no clock, no random seed, no system state but the
// DejaVu fonts). Every image has power-of-two sides, since the textures go to
// an OpenGL 1.1 driver. Lettering is rendered with FreeType.
//
//   font.png, font_mask.png     256 x 256 RGB  glyph atlas, 16 x 16 cells of 16 x 16
//   vortalune.png               1024 x 1024 RGB title card (shown stretched to 4:3)
//   credits.png                 1024 x 1024 RGB closing credits (shown stretched to 4:3)
//   blue_cross.png              256 x 256 RGB  tiling sky backdrop
//   pastel.png                  256 x 256 RGB  tiling pastel colour field
//   bumpy.png                   256 x 256 RGB  tiling bumpy relief
//   sprite01_mask.png           128 x 128 RGB  soft round sprite
//
// Sections:
//   --- Pixels ---
//   --- Noise ---
//   --- Blur ---
//   --- Lettering ---
//   --- Font atlas ---
//   --- Cards ---
//   --- Tiles ---
//   --- All images ---
#include "tools/images/ImageGen.h"

#include "base/Report.h"
#include "gfx/PngFile.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr float PI = 3.14159265358979f;
constexpr const char* FONT_DIR = "/usr/share/fonts/truetype/dejavu/";

// --- Pixels -------------------------------------------------------------------------

struct Colour {
    float r = 0.0f, g = 0.0f, b = 0.0f;
};

Colour operator+(Colour a, Colour b) { return { a.r + b.r, a.g + b.g, a.b + b.b }; }
Colour operator-(Colour a, Colour b) { return { a.r - b.r, a.g - b.g, a.b - b.b }; }
Colour operator*(Colour a, float s) { return { a.r * s, a.g * s, a.b * s }; }
Colour mix(Colour a, Colour b, float t) { return a + (b - a) * t; }

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
float smoothstep(float e0, float e1, float v)
{
    const float t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// One float channel, row 0 at the top.
struct Plane {
    int width = 0, height = 0;
    std::vector<float> v;
    Plane(int w, int h) : width(w), height(h), v(static_cast<size_t>(w) * h, 0.0f) {}
    float& at(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
    float at(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
    float wrapped(int x, int y) const
    {
        x %= width;
        y %= height;
        return at(x < 0 ? x + width : x, y < 0 ? y + height : y);
    }
};

// Linear RGB in 0..1 (values outside are clipped on writing), row 0 at the top.
struct Image {
    int width = 0, height = 0;
    std::vector<Colour> px;
    Image(int w, int h) : width(w), height(h), px(static_cast<size_t>(w) * h) {}
    Colour& at(int x, int y) { return px[static_cast<size_t>(y) * width + x]; }
};

// Deterministic hash of integers to 0..1.
uint32_t hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}
uint32_t hash3(int a, int b, int seed)
{
    return hash32(static_cast<uint32_t>(a) * 0x9E3779B1U ^ hash32(static_cast<uint32_t>(b) + 0x85EBCA77U * static_cast<uint32_t>(seed + 1)));
}
float unit(uint32_t h) { return static_cast<float>(h >> 8) * (1.0f / 16777216.0f); }

uint8_t toByte(float v, float dither)
{
    const float scaled = clamp01(v) * 255.0f + dither;
    const int b = static_cast<int>(std::floor(scaled + 0.5f));
    return static_cast<uint8_t>(b < 0 ? 0 : (b > 255 ? 255 : b));
}

// Writes the image as 8-bit RGB. With dither a fixed +-0.5 step noise breaks up
// banding in slow gradients; it is hashed from the pixel position, so it tiles
// whenever the image does.
bool saveRgb(const std::string& path, const Image& image, bool dither)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const size_t i = static_cast<size_t>(y) * image.width + x;
            const Colour c = image.px[i];
            for (int k = 0; k < 3; ++k) {
                const float d = dither ? unit(hash3(x, y, 101 + k)) - 0.5f : 0.0f;
                bytes[3 * i + k] = toByte(k == 0 ? c.r : (k == 1 ? c.g : c.b), d);
            }
        }
    const bool ok = writePng(path.c_str(), image.width, image.height, 3, bytes.data());
    if (!ok)
        reportLine("genimages: cannot write %s\n", path.c_str());
    return ok;
}

// --- Noise --------------------------------------------------------------------------

// 64 unit gradient directions, evenly around the circle.
struct GradientTable {
    float x[64], y[64];
    GradientTable()
    {
        for (int i = 0; i < 64; ++i) {
            x[i] = std::cos(2.0f * PI * (i + 0.5f) / 64.0f);
            y[i] = std::sin(2.0f * PI * (i + 0.5f) / 64.0f);
        }
    }
};

// Gradient noise with integer period p on both axes (tiles every p units).
float periodicGradientNoise(float x, float y, int p, int seed)
{
    static const GradientTable table;
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const float fx = x - x0, fy = y - y0;
    auto grad = [&](int ix, int iy, float dx, float dy) {
        const int wx = ((ix % p) + p) % p;
        const int wy = ((iy % p) + p) % p;
        const uint32_t k = hash3(wx, wy, seed) >> 26;
        return table.x[k] * dx + table.y[k] * dy;
    };
    const float n00 = grad(x0, y0, fx, fy);
    const float n10 = grad(x0 + 1, y0, fx - 1.0f, fy);
    const float n01 = grad(x0, y0 + 1, fx, fy - 1.0f);
    const float n11 = grad(x0 + 1, y0 + 1, fx - 1.0f, fy - 1.0f);
    const float u = fx * fx * fx * (fx * (fx * 6.0f - 15.0f) + 10.0f);
    const float v = fy * fy * fy * (fy * (fy * 6.0f - 15.0f) + 10.0f);
    const float a = n00 + (n10 - n00) * u;
    const float b = n01 + (n11 - n01) * u;
    return (a + (b - a) * v) * 1.4142f;   // roughly -1..1
}

// Fractal sum over octaves on the unit square (u, v in 0..1), tiling at 1:
// octave k has period basePeriod * 2^k.
float periodicFbm(float u, float v, int basePeriod, int octaves, float gain, int seed)
{
    float sum = 0.0f, amplitude = 1.0f, norm = 0.0f;
    int period = basePeriod;
    for (int k = 0; k < octaves; ++k) {
        sum += amplitude * periodicGradientNoise(u * period, v * period, period, seed + 17 * k);
        norm += amplitude;
        amplitude *= gain;
        period *= 2;
    }
    return sum / norm;
}

// Distance to the nearest of `cells` x `cells` jittered points on the unit
// square, tiling at 1, in cell units (0 at a point, about 0.5..0.9 between).
float periodicCellDistance(float u, float v, int cells, int seed)
{
    const float x = u * cells, y = v * cells;
    const int cx = static_cast<int>(std::floor(x)), cy = static_cast<int>(std::floor(y));
    float best = 9.0f;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int ix = cx + dx, iy = cy + dy;
            const int wx = ((ix % cells) + cells) % cells, wy = ((iy % cells) + cells) % cells;
            const float px = ix + 0.15f + 0.7f * unit(hash3(wx, wy, seed));
            const float py = iy + 0.15f + 0.7f * unit(hash3(wx, wy, seed + 1));
            best = std::min(best, std::hypot(x - px, y - py));
        }
    return best;
}

// --- Blur ---------------------------------------------------------------------------

// One box pass of radius r along rows or columns; edges clamp, or wrap for tiles.
void boxPass(Plane& plane, int r, bool horizontal, bool wrap)
{
    const int n = horizontal ? plane.width : plane.height;
    const int lines = horizontal ? plane.height : plane.width;
    std::vector<float> line(n), out(n);
    const float scale = 1.0f / (2 * r + 1);
    for (int l = 0; l < lines; ++l) {
        for (int i = 0; i < n; ++i)
            line[i] = horizontal ? plane.at(i, l) : plane.at(l, i);
        auto sample = [&](int i) {
            if (wrap)
                return line[((i % n) + n) % n];
            return line[i < 0 ? 0 : (i >= n ? n - 1 : i)];
        };
        float sum = 0.0f;
        for (int i = -r; i <= r; ++i)
            sum += sample(i);
        for (int i = 0; i < n; ++i) {
            out[i] = sum * scale;
            sum += sample(i + r + 1) - sample(i - r);
        }
        for (int i = 0; i < n; ++i)
            (horizontal ? plane.at(i, l) : plane.at(l, i)) = out[i];
    }
}

// Three box passes each way: close to a Gaussian of sigma ~ r.
Plane blurred(const Plane& source, int radius, bool wrap = false)
{
    Plane plane = source;
    const int r = std::max(1, static_cast<int>(radius * 0.58f));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(plane, r, true, wrap);
        boxPass(plane, r, false, wrap);
    }
    return plane;
}

// --- Lettering ----------------------------------------------------------------------

class Typeface {
public:
    Typeface(FT_Library library, const char* file)
    {
        const std::string path = std::string(FONT_DIR) + file;
        if (FT_New_Face(library, path.c_str(), 0, &face_) != 0) {
            reportLine("genimages: cannot open font %s\n", path.c_str());
            face_ = nullptr;
        }
    }
    ~Typeface()
    {
        if (face_)
            FT_Done_Face(face_);
    }
    Typeface(const Typeface&) = delete;
    Typeface& operator=(const Typeface&) = delete;

    bool ok() const { return face_ != nullptr; }
    FT_Face face() const { return face_; }

    // Width in pixels of `text` at em sizes emX x emY, with `tracking` extra
    // pixels after every glyph but the last.
    float measure(const std::string& text, float emX, float emY, float tracking) const
    {
        setSize(emX, emY);
        float width = 0.0f;
        for (size_t i = 0; i < text.size(); ++i) {
            if (FT_Load_Char(face_, static_cast<unsigned char>(text[i]), FT_LOAD_NO_HINTING) != 0)
                continue;
            width += face_->glyph->linearHoriAdvance / 65536.0f;
            if (i + 1 < text.size())
                width += tracking;
        }
        return width;
    }

    // Adds the coverage of `text` to `target` (saturating), pen starting at x
    // on the baseline y, unhinted with sub-pixel pen positions. Returns the pen's end.
    float draw(Plane& target, const std::string& text, float x, float y, float emX, float emY,
               float tracking) const
    {
        setSize(emX, emY);
        float pen = x;
        for (unsigned char c : text) {
            const float whole = std::floor(pen);
            FT_Vector delta = { static_cast<FT_Pos>((pen - whole) * 64.0f), 0 };
            FT_Set_Transform(face_, nullptr, &delta);
            if (FT_Load_Char(face_, c, FT_LOAD_RENDER | FT_LOAD_NO_HINTING) == 0)
                blit(target, static_cast<int>(whole) + face_->glyph->bitmap_left,
                     static_cast<int>(std::floor(y)) - face_->glyph->bitmap_top, 1.0f);
            pen += face_->glyph->linearHoriAdvance / 65536.0f + tracking;
        }
        FT_Set_Transform(face_, nullptr, nullptr);
        return pen;
    }

    // Renders one character hinted for small sizes (vertical hinting only, so
    // horizontal stretching stays even). The bitmap stays in the glyph slot.
    bool renderSmall(unsigned char c, float emX, float emY) const
    {
        setSize(emX, emY);
        FT_Set_Transform(face_, nullptr, nullptr);
        return FT_Load_Char(face_, c, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) == 0;
    }

    // Adds the glyph slot's bitmap at (left, top), clipped to the plane.
    void blit(Plane& target, int left, int top, float weight) const
    {
        const FT_Bitmap& bitmap = face_->glyph->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.pitch <= 0 || !bitmap.buffer)
            return;
        const float scale = weight / static_cast<float>(std::max(1, bitmap.num_grays - 1));
        for (unsigned row = 0; row < bitmap.rows; ++row)
            for (unsigned column = 0; column < bitmap.width; ++column) {
                const int tx = left + static_cast<int>(column), ty = top + static_cast<int>(row);
                if (tx < 0 || ty < 0 || tx >= target.width || ty >= target.height)
                    continue;
                const float c = bitmap.buffer[row * bitmap.pitch + column] * scale;
                target.at(tx, ty) = std::min(1.0f, target.at(tx, ty) + c);
            }
    }

private:
    void setSize(float emX, float emY) const
    {
        FT_Set_Char_Size(face_, static_cast<FT_F26Dot6>(emX * 64.0f), static_cast<FT_F26Dot6>(emY * 64.0f), 72, 72);
    }

    FT_Face face_ = nullptr;
};

// --- Font atlas ---------------------------------------------------------------------
//
// 16 x 16 cells of 16 x 16 texels; glyph k of set 0 (cells 0..127) shows
// character k + 32 in the regular face, set 1 (cells 128..255) the same
// characters in bold. Characters 127..159 have no printable form: their cells
// stay empty. The caption shows a cell 12 px wide and 16 px high (at 800 px
// width), so glyphs are drawn 4/3 wider than their natural shape; on screen
// they come back to their own proportions, slightly widened for a demo look.

constexpr int ATLAS_SIZE = 256;
constexpr int ATLAS_CELL = 16;
constexpr int ATLAS_BASELINE = 12;          // texel rows above the baseline in a cell
constexpr float ATLAS_EM_Y = 14.0f;         // em height in texels
constexpr float ATLAS_EM_X = 14.0f * 1.28f * (16.0f / 12.0f);   // natural width, widened, screen-corrected

bool makeFont(FT_Library library, const std::string& dir)
{
    const Typeface regular(library, "DejaVuSansMono.ttf");
    const Typeface bold(library, "DejaVuSansMono-Bold.ttf");
    if (!regular.ok() || !bold.ok())
        return false;

    Plane coverage(ATLAS_SIZE, ATLAS_SIZE);
    for (int glyph = 0; glyph < 256; ++glyph) {
        const int code = (glyph % 128) + 32;
        if (code < 33 || code > 126)
            continue;   // space and the unprintable codes stay empty
        const Typeface& face = glyph < 128 ? regular : bold;
        if (!face.renderSmall(static_cast<unsigned char>(code), ATLAS_EM_X, ATLAS_EM_Y))
            continue;
        const FT_GlyphSlot slot = face.face()->glyph;
        // Centre the advance box in the cell; the glyph is clipped to its own
        // cell, one texel in from each edge so linear filtering never pulls in
        // a neighbour's ink.
        const float advance = slot->advance.x / 64.0f;
        const int left = static_cast<int>(std::lround((ATLAS_CELL - advance) * 0.5f)) + slot->bitmap_left;
        const int top = ATLAS_BASELINE - slot->bitmap_top;
        // Rendered into a taller scratch cell, then moved up or down as a
        // whole when its ink would cross the cell's inner rows (the low
        // underscore, for one).
        constexpr int pad = 4;
        Plane cell(ATLAS_CELL, ATLAS_CELL + 2 * pad);
        face.blit(cell, left, top + pad, 1.0f);
        int inkTop = cell.height, inkBottom = -1;
        for (int y = 0; y < cell.height; ++y)
            for (int x = 0; x < ATLAS_CELL; ++x)
                if (cell.at(x, y) > 0.02f) {
                    inkTop = std::min(inkTop, y);
                    inkBottom = std::max(inkBottom, y);
                }
        int shift = 0;
        if (inkBottom > pad + ATLAS_CELL - 2)
            shift = inkBottom - (pad + ATLAS_CELL - 2);
        else if (inkTop >= 0 && inkTop < pad + 1)
            shift = inkTop - (pad + 1);
        const int cellX = (glyph % 16) * ATLAS_CELL, cellY = (glyph / 16) * ATLAS_CELL;
        for (int y = 1; y < ATLAS_CELL - 1; ++y)
            for (int x = 1; x < ATLAS_CELL - 1; ++x) {
                const int source = y + pad + shift;
                if (source >= 0 && source < cell.height)
                    coverage.at(cellX + x, cellY + y) = cell.at(x, source);
            }
    }

    // Mask: coverage in every channel (the loader takes the first).
    Image mask(ATLAS_SIZE, ATLAS_SIZE);
    for (int y = 0; y < ATLAS_SIZE; ++y)
        for (int x = 0; x < ATLAS_SIZE; ++x) {
            const float c = coverage.at(x, y);
            mask.at(x, y) = { c, c, c };
        }
    // Colour: a soft vertical sheen in every cell, white at the top of the
    // letters to a cool light grey at the bottom; the caption's colour
    // multiplies it.
    Image colour(ATLAS_SIZE, ATLAS_SIZE);
    for (int y = 0; y < ATLAS_SIZE; ++y) {
        const float t = smoothstep(2.0f, 14.0f, static_cast<float>(y % ATLAS_CELL));
        const Colour c = mix({ 1.0f, 1.0f, 1.0f }, { 0.78f, 0.80f, 0.92f }, t);
        for (int x = 0; x < ATLAS_SIZE; ++x)
            colour.at(x, y) = c;
    }
    return saveRgb(dir + "/font.png", colour, false) && saveRgb(dir + "/font_mask.png", mask, false);
}

// --- Cards --------------------------------------------------------------------------
//
// The title and the credits are drawn full-screen on a 4:3 screen from a square
// texture, so they are laid out on a 1024 x 768 page and drawn 4/3 taller.

constexpr int CARD_SIZE = 1024;
constexpr float PAGE_W = 1024.0f, PAGE_H = 768.0f;
constexpr float CARD_SX = CARD_SIZE / PAGE_W;
constexpr float CARD_SY = CARD_SIZE / PAGE_H;

// A line of text on the page: its coverage plane, size and placement.
struct Lettering {
    const Typeface* face;
    std::string text;
    float size;       // em in page pixels
    float tracking;   // extra page pixels between glyphs
    float centreX;    // page x of the line's centre
    float baseline;   // page y of the baseline
};

Plane letter(const Lettering& l)
{
    Plane plane(CARD_SIZE, CARD_SIZE);
    const float emX = l.size * CARD_SX, emY = l.size * CARD_SY;
    const float width = l.face->measure(l.text, emX, emY, l.tracking * CARD_SX);
    l.face->draw(plane, l.text, l.centreX * CARD_SX - width * 0.5f, l.baseline * CARD_SY, emX, emY,
                 l.tracking * CARD_SX);
    return plane;
}

// Same, but the line starts (alignLeft) or ends at x.
Plane letterAligned(const Lettering& l, bool alignLeft)
{
    Lettering shifted = l;
    const float width = l.face->measure(l.text, l.size * CARD_SX, l.size * CARD_SY, l.tracking * CARD_SX) / CARD_SX;
    shifted.centreX = alignLeft ? l.centreX + width * 0.5f : l.centreX - width * 0.5f;
    return letter(shifted);
}

// Lays `colour` over the image where `alpha` covers it.
void paint(Image& image, const Plane& alpha, Colour colour, float strength = 1.0f)
{
    for (size_t i = 0; i < image.px.size(); ++i) {
        const float a = clamp01(alpha.v[i] * strength);
        if (a > 0.0f)
            image.px[i] = mix(image.px[i], colour, a);
    }
}

// Adds light: colour times alpha.
void glow(Image& image, const Plane& alpha, Colour colour, float strength)
{
    for (size_t i = 0; i < image.px.size(); ++i)
        image.px[i] = image.px[i] + colour * (alpha.v[i] * strength);
}

struct Blob {
    float x, y, r;   // page pixels
};

// Night background shared by the cards: black edges (the cards fade from and
// to black), a deep indigo centre, faint stars, and a 2D metaball field whose
// level line glows like the show's isosurfaces.
Image cardBackground(const std::vector<Blob>& blobs, float blobStrength, int seed)
{
    Image image(CARD_SIZE, CARD_SIZE);
    for (int y = 0; y < CARD_SIZE; ++y)
        for (int x = 0; x < CARD_SIZE; ++x) {
            const float px = x / CARD_SX, py = y / CARD_SY;
            const float dx = (px - PAGE_W * 0.5f) / (PAGE_W * 0.5f);
            const float dy = (py - PAGE_H * 0.46f) / (PAGE_H * 0.5f);
            const float d2 = dx * dx * 0.8f + dy * dy;
            const float vignette = std::exp(-1.6f * d2);
            const float cloud = 0.5f + 0.5f * periodicFbm(x / float(CARD_SIZE), y / float(CARD_SIZE), 3, 5, 0.55f, seed);
            Colour c = mix({ 0.015f, 0.01f, 0.04f }, { 0.07f, 0.05f, 0.17f }, vignette);
            c = c + Colour{ 0.05f, 0.03f, 0.10f } * (cloud * cloud * vignette);

            float field = 0.0f;
            for (const Blob& b : blobs) {
                const float ex = px - b.x, ey = py - b.y;
                field += b.r * b.r / (ex * ex + ey * ey + 1.0f);
            }
            // A soft rim at the level line, a faint body inside it.
            const float off = (field - 1.0f) * 3.2f;
            const float rim = std::exp(-off * off);
            const float body = smoothstep(0.8f, 2.5f, field);
            const Colour rimColour = mix({ 0.10f, 0.45f, 0.75f }, { 0.55f, 0.25f, 0.80f }, clamp01(px / PAGE_W));
            c = c + rimColour * (rim * 0.55f * blobStrength * (0.35f + 0.65f * vignette));
            c = c + Colour{ 0.06f, 0.05f, 0.16f } * (body * blobStrength * vignette);
            image.at(x, y) = c;
        }
    // Stars: small soft dots, brighter towards the middle of the page.
    for (int i = 0; i < 260; ++i) {
        const float sx = unit(hash3(i, 1, seed)) * CARD_SIZE, sy = unit(hash3(i, 2, seed)) * CARD_SIZE;
        const float bright = std::pow(unit(hash3(i, 3, seed)), 3.0f) * 0.9f + 0.08f;
        const float tint = unit(hash3(i, 4, seed));
        const Colour colour = mix({ 0.7f, 0.8f, 1.0f }, { 1.0f, 0.85f, 0.9f }, tint) * bright;
        for (int y = static_cast<int>(sy) - 3; y <= static_cast<int>(sy) + 3; ++y)
            for (int x = static_cast<int>(sx) - 3; x <= static_cast<int>(sx) + 3; ++x) {
                if (x < 0 || y < 0 || x >= CARD_SIZE || y >= CARD_SIZE)
                    continue;
                const float ex = x - sx, ey = (y - sy) / CARD_SY * CARD_SX;
                image.at(x, y) = image.at(x, y) + colour * std::exp(-(ex * ex + ey * ey) * 1.1f);
            }
    }
    return image;
}

// The title lettering: a cool-to-warm gradient fill, a blue halo, and a faded
// reflection under the baseline. `top`/`bottom` are the page rows the
// gradient spans.
void paintTitle(Image& image, const Plane& mask, float top, float bottom, float baseline, float haloRadius,
                bool reflect)
{
    glow(image, blurred(mask, static_cast<int>(haloRadius * 2.2f)), { 0.25f, 0.35f, 1.0f }, 0.55f);
    glow(image, blurred(mask, static_cast<int>(haloRadius * 0.7f)), { 0.45f, 0.6f, 1.0f }, 0.45f);

    if (reflect) {
        // Mirror the lettering about the baseline, fading with distance below it.
        Plane mirrored(CARD_SIZE, CARD_SIZE);
        const int base = static_cast<int>(baseline * CARD_SY);
        const float fadeRows = (bottom - top) * 0.75f * CARD_SY;
        for (int y = base; y < CARD_SIZE; ++y) {
            const int source = 2 * base - y - 1;
            if (source < 0)
                break;
            const float fade = std::pow(clamp01(1.0f - (y - base) / fadeRows), 2.2f) * 0.32f;
            for (int x = 0; x < CARD_SIZE; ++x)
                mirrored.at(x, y) = mask.at(x, source) * fade;
        }
        const Plane soft = blurred(mirrored, 2);
        paint(image, soft, { 0.55f, 0.65f, 1.0f });
    }

    for (int y = 0; y < CARD_SIZE; ++y) {
        const float t = clamp01((y / CARD_SY - top) / (bottom - top));
        const Colour fill = t < 0.5f ? mix({ 0.85f, 0.97f, 1.0f }, { 0.70f, 0.85f, 1.0f }, t * 2.0f)
                                     : mix({ 0.70f, 0.85f, 1.0f }, { 0.96f, 0.72f, 1.0f }, (t - 0.5f) * 2.0f);
        for (int x = 0; x < CARD_SIZE; ++x) {
            const float a = mask.at(x, y);
            if (a > 0.0f)
                image.at(x, y) = mix(image.at(x, y), fill, a);
        }
    }
}

bool makeTitle(FT_Library library, const std::string& dir)
{
    const Typeface light(library, "DejaVuSans-ExtraLight.ttf");
    const Typeface sans(library, "DejaVuSans.ttf");
    if (!light.ok() || !sans.ok())
        return false;

    Image image = cardBackground({ { 250, 300, 70 }, { 330, 420, 55 }, { 700, 330, 80 }, { 790, 450, 50 },
                                   { 520, 560, 45 }, { 150, 520, 35 }, { 900, 220, 30 } },
                                 1.0f, 7);

    const Lettering group = { &sans, "Quindle", 40.0f, 14.0f, 512.0f, 235.0f };
    const Lettering presents = { &sans, "presents", 20.0f, 6.0f, 512.0f, 272.0f };
    const Lettering title = { &light, "Mirrow", 176.0f, 10.0f, 512.0f, 460.0f };

    const Plane groupMask = letter(group);
    glow(image, blurred(groupMask, 10), { 0.3f, 0.4f, 0.9f }, 0.5f);
    paint(image, groupMask, { 0.80f, 0.88f, 1.0f });
    paint(image, letter(presents), { 0.55f, 0.60f, 0.80f });

    paintTitle(image, letter(title), 325.0f, 462.0f, 460.0f, 14.0f, true);
    return saveRgb(dir + "/vortalune.png", image, true);
}

bool makeCredits(FT_Library library, const std::string& dir)
{
    const Typeface light(library, "DejaVuSans-ExtraLight.ttf");
    const Typeface sans(library, "DejaVuSans.ttf");
    const Typeface bold(library, "DejaVuSans-Bold.ttf");
    const Typeface oblique(library, "DejaVuSans-Oblique.ttf");
    if (!light.ok() || !sans.ok() || !bold.ok() || !oblique.ok())
        return false;

    Image image = cardBackground({ { 120, 150, 60 }, { 200, 240, 40 }, { 900, 600, 70 }, { 820, 680, 45 },
                                   { 110, 650, 40 }, { 930, 130, 35 } },
                                 0.8f, 23);

    paintTitle(image, letter({ &light, "Mirrow", 96.0f, 6.0f, 512.0f, 170.0f }), 98.0f, 172.0f, 170.0f, 8.0f,
               false);
    paint(image, letter({ &sans, "a demo by Quindle", 22.0f, 3.0f, 512.0f, 218.0f }), { 0.62f, 0.68f, 0.90f });

    // Roles right-aligned to the left of the centre, names left-aligned to its right.
    const char* roles[] = { "Code", "Music", "Graphics" };
    for (int i = 0; i < 3; ++i) {
        const float baseline = 330.0f + 62.0f * i;
        paint(image, letterAligned({ &sans, roles[i], 30.0f, 2.0f, 492.0f, baseline }, false),
              { 0.55f, 0.62f, 0.85f });
        const Plane name = letterAligned({ &bold, "Quindle", 30.0f, 2.0f, 532.0f, baseline }, true);
        glow(image, blurred(name, 8), { 0.3f, 0.4f, 1.0f }, 0.35f);
        paint(image, name, { 0.90f, 0.94f, 1.0f });
    }
    // A thin glowing rule between the names and the thanks.
    Plane rule(CARD_SIZE, CARD_SIZE);
    for (int x = 0; x < CARD_SIZE; ++x) {
        const float px = x / CARD_SX;
        const float a = smoothstep(312.0f, 512.0f, px) * smoothstep(712.0f, 512.0f, px);
        const int y = static_cast<int>(528.0f * CARD_SY);
        rule.at(x, y) = a;
        rule.at(x, y + 1) = a * 0.5f;
    }
    glow(image, blurred(rule, 4), { 0.4f, 0.5f, 1.0f }, 1.2f);
    paint(image, rule, { 0.75f, 0.8f, 1.0f }, 0.8f);

    const Plane thanks = letter({ &oblique, "Thanks to you, the audience!", 34.0f, 1.0f, 512.0f, 600.0f });
    glow(image, blurred(thanks, 12), { 0.6f, 0.3f, 1.0f }, 0.5f);
    paint(image, thanks, { 0.96f, 0.86f, 1.0f });
    paint(image, letter({ &sans, "quindle.example", 16.0f, 2.0f, 512.0f, 700.0f }), { 0.40f, 0.45f, 0.65f });
    return saveRgb(dir + "/credits.png", image, true);
}

// --- Tiles --------------------------------------------------------------------------
//
// Square images that repeat: every noise has the image as its period and every
// dot is drawn wrapped around the edges.

constexpr int TILE_SIZE = 256;

// Adds a soft dot of `colour` at (cx, cy), wrapped around the tile's edges.
void wrappedDot(Image& image, float cx, float cy, float radius, Colour colour)
{
    const int reach = static_cast<int>(std::ceil(radius * 3.0f));
    for (int y = static_cast<int>(cy) - reach; y <= static_cast<int>(cy) + reach; ++y)
        for (int x = static_cast<int>(cx) - reach; x <= static_cast<int>(cx) + reach; ++x) {
            const float ex = x - cx, ey = y - cy;
            const float a = std::exp(-(ex * ex + ey * ey) / (radius * radius));
            Colour& p = image.at(((x % image.width) + image.width) % image.width,
                                 ((y % image.height) + image.height) % image.height);
            p = p + colour * a;
        }
}

// Deep-blue space: two layers of nebula, a field of small stars and a few
// bright stars with four-point cross flares.
bool makeSky(const std::string& dir)
{
    Image image(TILE_SIZE, TILE_SIZE);
    for (int y = 0; y < TILE_SIZE; ++y)
        for (int x = 0; x < TILE_SIZE; ++x) {
            const float u = x / float(TILE_SIZE), v = y / float(TILE_SIZE);
            const float n1 = 0.5f + 0.5f * periodicFbm(u, v, 2, 6, 0.55f, 31);
            const float n2 = 0.5f + 0.5f * periodicFbm(u, v, 4, 5, 0.5f, 47);
            Colour c = mix({ 0.008f, 0.015f, 0.06f }, { 0.08f, 0.18f, 0.46f }, smoothstep(0.3f, 0.85f, n1));
            c = c + Colour{ 0.05f, 0.18f, 0.30f } * std::pow(smoothstep(0.5f, 0.9f, n2), 2.0f);
            c = c + Colour{ 0.12f, 0.04f, 0.20f } * std::pow(smoothstep(0.55f, 0.95f, 1.0f - n2 * 0.5f - n1 * 0.5f + 0.2f), 3.0f);
            image.at(x, y) = c;
        }
    for (int i = 0; i < 110; ++i) {
        const float sx = unit(hash3(i, 5, 61)) * TILE_SIZE, sy = unit(hash3(i, 6, 61)) * TILE_SIZE;
        const float bright = 0.15f + 0.6f * std::pow(unit(hash3(i, 7, 61)), 2.5f);
        wrappedDot(image, sx, sy, 0.7f, Colour{ 0.75f, 0.85f, 1.0f } * bright);
    }
    for (int i = 0; i < 5; ++i) {
        const float sx = unit(hash3(i, 8, 67)) * TILE_SIZE, sy = unit(hash3(i, 9, 67)) * TILE_SIZE;
        const float bright = 0.7f + 0.3f * unit(hash3(i, 10, 67));
        const float arm = 7.0f + 6.0f * unit(hash3(i, 11, 67));
        wrappedDot(image, sx, sy, 1.6f, Colour{ 0.8f, 0.9f, 1.0f } * bright);
        wrappedDot(image, sx, sy, 4.0f, Colour{ 0.15f, 0.25f, 0.6f } * bright);
        for (int k = 1; k <= static_cast<int>(arm * 2.0f); ++k) {
            const float d = k * 0.5f;
            const float a = std::pow(1.0f - d / arm, 2.0f) * 0.35f * bright;
            const Colour flare = Colour{ 0.55f, 0.75f, 1.0f } * a;
            wrappedDot(image, sx + d, sy, 0.6f, flare);
            wrappedDot(image, sx - d, sy, 0.6f, flare);
            wrappedDot(image, sx, sy + d, 0.6f, flare);
            wrappedDot(image, sx, sy - d, 0.6f, flare);
        }
    }
    return saveRgb(dir + "/blue_cross.png", image, true);
}

// Soft pastel colours flowing into each other; both noises tile with the image,
// so the field has no seam under repeat.
bool makePastel(const std::string& dir)
{
    Image image(TILE_SIZE, TILE_SIZE);
    for (int y = 0; y < TILE_SIZE; ++y)
        for (int x = 0; x < TILE_SIZE; ++x) {
            const float u = x / float(TILE_SIZE), v = y / float(TILE_SIZE);
            const float hue = periodicFbm(u, v, 2, 2, 0.35f, 71) * 0.6f
                            + 0.18f * std::sin(2.0f * PI * u) + 0.18f * std::cos(2.0f * PI * v);
            const float light = periodicFbm(u, v, 3, 2, 0.5f, 89);
            // A cosine palette around a pale base: pink, peach, mint, sky, lilac.
            Colour c = { 0.82f + 0.16f * std::cos(2.0f * PI * (hue + 0.00f)),
                         0.80f + 0.15f * std::cos(2.0f * PI * (hue + 0.30f)),
                         0.84f + 0.15f * std::cos(2.0f * PI * (hue + 0.62f)) };
            c = c * (0.95f + 0.07f * light);
            image.at(x, y) = c;
        }
    return saveRgb(dir + "/pastel.png", image, true);
}

// Rounded bumps on a cell pattern with fine grain, lit from the upper left.
bool makeBumpy(const std::string& dir)
{
    Plane height(TILE_SIZE, TILE_SIZE);
    for (int y = 0; y < TILE_SIZE; ++y)
        for (int x = 0; x < TILE_SIZE; ++x) {
            const float u = x / float(TILE_SIZE), v = y / float(TILE_SIZE);
            const float cell = periodicCellDistance(u, v, 8, 97);
            const float dome = std::sqrt(std::max(0.0f, 1.0f - cell * cell * 2.2f));
            const float small = periodicCellDistance(u, v, 24, 113);
            const float pebble = std::sqrt(std::max(0.0f, 1.0f - small * small * 2.6f));
            height.at(x, y) = dome * 0.75f + pebble * 0.2f + 0.08f * periodicFbm(u, v, 16, 3, 0.5f, 127);
        }
    const Plane smooth = blurred(height, 1, true);
    Image image(TILE_SIZE, TILE_SIZE);
    const float lx = -0.45f, ly = -0.55f, lz = 0.70f;
    for (int y = 0; y < TILE_SIZE; ++y)
        for (int x = 0; x < TILE_SIZE; ++x) {
            const float dx = (smooth.wrapped(x + 1, y) - smooth.wrapped(x - 1, y)) * 6.0f;
            const float dy = (smooth.wrapped(x, y + 1) - smooth.wrapped(x, y - 1)) * 6.0f;
            const float len = std::sqrt(dx * dx + dy * dy + 1.0f);
            const float lit = clamp01((-dx * lx - dy * ly + lz) / len);
            const float shade = 0.42f + 0.58f * lit;
            const float h = smooth.at(x, y);
            const Colour base = mix({ 0.72f, 0.74f, 0.82f }, { 0.95f, 0.93f, 0.90f }, clamp01(h));
            image.at(x, y) = base * shade;
        }
    return saveRgb(dir + "/bumpy.png", image, true);
}

// A round spot fading smoothly to nothing before the border; red is the mask.
bool makeSprite(const std::string& dir)
{
    constexpr int size = 128;
    Image image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float dx = (x + 0.5f - size * 0.5f) / (size * 0.5f - 2.0f);
            const float dy = (y + 0.5f - size * 0.5f) / (size * 0.5f - 2.0f);
            const float d = std::sqrt(dx * dx + dy * dy);
            const float a = std::exp(-3.2f * d * d) * (1.0f - smoothstep(0.7f, 1.0f, d));
            image.at(x, y) = { a, a, a };
        }
    return saveRgb(dir + "/sprite01_mask.png", image, false);
}

} // namespace

// --- All images ---------------------------------------------------------------------

bool generateImages(const std::string& dir)
{
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);   // a missing folder is made; a bad one fails on writing
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        reportLine("genimages: cannot start FreeType\n");
        return false;
    }
    bool ok = makeFont(library, dir);
    ok = makeTitle(library, dir) && ok;
    ok = makeCredits(library, dir) && ok;
    ok = makeSky(dir) && ok;
    ok = makePastel(dir) && ok;
    ok = makeBumpy(dir) && ok;
    ok = makeSprite(dir) && ok;
    FT_Done_FreeType(library);
    return ok;
}
