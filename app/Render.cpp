// app/Render.cpp: the frame's render passes.
//
// Sections:
//   --- Constants and lights ---
//   --- Overlays and state ---
//   --- Sky cube and grid ---
//   --- Glow ---
//   --- Frame ---
#include "app/Render.h"

#include "app/Font.h"
#include "app/GlowTiles.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/Window.h"
#include "gfx/Texture.h"
#include "gl/GL.h"
#include "iso/IsoSurface.h"
#include "model/Actors.h"
#include "path/Camera.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <vector>

FrameLayer frameLayer;
bool glowScissor = true;
bool glowOnePass = true;
GlowDrawStats glowDrawStats;

// --- Constants and lights ----------------------------------------------------------

LightParameters light0Parameters = {};
LightParameters light1Parameters = {};

namespace {

constexpr float LIGHT0_LINEAR_ATTENUATION = 0.001f;
constexpr float CAPTION_COLOUR[3] = { 0.3f, 0.2f, 0.8f };

void surfaceSize(int& w, int& h)
{
    w = screenSurface ? screenSurface->w : appSettings.screenWidth;
    h = screenSurface ? screenSurface->h : appSettings.screenHeight;
    if (w < 1) w = 1;
    if (h < 1) h = 1;
}

void setLight(GLenum light, const LightParameters& p)
{
    glLightfv(light, GL_POSITION, p.position);
    glLightfv(light, GL_DIFFUSE, p.diffuse);
    glLightfv(light, GL_AMBIENT, p.ambient);
}

} // namespace

void setLightParameters()
{
    light0Parameters = { { 0.0f, 0.0f, 100.0f, 1.0f }, { 0.7f, 0.7f, 0.7f, 1.0f }, { 0.2f, 0.2f, 0.2f, 1.0f } };
    light1Parameters = { { 0.0f, 300.0f, 0.0f, 1.0f }, { 0.6f, 0.7f, 1.0f, 1.0f }, { 0.2f, 0.2f, 0.2f, 1.0f } };
}

void formatCaption(char* out, int size, float fps)
{
    std::snprintf(out, static_cast<size_t>(size), "\"Mirrow\" Demo by: Quindle (%s).    FPS: %.2f", GROUP_ADDRESS,
                  static_cast<double>(fps));
}

int glowCaptureHeight(int captureWidth, int surfaceWidth, int surfaceHeight)
{
    if (surfaceWidth <= 0)
        return 0;
    return static_cast<int>(static_cast<int64_t>(captureWidth) * surfaceHeight / surfaceWidth);
}

void pushPixelProjection(int w, int h)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, w, 0.0, h, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void popPixelProjection()
{
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

// --- Overlays and state --------------------------------------------------------------

void drawOverlayQuad(int32_t type, float alpha)
{
    int w, h;
    surfaceSize(w, h);
    drawOverlayQuad(type, alpha, w, h);
}

namespace {

// True when a quad of source alpha `alpha` (clamped to 0..1 by GL) blended by
// the current function leaves every pixel as it is: alpha <= 0 under
// GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA with the add equation. A textured quad
// also needs GL_MODULATE, so the fragment's alpha is the colour's times the
// texel's. Anything else is drawn.
bool overlayIsInvisible(float alpha, bool textured)
{
    if (!(alpha <= 0.0f))
        return false;
    GLint srcRgb = 0, dstRgb = 0, srcAlpha = 0, dstAlpha = 0, equationRgb = 0, equationAlpha = 0;
    glGetIntegerv(GL_BLEND_SRC_RGB, &srcRgb);
    glGetIntegerv(GL_BLEND_DST_RGB, &dstRgb);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &srcAlpha);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &dstAlpha);
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &equationRgb);
    glGetIntegerv(GL_BLEND_EQUATION_ALPHA, &equationAlpha);
    if (srcRgb != GL_SRC_ALPHA || srcAlpha != GL_SRC_ALPHA || dstRgb != GL_ONE_MINUS_SRC_ALPHA ||
        dstAlpha != GL_ONE_MINUS_SRC_ALPHA || equationRgb != GL_FUNC_ADD || equationAlpha != GL_FUNC_ADD)
        return false;
    if (textured) {
        GLint env = 0;
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
        if (env != GL_MODULATE)
            return false;
    }
    return true;
}

} // namespace

void drawOverlayQuad(int32_t type, float alpha, int w, int h)
{
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    pushPixelProjection(w, h);
    glEnable(GL_BLEND);

    if (type == OVERLAY_TITLE || type == OVERLAY_CREDITS) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(type == OVERLAY_TITLE ? SLOT_TITLE : SLOT_CREDITS));
        glColor4f(1.0f, 1.0f, 1.0f, alpha);
        if (!overlayIsInvisible(alpha, true)) {
            glBegin(GL_QUADS);
            glTexCoord2f(0.0f, 1.0f); glVertex2f(0.0f, 0.0f);
            glTexCoord2f(0.0f, 0.0f); glVertex2f(0.0f, static_cast<float>(h));
            glTexCoord2f(1.0f, 0.0f); glVertex2f(static_cast<float>(w), static_cast<float>(h));
            glTexCoord2f(1.0f, 1.0f); glVertex2f(static_cast<float>(w), 0.0f);
            glEnd();
        } else {
            glTexCoord2f(1.0f, 1.0f);   // the current texture coordinate the quad leaves
        }
        glDisable(GL_TEXTURE_2D);
    } else if (type == OVERLAY_BLACK || type == OVERLAY_WHITE) {
        glDisable(GL_TEXTURE_2D);
        const float g = type == OVERLAY_BLACK ? 0.0f : 1.0f;
        glColor4f(g, g, g, alpha);
        if (!overlayIsInvisible(alpha, false)) {
            glBegin(GL_QUADS);
            glVertex2f(0.0f, 0.0f);
            glVertex2f(0.0f, static_cast<float>(h));
            glVertex2f(static_cast<float>(w), static_cast<float>(h));
            glVertex2f(static_cast<float>(w), 0.0f);
            glEnd();
        }
    }

    popPixelProjection();
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
}

void applyRenderState()
{
    const float black[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    const float white[4] = { 1.0f, 1.0f, 1.0f, 1.0f };
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
    if (renderFlags & FLAG_LIGHTS) {
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        glEnable(GL_LIGHT1);
    } else {
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
        glDisable(GL_LIGHT1);
    }
    glColor3f(1.0f, 1.0f, 1.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
}

// --- Sky cube and grid ----------------------------------------------------------------

namespace {

struct SkyCorner {
    float s, t;        // texture coordinate (repeats eight times per edge)
    float x, y, z;     // relative to the grid centre
};

struct SkyFace {
    float     normal[3];   // points into the cube
    SkyCorner corners[4];  // counter-clockwise seen from inside
};

constexpr SkyFace SKY_FACES[6] = {
    { { 0, 0, -1 }, { { 0, 8, -64, 64, 64 }, { 8, 8, 64, 64, 64 }, { 8, 0, 64, -64, 64 }, { 0, 0, -64, -64, 64 } } },        // z = +64
    { { 0, 0, 1 }, { { 0, 8, -64, 64, -64 }, { 0, 0, -64, -64, -64 }, { 8, 0, 64, -64, -64 }, { 8, 8, 64, 64, -64 } } },      // z = -64
    { { 0, 1, 0 }, { { 0, 8, -64, -64, -64 }, { 0, 0, -64, -64, 64 }, { 8, 0, 64, -64, 64 }, { 8, 8, 64, -64, -64 } } },      // y = -64
    { { 0, -1, 0 }, { { 0, 8, -64, 64, -64 }, { 8, 8, 64, 64, -64 }, { 8, 0, 64, 64, 64 }, { 0, 0, -64, 64, 64 } } },         // y = +64
    { { 1, 0, 0 }, { { 0, 8, -64, 64, -64 }, { 8, 8, -64, 64, 64 }, { 8, 0, -64, -64, 64 }, { 0, 0, -64, -64, -64 } } },      // x = -64
    { { -1, 0, 0 }, { { 0, 8, 64, 64, 64 }, { 8, 8, 64, 64, -64 }, { 8, 0, 64, -64, -64 }, { 0, 0, 64, -64, 64 } } },         // x = +64
};

constexpr int GRID_LINES = 10;               // positions k * 64 / 10, k = 0..9
constexpr int GRID_POINTS = 2 * GRID_LINES * GRID_LINES;

struct GridPoints {
    float red[GRID_POINTS][3];
    float green[GRID_POINTS][3];
    float blue[GRID_POINTS][3];
};

// Built on first use: lines along x, y and z through a 10 x 10 lattice.
const GridPoints& gridPoints()
{
    static const GridPoints points = [] {
        GridPoints g = {};
        int n = 0;
        for (int i = 0; i < GRID_LINES; ++i) {
            for (int j = 0; j < GRID_LINES; ++j) {
                const float a = static_cast<float>(i) * 64.0f / 10.0f;
                const float b = static_cast<float>(j) * 64.0f / 10.0f;
                const float red[2][3] = { { 0, a, b }, { 64, a, b } };
                const float green[2][3] = { { a, 0, b }, { a, 64, b } };
                const float blue[2][3] = { { a, b, 0 }, { a, b, 64 } };
                for (int e = 0; e < 2; ++e) {
                    for (int k = 0; k < 3; ++k) {
                        g.red[n + e][k] = red[e][k];
                        g.green[n + e][k] = green[e][k];
                        g.blue[n + e][k] = blue[e][k];
                    }
                }
                n += 2;
            }
        }
        return g;
    }();
    return points;
}

} // namespace

void drawSkyCube(int slot)
{
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(slot));
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
    glPushMatrix();
    glTranslatef(32.0f, 32.0f, 32.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    for (const SkyFace& face : SKY_FACES) {
        glNormal3fv(face.normal);
        for (const SkyCorner& c : face.corners) {
            glTexCoord2f(c.s, c.t);
            glVertex3f(c.x, c.y, c.z);
        }
    }
    glEnd();
    glPopMatrix();
    glCullFace(GL_FRONT);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
}

void drawGrid()
{
    const GridPoints& g = gridPoints();
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glLineWidth(1.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glColor4f(1.0f, 0.0f, 0.0f, 0.5f);
    glVertexPointer(3, GL_FLOAT, 0, g.red);
    glDrawArrays(GL_LINES, 0, GRID_POINTS);
    glColor4f(0.0f, 1.0f, 0.0f, 0.5f);
    glVertexPointer(3, GL_FLOAT, 0, g.green);
    glDrawArrays(GL_LINES, 0, GRID_POINTS);
    glColor4f(0.0f, 0.0f, 1.0f, 0.5f);
    glVertexPointer(3, GL_FLOAT, 0, g.blue);
    glDrawArrays(GL_LINES, 0, GRID_POINTS);
    glDisableClientState(GL_VERTEX_ARRAY);
    glEnable(GL_LIGHTING);
    glDisable(GL_BLEND);
}

// --- Glow ------------------------------------------------------------------------------

namespace {

// Renders the scene small into slot 5, then clears so the capture never shows.
void captureGlow(const ShowState& show, int w, int h)
{
    const int gw = textureTable.widths[SLOT_GLOW];
    int gh = glowCaptureHeight(gw, w, h);
    // A window taller than wide would ask for more rows than the capture
    // texture has, and the copy would then fail as a whole.
    if (gh > textureTable.heights[SLOT_GLOW])
        gh = textureTable.heights[SLOT_GLOW];
    glViewport(0, 0, gw, gh);
    if (show.drawActors)
        drawAllActors(actorScene);
    if (show.brightGlow)
        drawIsoFlat(isoSurface);
    else
        drawIso(isoSurface);
    textureTable.copyFromFramebuffer(0, 0, gw, gh, SLOT_GLOW);
    glViewport(0, 0, w, h);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// True when a black texel of the bound glow texture makes a fragment that adds
// nothing, and the layers' samples follow their texture coordinates as the
// rectangles assume: GL_MODULATE, no fog, colour sum or texture coordinate
// generation, an identity texture matrix, linear or nearest filtering without
// mipmaps, repeat or clamp-to-edge wrapping, and no scissor already set.
bool glowRectsApply(GlowWrap& wrapS, GlowWrap& wrapT)
{
    if (!glowScissor || glIsEnabled(GL_SCISSOR_TEST) || glIsEnabled(GL_FOG) || glIsEnabled(GL_COLOR_SUM) ||
        glIsEnabled(GL_TEXTURE_GEN_S) || glIsEnabled(GL_TEXTURE_GEN_T))
        return false;
    GLint env = 0, minFilter = 0, magFilter = 0, ws = 0, wt = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &ws);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wt);
    auto filterOk = [](GLint f) { return f == GL_LINEAR || f == GL_NEAREST; };
    auto toWrap = [](GLint mode, GlowWrap& out) {
        out = mode == GL_REPEAT ? GLOW_WRAP_REPEAT : GLOW_WRAP_CLAMP;
        return mode == GL_REPEAT || mode == GL_CLAMP_TO_EDGE;
    };
    if (env != GL_MODULATE || !filterOk(minFilter) || !filterOk(magFilter) || !toWrap(ws, wrapS) ||
        !toWrap(wt, wrapT))
        return false;
    float m[16];
    glGetFloatv(GL_TEXTURE_MATRIX, m);
    for (int i = 0; i < 16; ++i)
        if (m[i] != (i % 5 == 0 ? 1.0f : 0.0f))
            return false;
    return true;
}

// The bound glow texture's lit tiles, read back whole (rows past the capture
// height included: the layers' samples reach them too). False without a
// readable level 0.
bool readGlowTiles(GlowTileGrid& grid)
{
    static std::vector<uint8_t> pixels;   // reused: no allocation per frame once grown
    GLint tw = 0, th = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &tw);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &th);
    if (tw < 1 || th < 1)
        return false;
    pixels.resize(static_cast<size_t>(tw) * th * 3);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPopClientAttrib();
    findLitTiles(pixels.data(), tw, th, grid);
    return true;
}

// Layers the capture over the screen ten times, each zoomed in a step further.
// Each layer adds (colour * texel)^2, nothing where the capture is black: with
// glowScissor the layer's quad is drawn only over the rectangles its lit tiles
// reach, one scissored draw each, and not at all when no tile is lit.
void drawGlowLayers(const ShowState& show, int w, int h)
{
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    pushPixelProjection(w, h);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_COLOR, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, textureTable.nameOf(SLOT_GLOW));

    const float step = GLOW_STEP_SCALE * show.glowAmount;
    const float c = show.brightGlow ? 1.0f : 0.3f;
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);
    GlowLayerMapping layers[GLOW_LAYERS];
    glowLayerMappings(step, w, h, layers, GLOW_LAYERS);
    auto layerAlpha = [](int i) { return static_cast<float>(GLOW_LAYERS - i) * 0.2f / 10.0f; };
    auto quad = [&](int i) {
        const GlowLayerMapping& m = layers[i];
        glColor4f(c, c, c, layerAlpha(i));
        glTexCoord2f(m.s0, m.t0);  glVertex2f(0.0f, 0.0f);
        glTexCoord2f(m.s1, m.t0);  glVertex2f(fw, 0.0f);
        glTexCoord2f(m.s1, m.t1);  glVertex2f(fw, fh);
        glTexCoord2f(m.s0, m.t1);  glVertex2f(0.0f, fh);
    };

    static GlowTileGrid grid;
    static std::vector<GlowRect> rects;
    GlowWrap wrapS = GLOW_WRAP_REPEAT, wrapT = GLOW_WRAP_REPEAT;
    glowDrawStats = GlowDrawStats{};
    const bool scissored = glowRectsApply(wrapS, wrapT) && readGlowTiles(grid);
    // One draw per rectangle, each under its scissor, counted.
    auto drawScissored = [&](const std::vector<GlowRect>& where, auto draw) {
        for (const GlowRect& r : where) {
            glScissor(r.x, r.y, r.width, r.height);
            draw();
            ++glowDrawStats.layerDraws;
            glowDrawStats.layerPixels += static_cast<long>(r.width) * r.height;
        }
    };
    if (scissored) {
        glowDrawStats.scissored = true;
        glPushAttrib(GL_SCISSOR_BIT);
        glEnable(GL_SCISSOR_TEST);
    }
#if VORTALUNE_GL_LAYER
    if (glowOnePass) {
        float maps[GLOW_LAYERS][4];
        float alphas[GLOW_LAYERS];
        for (int i = 0; i < GLOW_LAYERS; ++i) {
            const GlowLayerMapping& m = layers[i];
            const float map[4] = { m.s0, m.t0, m.s1, m.t1 };
            std::copy(map, map + 4, maps[i]);
            alphas[i] = layerAlpha(i);
        }
        glowDrawStats.onePass = true;
        auto allLayers = [&] { vglDrawGlowLayers(maps, alphas, GLOW_LAYERS, c, 0.0f, 0.0f, fw, fh); };
        if (scissored) {
            // Only where some layer can add light: the union of every
            // layer's rectangles, each pixel of it drawn once.
            static std::vector<GlowRect> all;
            all.clear();
            for (int i = 0; i < GLOW_LAYERS; ++i) {
                glowLayerRects(grid, layers[i], wrapS, wrapT, w, h, rects);
                all.insert(all.end(), rects.begin(), rects.end());
            }
            glowUnionRects(all, w, h, rects);
            drawScissored(rects, allLayers);
        } else {
            allLayers();
            glowDrawStats.layerDraws = 1;
            glowDrawStats.layerPixels = static_cast<long>(w) * h;
        }
    } else
#endif
    if (scissored) {
        for (int i = 0; i < GLOW_LAYERS; ++i) {
            glowLayerRects(grid, layers[i], wrapS, wrapT, w, h, rects);
            drawScissored(rects, [&] {
                glBegin(GL_QUADS);
                quad(i);
                glEnd();
            });
        }
    } else {
        glBegin(GL_QUADS);
        for (int i = 0; i < GLOW_LAYERS; ++i)
            quad(i);
        glEnd();
        glowDrawStats.layerDraws = GLOW_LAYERS;
        glowDrawStats.layerPixels = static_cast<long>(GLOW_LAYERS) * w * h;
    }
    if (scissored) {
        glPopAttrib();
        // The current colour and texture coordinate the plain path leaves.
        const GlowLayerMapping& last = layers[GLOW_LAYERS - 1];
        glColor4f(c, c, c, layerAlpha(GLOW_LAYERS - 1));
        glTexCoord2f(last.s0, last.t1);
    }

    popPixelProjection();
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void drawCaption(int w, int h)
{
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, w, 0.0, h, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_BLEND);
    glColor3fv(CAPTION_COLOUR);

    char text[128];
    formatCaption(text, sizeof text, framesPerSecond);
    const float u = static_cast<float>(appSettings.screenWidth) * 0.00125f;
    drawText(fontLists, 8.0f, static_cast<float>(appSettings.screenHeight - 36), 12.0f * u, 16.0f * u, 0, text,
             textureTable.nameOf(SLOT_FONT));

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
}

} // namespace

// --- Frame -------------------------------------------------------------------------------

void renderFrame(const ShowState& show)
{
    int w, h;
    surfaceSize(w, h);
    renderFrame(show, w, h);
}

void renderFrame(const ShowState& show, int w, int h)
{
    if (w < 1) w = 1;
    if (h < 1) h = 1;
    const bool lights = (renderFlags & FLAG_LIGHTS) != 0;

    drawOverlayQuad(show.backOverlay.type, show.backOverlay.alpha, w, h);
    if (lights) {
        setLight(GL_LIGHT0, light0Parameters);
        glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, LIGHT0_LINEAR_ATTENUATION);
    }

    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    float nearPlane = NEAR_PLANE, farPlane = FAR_PLANE;
    if (frameLayer.depthRange)
        frameLayer.depthRange(nearPlane, farPlane);
    gluPerspective(FIELD_OF_VIEW_Y, static_cast<double>(w) / h, nearPlane, farPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPushMatrix();
    glLoadIdentity();

    // Camera: back off by the distance, pitch, then yaw, then move to the eye.
    // Roll is not applied.
    glTranslatef(0.0f, 0.0f, -camera.distance);
    glRotatef(camera.angles.x, 1.0f, 0.0f, 0.0f);
    glRotatef(camera.angles.y, 0.0f, 1.0f, 0.0f);
    glTranslatef(-camera.position.x, -camera.position.y, -camera.position.z);

    if (lights)
        setLight(GL_LIGHT1, light1Parameters);
    applyRenderState();

    const bool glow = show.glowAmount >= 0.0f;
    if (glow)
        captureGlow(show, w, h);
    if (show.drawActors)
        drawAllActors(actorScene);
    if (renderFlags & FLAG_GRID)
        drawGrid();
    if (frameLayer.wireframe && frameLayer.wireframe()) {
        // Plain lines: with smoothing on, the software rasterizer kept drawing
        // the following frames' filled polygons (the glow capture and layers)
        // as lines once no other primitive came after the wireframe.
        const GLboolean smooth = glIsEnabled(GL_LINE_SMOOTH);
        glDisable(GL_LINE_SMOOTH);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        drawIso(isoSurface);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        if (smooth)
            glEnable(GL_LINE_SMOOTH);
    } else {
        drawIso(isoSurface);
    }
    if (show.skyboxSlot != 0)
        drawSkyCube(show.skyboxSlot);
    // After the glow capture (never in it) and before the glow layers, which
    // write depth over the whole screen.
    if (frameLayer.inScene)
        frameLayer.inScene();
    glPopMatrix();

    if (glow)
        drawGlowLayers(show, w, h);
    drawOverlayQuad(show.frontOverlay.type, show.frontOverlay.alpha, w, h);
    if (renderFlags & FLAG_CAPTION)
        drawCaption(w, h);
    if (frameLayer.overFrame)
        frameLayer.overFrame(w, h);
}
