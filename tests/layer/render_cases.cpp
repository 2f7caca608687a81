// tests/layer/render_cases.cpp: one frame per drawing feature of the show,
// written as <out>/<case>.png and listed in <out>/cases.txt. Built twice:
// layer_cases over the system's OpenGL and layer_cases_es over the GL layer
// on OpenGL ES 3, so tests/gl_layer_test.cpp can hold the layer's pictures
// to the desktop's case by case (and over the layer, the glow's one draw to
// its ten layers). Runs in a folder holding data/ (the images and the
// character); the frames are 320x240.
//   layer_cases OUT
#include "app/Demo.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "base/Show.h"
#include "gfx/PngFile.h"
#include "gfx/Screenshot.h"
#include "gfx/Texture.h"
#include "gl/GL.h"
#include "iso/Field.h"
#include "iso/IsoScenes.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "model/Actors.h"
#include "path/Camera.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int WIDTH = 320;
constexpr int HEIGHT = 240;

// No sources, no mesh.
void clearIso()
{
    resetIsoParams(isoSurface);
    disableAllSources(isoSurface.field);
    rebuildIsoMesh(isoSurface);
}

// Three overlapping balls in the middle of the lattice, red, green and blue.
void placeThreeBalls()
{
    resetIsoParams(isoSurface);
    disableAllSources(isoSurface.field);
    const Float3 centres[3] = { { 26, 30, 32 }, { 38, 30, 32 }, { 32, 40, 30 } };
    const Float3 colours[3] = { { 1, 0.2f, 0.2f }, { 0.2f, 1, 0.2f }, { 0.3f, 0.3f, 1 } };
    for (uint32_t i = 0; i < 3; ++i)
        placeBall(isoSurface.field, i, makeBall(centres[i], colours[i], 40.0f, 12.0f));
    rebuildIsoMesh(isoSurface);
}

// The camera 120 units from the lattice centre, a little above and aside.
void lookAtTheBalls()
{
    holdCameraAt(camera, Float3(20.0f, 30.0f, 0.0f), Float3(32.0f, 32.0f, 32.0f));
    camera.distance = 120.0f;
}

bool wireframeOn() { return true; }

struct Case {
    const char* name;
    void (*setUp)(ShowState& show);
};

// Each case starts from lit balls, no overlay, no glow, no tool layer.
const Case CASES[] = {
    { "lit_matte", [](ShowState&) {} },
    { "white_highlight", [](ShowState&) { isoSurface.materialMode = MATERIAL_WHITE; } },
    { "coloured_highlight", [](ShowState&) {
          isoSurface.materialMode = MATERIAL_COLOURED;
          const float yellow[4] = { 1.0f, 0.9f, 0.1f, 1.0f };
          std::copy(yellow, yellow + 4, isoSurface.specularColour);
      } },
    { "sphere_map_pastel", [](ShowState&) { isoSurface.textureSlot = SLOT_PASTEL; } },
    { "sphere_map_bumpy", [](ShowState&) { isoSurface.textureSlot = SLOT_BUMPY; } },
    { "translucent", [](ShowState& s) {
          isoSurface.alpha = 0.5f;
          s.skyboxSlot = SLOT_SKY;
      } },
    { "flat_black_over_white", [](ShowState& s) {
          isoSurface.flatColourMode = true;
          s.backOverlay = { OVERLAY_WHITE, 1.0f };
      } },
    { "lights_off", [](ShowState&) { renderFlags &= ~FLAG_LIGHTS; } },
    { "sky_cube", [](ShowState& s) { s.skyboxSlot = SLOT_SKY; } },
    { "glow", [](ShowState& s) { s.glowAmount = 1.0f; } },
    { "glow_wide", [](ShowState& s) { s.glowAmount = 6.0f; } },
    { "bright_glow", [](ShowState& s) {
          s.glowAmount = 2.0f;
          s.brightGlow = true;
      } },
    { "title_card", [](ShowState& s) { s.frontOverlay = { OVERLAY_TITLE, 0.8f }; } },
    { "credits_over_black", [](ShowState& s) {
          s.backOverlay = { OVERLAY_BLACK, 1.0f };
          s.frontOverlay = { OVERLAY_CREDITS, 0.6f };
      } },
    { "white_fade", [](ShowState& s) { s.frontOverlay = { OVERLAY_WHITE, 0.5f }; } },
    { "caption", [](ShowState&) { renderFlags |= FLAG_CAPTION; } },
    { "grid", [](ShowState&) { renderFlags |= FLAG_GRID; } },
    { "wireframe", [](ShowState&) { frameLayer.wireframe = wireframeOn; } },
    { "actor", [](ShowState& s) {
          clearIso();
          s.drawActors = true;
          holdCameraAt(camera, Float3(30.0f, 20.0f, 0.0f), actorScene.actors[0].position);
          camera.distance = 160.0f;
      } },
};

// One frame at WIDTH x HEIGHT, as the frame loop clears and draws it.
bool drawAndWrite(const ShowState& show, const std::string& out, const std::string& name, FILE* list)
{
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1.0f, 1.0f, 1.0f);
    renderFrame(show, WIDTH, HEIGHT);
    const std::vector<uint8_t> rgb = readBackBufferRows(WIDTH, HEIGHT);
    swapWindowBuffers();
    const std::string path = out + "/" + name + ".png";
    if (!writePng(path.c_str(), WIDTH, HEIGHT, 3, rgb.data())) {
        std::fprintf(stderr, "layer_cases: %s: could not be written\n", path.c_str());
        return false;
    }
    std::fprintf(list, "%s\n", name.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: layer_cases OUT\n");
        return 2;
    }
    const std::string out = argv[1];
    appSettings.screenWidth = WIDTH;
    appSettings.screenHeight = HEIGHT;
    appSettings.centerX = WIDTH / 2;
    appSettings.centerY = HEIGHT / 2;
    appSettings.inverseWidth = 1.0f / WIDTH;
    appSettings.fullscreen = false;
    openWindow(false);
    setupGlState();
    loadAssets(false);

    FILE* list = std::fopen((out + "/cases.txt").c_str(), "w");
    if (!list) {
        std::fprintf(stderr, "layer_cases: %s/cases.txt: could not be written\n", out.c_str());
        return 1;
    }
    // Over the GL layer, each glow case once more with its ten layers drawn
    // one by one, listed in ten_layers.txt, for the one draw to be held to.
#if VORTALUNE_GL_LAYER
    FILE* tenLayers = std::fopen((out + "/ten_layers.txt").c_str(), "w");
#else
    FILE* tenLayers = nullptr;
#endif
    bool ok = true;
    for (const Case& c : CASES) {
        for (const bool onePass : { true, false }) {
            placeThreeBalls();
            lookAtTheBalls();
            renderFlags = FLAG_LIGHTS;
            frameLayer = FrameLayer{};
            ShowState show;
            c.setUp(show);
            if (!onePass && (!tenLayers || show.glowAmount < 0.0f))
                break;
            glowOnePass = onePass;
            ok = (onePass ? drawAndWrite(show, out, c.name, list)
                          : drawAndWrite(show, out, std::string(c.name) + ".ten_layers", tenLayers)) && ok;
            glowOnePass = true;
        }
    }
    if (tenLayers)
        std::fclose(tenLayers);
    // The isosurface scenes as their scripts set them up, three seconds in.
    for (int scene = 2; scene <= 9; ++scene) {
        destroyParticles(particleSystem);
        createParticleRoot(particleSystem);
        useSeededParticleRandom(1);
        IsoSceneRun run;
        startIsoScene(run, isoSurface, scene);
        advanceIsoScene(run, isoSurface, 3.0f);
        holdCameraAt(camera, Float3(25.0f, 35.0f, 0.0f), Float3(32.0f, 32.0f, 32.0f));
        camera.distance = 150.0f;
        renderFlags = FLAG_LIGHTS;
        frameLayer = FrameLayer{};
        ok = drawAndWrite(ShowState{}, out, "iso_scene_" + std::to_string(scene), list) && ok;
    }
    setParticleRandom(nullptr);
    std::fclose(list);
    releaseAssets();
    return ok ? 0 : 1;
}
