// gl/GL.h: the OpenGL every drawing file includes. The desktop build gets the
// system's OpenGL 1.1 and GLU through SDL; the layer builds
// (VORTALUNE_GL_LAYER: the browser, and the native ES build that tests the
// layer) get the same calls carried out over OpenGL ES 3 / WebGL 2
// (gl/GlLayer.h). Nothing above this floor names either.
#pragma once

#if VORTALUNE_GL_LAYER
#include "gl/GlLayer.h"
#else
#include <SDL_opengl.h>
#include <GL/glu.h>
#endif
