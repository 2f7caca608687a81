// tests/glow_tiles_test.cpp: the glow's lit tiles and the per-layer screen
// rectangles, without GL. The rectangles are checked against a brute-force
// model of what each pixel's sample reads: the texture coordinate the quad
// interpolates at the pixel centre and the 2 x 2 texels linear filtering
// takes there, wrapped or clamped.
#include "app/GlowTiles.h"
#include "app/Render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int TEX = 256;   // the glow capture texture's side
constexpr double COORD_EPS = 1e-9;

struct Screen {
    int w, h;
};

// Texel index j of a T-texel axis after the wrap mode.
long wrapIndex(long j, int T, GlowWrap wrap)
{
    if (wrap == GLOW_WRAP_REPEAT)
        return ((j % T) + T) % T;
    return j < 0 ? 0 : (j >= T ? T - 1 : j);
}

// The coordinate (in texels, c T) the quad interpolates at pixel p's centre.
double sampleAt(int p, int n, double c0, double c1, int T)
{
    return (c0 + (c1 - c0) * (p + 0.5) / n) * T;
}

// Does the linear filter at pixel p read texel j along this axis?
bool reads(int p, int n, double c0, double c1, int j, int T, GlowWrap wrap)
{
    const long i0 = static_cast<long>(std::floor(sampleAt(p, n, c0, c1, T) - 0.5));
    return wrapIndex(i0, T, wrap) == j || wrapIndex(i0 + 1, T, wrap) == j;
}

// Is pixel p within the allowed margin of tile [a, b]'s reach: some pixel at
// most GLOW_PIXEL_MARGIN away samples within GLOW_TEXEL_MARGIN texels of
// where the filter reads a texel of the tile?
bool nearTile(int p, int n, double c0, double c1, int a, int b, int T, GlowWrap wrap)
{
    for (int q = p - GLOW_PIXEL_MARGIN; q <= p + GLOW_PIXEL_MARGIN; ++q) {
        const double c = sampleAt(q, n, c0, c1, T);
        double lo = a - 0.5 - GLOW_TEXEL_MARGIN - COORD_EPS, hi = b + 1.5 + GLOW_TEXEL_MARGIN + COORD_EPS;
        if (wrap == GLOW_WRAP_REPEAT) {
            const double k = std::floor((c - lo) / T);
            if (c - k * T < hi)
                return true;
        } else {
            if (a == 0)
                lo = -HUGE_VAL;
            if (b == T - 1)
                hi = HUGE_VAL;
            if (c >= lo && c < hi)
                return true;
        }
    }
    return false;
}

std::vector<uint8_t> blackTexture(int w = TEX, int h = TEX)
{
    return std::vector<uint8_t>(static_cast<size_t>(w) * h * 3, 0);
}

void light(std::vector<uint8_t>& tex, int w, int x, int y, uint8_t r = 200, uint8_t g = 120, uint8_t b = 40)
{
    uint8_t* p = &tex[(static_cast<size_t>(y) * w + x) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

// The layer mappings the glow pass uses for glowAmount `amount`.
std::vector<GlowLayerMapping> layersFor(float amount, const Screen& s)
{
    std::vector<GlowLayerMapping> m(GLOW_LAYERS);
    glowLayerMappings(GLOW_STEP_SCALE * amount, s.w, s.h, m.data(), GLOW_LAYERS);
    return m;
}

::testing::AssertionResult inScreenAndDisjoint(const std::vector<GlowRect>& rects, const Screen& s)
{
    for (size_t i = 0; i < rects.size(); ++i) {
        const GlowRect& r = rects[i];
        if (r.width < 1 || r.height < 1 || r.x < 0 || r.y < 0 || r.x + r.width > s.w || r.y + r.height > s.h)
            return ::testing::AssertionFailure() << "rectangle " << i << " (" << r.x << ", " << r.y << ", "
                                                 << r.width << ", " << r.height << ") is empty or off screen";
        for (size_t j = 0; j < i; ++j) {
            const GlowRect& o = rects[j];
            if (r.x < o.x + o.width && o.x < r.x + r.width && r.y < o.y + o.height && o.y < r.y + r.height)
                return ::testing::AssertionFailure() << "rectangles " << j << " and " << i << " overlap";
        }
    }
    return ::testing::AssertionSuccess();
}

bool covered(const std::vector<GlowRect>& rects, int x, int y)
{
    for (const GlowRect& r : rects)
        if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height)
            return true;
    return false;
}

struct LayerCase {
    const char* name;
    Screen      screen;
    float       glowAmount;
};

// The show's glow amounts (2 and 4) at the show's size, odd sizes, a window
// taller than wide (the texture repeats along t), one narrower than the
// texture (samples minified), no zoom, and a zoom past the middle (the
// coordinates run backwards).
const LayerCase LAYER_CASES[] = {
    { "1024x768 amount 2", { 1024, 768 }, 2.0f },
    { "1024x768 amount 4", { 1024, 768 }, 4.0f },
    { "333x211 amount 2", { 333, 211 }, 2.0f },
    { "1023x767 amount 4", { 1023, 767 }, 4.0f },
    { "300x700 amount 2", { 300, 700 }, 2.0f },
    { "97x61 amount 4", { 97, 61 }, 4.0f },
    { "640x480 amount 0", { 640, 480 }, 0.0f },
    { "320x240 amount 15", { 320, 240 }, 15.0f },
};

// Texel positions: the centre, the middle of each edge, each corner, and
// one just inside a tile boundary.
const int TEXEL_POSITIONS[][2] = {
    { 128, 128 }, { 0, 128 }, { 255, 128 }, { 128, 0 }, { 128, 255 },
    { 0, 0 },     { 255, 0 }, { 0, 255 },   { 255, 255 }, { 7, 8 },
};

// One lit texel: every pixel whose sample reads it is covered, and every
// covered pixel lies within the margins of its tile's reach.
void expectSingleTexelRects(int tx, int ty, GlowWrap wrap)
{
    std::vector<uint8_t> tex = blackTexture();
    light(tex, TEX, tx, ty, 0, 0, 1);   // the faintest blue counts as light
    GlowTileGrid grid;
    findLitTiles(tex.data(), TEX, TEX, grid);
    ASSERT_TRUE(grid.anyLit);
    const int ts = grid.tileSize;
    const int ax = tx / ts * ts, bx = ax + ts - 1, ay = ty / ts * ts, by = ay + ts - 1;
    std::vector<GlowRect> rects;
    for (const LayerCase& lc : LAYER_CASES) {
        const Screen s = lc.screen;
        const std::vector<GlowLayerMapping> layers = layersFor(lc.glowAmount, s);
        for (int i = 0; i < GLOW_LAYERS; ++i) {
            SCOPED_TRACE(std::string(lc.name) + ", layer " + std::to_string(i));
            const GlowLayerMapping& m = layers[static_cast<size_t>(i)];
            glowLayerRects(grid, m, wrap, wrap, s.w, s.h, rects);
            ASSERT_TRUE(inScreenAndDisjoint(rects, s));
            // Reach: the product of the columns and rows that read the texel.
            std::vector<int> xs, ys;
            for (int x = 0; x < s.w; ++x)
                if (reads(x, s.w, m.s0, m.s1, tx, TEX, wrap))
                    xs.push_back(x);
            for (int y = 0; y < s.h; ++y)
                if (reads(y, s.h, m.t0, m.t1, ty, TEX, wrap))
                    ys.push_back(y);
            int missed = 0;
            for (const int y : ys)
                for (const int x : xs)
                    missed += covered(rects, x, y) ? 0 : 1;
            EXPECT_EQ(missed, 0) << "pixels reading the texel left out";
            if (!xs.empty() && !ys.empty()) {
                EXPECT_FALSE(rects.empty());
            }
            int beyond = 0;
            for (const GlowRect& r : rects)
                for (int y = r.y; y < r.y + r.height; ++y)
                    for (int x = r.x; x < r.x + r.width; ++x)
                        beyond += nearTile(x, s.w, m.s0, m.s1, ax, bx, TEX, wrap) &&
                                          nearTile(y, s.h, m.t0, m.t1, ay, by, TEX, wrap)
                                      ? 0
                                      : 1;
            EXPECT_EQ(beyond, 0) << "pixels covered beyond the tile's reach and the margins";
        }
    }
}

} // namespace

// --- Tiles ---------------------------------------------------------------------------------

TEST(GlowTiles, BlackTextureHasNoLitTileAndNoLayerRectangles)
{
    const std::vector<uint8_t> tex = blackTexture();
    GlowTileGrid grid;
    findLitTiles(tex.data(), TEX, TEX, grid);
    EXPECT_FALSE(grid.anyLit);
    EXPECT_EQ(grid.columns, TEX / GLOW_TILE_SIZE);
    EXPECT_EQ(grid.rows, TEX / GLOW_TILE_SIZE);
    std::vector<GlowRect> rects(3);
    for (const LayerCase& lc : LAYER_CASES) {
        for (const GlowLayerMapping& m : layersFor(lc.glowAmount, lc.screen)) {
            glowLayerRects(grid, m, GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, lc.screen.w, lc.screen.h, rects);
            EXPECT_TRUE(rects.empty()) << lc.name;
        }
    }
}

TEST(GlowTiles, AnyNonZeroChannelLightsExactlyItsTile)
{
    struct Case {
        int w, h, x, y;
        uint8_t r, g, b;
    };
    // Sizes that are not multiples of the tile, and one wide enough for larger tiles.
    const Case cases[] = {
        { 256, 256, 0, 0, 1, 0, 0 },   { 256, 256, 255, 255, 0, 1, 0 }, { 256, 256, 17, 200, 0, 0, 1 },
        { 20, 13, 19, 12, 0, 0, 9 },   { 1024, 8, 1023, 7, 5, 0, 0 },   { 1, 1, 0, 0, 0, 3, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " texel " + std::to_string(c.x) + ", " +
                     std::to_string(c.y));
        std::vector<uint8_t> tex = blackTexture(c.w, c.h);
        light(tex, c.w, c.x, c.y, c.r, c.g, c.b);
        GlowTileGrid grid;
        findLitTiles(tex.data(), c.w, c.h, grid);
        ASSERT_TRUE(grid.anyLit);
        EXPECT_LE(grid.columns, GLOW_MAX_TILES_PER_AXIS);
        EXPECT_GE(grid.columns * grid.tileSize, c.w);
        EXPECT_GE(grid.rows * grid.tileSize, c.h);
        EXPECT_LT((grid.columns - 1) * grid.tileSize, c.w);
        ASSERT_EQ(grid.litColumns.size(), static_cast<size_t>(grid.rows));
        for (int r = 0; r < grid.rows; ++r) {
            const uint64_t want = r == c.y / grid.tileSize ? uint64_t(1) << (c.x / grid.tileSize) : 0;
            EXPECT_EQ(grid.litColumns[static_cast<size_t>(r)], want) << "tile row " << r;
        }
    }
}

TEST(GlowTiles, EmptyOrMissingTextureGivesAnEmptyGrid)
{
    GlowTileGrid grid;
    findLitTiles(nullptr, TEX, TEX, grid);
    EXPECT_FALSE(grid.anyLit);
    const std::vector<uint8_t> one(3, 255);
    findLitTiles(one.data(), 0, 1, grid);
    EXPECT_FALSE(grid.anyLit);
    EXPECT_EQ(grid.rows, 0);
    std::vector<GlowRect> rects;
    glowLayerRects(grid, GlowLayerMapping{}, GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, 100, 100, rects);
    EXPECT_TRUE(rects.empty());
}

// --- Layer mappings ------------------------------------------------------------------------

TEST(GlowTiles, LayerMappingsZoomInByTheStepAndFollowTheAspect)
{
    GlowLayerMapping m[GLOW_LAYERS];
    glowLayerMappings(0.01f, 1024, 768, m, GLOW_LAYERS);
    float o = 0.0f;
    for (int i = 0; i < GLOW_LAYERS; ++i) {
        EXPECT_EQ(m[i].s0, o);
        EXPECT_EQ(m[i].t0, o);
        EXPECT_EQ(m[i].s1, 1.0f - o);
        EXPECT_EQ(m[i].t1, 0.75f - o);
        o += 0.01f;
    }
}

// --- Layer rectangles ------------------------------------------------------------------------

TEST(GlowTiles, SingleLitTexelIsCoveredWhereverItCanBeSampledUnderRepeat)
{
    for (const auto& t : TEXEL_POSITIONS) {
        SCOPED_TRACE("texel " + std::to_string(t[0]) + ", " + std::to_string(t[1]));
        expectSingleTexelRects(t[0], t[1], GLOW_WRAP_REPEAT);
    }
}

TEST(GlowTiles, SingleLitTexelIsCoveredWhereverItCanBeSampledUnderClamping)
{
    for (const auto& t : TEXEL_POSITIONS) {
        SCOPED_TRACE("texel " + std::to_string(t[0]) + ", " + std::to_string(t[1]));
        expectSingleTexelRects(t[0], t[1], GLOW_WRAP_CLAMP);
    }
}

TEST(GlowTiles, RepeatCarriesAnEdgeTexelToTheOppositeEdgeOfTheScreen)
{
    // Unzoomed, the left screen edge samples s = 0.5 / width texels in: the
    // filter reads the last column there as well as the first.
    std::vector<uint8_t> tex = blackTexture();
    light(tex, TEX, TEX - 1, 100);
    GlowTileGrid grid;
    findLitTiles(tex.data(), TEX, TEX, grid);
    const Screen s{ 1024, 768 };
    const std::vector<GlowLayerMapping> layers = layersFor(0.0f, s);
    std::vector<GlowRect> rects;
    glowLayerRects(grid, layers[0], GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, s.w, s.h, rects);
    const int y = static_cast<int>((100.5 / TEX) * s.w);   // the texel's row on screen
    EXPECT_TRUE(covered(rects, 0, y)) << "left edge, repeat";
    EXPECT_TRUE(covered(rects, s.w - 1, y)) << "right edge";
    glowLayerRects(grid, layers[0], GLOW_WRAP_CLAMP, GLOW_WRAP_CLAMP, s.w, s.h, rects);
    EXPECT_FALSE(covered(rects, 0, y)) << "left edge, clamped";
    EXPECT_TRUE(covered(rects, s.w - 1, y));
}

TEST(GlowTiles, ManyScatteredTexelsAreAllCoveredByDisjointRectangles)
{
    std::mt19937 random(7);
    for (const LayerCase& lc : LAYER_CASES) {
        const Screen s = lc.screen;
        if (static_cast<long>(s.w) * s.h > 400000)
            continue;   // the brute force below visits every pixel for every texel
        SCOPED_TRACE(lc.name);
        std::vector<uint8_t> tex = blackTexture();
        std::vector<std::pair<int, int>> lit;
        for (int k = 0; k < 12; ++k) {
            lit.push_back({ static_cast<int>(random() % TEX), static_cast<int>(random() % TEX) });
            light(tex, TEX, lit.back().first, lit.back().second);
        }
        GlowTileGrid grid;
        findLitTiles(tex.data(), TEX, TEX, grid);
        std::vector<GlowRect> rects;
        for (const GlowLayerMapping& m : layersFor(lc.glowAmount, s)) {
            glowLayerRects(grid, m, GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, s.w, s.h, rects);
            ASSERT_TRUE(inScreenAndDisjoint(rects, s));
            std::vector<uint8_t> mask(static_cast<size_t>(s.w) * s.h, 0);
            for (const GlowRect& r : rects)
                for (int y = r.y; y < r.y + r.height; ++y)
                    for (int x = r.x; x < r.x + r.width; ++x)
                        mask[static_cast<size_t>(y) * s.w + x] = 1;
            int missed = 0;
            for (const auto& t : lit)
                for (int y = 0; y < s.h; ++y) {
                    if (!reads(y, s.h, m.t0, m.t1, t.second, TEX, GLOW_WRAP_REPEAT))
                        continue;
                    for (int x = 0; x < s.w; ++x)
                        if (reads(x, s.w, m.s0, m.s1, t.first, TEX, GLOW_WRAP_REPEAT))
                            missed += mask[static_cast<size_t>(y) * s.w + x] ? 0 : 1;
                }
            EXPECT_EQ(missed, 0);
        }
    }
}

TEST(GlowTiles, FullyLitTextureGivesOneFullScreenRectangle)
{
    std::vector<uint8_t> tex(static_cast<size_t>(TEX) * TEX * 3, 90);
    GlowTileGrid grid;
    findLitTiles(tex.data(), TEX, TEX, grid);
    std::vector<GlowRect> rects;
    for (const LayerCase& lc : LAYER_CASES) {
        for (const GlowWrap wrap : { GLOW_WRAP_REPEAT, GLOW_WRAP_CLAMP }) {
            for (const GlowLayerMapping& m : layersFor(lc.glowAmount, lc.screen)) {
                glowLayerRects(grid, m, wrap, wrap, lc.screen.w, lc.screen.h, rects);
                ASSERT_EQ(rects.size(), 1u) << lc.name;
                EXPECT_EQ(rects[0].x, 0);
                EXPECT_EQ(rects[0].y, 0);
                EXPECT_EQ(rects[0].width, lc.screen.w);
                EXPECT_EQ(rects[0].height, lc.screen.h);
            }
        }
    }
}

TEST(GlowTiles, LitCaptureAwayFromTheScreenLeavesMostOfItUndrawn)
{
    // A blob in the middle of the captured part: each layer needs a small
    // part of the screen, which is what the rectangles are for.
    std::vector<uint8_t> tex = blackTexture();
    for (int y = 80; y < 110; ++y)
        for (int x = 110; x < 150; ++x)
            light(tex, TEX, x, y);
    GlowTileGrid grid;
    findLitTiles(tex.data(), TEX, TEX, grid);
    const Screen s{ 1024, 768 };
    std::vector<GlowRect> rects;
    for (const GlowLayerMapping& m : layersFor(2.0f, s)) {
        glowLayerRects(grid, m, GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, s.w, s.h, rects);
        long area = 0;
        for (const GlowRect& r : rects)
            area += static_cast<long>(r.width) * r.height;
        EXPECT_GT(area, 0);
        EXPECT_LT(area, static_cast<long>(s.w) * s.h / 8);
    }
}

TEST(GlowTiles, UnboundedRepeatsOrCoordinatesFallBackToTheFullScreen)
{
    std::vector<uint8_t> tex = blackTexture();
    light(tex, TEX, 30, 30);
    GlowTileGrid grid;
    findLitTiles(tex.data(), TEX, TEX, grid);
    std::vector<GlowRect> rects;
    // 10 x 2000: t runs over 200 repeats of the texture.
    const Screen tall{ 10, 2000 };
    glowLayerRects(grid, layersFor(2.0f, tall)[0], GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, tall.w, tall.h, rects);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].width, tall.w);
    EXPECT_EQ(rects[0].height, tall.h);
    GlowLayerMapping bad;
    bad.s1 = std::nanf("");
    glowLayerRects(grid, bad, GLOW_WRAP_REPEAT, GLOW_WRAP_REPEAT, 64, 48, rects);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].width, 64);
    EXPECT_EQ(rects[0].height, 48);
}

// The glow summed in one draw covers the union of the layers' rectangles:
// random overlapping sets (some reaching off screen, some empty) give
// disjoint rectangles covering exactly the pixels some input covers.
TEST(GlowTiles, TheUnionOfOverlappingRectanglesIsCoveredOnceAndExactly)
{
    std::mt19937 random(11);
    const Screen s{ 96, 72 };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<GlowRect> in;
        const int count = round == 0 ? 0 : 1 + static_cast<int>(random() % 30);
        for (int k = 0; k < count; ++k)
            in.push_back({ static_cast<int>(random() % 120) - 12, static_cast<int>(random() % 90) - 9,
                           static_cast<int>(random() % 50), static_cast<int>(random() % 40) });
        std::vector<GlowRect> out;
        glowUnionRects(in, s.w, s.h, out);
        ASSERT_TRUE(inScreenAndDisjoint(out, s));
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                ASSERT_EQ(covered(out, x, y), covered(in, x, y)) << "pixel " << x << ", " << y;
    }
    std::vector<GlowRect> many(GLOW_MAX_UNION_RECTS + 1, GlowRect{ 1, 1, 2, 2 }), out;
    glowUnionRects(many, s.w, s.h, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].width * out[0].height, s.w * s.h) << "past the limit: the whole screen";
    many.pop_back();
    glowUnionRects(many, s.w, s.h, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].width * out[0].height, 4) << "at the limit: the union itself";
}
