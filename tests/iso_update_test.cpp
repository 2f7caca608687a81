// tests/iso_update_test.cpp: the per-frame isosurface update: procedural
// sources by placement mode, strengths, negation, colours, particle balls and
// bad parameters.
#include "iso/IsoSurface.h"
#include "iso/Motion.h"
#include "iso/Particles.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>

namespace {

uint32_t lcgState = 1;
int seededRandom()
{
    lcgState = lcgState * 214013u + 2531011u;
    return static_cast<int>((lcgState >> 16) & 0x7FFF);
}

// A fresh isosurface with no sources and the global particle system off.
class IsoUpdate : public testing::Test {
protected:
    void SetUp() override
    {
        lcgState = 777;
        setParticleRandom(seededRandom);
        destroyParticles(particleSystem);
        iso = std::make_unique<IsoSurface>();
        resetIsoParams(*iso);
        disableAllSources(iso->field);
    }
    void TearDown() override
    {
        destroyParticles(particleSystem);
        setParticleRandom(nullptr);
    }

    const IsoMesh& mesh() const { return iso->mesher.meshes[iso->mesher.current]; }
    const BallSource& ball(size_t i) const { return iso->field.balls.at(i); }
    const SegmentSource& segment(size_t i) const { return iso->field.segments.at(i); }

    int enabledBalls() const
    {
        int n = 0;
        for (const BallSource& b : iso->field.balls)
            n += b.enabled ? 1 : 0;
        return n;
    }
    int enabledSegments() const
    {
        int n = 0;
        for (const SegmentSource& s : iso->field.segments)
            n += s.enabled ? 1 : 0;
        return n;
    }

    std::unique_ptr<IsoSurface> iso;
};

void expectFloat3(const Float3& got, const Float3& want)
{
    EXPECT_FLOAT_EQ(got.x, want.x);
    EXPECT_FLOAT_EQ(got.y, want.y);
    EXPECT_FLOAT_EQ(got.z, want.z);
}

Float3 palette(int p, int i)
{
    Float3 c(-1.0f, -1.0f, -1.0f);
    EXPECT_TRUE(paletteColour(p, i, c));
    return c;
}

bool sameMesh(const IsoMesh& a, const IsoMesh& b)
{
    if (a.vertices.size() != b.vertices.size() || a.indices != b.indices)
        return false;
    for (size_t i = 0; i < a.vertices.size(); ++i) {
        const IsoVertex& u = a.vertices[i];
        const IsoVertex& v = b.vertices[i];
        for (int k = 0; k < 3; ++k)
            if (u.position[k] != v.position[k] || u.normal[k] != v.normal[k] || u.colour[k] != v.colour[k])
                return false;
    }
    return true;
}

} // namespace

TEST_F(IsoUpdate, ConstructionRunsTwoUpdates)
{
    const auto fresh = std::make_unique<IsoSurface>();
    EXPECT_FLOAT_EQ(fresh->timeMs, 1000.0f);
    EXPECT_EQ(fresh->palette, 2);
    EXPECT_EQ(fresh->placementMode, 0);
}

TEST_F(IsoUpdate, ClockAdvancesInMilliseconds)
{
    updateIso(*iso, 0.25f);
    updateIso(*iso, 0.5f);
    EXPECT_FLOAT_EQ(iso->timeMs, 750.0f);
}

TEST_F(IsoUpdate, BallModesFollowTheirCurves)
{
    iso->sourceCount = 6;
    iso->palette = 9;
    const float T = 4321.0f;
    iso->timeMs = T - 1000.0f;
    for (int mode : { 1, 2, 3 }) {
        iso->placementMode = mode;
        iso->timeMs = T - 1000.0f;
        updateIso(*iso, 1.0f);
        for (int i = 0; i < 6; ++i) {
            const Float3 want = mode == 1 ? wobble(i, T, 5.12f) : mode == 2 ? twinWobble(i, T) : orbit(i, T);
            expectFloat3(ball(i).centre, clampToGrid(want));
            expectFloat3(ball(i).colour, palette(9, i));
            EXPECT_EQ(ball(i).strength, 20.0f);
            EXPECT_FLOAT_EQ(ball(i).radius, mode == 2 ? 4.48f : 6.4f);
            EXPECT_TRUE(ball(i).enabled);
        }
        EXPECT_FALSE(mesh().indices.empty()) << "mode " << mode;
    }
    EXPECT_EQ(enabledSegments(), 0);
}

TEST_F(IsoUpdate, SegmentModesUsePaletteOfBothEnds)
{
    iso->sourceCount = 5;
    iso->palette = 12;
    iso->timeMs = 2500.0f;
    for (int mode : { 4, 5, 6 }) {
        iso->placementMode = mode;
        iso->timeMs = 2500.0f;
        updateIso(*iso, 0.0f);
        for (int i = 0; i < 5; ++i) {
            const SegmentEnds e = mode == 4 ? driftPair(i, 2500.0f) : mode == 5 ? bar(i, 2500.0f) : chain(i, 2500.0f);
            const SegmentSource& s = segment(i);
            expectFloat3(s.start, clampToGrid(e.a));
            expectFloat3(s.end, clampToGrid(e.b));
            expectFloat3(s.startColour, palette(12, i));
            expectFloat3(s.endColour, palette(12, i + 1));
            EXPECT_EQ(s.startStrength, 20.0f);
            EXPECT_EQ(s.endStrength, 20.0f);
            EXPECT_FLOAT_EQ(s.radius, 5.12f);
            Float3 d;
            subtract(s.end, s.start, d);
            EXPECT_FLOAT_EQ(s.invLengthSq, 1.0f / dot(d, d));
            EXPECT_FLOAT_EQ(s.invRadiusSq, 1.0f / (5.12f * 5.12f));
        }
        EXPECT_FALSE(mesh().indices.empty()) << "mode " << mode;
    }
    EXPECT_EQ(enabledBalls(), 0);
}

TEST_F(IsoUpdate, NegatedSourcesGiveAnEmptyMesh)
{
    iso->negateSources = true;
    iso->sourceCount = 10;
    for (int mode : { 1, 2, 3, 4, 5, 6 }) {
        disableAllSources(iso->field);
        iso->placementMode = mode;
        updateIso(*iso, 0.7f);
        EXPECT_TRUE(mesh().vertices.empty()) << "mode " << mode;
        EXPECT_TRUE(mesh().indices.empty()) << "mode " << mode;
    }
    for (const BallSource& b : iso->field.balls) {
        if (b.enabled) {
            EXPECT_EQ(b.strength, -20.0f);
        }
    }
    for (const SegmentSource& s : iso->field.segments) {
        if (s.enabled) {
            EXPECT_EQ(s.startStrength, -40.0f);
            EXPECT_EQ(s.endStrength, -40.0f);
        }
    }
    EXPECT_GT(enabledSegments(), 0);
}

TEST_F(IsoUpdate, ModeSevenPlacesASegmentAndABallWithTheSameIndex)
{
    iso->placementMode = 7;
    iso->sourceCount = 5;
    iso->negateSources = true;
    iso->palette = 9;
    iso->timeMs = 3000.0f;
    updateIso(*iso, 0.0f);
    ASSERT_EQ(enabledBalls(), 5);
    ASSERT_EQ(enabledSegments(), 5);
    for (int i = 0; i < 5; ++i) {
        const SegmentEnds e = bar(i, 3000.0f);
        expectFloat3(segment(i).start, clampToGrid(e.a));
        EXPECT_EQ(segment(i).startStrength, -40.0f);
        EXPECT_EQ(segment(i).endStrength, -40.0f);
        expectFloat3(ball(i).centre, clampToGrid(wobble(i, 3000.0f, 5.12f)));
        EXPECT_EQ(ball(i).strength, 20.0f) << "the extra ball is never negated";
        EXPECT_FLOAT_EQ(ball(i).radius, 20.48f);
        expectFloat3(ball(i).colour, palette(9, i));
    }
    EXPECT_FALSE(mesh().indices.empty()) << "the big positive balls show through";
}

TEST_F(IsoUpdate, ZeroStepRebuildsTheSameMesh)
{
    iso->placementMode = 2;
    iso->sourceCount = 45;
    iso->palette = 13;
    updateIso(*iso, 1.3f);
    const IsoMesh first = mesh();
    ASSERT_GT(first.vertices.size(), 100u);
    const float clock = iso->timeMs;
    updateIso(*iso, 0.0f);
    EXPECT_EQ(iso->timeMs, clock);
    EXPECT_TRUE(sameMesh(first, mesh()));
    updateIso(*iso, 0.1f);
    EXPECT_FALSE(sameMesh(first, mesh())) << "a real step moves the sources";
}

TEST_F(IsoUpdate, SourcesBeyondALoweredCountStayPlaced)
{
    iso->placementMode = 1;
    iso->sourceCount = 10;
    updateIso(*iso, 1.0f);
    Float3 before[10];
    for (int i = 0; i < 10; ++i)
        before[i] = ball(i).centre;

    iso->sourceCount = 4;
    updateIso(*iso, 2.0f);
    EXPECT_EQ(enabledBalls(), 10);
    for (int i = 0; i < 4; ++i)
        expectFloat3(ball(i).centre, clampToGrid(wobble(i, 3000.0f, 5.12f)));
    for (int i = 4; i < 10; ++i)
        expectFloat3(ball(i).centre, before[i]);

    disableAllSources(iso->field);
    updateIso(*iso, 0.0f);
    EXPECT_EQ(enabledBalls(), 4);
}

TEST_F(IsoUpdate, ColourByPositionGivesGreyAtTheCentre)
{
    iso->placementMode = 3;   // orbit: every source at the centre when T = 0
    iso->sourceCount = 3;
    iso->colourByPosition = true;
    updateIso(*iso, 0.0f);
    for (int i = 0; i < 3; ++i) {
        expectFloat3(ball(i).centre, Float3(32.0f, 32.0f, 32.0f));
        expectFloat3(ball(i).colour, Float3(0.5f, 0.5f, 0.5f));
    }
    // Segments: each end by its own position.
    iso->placementMode = 4;
    updateIso(*iso, 0.4f);
    for (int i = 0; i < 3; ++i) {
        Float3 want;
        scaled(segment(i).start, 1.0f / 64.0f, want);
        expectFloat3(segment(i).startColour, want);
        scaled(segment(i).end, 1.0f / 64.0f, want);
        expectFloat3(segment(i).endColour, want);
    }
    // Mesh colours near the centre blob are grey too.
    iso->placementMode = 3;
    disableAllSources(iso->field);
    iso->timeMs = 0.0f;
    updateIso(*iso, 0.0f);
    ASSERT_FALSE(mesh().vertices.empty());
    for (const IsoVertex& v : mesh().vertices)
        expectFloat3(v.colour, Float3(0.5f, 0.5f, 0.5f));
}

TEST_F(IsoUpdate, BadParametersNeitherCrashNorReadOutOfBounds)
{
    // Placement modes outside 0..7 place balls at the origin, like mode 0.
    for (int mode : { -1, 8, 99, INT_MIN, INT_MAX }) {
        disableAllSources(iso->field);
        iso->placementMode = mode;
        iso->sourceCount = 3;
        updateIso(*iso, 0.1f);
        ASSERT_EQ(enabledBalls(), 3) << mode;
        EXPECT_EQ(enabledSegments(), 0);
        expectFloat3(ball(2).centre, Float3(0.0f, 0.0f, 0.0f));
        EXPECT_FLOAT_EQ(ball(2).radius, 6.4f);
    }

    // A palette outside 0..14 keeps the previous colour; the first is white.
    iso->placementMode = 5;
    for (int p : { 15, -1, 1000 }) {
        iso->palette = p;
        updateIso(*iso, 0.1f);
        for (int i = 0; i < 3; ++i) {
            expectFloat3(segment(i).startColour, Float3(1.0f, 1.0f, 1.0f));
            expectFloat3(segment(i).endColour, Float3(1.0f, 1.0f, 1.0f));
        }
    }

    // Negative counts place nothing; huge ones are clamped.
    disableAllSources(iso->field);
    iso->palette = 2;
    iso->placementMode = 1;
    iso->sourceCount = -5;
    updateIso(*iso, 0.1f);
    EXPECT_EQ(enabledBalls(), 0);
    iso->sourceCount = INT_MIN;
    updateIso(*iso, 0.1f);
    EXPECT_EQ(enabledBalls(), 0);
    iso->sourceCount = INT_MAX;
    updateIso(*iso, 0.1f);
    EXPECT_EQ(enabledBalls(), MAX_PROCEDURAL_SOURCES);
    EXPECT_EQ(iso->field.balls.size(), size_t(MAX_PROCEDURAL_SOURCES));
    for (const uint16_t index : mesh().indices)
        ASSERT_LT(index, mesh().vertices.size());
}

TEST_F(IsoUpdate, PresetOneFeedsTwentyParticleBalls)
{
    createParticleRoot(particleSystem);
    setupParticles(particleSystem, 1);
    for (int frame = 0; frame < 30; ++frame)
        updateParticles(particleSystem, 0.02f);
    iso->palette = 9;
    iso->placementMode = 1;
    iso->sourceCount = 2;
    updateIso(*iso, 0.5f);

    const ParticleNode* nodes[20];
    int n = 20;
    gatherParticles(particleSystem, nodes, n);
    ASSERT_EQ(n, 20);
    ASSERT_EQ(enabledBalls(), 22);
    for (int j = 0; j < 20; ++j) {
        const Float3& p = nodes[j]->position;
        const Float3 want = clampToGrid(Float3(p.x * 0.1f + 32.0f, p.y * 0.1f + 32.0f, p.z * 0.1f + 32.0f));
        expectFloat3(ball(j).centre, want);
        EXPECT_FLOAT_EQ(ball(j).strength, nodes[j]->size * 0.2f);
        EXPECT_EQ(ball(j).radius, 20.0f);
        expectFloat3(ball(j).colour, palette(9, j));
    }
    // The emitters sit at height 100 (+10 grid units) when launched.
    EXPECT_GT(ball(0).centre.y, 32.0f);
    // Procedural sources start after the particle balls.
    expectFloat3(ball(20).centre, clampToGrid(wobble(20, iso->timeMs, 5.12f)));
    expectFloat3(ball(21).centre, clampToGrid(wobble(21, iso->timeMs, 5.12f)));
    EXPECT_EQ(ball(21).strength, 20.0f);
}

TEST_F(IsoUpdate, ParticleCentresAreClampedAndNegativeSizesSubtract)
{
    createParticleRoot(particleSystem);
    setupParticles(particleSystem, 3);   // five burst particles, no grandchildren
    ParticleNode& root = *particleSystem.root;
    root.children[0]->position = Float3(400.0f, -400.0f, 315.0f);   // grid 72, -8, 63.5
    root.children[0]->size = -10.0f;                                // past its lifetime
    root.children[1]->position = Float3(0.0f, 0.0f, 0.0f);
    root.children[1]->size = 40.0f;
    iso->colourByPosition = true;
    updateIso(*iso, 0.0f);
    ASSERT_EQ(enabledBalls(), 5);
    expectFloat3(ball(0).centre, Float3(63.0f, 0.0f, 63.5f));
    EXPECT_FLOAT_EQ(ball(0).strength, -2.0f);
    expectFloat3(ball(0).colour, Float3(63.0f / 64.0f, 0.0f, 63.5f / 64.0f));
    expectFloat3(ball(1).centre, Float3(32.0f, 32.0f, 32.0f));
    EXPECT_FLOAT_EQ(ball(1).strength, 8.0f);
    expectFloat3(ball(1).colour, Float3(0.5f, 0.5f, 0.5f));
}

TEST_F(IsoUpdate, PresetZeroGivesNoParticleBalls)
{
    createParticleRoot(particleSystem);
    setupParticles(particleSystem, 1);
    setupParticles(particleSystem, 0);
    iso->placementMode = 1;
    iso->sourceCount = 3;
    updateIso(*iso, 0.5f);
    EXPECT_EQ(enabledBalls(), 3);
    expectFloat3(ball(0).centre, clampToGrid(wobble(0, 500.0f, 5.12f)));
}

TEST(IsoPalettes, WholeTableByParity)
{
    struct Row { int palette; Float3 even, odd; };
    const Row rows[] = {
        { 0, { 1, 1, 1 }, { 1, 1, 1 } },           { 1, { 0.8f, 0.8f, 0.8f }, { 0.8f, 0.8f, 0.8f } },
        { 2, { 1, 0, 0 }, { 1, 0, 0 } },           { 3, { 0, 1, 0 }, { 0, 1, 0 } },
        { 4, { 0, 0, 1 }, { 0, 0, 1 } },           { 5, { 1, 1, 1 }, { 1, 1, 1 } },
        { 6, { 1, 0, 1 }, { 1, 0, 1 } },           { 7, { 0, 1, 1 }, { 0, 1, 1 } },
        { 8, { 1, 0.8f, 0 }, { 0, 1, 0 } },        { 9, { 0.8f, 0, 1 }, { 0, 0, 1 } },
        { 10, { 1, 0.8f, 0 }, { 0, 1, 1 } },       { 11, { 1, 0, 0 }, { 0, 1, 0 } },
        { 12, { 1, 0, 0 }, { 1, 1, 0 } },          { 13, { 0.5f, 0.5f, 1 }, { 1, 0.5f, 0.5f } },
        { 14, { 1, 1, 1 }, { 1, 1, 1 } },
    };
    for (const Row& row : rows) {
        for (int i : { 0, 2, 20, 44 })
            expectFloat3(palette(row.palette, i), row.even);
        for (int i : { 1, 3, 21, 45 })
            expectFloat3(palette(row.palette, i), row.odd);
    }
}

TEST(IsoCurves, OrbitMultipliesLeftToRightInFloat)
{
    for (int i : { 0, 7, 30 })
        for (float T : { 1234.5f, 33333.0f, 60000.0f }) {
            const Float3 p = orbit(i, T);
            EXPECT_EQ(p.x, 32.0f + 28.16f * std::sin(float(i + 23) * T * 0.0001f));
            EXPECT_EQ(p.y, 32.0f + 28.16f * std::sin(float(i + 11) * T * 0.0001f));
            EXPECT_EQ(p.z, 32.0f + 28.16f * std::sin(float(i + 5) * T * 0.0001f));
        }
}
