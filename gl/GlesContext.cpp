// gl/GlesContext.cpp: surfaceless EGL with a framebuffer object.
#include "gl/GlesContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES3/gl3.h>

namespace {

struct Context {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint     framebuffer = 0;
    GLuint     colour = 0;
    GLuint     depthStencil = 0;
};

Context current;

bool fail(std::string& why, const char* what)
{
    why = what;
    closeGlesContext();
    return false;
}

} // namespace

bool openGlesContext(int width, int height, std::string& why)
{
    closeGlesContext();
    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay)
        return fail(why, "EGL has no eglGetPlatformDisplayEXT");
    current.display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (current.display == EGL_NO_DISPLAY || !eglInitialize(current.display, nullptr, nullptr))
        return fail(why, "no surfaceless EGL display");
    if (!eglBindAPI(EGL_OPENGL_ES_API))
        return fail(why, "EGL cannot bind OpenGL ES");
    const EGLint configAttributes[] = { EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                        EGL_NONE };
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(current.display, configAttributes, &config, 1, &configs) || configs < 1)
        return fail(why, "no EGL configuration for OpenGL ES 3");
    const EGLint contextAttributes[] = { EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE };
    current.context = eglCreateContext(current.display, config, EGL_NO_CONTEXT, contextAttributes);
    if (current.context == EGL_NO_CONTEXT)
        return fail(why, "no OpenGL ES 3 context");
    if (!eglMakeCurrent(current.display, EGL_NO_SURFACE, EGL_NO_SURFACE, current.context))
        return fail(why, "the OpenGL ES context cannot be made current without a surface");

    glGenRenderbuffers(1, &current.colour);
    glBindRenderbuffer(GL_RENDERBUFFER, current.colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenRenderbuffers(1, &current.depthStencil);
    glBindRenderbuffer(GL_RENDERBUFFER, current.depthStencil);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glGenFramebuffers(1, &current.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, current.framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, current.colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, current.depthStencil);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return fail(why, "the framebuffer object is not complete");
    glViewport(0, 0, width, height);
    return true;
}

bool glesContextOpen()
{
    return current.context != EGL_NO_CONTEXT;
}

void closeGlesContext()
{
    if (current.context != EGL_NO_CONTEXT) {
        glDeleteFramebuffers(1, &current.framebuffer);
        glDeleteRenderbuffers(1, &current.colour);
        glDeleteRenderbuffers(1, &current.depthStencil);
        eglMakeCurrent(current.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(current.display, current.context);
    }
    if (current.display != EGL_NO_DISPLAY)
        eglTerminate(current.display);
    current = Context();
}
