// model/hlDraw.cpp: the GL side of the studio model. render() sends the
// skinned strips and fans of every body part with immediate-mode calls. The
// caller has placed the model (z up, rotated -90 degrees about x), enabled
// texturing and blending and set the material; only the bound 2D texture
// changes here.
#include "model/hl.h"

#include "gl/GL.h"

namespace {

class GlStudioSink final : public StudioDrawSink {
public:
    void bindTexture(uint32_t name) override { glBindTexture(GL_TEXTURE_2D, name); }
    void begin(bool fan) override { glBegin(fan ? GL_TRIANGLE_FAN : GL_TRIANGLE_STRIP); }
    void vertex(float s, float t, const Float3& normal, const Float3& position) override
    {
        glTexCoord2f(s, t);
        glNormal3f(normal.x, normal.y, normal.z);
        glVertex3f(position.x, position.y, position.z);
    }
    void end() override { glEnd(); }
};

} // namespace

void StudioModel::render()
{
    GlStudioSink sink;
    render(sink);
}
