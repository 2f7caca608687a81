// iso/IsoDraw.cpp: drawing the isosurface mesh with OpenGL immediate mode.
// The only file of iso/ that includes GL.
#include "iso/IsoSurface.h"

#include "gfx/Texture.h"

#include <SDL_opengl.h>

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

} // namespace

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
