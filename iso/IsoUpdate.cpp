// iso/IsoUpdate.cpp: the per-frame isosurface update: effect clock, particle
// balls, the scene's procedural sources, then a fresh mesh.
#include "iso/IsoSurface.h"

#include "iso/Motion.h"
#include "iso/Particles.h"

namespace {

constexpr int   MAX_PARTICLE_BALLS   = 20;
constexpr float PARTICLE_RADIUS      = 20.0f;
constexpr float PARTICLE_STRENGTH    = 0.2f;    // per unit of particle size
constexpr float BALL_STRENGTH        = 20.0f;
constexpr float SEGMENT_END_STRENGTH = 20.0f;
constexpr float NEGATED_END_STRENGTH = -40.0f;
constexpr float SEGMENT_RADIUS       = 5.12f;
constexpr float WOBBLE_AMPLITUDE     = 5.12f;
constexpr float EXTRA_BALL_RADIUS    = 4.0f * 5.12f;   // mode 7's ball
constexpr float INV_GRID             = 1.0f / 64.0f;

// The colour of source i: its position in the grid, or its palette entry. A
// palette outside the table keeps the previous colour (`colour` in and out).
void sourceColour(const IsoSurface& iso, int32_t i, const Float3& centre, Float3& colour)
{
    if (iso.colourByPosition)
        scaled(centre, INV_GRID, colour);
    else
        paletteColour(iso.palette, i, colour);
}

float ballRadius(int mode)
{
    return mode == 2 ? 4.48f : 6.4f;
}

Float3 ballCentre(int mode, int32_t i, float timeMs)
{
    switch (mode) {
    case 1: return wobble(i, timeMs, WOBBLE_AMPLITUDE);
    case 2: return twinWobble(i, timeMs);
    case 3: return orbit(i, timeMs);
    default: return Float3(0.0f, 0.0f, 0.0f);
    }
}

SegmentEnds segmentEnds(int mode, int32_t i, float timeMs)
{
    switch (mode) {
    case 4: return driftPair(i, timeMs);
    case 5: return bar(i, timeMs);
    case 6: return chain(i, timeMs);
    default: return bar(i, timeMs);   // mode 7
    }
}

void placeParticleBalls(IsoSurface& iso, int& count, Float3& colour)
{
    const ParticleNode* nodes[MAX_PARTICLE_BALLS];
    count = MAX_PARTICLE_BALLS;
    gatherParticles(particleSystem, nodes, count);
    for (int j = 0; j < count; ++j) {
        // World units to grid units, in float: position * 0.1 + 32.
        const Float3& p = nodes[j]->position;
        const Float3 centre = clampToGrid(Float3(p.x * 0.1f + 32.0f, p.y * 0.1f + 32.0f, p.z * 0.1f + 32.0f));
        sourceColour(iso, j, centre, colour);
        placeBall(iso.field, static_cast<uint32_t>(j),
                  makeBall(centre, colour, nodes[j]->size * PARTICLE_STRENGTH, PARTICLE_RADIUS));
    }
}

} // namespace

void updateIso(IsoSurface& iso, float dtSeconds)
{
    iso.timeMs += dtSeconds * 1000.0f;

    Float3 colour(1.0f, 1.0f, 1.0f);
    int n = 0;
    placeParticleBalls(iso, n, colour);

    int count = iso.sourceCount;
    if (count < 0) count = 0;
    if (count > MAX_PROCEDURAL_SOURCES) count = MAX_PROCEDURAL_SOURCES;
    const int mode = (iso.placementMode < 0 || iso.placementMode > 7) ? 0 : iso.placementMode;
    const float T = iso.timeMs;

    for (int32_t i = n; i < n + count; ++i) {
        const uint32_t index = static_cast<uint32_t>(i);
        if (mode <= 3) {
            const Float3 centre = clampToGrid(ballCentre(mode, i, T));
            sourceColour(iso, i, centre, colour);
            const float strength = iso.negateSources ? -BALL_STRENGTH : BALL_STRENGTH;
            placeBall(iso.field, index, makeBall(centre, colour, strength, ballRadius(mode)));
            continue;
        }

        const SegmentEnds ends = segmentEnds(mode, i, T);
        const Float3 a = clampToGrid(ends.a);
        const Float3 b = clampToGrid(ends.b);
        Float3 startColour = colour, endColour;
        sourceColour(iso, i, a, startColour);
        endColour = startColour;
        sourceColour(iso, i + 1, b, endColour);
        colour = endColour;
        const float strength = iso.negateSources ? NEGATED_END_STRENGTH : SEGMENT_END_STRENGTH;
        placeSegment(iso.field, index,
                     makeSegment(a, startColour, strength, b, endColour, strength, SEGMENT_RADIUS));

        if (mode == 7) {
            // The extra ball is never negated.
            const Float3 centre = clampToGrid(wobble(i, T, WOBBLE_AMPLITUDE));
            sourceColour(iso, i, centre, colour);
            placeBall(iso.field, index, makeBall(centre, colour, BALL_STRENGTH, EXTRA_BALL_RADIUS));
        }
    }

    if (!iso.deferMesh)
        rebuildIsoMesh(iso);
}
