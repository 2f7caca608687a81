// iso/IsoDraw.cpp: drawing the isosurface mesh with OpenGL 1.1 vertex arrays
// (or, for comparison, immediate mode). The only file of iso/ that includes GL.
#include "iso/IsoSurface.h"

#include "gfx/Texture.h"
#include "gl/GL.h"

#include <vector>

namespace {

constexpr GLfloat SPECULAR_BLACK[4] = { 0.0f, 0.0f, 0.0f, 0.0f };
constexpr GLfloat SPECULAR_WHITE[4] = { 1.0f, 1.0f, 1.0f, 1.0f };
constexpr GLfloat HIGHLIGHT_SHININESS = 16.0f;

void applyMaterial(const IsoSurface& iso)
{
    switch (iso.materialMode) {
    case MATERIAL_MATTE:
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, SPECULAR_BLACK);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
        break;
    case MATERIAL_WHITE:
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, SPECULAR_WHITE);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, HIGHLIGHT_SHININESS);
        break;
    case MATERIAL_COLOURED:
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, iso.specularColour);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, HIGHLIGHT_SHININESS);
        break;
    default:
        break;   // the previous specular material stays in effect
    }
}

// The mesh one vertex call at a time.
void submitImmediate(const IsoSurface& iso, const IsoMesh& mesh, bool textured, bool translucent)
{
    const IsoVertex* vertices = mesh.vertices.data();
    glBegin(GL_TRIANGLES);
    for (uint16_t index : mesh.indices) {
        const IsoVertex& v = vertices[index];
        glNormal3fv(&v.normal.x);
        if (textured)
            glTexCoord2f(v.normal.x, v.normal.z);   // looked up by surface direction
        if (iso.flatColourMode)
            glColor3fv(&FLAT_COLOUR.x);
        else if (translucent)
            glColor4f(v.colour.x, v.colour.y, v.colour.z, iso.alpha);
        else
            glColor3fv(&v.colour.x);
        glVertex3fv(&v.position.x);
    }
    glEnd();
}

// The same vertices, attributes and order in one glDrawElements. Per-draw
// scratch (texture coordinates, colours with the surface's alpha) is kept
// between frames. Afterwards the current normal, texture coordinate and
// colour are the last vertex's, as immediate mode leaves them.
void submitArrays(const IsoSurface& iso, const IsoMesh& mesh, bool textured, bool translucent)
{
    static std::vector<GLfloat> texCoords;
    static std::vector<GLfloat> colours;
    if (mesh.indices.empty())
        return;
    const IsoVertex* vertices = mesh.vertices.data();
    const size_t n = mesh.vertices.size();
    const GLsizei stride = sizeof(IsoVertex);

    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, &vertices[0].position.x);
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, stride, &vertices[0].normal.x);
    if (textured) {
        texCoords.resize(2 * n);
        for (size_t i = 0; i < n; ++i) {
            texCoords[2 * i] = vertices[i].normal.x;
            texCoords[2 * i + 1] = vertices[i].normal.z;
        }
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, texCoords.data());
    }
    if (iso.flatColourMode) {
        glColor3fv(&FLAT_COLOUR.x);
    } else if (translucent) {
        colours.resize(4 * n);
        for (size_t i = 0; i < n; ++i) {
            colours[4 * i] = vertices[i].colour.x;
            colours[4 * i + 1] = vertices[i].colour.y;
            colours[4 * i + 2] = vertices[i].colour.z;
            colours[4 * i + 3] = iso.alpha;
        }
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(4, GL_FLOAT, 0, colours.data());
    } else {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(3, GL_FLOAT, stride, &vertices[0].colour.x);
    }
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh.indices.size()), GL_UNSIGNED_SHORT, mesh.indices.data());
    glPopClientAttrib();

    const IsoVertex& last = vertices[mesh.indices.back()];
    glNormal3fv(&last.normal.x);
    if (textured)
        glTexCoord2f(last.normal.x, last.normal.z);
    if (iso.flatColourMode)
        glColor3fv(&FLAT_COLOUR.x);
    else if (translucent)
        glColor4f(last.colour.x, last.colour.y, last.colour.z, iso.alpha);
    else
        glColor3fv(&last.colour.x);
}

} // namespace

bool isoImmediateMode = false;

void drawIso(const IsoSurface& iso)
{
    const IsoMesh& mesh = iso.mesher.meshes[iso.mesher.current];
    const bool textured = iso.textureSlot != 0;
    const bool translucent = iso.alpha < 1.0f;

    glDisable(GL_CULL_FACE);   // winding differs between cube classes
    applyMaterial(iso);
    if (textured) {
        glEnable(GL_TEXTURE_2D);
        // A slot outside the table has no texture name: it binds 0 instead of
        // reading past the table.
        const bool validSlot = iso.textureSlot > 0 && iso.textureSlot < TEXTURE_SLOTS;
        glBindTexture(GL_TEXTURE_2D, validSlot ? textureTable.nameOf(iso.textureSlot) : 0);
        glEnable(GL_COLOR_MATERIAL);
    } else {
        glEnable(GL_COLOR_MATERIAL);
        glDisable(GL_TEXTURE_2D);
    }
    if (translucent) {
        glEnable(GL_BLEND);          // with the caller's blend function
        glDisable(GL_DEPTH_TEST);    // triangles are not sorted
    }

    if (isoImmediateMode)
        submitImmediate(iso, mesh, textured, translucent);
    else
        submitArrays(iso, mesh, textured, translucent);

    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, SPECULAR_BLACK);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_CULL_FACE);
    // GL_TEXTURE_2D stays as set above.
}

void drawIsoFlat(IsoSurface& iso)
{
    iso.flatColourMode = true;
    drawIso(iso);
    iso.flatColourMode = false;
}
