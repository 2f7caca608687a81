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

// The flight in world space, under the camera's modelview. Depth-tested
// against the scene, but it writes no depth and every switch it touches is
// restored, so the passes after it draw as they would without it.
void drawFlightOverlay(const PathPair& pair, int selectedKey)
{
    static FlightOverlayGeometry geometry;   // reused: no allocation per frame once grown
    buildFlightOverlay(pair, eyePosition(camera.position, camera.angles, camera.distance), geometry);

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
// like the caption by the screen width.
void drawStatusLine(const std::string& text, int w, int h)
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
    const float band = 12.0f * u + 2.0f * margin;   // glyphs 8 x 12: a hundred characters fit the width
    glDisable(GL_TEXTURE_2D);
    glColor4f(0.0f, 0.0f, 0.0f, EDITOR_STATUS_BAND_ALPHA);
    glBegin(GL_QUADS);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(static_cast<float>(w), 0.0f);
    glVertex2f(static_cast<float>(w), band);
    glVertex2f(0.0f, band);
    glEnd();

    glEnable(GL_TEXTURE_2D);
    glColor3fv(EDITOR_STATUS_COLOUR);
    drawText(fontLists, 8.0f, margin, 8.0f * u, 12.0f * u, 0, text.c_str(), textureTable.nameOf(SLOT_FONT));

    popPixelProjection();
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
        drawFlightOverlay(*editorLayer.pair, editorLayer.selectedKey);
}

void layerOverFrame(int width, int height)
{
    if (editorLayer.active && editorLayer.status && !editorLayer.statusText.empty())
        drawStatusLine(editorLayer.statusText, width, height);
}

} // namespace

void installEditorLayer()
{
    frameLayer.wireframe = layerWireframe;
    frameLayer.inScene = layerInScene;
    frameLayer.overFrame = layerOverFrame;
}
