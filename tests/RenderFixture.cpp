// tests/RenderFixture.cpp: whole frames in the shared test window.
#include "RenderFixture.h"

#include "GlTestWindow.h"

#include "app/Demo.h"
#include "base/Show.h"
#include "gfx/Texture.h"
#include "iso/IsoSurface.h"
#include "path/Camera.h"

#include <SDL_opengl.h>

bool prepareRenderTest()
{
    if (!ensureGlWindow())
        return false;
    setupGlState();
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glViewport(0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    textureTable.generate();
    if (textureTable.widths[SLOT_GLOW] != 256)
        textureTable.createEmpty(256, 256, GL_RGB, SLOT_GLOW);
    return true;
}

void placeTestBalls(const std::vector<TestBall>& balls)
{
    resetIsoParams(isoSurface);
    disableAllSources(isoSurface.field);
    uint32_t index = 0;
    for (const TestBall& b : balls)
        placeBall(isoSurface.field, index++, makeBall(b.centre, b.colour, b.strength, b.radius));
    rebuildIsoMesh(isoSurface);
}

void clearTestBalls()
{
    placeTestBalls({});
}

void setTestCamera(const Float3& eye, float distance, float pitch, float yaw, float roll)
{
    setTarget(camera, Float3(pitch, yaw, roll), eye, distance, CAMERA_HOLD, 0.0f);
}

void fillSlot(int slot, int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    textureTable.createEmpty(width, height, GL_RGB, slot);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(slot));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

std::vector<uint8_t> readSlot(int slot)
{
    const int w = textureTable.widths[slot], h = textureTable.heights[slot];
    std::vector<uint8_t> pixels(static_cast<size_t>(w > 0 ? w : 0) * (h > 0 ? h : 0) * 3);
    if (pixels.empty())
        return pixels;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(slot));
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

void renderTestFrame(const ShowState& show)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1.0f, 1.0f, 1.0f);
    renderFrame(show);
}

bool renderTestFramePng(const ShowState& show, const std::string& path)
{
    renderTestFrame(show);
    return saveBackBufferPng(path.c_str());
}
