// tests/iso_scene_test.cpp: the ten scenes' isosurface set-ups, advancing them
// in frame steps, and `isomesh --scene`.
#include "iso/IsoScenes.h"
#include "iso/Particles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

const std::string ISOMESH = std::string(VORTALUNE_BUILD_DIR) + "/isomesh";

class IsoScene : public testing::Test {
protected:
    void SetUp() override
    {
        useSeededParticleRandom(42);
        iso = std::make_unique<IsoSurface>();
    }
    void TearDown() override
    {
        destroyParticles(particleSystem);
        setParticleRandom(nullptr);
    }

    const IsoMesh& mesh(const IsoSurface& s) const { return s.mesher.meshes[s.mesher.current]; }

    std::unique_ptr<IsoSurface> iso;
};

bool sameMesh(const IsoMesh& a, const IsoMesh& b)
{
    if (a.vertices.size() != b.vertices.size() || a.indices != b.indices)
        return false;
    for (size_t i = 0; i < a.vertices.size(); ++i)
        for (int k = 0; k < 3; ++k)
            if (a.vertices[i].position[k] != b.vertices[i].position[k] ||
                a.vertices[i].colour[k] != b.vertices[i].colour[k])
                return false;
    return true;
}

} // namespace

TEST_F(IsoScene, StartAssignmentsFollowTheSceneTable)
{
    IsoSceneRun run;
    iso->isoLevel = 3.0f;
    iso->timeMs = 9999.0f;
    startIsoScene(run, *iso, 3);
    EXPECT_EQ(iso->timeMs, 0.0f);
    EXPECT_EQ(iso->isoLevel, 10.0f);
    EXPECT_EQ(iso->placementMode, 2);
    EXPECT_EQ(iso->sourceCount, 45);
    EXPECT_EQ(iso->palette, 13);

    startIsoScene(run, *iso, 5);
    EXPECT_EQ(iso->placementMode, 7);
    EXPECT_EQ(iso->sourceCount, 5);
    EXPECT_TRUE(iso->negateSources);
    EXPECT_EQ(iso->materialMode, MATERIAL_COLOURED);
    EXPECT_EQ(iso->textureSlot, 3);
    EXPECT_EQ(iso->palette, 9);

    startIsoScene(run, *iso, 8);
    EXPECT_EQ(iso->placementMode, 3);
    EXPECT_EQ(iso->sourceCount, 25);
    EXPECT_TRUE(iso->colourByPosition);
    EXPECT_FALSE(iso->negateSources);

    startIsoScene(run, *iso, 4);
    ASSERT_TRUE(particleSystem.root);
    EXPECT_EQ(particleSystem.root->kind, EMITTER_RING);
    EXPECT_EQ(particleSystem.root->childCount, 10);
    EXPECT_EQ(iso->sourceCount, 0);

    startIsoScene(run, *iso, 9);
    EXPECT_EQ(particleSystem.root->kind, EMITTER_NONE) << "every start switches the particles off first";
    EXPECT_EQ(iso->placementMode, 4);
    EXPECT_EQ(iso->sourceCount, 10);
}

TEST_F(IsoScene, StartDisablesEarlierSources)
{
    IsoSceneRun run;
    startIsoScene(run, *iso, 3);
    advanceIsoScene(run, *iso, 0.5f);
    ASSERT_FALSE(mesh(*iso).indices.empty());
    startIsoScene(run, *iso, 1);
    advanceIsoScene(run, *iso, 0.0f);
    EXPECT_TRUE(mesh(*iso).indices.empty()) << "scene 1 has no sources";
}

TEST_F(IsoScene, LevelCountersRunSixToEighteenPerUpdate)
{
    IsoSceneRun run;
    startIsoScene(run, *iso, 6);
    float seen[30];
    for (float& level : seen) {
        applyIsoSceneUpdate(run, *iso, ISO_SCENE_STEP);
        level = iso->isoLevel;
    }
    EXPECT_EQ(seen[0], 6.0f);
    EXPECT_EQ(seen[12], 18.0f);
    EXPECT_EQ(seen[13], 6.0f);
    EXPECT_EQ(seen[26], 6.0f);

    startIsoScene(run, *iso, 1);
    applyIsoSceneUpdate(run, *iso, ISO_SCENE1_LENGTH * 0.5f);   // f = 0.5: full title
    EXPECT_FLOAT_EQ(iso->isoLevel, 20.0f);
    applyIsoSceneUpdate(run, *iso, ISO_SCENE1_LENGTH * 0.1f);   // f = 0.1: alpha 0.3
    EXPECT_FLOAT_EQ(iso->isoLevel, 13.0f);
}

TEST_F(IsoScene, AdvancingMatchesAFullUpdateEveryFrame)
{
    for (int scene : { 4, 6, 7 }) {
        // A fresh tree each time: a reconfigured tree reuses its earlier
        // nodes, and launching them draws differently.
        destroyParticles(particleSystem);
        useSeededParticleRandom(7);
        IsoSceneRun fast;
        startIsoScene(fast, *iso, scene);
        advanceIsoScene(fast, *iso, 0.37f);
        const IsoMesh fastMesh = mesh(*iso);
        const float fastClock = iso->timeMs;

        destroyParticles(particleSystem);
        useSeededParticleRandom(7);
        auto other = std::make_unique<IsoSurface>();
        IsoSceneRun slow;
        startIsoScene(slow, *other, scene);
        advanceIsoScene(slow, *other, 0.37f, true);
        EXPECT_EQ(other->timeMs, fastClock);
        EXPECT_NEAR(fastClock, 370.0f, 0.01f);
        EXPECT_EQ(other->isoLevel, iso->isoLevel);
        EXPECT_FALSE(fastMesh.indices.empty()) << "scene " << scene;
        EXPECT_TRUE(sameMesh(fastMesh, mesh(*other))) << "scene " << scene;

    }
}

TEST_F(IsoScene, ScenesTwoToTenShowSurfaces)
{
    for (int scene = 2; scene <= 10; ++scene) {
        for (float t : { 1.0f, 4.0f }) {
            IsoSceneRun run;
            startIsoScene(run, *iso, scene);
            advanceIsoScene(run, *iso, t);
            const IsoMesh& m = mesh(*iso);
            EXPECT_GT(m.indices.size(), 300u) << "scene " << scene << " at " << t;
            for (const uint16_t index : m.indices)
                ASSERT_LT(index, m.vertices.size());
        }
    }
}

TEST(IsomeshScene, WritesTheScenesMeshRepeatably)
{
    TempDir dir;
    const std::string a = dir.path() + "/a.ply", b = dir.path() + "/b.ply", out = dir.path() + "/out.txt";
    ASSERT_EQ(runShell(ISOMESH + " --scene 4 --time 2.5 " + a + " > " + out), 0);
    ASSERT_EQ(runShell(ISOMESH + " --scene 4 --time 2.5 " + b + " > /dev/null"), 0);
    const std::string ply = readFile(a);
    EXPECT_EQ(ply.rfind("ply\n", 0), 0u);
    EXPECT_EQ(ply, readFile(b)) << "fixed seed, fixed steps: the same mesh";

    // The same mesh as the library gives.
    useSeededParticleRandom(1);
    auto iso = std::make_unique<IsoSurface>();
    IsoSceneRun run;
    startIsoScene(run, *iso, 4);
    advanceIsoScene(run, *iso, 2.5f);
    const IsoMesh& mesh = iso->mesher.meshes[iso->mesher.current];
    EXPECT_EQ(readFile(out), "vertices: " + std::to_string(mesh.vertices.size()) + "\ntriangles: " +
                                 std::to_string(mesh.indices.size() / 3) + "\n");
    EXPECT_NE(ply.find("element vertex " + std::to_string(mesh.vertices.size()) + "\n"), std::string::npos);
    destroyParticles(particleSystem);
    setParticleRandom(nullptr);

    ASSERT_EQ(runShell(ISOMESH + " --scene 7 --time 0 " + b + " > /dev/null"), 0);
    EXPECT_NE(readFile(b), ply);
}

TEST(IsomeshScene, RejectsBadScenesAndTimes)
{
    TempDir dir;
    ProcessOptions options;
    options.workDir = dir.path();
    for (const char* scene : { "0", "11", "-1", "x", "3x", "" }) {
        const ProcessResult r = runProcess({ ISOMESH, "--scene", scene, "--time", "1", "x.ply" }, options);
        EXPECT_EQ(r.exitCode, 2) << scene;
        EXPECT_NE(r.errorOutput.find("is not a number 1..10"), std::string::npos) << r.errorOutput;
    }
    for (const char* time : { "-1", "nan", "inf", "3601", "1s" }) {
        const ProcessResult r = runProcess({ ISOMESH, "--scene", "3", "--time", time, "x.ply" }, options);
        EXPECT_EQ(r.exitCode, 2) << time;
        EXPECT_NE(r.errorOutput.find("seconds 0..3600"), std::string::npos) << r.errorOutput;
    }
    ProcessResult r = runProcess({ ISOMESH, "--scene", "3", "x.ply" }, options);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errorOutput.find("isomesh [--check] --scene N --time T OUT.ply"), std::string::npos);
    r = runProcess({ ISOMESH, "--scene", "3", "--time", "1", "no/folder/x.ply" }, options);
    EXPECT_EQ(r.exitCode, 1);
}
