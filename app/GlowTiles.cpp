// app/GlowTiles.cpp: lit tiles of the glow capture and the screen rectangles
// each glow layer needs. No GL.
//
// Along one axis a layer's coordinate runs linearly from c0 at the screen's
// low edge to c1 at its high edge, so the pixel p (centre p + 0.5 of n pixels)
// samples c(p) = c0 + (c1 - c0) (p + 0.5) / n. Linear filtering at u = c T - 0.5
// (T texels) reads texels floor(u) and floor(u) + 1, wrapped or clamped; texel
// j is read when c T lies in [j - 0.5, j + 1.5). A tile of texels [a, b]
// therefore reaches c T in [a - 0.5, b + 1.5), widened by GLOW_TEXEL_MARGIN,
// repeated every T under GL_REPEAT and open towards the outside at the
// texture's edges under clamping. The two axes are independent, so a layer
// lights the union of (x ranges of a tile column) x (y ranges of a tile row)
// over the lit tiles; that union is cut along every range end into cells and
// the covered cells are merged into disjoint rectangles.
#include "app/GlowTiles.h"

#include <algorithm>
#include <cmath>

namespace {

// Pixels [first, end) along one axis.
struct PixelRange {
    int first = 0, end = 0;
};

// The pixels p in [0, n) whose centre coordinate c(p) lies in [lo, hi)
// (c measured in texels, c T), widened by the pixel margin. Appends nothing
// when none does.
void appendPixelRange(double lo, double hi, double c0, double c1, int n, std::vector<PixelRange>& out)
{
    const double slope = (c1 - c0) / n;   // texels per pixel
    double pl, ph;                        // the interval of p + 0.5
    if (slope == 0.0) {
        if (!(c0 >= lo && c0 < hi))
            return;
        pl = -1.0;
        ph = n + 1.0;
    } else {
        pl = (lo - c0) / slope;
        ph = (hi - c0) / slope;
        if (slope < 0.0)
            std::swap(pl, ph);
    }
    // Clamp before rounding, so infinite or huge ends stay in int range.
    const double bound = static_cast<double>(n) + 4.0;
    pl = std::min(std::max(pl, -4.0), bound);
    ph = std::min(std::max(ph, -4.0), bound);
    int first = static_cast<int>(std::ceil(pl - 0.5)) - GLOW_PIXEL_MARGIN;
    int end = static_cast<int>(std::ceil(ph - 0.5)) + GLOW_PIXEL_MARGIN;
    first = std::max(first, 0);
    end = std::min(end, n);
    if (first < end)
        out.push_back({ first, end });
}

// The pixel ranges along an axis of n pixels whose samples can read texels
// [a, b] of T. False when the tile repeats more than GLOW_MAX_REPEATS times.
bool axisRanges(int a, int b, int texels, double c0, double c1, int n, GlowWrap wrap, std::vector<PixelRange>& out)
{
    out.clear();
    const double T = texels;
    const double t0 = c0 * T, t1 = c1 * T;   // in texels
    double lo = a - 0.5 - GLOW_TEXEL_MARGIN;
    double hi = b + 1.5 + GLOW_TEXEL_MARGIN;
    if (wrap != GLOW_WRAP_REPEAT) {
        if (a == 0)
            lo = -HUGE_VAL;
        if (b == texels - 1)
            hi = HUGE_VAL;
        appendPixelRange(lo, hi, t0, t1, n, out);
        return true;
    }
    const double cmin = std::min(t0, t1), cmax = std::max(t0, t1);
    const double kFirst = std::floor((cmin - hi) / T);
    const double kLast = std::ceil((cmax - lo) / T);
    if (kLast - kFirst + 1.0 > GLOW_MAX_REPEATS)
        return false;
    for (double k = kFirst; k <= kLast; k += 1.0)
        appendPixelRange(lo + k * T, hi + k * T, t0, t1, n, out);
    return true;
}

// Per-call work space, reused so a frame's layers allocate nothing once grown.
struct Workspace {
    std::vector<PixelRange> ranges;
    std::vector<std::vector<PixelRange>> columnRanges, rowRanges;
    std::vector<int> xs, ys;
    std::vector<uint64_t> cellColumns;   // per x cell: tile columns whose ranges hold it
    std::vector<uint64_t> cellLit;       // per y cell: lit tile columns of the rows whose ranges hold it
    struct Open {
        int p0, p1, y0;   // cells [p0, p1) from pixel row y0 up
    };
    std::vector<Open> open, next;
};

// Sorted, unique breakpoints of an axis: 0, n and every range end.
void breakpoints(const std::vector<std::vector<PixelRange>>& ranges, int n, std::vector<int>& out)
{
    out.clear();
    out.push_back(0);
    out.push_back(n);
    for (const std::vector<PixelRange>& list : ranges)
        for (const PixelRange& r : list) {
            out.push_back(r.first);
            out.push_back(r.end);
        }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

void fullScreen(int w, int h, std::vector<GlowRect>& out)
{
    out.clear();
    out.push_back({ 0, 0, w, h });
}

} // namespace

int glowTileSize(int texWidth, int texHeight)
{
    const int side = std::max(texWidth, texHeight);
    int size = GLOW_TILE_SIZE;
    while (side > size * GLOW_MAX_TILES_PER_AXIS)
        size *= 2;
    return size;
}

void findLitTiles(const uint8_t* rgb, int width, int height, GlowTileGrid& grid)
{
    grid.litColumns.clear();
    grid.anyLit = false;
    if (!rgb || width < 1 || height < 1) {
        grid.texWidth = grid.texHeight = grid.columns = grid.rows = 0;
        return;
    }
    grid.texWidth = width;
    grid.texHeight = height;
    grid.tileSize = glowTileSize(width, height);
    grid.columns = (width + grid.tileSize - 1) / grid.tileSize;
    grid.rows = (height + grid.tileSize - 1) / grid.tileSize;
    grid.litColumns.assign(static_cast<size_t>(grid.rows), 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = rgb + static_cast<size_t>(y) * width * 3;
        uint64_t& lit = grid.litColumns[static_cast<size_t>(y / grid.tileSize)];
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + static_cast<size_t>(x) * 3;
            if (p[0] | p[1] | p[2])
                lit |= uint64_t(1) << (x / grid.tileSize);
        }
        grid.anyLit = grid.anyLit || lit != 0;
    }
}

void glowLayerMappings(float step, int width, int height, GlowLayerMapping* out, int layers)
{
    const float r = static_cast<float>(height) / static_cast<float>(width);
    float o = 0.0f;
    for (int i = 0; i < layers; ++i) {
        out[i].s0 = o;
        out[i].s1 = 1.0f - o;
        out[i].t0 = o;
        out[i].t1 = r - o;
        o += step;
    }
}

void glowLayerRects(const GlowTileGrid& grid, const GlowLayerMapping& m, GlowWrap wrapS, GlowWrap wrapT, int w,
                    int h, std::vector<GlowRect>& out)
{
    out.clear();
    if (!grid.anyLit || w < 1 || h < 1)
        return;
    if (!std::isfinite(m.s0) || !std::isfinite(m.s1) || !std::isfinite(m.t0) || !std::isfinite(m.t1))
        return fullScreen(w, h, out);

    static Workspace ws;
    const int size = grid.tileSize;
    ws.columnRanges.resize(static_cast<size_t>(grid.columns));
    ws.rowRanges.resize(static_cast<size_t>(grid.rows));
    for (int c = 0; c < grid.columns; ++c) {
        const int a = c * size, b = std::min(a + size, grid.texWidth) - 1;
        if (!axisRanges(a, b, grid.texWidth, m.s0, m.s1, w, wrapS, ws.columnRanges[static_cast<size_t>(c)]))
            return fullScreen(w, h, out);
    }
    for (int r = 0; r < grid.rows; ++r) {
        const int a = r * size, b = std::min(a + size, grid.texHeight) - 1;
        if (!axisRanges(a, b, grid.texHeight, m.t0, m.t1, h, wrapT, ws.rowRanges[static_cast<size_t>(r)]))
            return fullScreen(w, h, out);
    }

    breakpoints(ws.columnRanges, w, ws.xs);
    breakpoints(ws.rowRanges, h, ws.ys);
    const size_t cellsX = ws.xs.size() - 1, cellsY = ws.ys.size() - 1;
    ws.cellColumns.assign(cellsX, 0);
    for (int c = 0; c < grid.columns; ++c)
        for (const PixelRange& r : ws.columnRanges[static_cast<size_t>(c)]) {
            const size_t p0 = static_cast<size_t>(std::lower_bound(ws.xs.begin(), ws.xs.end(), r.first) - ws.xs.begin());
            for (size_t p = p0; p < cellsX && ws.xs[p] < r.end; ++p)
                ws.cellColumns[p] |= uint64_t(1) << c;
        }
    ws.cellLit.assign(cellsY, 0);
    for (int r = 0; r < grid.rows; ++r) {
        const uint64_t lit = grid.litColumns[static_cast<size_t>(r)];
        if (!lit)
            continue;
        for (const PixelRange& range : ws.rowRanges[static_cast<size_t>(r)]) {
            const size_t q0 =
                static_cast<size_t>(std::lower_bound(ws.ys.begin(), ws.ys.end(), range.first) - ws.ys.begin());
            for (size_t q = q0; q < cellsY && ws.ys[q] < range.end; ++q)
                ws.cellLit[q] |= lit;
        }
    }

    // Runs of covered cells per cell row; a run that repeats the one above
    // it exactly extends that rectangle upwards, every other run opens one.
    ws.open.clear();
    auto emit = [&](const Workspace::Open& o, int yEnd) {
        out.push_back({ ws.xs[static_cast<size_t>(o.p0)], o.y0, ws.xs[static_cast<size_t>(o.p1)] - ws.xs[static_cast<size_t>(o.p0)],
                        yEnd - o.y0 });
    };
    for (size_t q = 0; q <= cellsY; ++q) {
        ws.next.clear();
        if (q < cellsY) {
            const uint64_t lit = ws.cellLit[q];
            size_t p = 0;
            while (p < cellsX) {
                if (!(ws.cellColumns[p] & lit)) {
                    ++p;
                    continue;
                }
                const size_t p0 = p;
                while (p < cellsX && (ws.cellColumns[p] & lit))
                    ++p;
                ws.next.push_back({ static_cast<int>(p0), static_cast<int>(p), ws.ys[q] });
            }
        }
        // Both lists are sorted by p0 and hold disjoint runs.
        size_t j = 0;
        for (Workspace::Open& o : ws.open) {
            while (j < ws.next.size() && ws.next[j].p0 < o.p0)
                ++j;
            if (j < ws.next.size() && ws.next[j].p0 == o.p0 && ws.next[j].p1 == o.p1) {
                ws.next[j].y0 = o.y0;   // continues upwards
            } else {
                emit(o, ws.ys[q]);
            }
        }
        ws.open.swap(ws.next);
    }
    if (out.size() > static_cast<size_t>(GLOW_MAX_RECTS_PER_LAYER))
        fullScreen(w, h, out);
}

void glowUnionRects(const std::vector<GlowRect>& rects, int w, int h, std::vector<GlowRect>& out)
{
    out.clear();
    if (w < 1 || h < 1)
        return;
    if (rects.size() > static_cast<size_t>(GLOW_MAX_UNION_RECTS))
        return fullScreen(w, h, out);
    // The rectangles clipped to the screen, and every edge along each axis.
    static std::vector<GlowRect> clipped;
    static std::vector<int> xs, ys;
    clipped.clear();
    xs.clear();
    ys.clear();
    for (const GlowRect& r : rects) {
        const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
        const int x1 = std::min(r.x + std::max(r.width, 0), w), y1 = std::min(r.y + std::max(r.height, 0), h);
        if (x0 >= x1 || y0 >= y1)
            continue;
        clipped.push_back({ x0, y0, x1 - x0, y1 - y0 });
        xs.insert(xs.end(), { x0, x1 });
        ys.insert(ys.end(), { y0, y1 });
    }
    auto unique = [](std::vector<int>& v) {
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
    };
    unique(xs);
    unique(ys);
    // Each band between two y edges: the covered x cells, as runs; a run
    // equal to an open one of the band below extends it upwards.
    struct Run {
        int x0, x1, y0;
    };
    static std::vector<Run> open, next;
    static std::vector<uint8_t> covered;
    open.clear();
    auto index = [](const std::vector<int>& v, int at) {
        return static_cast<size_t>(std::lower_bound(v.begin(), v.end(), at) - v.begin());
    };
    const size_t bands = ys.empty() ? 0 : ys.size() - 1;
    for (size_t q = 0; q <= bands; ++q) {
        next.clear();
        if (q < bands) {
            covered.assign(xs.size(), 0);
            for (const GlowRect& r : clipped)
                if (r.y <= ys[q] && r.y + r.height >= ys[q + 1])
                    for (size_t p = index(xs, r.x), e = index(xs, r.x + r.width); p < e; ++p)
                        covered[p] = 1;
            for (size_t p = 0; p + 1 < xs.size();) {
                if (!covered[p]) {
                    ++p;
                    continue;
                }
                const size_t p0 = p;
                while (p + 1 < xs.size() && covered[p])
                    ++p;
                next.push_back({ xs[p0], xs[p], ys[q] });
            }
        }
        size_t j = 0;
        for (const Run& o : open) {
            while (j < next.size() && next[j].x0 < o.x0)
                ++j;
            if (j < next.size() && next[j].x0 == o.x0 && next[j].x1 == o.x1)
                next[j].y0 = o.y0;
            else
                out.push_back({ o.x0, o.y0, o.x1 - o.x0, ys[q] - o.y0 });
        }
        open.swap(next);
    }
}
