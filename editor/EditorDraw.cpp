// editor/EditorDraw.cpp: the editor's layer over the frame: flight overlay,
// wireframe switch and status line.
#include "editor/EditorDraw.h"

#include "app/Font.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "editor/FlightOverlay.h"
#include "gfx/Texture.h"
#include "gl/GL.h"
#include "path/Camera.h"
#include "path/CameraPath.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

EditorLayer editorLayer;

namespace {

void drawPoints(const std::vector<Float3>& points, GLenum mode)
{
    if (points.empty())
        return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, points.data());
    glDrawArrays(mode, 0, static_cast<GLsizei>(points.size()));
    glDisableClientState(GL_VERTEX_ARRAY);
}

void fillRect(float x, float y, float width, float height)
{
    glBegin(GL_QUADS);
    glVertex2f(x, y);
    glVertex2f(x + width, y);
    glVertex2f(x + width, y + height);
    glVertex2f(x, y + height);
    glEnd();
}

// The flight in world space, under the camera's modelview. Depth-tested
// against the scene, but it writes no depth and every switch it touches is
// restored, so the passes after it draw as they would without it.
void drawFlightOverlay(const PathPair& pair, const std::vector<TimedKey>* keys, int selectedKey, float aspect)
{
    static FlightOverlayGeometry geometry;   // reused: no allocation per frame once grown
    buildFlightOverlay(pair, eyePosition(camera.position, camera.angles, camera.distance), geometry, aspect, keys);

    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT | GL_POINT_BIT | GL_DEPTH_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_FOG);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_POINT_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_FALSE);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);

    glLineWidth(EDITOR_LINE_WIDTH);
    glColor3fv(EDITOR_SPLINE_COLOUR);
    drawPoints(geometry.spline, GL_LINE_STRIP);
    glColor3fv(EDITOR_TICK_COLOUR);
    drawPoints(geometry.ticks, GL_LINES);
    glLineWidth(1.0f);
    drawPoints(geometry.frustums, GL_LINES);

    glPointSize(EDITOR_KEY_SIZE);
    glColor3fv(EDITOR_KEY_COLOUR);
    drawPoints(geometry.keys, GL_POINTS);
    if (selectedKey >= 0 && static_cast<size_t>(selectedKey) < geometry.keys.size()) {
        // Drawn last, so it covers its own key marker and the lines there.
        glPointSize(EDITOR_SELECTED_KEY_SIZE);
        glColor3fv(EDITOR_SELECTED_COLOUR);
        glBegin(GL_POINTS);
        glVertex3fv(&geometry.keys[static_cast<size_t>(selectedKey)].x);
        glEnd();
    }

    glPopClientAttrib();
    glPopAttrib();
}

// One line of text over a dark band along the bottom of the screen, scaled
// like the caption by the screen width (over the timeline strip, which is its
// band, without one of its own).
void drawStatusLine(const std::string& text, int w, int h, bool band)
{
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_COLOR_MATERIAL);
    pushPixelProjection(w, h);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    const float u = static_cast<float>(appSettings.screenWidth) * 0.00125f;
    const float margin = 6.0f * u;
    const float bandHeight = 12.0f * u + 2.0f * margin;   // glyphs 8 x 12: a hundred characters fit the width
    glDisable(GL_TEXTURE_2D);
    if (band) {
        glColor4f(0.0f, 0.0f, 0.0f, EDITOR_STATUS_BAND_ALPHA);
        fillRect(0.0f, 0.0f, static_cast<float>(w), bandHeight);
    }

    glEnable(GL_TEXTURE_2D);
    glColor3fv(EDITOR_STATUS_COLOUR);
    // Glyphs 8 units wide, narrower when the line would not fit the width otherwise.
    const float glyph = std::min(8.0f * u, (static_cast<float>(w) - 16.0f) / std::max<float>(text.size(), 1.0f));
    drawText(fontLists, 8.0f, margin, glyph, 12.0f * u, 0, text.c_str(), textureTable.nameOf(SLOT_FONT));

    popPixelProjection();
    glPopAttrib();
}

// The timeline strip along the bottom: an opaque band (the status line is
// its lowest row), the loop shaded, the waveform one column per pixel, beat
// ticks and bar lines with their numbers, the key markers on top and the head
// across it all. In pixels, over everything else; every switch it touches is
// restored.
void drawTimeline(const TimelineStrip& t, int w, int h)
{
    const TimelineLayout l = timelineLayout(w);
    const float top = static_cast<float>(l.height), waveBottom = static_cast<float>(l.statusTop);
    const float waveTop = static_cast<float>(l.waveTop), width = static_cast<float>(w);
    static std::vector<float> lines;   // x, y pairs; reused
    auto line = [](float x0, float y0, float x1, float y1) {
        lines.insert(lines.end(), { x0, y0, x1, y1 });
    };
    auto flush = [](const float* colour) {
        if (lines.empty())
            return;
        glColor3fv(colour);
        glVertexPointer(2, GL_FLOAT, 0, lines.data());
        glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(lines.size() / 2));
        lines.clear();
    };

    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_LINE_BIT | GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LINE_SMOOTH);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glLineWidth(1.0f);
    pushPixelProjection(w, h);

    glColor3fv(TIMELINE_BACKGROUND);
    fillRect(0.0f, 0.0f, width, top);
    if (t.loop) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glColor4fv(TIMELINE_LOOP_COLOUR);
        fillRect(t.loopFrom, waveBottom, std::max(t.loopTo - t.loopFrom, 1.0f), top - waveBottom);
        glDisable(GL_BLEND);
    }

    // The wave: a line per column from its lowest to its highest sample, at
    // least a pixel long, so silence shows as the middle line.
    const float middle = 0.5f * (waveBottom + waveTop), half = 0.5f * (waveTop - waveBottom) - 1.0f;
    if (t.wave) {
        const size_t columns = std::min(t.wave->size(), static_cast<size_t>(std::max(w, 0)));
        for (size_t c = 0; c < columns; ++c) {
            const WaveColumn& wc = (*t.wave)[c];
            const float x = static_cast<float>(c) + 0.5f;
            const float y0 = std::floor(middle + wc.low * half), y1 = std::floor(middle + wc.high * half) + 1.0f;
            line(x, y0, x, y1);
        }
        flush(TIMELINE_WAVE_COLOUR);
    }
    const float tick = std::max(3.0f, 0.12f * (waveTop - waveBottom));
    for (float x : t.beats.beats)
        line(std::floor(x) + 0.5f, waveBottom, std::floor(x) + 0.5f, waveBottom + tick);
    flush(TIMELINE_BEAT_COLOUR);
    for (const TimelineBar& b : t.beats.bars)
        line(std::floor(b.x) + 0.5f, waveBottom, std::floor(b.x) + 0.5f, waveTop);
    flush(TIMELINE_BAR_COLOUR);
    if (t.loopMark >= 0.0f)
        line(std::floor(t.loopMark) + 0.5f, waveBottom, std::floor(t.loopMark) + 0.5f, top);
    flush(TIMELINE_LOOP_COLOUR);
    if (t.pointer >= 0.0f)
        line(std::floor(t.pointer) + 0.5f, waveBottom, std::floor(t.pointer) + 0.5f, top);
    flush(TIMELINE_POINTER_COLOUR);

    // The camera's speed and turn rate over the wave, each scaled to its
    // peak in the scene; where the speed jumps the line turns red.
    if (t.speeds && t.speeds->speed.size() == static_cast<size_t>(std::max(w, 0))) {
        const TimelineSpeeds& sp = *t.speeds;
        const float span = waveTop - waveBottom - 2.0f;
        const auto curve = [&](const std::vector<float>& v, float peak, bool spikes) {
            if (!(peak > 0.0f))
                return;
            std::vector<float> jumps;
            for (size_t c = 1; c < v.size(); ++c) {
                const float x0 = static_cast<float>(c) - 0.5f, x1 = static_cast<float>(c) + 0.5f;
                const float y0 = waveBottom + 1.0f + span * v[c - 1] / peak, y1 = waveBottom + 1.0f + span * v[c] / peak;
                if (spikes && sp.spike[c])
                    jumps.insert(jumps.end(), { x0, y0, x1, y1 });
                else
                    line(x0, y0, x1, y1);
            }
            flush(spikes ? TIMELINE_SPEED_COLOUR : TIMELINE_TURN_COLOUR);
            lines = jumps;
            glLineWidth(3.0f);
            flush(TIMELINE_SPIKE_COLOUR);
            glLineWidth(1.0f);
        };
        curve(sp.turn, sp.peakTurn, false);
        curve(sp.speed, sp.peakSpeed, true);
    }

    // Key markers: diamonds in the lane above the wave.
    const float laneMiddle = 0.5f * (waveTop + top);
    for (size_t i = 0; i < t.keys.size(); ++i) {
        const bool selected = static_cast<int>(i) == t.selectedKey;
        const float r = 0.5f * (top - waveTop) * (selected ? 0.9f : 0.6f), x = t.keys[i];
        glColor3fv(selected ? EDITOR_SELECTED_COLOUR : EDITOR_KEY_COLOUR);
        glBegin(GL_QUADS);
        glVertex2f(x, laneMiddle - r);
        glVertex2f(x + r, laneMiddle);
        glVertex2f(x, laneMiddle + r);
        glVertex2f(x - r, laneMiddle);
        glEnd();
    }
    if (t.head >= 0.0f) {
        line(std::floor(t.head) + 0.5f, waveBottom, std::floor(t.head) + 0.5f, top);
        flush(TIMELINE_HEAD_COLOUR);
    }
    if (t.pointer >= 0.0f) {
        // The cursor itself, a small square on its line (the system's pointer stays hidden).
        glColor3fv(TIMELINE_HEAD_COLOUR);
        fillRect(std::floor(t.pointer) - 2.0f, std::floor(t.pointerY) - 2.0f, 5.0f, 5.0f);
    }

    // Bar numbers beside their lines, at the top of the wave.
    const float u = width * 0.00125f;
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor3fv(TIMELINE_BAR_COLOUR);
    for (const TimelineBar& b : t.beats.bars) {
        const std::string number = std::to_string(b.number);
        drawText(fontLists, std::floor(b.x) + 3.0f, waveTop - 11.0f * u, 6.0f * u, 9.0f * u, 0, number.c_str(),
                 textureTable.nameOf(SLOT_FONT));
    }

    popPixelProjection();
    glPopClientAttrib();
    glPopAttrib();
}

} // namespace

namespace {

bool layerWireframe()
{
    return editorLayer.active && editorLayer.wireframe;
}

void layerInScene()
{
    if (editorLayer.active && editorLayer.flight && editorLayer.pair)
        drawFlightOverlay(*editorLayer.pair, editorLayer.keys, editorLayer.selectedKey, editorLayer.aspect);
}

void layerOverFrame(int width, int height)
{
    if (!editorLayer.active)
        return;
    const bool strip = editorLayer.timeline.shown;
    if (strip)
        drawTimeline(editorLayer.timeline, width, height);
    if (editorLayer.status && !editorLayer.statusText.empty())
        drawStatusLine(editorLayer.statusText, width, height, !strip);
}

void layerDepthRange(float& nearPlane, float& farPlane)
{
    if (!editorLayer.active || !(editorLayer.farPlane > 0.0f))
        return;
    nearPlane = editorLayer.nearPlane;
    farPlane = editorLayer.farPlane;
}

} // namespace

void installEditorLayer()
{
    frameLayer.wireframe = layerWireframe;
    frameLayer.inScene = layerInScene;
    frameLayer.overFrame = layerOverFrame;
    frameLayer.depthRange = layerDepthRange;
}
