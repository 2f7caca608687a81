// tests/iso_scene_draw_test.cpp: scenes 2 to 9 drawn under a real GL context
// at a few effect times: lit, coloured surfaces in the view (scene 2 grey).
// Set VORTALUNE_SHOT_DIR to keep the pictures (iso_scene<N>_<T>s.png).
#include "iso/IsoScenes.h"
#include "iso/Particles.h"

#include "GlTestWindow.h"

#include <SDL_opengl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Draws the surface from a fixed eye, lit by one white light.
void drawScene(IsoSurface& iso)
{
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    setLitTestView(32.0, 60.0, 150.0);
    iso.textureSlot = 0;   // no texture table in the tests: colours only
    drawIso(iso);
    glDisable(GL_LIGHTING);
}

} // namespace

TEST(IsoSceneDraw, ScenesTwoToNineShowLitColouredSurfaces)
{
    ASSERT_TRUE(ensureGlWindow());
    const char* shotDir = std::getenv("VORTALUNE_SHOT_DIR");
    for (int scene = 2; scene <= 9; ++scene) {
        for (float t : { 1.0f, 3.0f, 6.0f }) {
            destroyParticles(particleSystem);
            useSeededParticleRandom(1);
            auto iso = std::make_unique<IsoSurface>();
            IsoSceneRun run;
            startIsoScene(run, *iso, scene);
            advanceIsoScene(run, *iso, t);
            drawScene(*iso);
            if (shotDir) {
                char name[64];
                std::snprintf(name, sizeof name, "/iso_scene%d_%gs.png", scene, double(t));
                saveBackBufferPng((std::string(shotDir) + name).c_str());
            }
            // Count lit pixels and how many differ in hue from grey.
            const std::vector<uint8_t> rgba = readBackBuffer();
            int lit = 0, coloured = 0;
            for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
                const int r = rgba[i], g = rgba[i + 1], b = rgba[i + 2];
                if (r + g + b > 60)
                    ++lit;
                const int hi = std::max(r, std::max(g, b)), lo = std::min(r, std::min(g, b));
                if (hi - lo > 40)
                    ++coloured;
            }
            const int pixels = GL_TEST_WIDTH * GL_TEST_HEIGHT;
            EXPECT_GT(lit, pixels / 50) << "scene " << scene << " at " << t << " s";
            EXPECT_LT(lit, pixels * 9 / 10) << "scene " << scene << " at " << t << " s";
            if (scene != 2) {   // scene 2's palette 1 is grey by design
                EXPECT_GT(coloured, lit / 10) << "scene " << scene << " at " << t << " s";
            }
        }
    }
    destroyParticles(particleSystem);
    setParticleRandom(nullptr);
}
