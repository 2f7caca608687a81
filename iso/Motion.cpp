// iso/Motion.cpp: motion curves and palettes.
#include "iso/Motion.h"

#include <cmath>

namespace {

constexpr float PHASE = 49152.0f;

float seconds(float timeMs)
{
    return timeMs * 0.001f;
}

// Same curve on every axis, each with its own multiplier c.
template <typename Axis>
Float3 perAxis(Axis axis)
{
    return Float3(axis(MOTION_AXIS_MULTIPLIER[0]), axis(MOTION_AXIS_MULTIPLIER[1]), axis(MOTION_AXIS_MULTIPLIER[2]));
}

float fc(int32_t v)
{
    return static_cast<float>(v);
}

// One row of the palette table: colours for even and odd source indices.
struct PaletteRow {
    float even[3];
    float odd[3];
};

constexpr PaletteRow PALETTES[PALETTE_COUNT] = {
    { { 1.0f, 1.0f, 1.0f }, { 1.0f, 1.0f, 1.0f } },   // 0
    { { 0.8f, 0.8f, 0.8f }, { 0.8f, 0.8f, 0.8f } },   // 1
    { { 1.0f, 0.0f, 0.0f }, { 1.0f, 0.0f, 0.0f } },   // 2
    { { 0.0f, 1.0f, 0.0f }, { 0.0f, 1.0f, 0.0f } },   // 3
    { { 0.0f, 0.0f, 1.0f }, { 0.0f, 0.0f, 1.0f } },   // 4
    { { 1.0f, 1.0f, 1.0f }, { 1.0f, 1.0f, 1.0f } },   // 5
    { { 1.0f, 0.0f, 1.0f }, { 1.0f, 0.0f, 1.0f } },   // 6
    { { 0.0f, 1.0f, 1.0f }, { 0.0f, 1.0f, 1.0f } },   // 7
    { { 1.0f, 0.8f, 0.0f }, { 0.0f, 1.0f, 0.0f } },   // 8
    { { 0.8f, 0.0f, 1.0f }, { 0.0f, 0.0f, 1.0f } },   // 9
    { { 1.0f, 0.8f, 0.0f }, { 0.0f, 1.0f, 1.0f } },   // 10
    { { 1.0f, 0.0f, 0.0f }, { 0.0f, 1.0f, 0.0f } },   // 11
    { { 1.0f, 0.0f, 0.0f }, { 1.0f, 1.0f, 0.0f } },   // 12
    { { 0.5f, 0.5f, 1.0f }, { 1.0f, 0.5f, 0.5f } },   // 13
    { { 1.0f, 1.0f, 1.0f }, { 1.0f, 1.0f, 1.0f } },   // 14
};
static_assert(sizeof(PALETTES) / sizeof(PALETTES[0]) == PALETTE_COUNT, "one row per palette");

float clampCoordinate(float v)
{
    if (v >= 64.0f)
        return 63.0f;
    if (v < 0.0f)
        return 0.0f;
    return v;
}

} // namespace

Float3 orbit(int32_t i, float timeMs)
{
    // (i + c) * T * 0.0001, multiplied left to right in float.
    return Float3(32.0f + 28.16f * std::sin(fc(i + 23) * timeMs * 0.0001f),
                  32.0f + 28.16f * std::sin(fc(i + 11) * timeMs * 0.0001f),
                  32.0f + 28.16f * std::sin(fc(i + 5) * timeMs * 0.0001f));
}

Float3 wobble(int32_t i, float timeMs, float amplitude)
{
    const float s = seconds(timeMs);
    return perAxis([&](int32_t c) { return 32.0f + amplitude * std::sin(s + fc(c * i) + PHASE); });
}

Float3 twinWobble(int32_t i, float timeMs)
{
    const float s = seconds(timeMs);
    const int32_t k = i % 7 + 3947;
    return perAxis([&](int32_t c) {
        return 32.0f + 9.6f * std::sin(fc(c * k) + s + PHASE) + 4.48f * std::sin(fc(c * i) + 3.0f * s + PHASE);
    });
}

SegmentEnds driftPair(int32_t i, float timeMs)
{
    const float s = seconds(timeMs);
    SegmentEnds e;
    e.a = perAxis([&](int32_t c) { return 32.0f + 16.0f * std::sin(fc(c * i) + s + PHASE); });
    e.b = perAxis([&](int32_t c) { return 32.0f + 16.0f * std::sin(fc(c * (i + 4837)) + 2.0f * s + PHASE); });
    return e;
}

SegmentEnds chain(int32_t i, float timeMs)
{
    const float s = seconds(timeMs);
    SegmentEnds e;
    e.a = perAxis([&](int32_t c) { return 32.0f + 16.0f * std::sin(fc(c * i) + s + PHASE); });
    e.b = perAxis([&](int32_t c) { return 32.0f + 16.0f * std::sin(fc(c * (i + 1)) + s + PHASE); });
    return e;
}

SegmentEnds bar(int32_t i, float timeMs)
{
    const float s = seconds(timeMs);
    const float y = (fc((61 * i + 23607) & 127) / 63.5f - 1.0f) * 19.2f + 32.0f;
    const float z = (fc((87 * i + 46197) & 127) / 63.5f - 1.0f) * 19.2f + 32.0f;
    const float k = fc(((11 * i + 9251) & 31) + 16);   // low 5 bits: 16..47 for any i
    const float u = std::fmod(0.73f * fc(i) + s, 1.0f);

    SegmentEnds e;
    e.b.x = (k + 64.0f) * u;
    e.a.x = e.b.x - k;
    if (e.a.x < 6.4f) e.a.x = 6.4f;
    if (e.a.x > 58.1f) e.a.x = 58.1f;
    if (e.b.x < 6.9f) e.b.x = 6.9f;
    if (e.b.x > 57.6f) e.b.x = 57.6f;
    e.a.y = e.b.y = y;
    e.a.z = e.b.z = z;
    return e;
}

Float3 clampToGrid(const Float3& p)
{
    return Float3(clampCoordinate(p.x), clampCoordinate(p.y), clampCoordinate(p.z));
}

bool paletteColour(int32_t palette, int32_t i, Float3& rgb)
{
    if (palette < 0 || palette >= PALETTE_COUNT)
        return false;
    const float* c = (i % 2 == 0) ? PALETTES[palette].even : PALETTES[palette].odd;
    rgb = Float3(c[0], c[1], c[2]);
    return true;
}
