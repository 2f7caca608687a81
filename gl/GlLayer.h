// gl/GlLayer.h: the OpenGL 1.1 subset the demo draws with, carried out over
// OpenGL ES 3.0 / WebGL 2: immediate mode and client vertex arrays, display
// lists, the three matrix stacks, attribute stacks, fixed-function lighting
// as OpenGL 1.1 defines it (two lights, positional with attenuation,
// materials, colour material), the texture environment, sphere-map texture
// generation, copies from the frame into textures, mipmaps, wireframe
// polygons and the state queries the drawing code makes.
//
// Only the layer builds use it (VORTALUNE_GL_LAYER: the browser, and the
// native build on Mesa's OpenGL ES through EGL that tests it); the desktop
// build calls the system's OpenGL 1.1 (gl/GL.h chooses). Drawing code keeps
// calling glBegin, glLightfv, ...: below, each of those names is a macro for
// the layer's vgl function, and the GL 1.1 enum values are defined here.
//
// One context, one thread. What the layer leaves out: fog, the alpha test,
// flat shading, texture units beyond the first, lights 2..7, two-sided
// lighting, spot lights, the accumulation buffer, selection and feedback;
// such state is stored and queried, and has no effect on the pixels.
#pragma once

#include <cstddef>
#include <cstdint>

// --- Types ---------------------------------------------------------------------------
typedef unsigned int   GLenum;
typedef unsigned char  GLboolean;
typedef unsigned int   GLbitfield;
typedef void           GLvoid;
typedef signed char    GLbyte;
typedef short          GLshort;
typedef int            GLint;
typedef int            GLsizei;
typedef unsigned char  GLubyte;
typedef unsigned short GLushort;
typedef unsigned int   GLuint;
typedef float          GLfloat;
typedef float          GLclampf;
typedef double         GLdouble;
typedef double         GLclampd;

// --- Enum values (OpenGL 1.1, and the few later ones the code queries) ---------------
// Guarded, so the layer's own source can include them after the ES headers.
#ifndef GL_FALSE
#define GL_FALSE 0
#define GL_TRUE 1
#endif
#ifndef GL_POINTS
#define GL_POINTS         0x0000
#define GL_LINES          0x0001
#define GL_LINE_LOOP      0x0002
#define GL_LINE_STRIP     0x0003
#define GL_TRIANGLES      0x0004
#define GL_TRIANGLE_STRIP 0x0005
#define GL_TRIANGLE_FAN   0x0006
#endif
#define GL_QUADS      0x0007
#define GL_QUAD_STRIP 0x0008
#define GL_POLYGON    0x0009
// attribute groups
#define GL_CURRENT_BIT         0x00000001
#define GL_POINT_BIT           0x00000002
#define GL_LINE_BIT            0x00000004
#define GL_POLYGON_BIT         0x00000008
#define GL_LIGHTING_BIT        0x00000040
#define GL_PIXEL_MODE_BIT      0x00000020
#define GL_VIEWPORT_BIT        0x00000800
#define GL_TRANSFORM_BIT       0x00001000
#define GL_ENABLE_BIT          0x00002000
#define GL_TEXTURE_BIT         0x00040000
#define GL_SCISSOR_BIT         0x00080000
#define GL_ALL_ATTRIB_BITS     0x000FFFFF
#define GL_CLIENT_PIXEL_STORE_BIT  0x00000001
#define GL_CLIENT_VERTEX_ARRAY_BIT 0x00000002
#ifndef GL_DEPTH_BUFFER_BIT
#define GL_DEPTH_BUFFER_BIT   0x00000100
#define GL_STENCIL_BUFFER_BIT 0x00000400
#define GL_COLOR_BUFFER_BIT   0x00004000
#endif
// blending and depth
#ifndef GL_ZERO
#define GL_ZERO                0
#define GL_ONE                 1
#define GL_SRC_COLOR           0x0300
#define GL_ONE_MINUS_SRC_COLOR 0x0301
#define GL_SRC_ALPHA           0x0302
#define GL_ONE_MINUS_SRC_ALPHA 0x0303
#define GL_DST_ALPHA           0x0304
#define GL_ONE_MINUS_DST_ALPHA 0x0305
#define GL_DST_COLOR           0x0306
#define GL_ONE_MINUS_DST_COLOR 0x0307
#define GL_NEVER    0x0200
#define GL_LESS     0x0201
#define GL_EQUAL    0x0202
#define GL_LEQUAL   0x0203
#define GL_GREATER  0x0204
#define GL_NOTEQUAL 0x0205
#define GL_GEQUAL   0x0206
#define GL_ALWAYS   0x0207
#define GL_FUNC_ADD 0x8006
#define GL_BLEND_EQUATION_RGB   0x8009
#define GL_BLEND_EQUATION_ALPHA 0x883D
#define GL_BLEND_DST_RGB   0x80C8
#define GL_BLEND_SRC_RGB   0x80C9
#define GL_BLEND_DST_ALPHA 0x80CA
#define GL_BLEND_SRC_ALPHA 0x80CB
#endif
// faces and polygons
#ifndef GL_FRONT
#define GL_FRONT          0x0404
#define GL_BACK           0x0405
#define GL_FRONT_AND_BACK 0x0408
#define GL_CW  0x0900
#define GL_CCW 0x0901
#endif
#define GL_POINT 0x1B00
#define GL_LINE  0x1B01
#define GL_FILL  0x1B02
#define GL_FLAT   0x1D00
#define GL_SMOOTH 0x1D01
// capabilities
#define GL_POINT_SMOOTH   0x0B10
#define GL_LINE_SMOOTH    0x0B20
#ifndef GL_CULL_FACE
#define GL_CULL_FACE      0x0B44
#define GL_DEPTH_TEST     0x0B71
#define GL_DITHER         0x0BD0
#define GL_BLEND          0x0BE2
#define GL_SCISSOR_TEST   0x0C11
#define GL_STENCIL_TEST   0x0B90
#define GL_POLYGON_OFFSET_FILL 0x8037
#endif
#define GL_LIGHTING       0x0B50
#define GL_COLOR_MATERIAL 0x0B57
#define GL_FOG            0x0B60
#define GL_NORMALIZE      0x0BA1
#define GL_ALPHA_TEST     0x0BC0
#define GL_TEXTURE_GEN_S  0x0C60
#define GL_TEXTURE_GEN_T  0x0C61
#define GL_COLOR_SUM      0x8458
#define GL_LIGHT0         0x4000
#define GL_LIGHT1         0x4001
#ifndef GL_TEXTURE_2D
#define GL_TEXTURE_2D     0x0DE1
#endif
// client arrays
#define GL_VERTEX_ARRAY        0x8074
#define GL_NORMAL_ARRAY        0x8075
#define GL_COLOR_ARRAY         0x8076
#define GL_TEXTURE_COORD_ARRAY 0x8078
// data types
#ifndef GL_BYTE
#define GL_BYTE           0x1400
#define GL_UNSIGNED_BYTE  0x1401
#define GL_SHORT          0x1402
#define GL_UNSIGNED_SHORT 0x1403
#define GL_INT            0x1404
#define GL_UNSIGNED_INT   0x1405
#define GL_FLOAT          0x1406
#endif
#define GL_DOUBLE         0x140A
// lists
#define GL_COMPILE             0x1300
#define GL_COMPILE_AND_EXECUTE 0x1301
// matrices
#define GL_MODELVIEW  0x1700
#define GL_PROJECTION 0x1701
#define GL_TEXTURE    0x1702
#define GL_MATRIX_MODE       0x0BA0
#define GL_MODELVIEW_MATRIX  0x0BA6
#define GL_PROJECTION_MATRIX 0x0BA7
#define GL_TEXTURE_MATRIX    0x0BA8
// lights and materials
#define GL_AMBIENT               0x1200
#define GL_DIFFUSE               0x1201
#define GL_SPECULAR              0x1202
#define GL_POSITION              0x1203
#define GL_SPOT_DIRECTION        0x1204
#define GL_SPOT_EXPONENT         0x1205
#define GL_SPOT_CUTOFF           0x1206
#define GL_CONSTANT_ATTENUATION  0x1207
#define GL_LINEAR_ATTENUATION    0x1208
#define GL_QUADRATIC_ATTENUATION 0x1209
#define GL_EMISSION              0x1600
#define GL_SHININESS             0x1601
#define GL_AMBIENT_AND_DIFFUSE   0x1602
#define GL_LIGHT_MODEL_AMBIENT   0x0B53
// pixels and textures
#ifndef GL_RGB
#define GL_ALPHA           0x1906
#define GL_RGB             0x1907
#define GL_RGBA            0x1908
#define GL_LUMINANCE       0x1909
#define GL_LUMINANCE_ALPHA 0x190A
#define GL_UNPACK_ROW_LENGTH  0x0CF2
#define GL_UNPACK_SKIP_ROWS   0x0CF3
#define GL_UNPACK_SKIP_PIXELS 0x0CF4
#define GL_UNPACK_ALIGNMENT   0x0CF5
#define GL_PACK_ROW_LENGTH    0x0D02
#define GL_PACK_SKIP_ROWS     0x0D03
#define GL_PACK_SKIP_PIXELS   0x0D04
#define GL_PACK_ALIGNMENT     0x0D05
#define GL_MAX_TEXTURE_SIZE   0x0D33
#define GL_VIEWPORT           0x0BA2
#define GL_SCISSOR_BOX        0x0C10
#define GL_NEAREST                0x2600
#define GL_LINEAR                 0x2601
#define GL_NEAREST_MIPMAP_NEAREST 0x2700
#define GL_LINEAR_MIPMAP_NEAREST  0x2701
#define GL_NEAREST_MIPMAP_LINEAR  0x2702
#define GL_LINEAR_MIPMAP_LINEAR   0x2703
#define GL_TEXTURE_MAG_FILTER 0x2800
#define GL_TEXTURE_MIN_FILTER 0x2801
#define GL_TEXTURE_WRAP_S     0x2802
#define GL_TEXTURE_WRAP_T     0x2803
#define GL_REPEAT             0x2901
#define GL_CLAMP_TO_EDGE      0x812F
#define GL_TEXTURE_BINDING_2D 0x8069
#endif
#define GL_PACK_SWAP_BYTES  0x0D00
#define GL_UNPACK_SWAP_BYTES 0x0CF0
#define GL_TEXTURE_WIDTH    0x1000
#define GL_TEXTURE_HEIGHT   0x1001
#define GL_CLAMP            0x2900
#define GL_S                0x2000
#define GL_T                0x2001
#define GL_TEXTURE_GEN_MODE 0x2500
#define GL_EYE_LINEAR       0x2400
#define GL_OBJECT_LINEAR    0x2401
#define GL_SPHERE_MAP       0x2402
#define GL_TEXTURE_ENV      0x2300
#define GL_TEXTURE_ENV_MODE 0x2200
#define GL_MODULATE         0x2100
#define GL_DECAL            0x2101
#define GL_ADD              0x0104
#ifndef GL_REPLACE
#define GL_REPLACE          0x1E01
#endif
// hints and buffers
#ifndef GL_DONT_CARE
#define GL_DONT_CARE 0x1100
#define GL_FASTEST   0x1101
#define GL_NICEST    0x1102
#endif
#define GL_LINE_SMOOTH_HINT 0x0C52
#ifndef GL_NO_ERROR
#define GL_NO_ERROR          0
#define GL_INVALID_ENUM      0x0500
#define GL_INVALID_VALUE     0x0501
#define GL_INVALID_OPERATION 0x0502
#endif
#define GL_STACK_OVERFLOW  0x0503
#define GL_STACK_UNDERFLOW 0x0504

// --- Functions -----------------------------------------------------------------------
// The calls the demo makes, with OpenGL 1.1's meaning (under the vgl prefix).
void vglBegin(GLenum mode);
void vglEnd();
void vglVertex2f(GLfloat x, GLfloat y);
void vglVertex2i(GLint x, GLint y);
void vglVertex3f(GLfloat x, GLfloat y, GLfloat z);
void vglVertex3fv(const GLfloat* v);
void vglNormal3f(GLfloat x, GLfloat y, GLfloat z);
void vglNormal3fv(const GLfloat* v);
void vglColor3f(GLfloat r, GLfloat g, GLfloat b);
void vglColor3fv(const GLfloat* v);
void vglColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
void vglTexCoord2f(GLfloat s, GLfloat t);
void vglTexCoord2d(GLdouble s, GLdouble t);

void vglEnableClientState(GLenum array);
void vglDisableClientState(GLenum array);
void vglVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer);
void vglNormalPointer(GLenum type, GLsizei stride, const GLvoid* pointer);
void vglColorPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer);
void vglTexCoordPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer);
void vglDrawArrays(GLenum mode, GLint first, GLsizei count);
void vglDrawElements(GLenum mode, GLsizei count, GLenum type, const GLvoid* indices);

void vglMatrixMode(GLenum mode);
void vglLoadIdentity();
void vglPushMatrix();
void vglPopMatrix();
void vglTranslatef(GLfloat x, GLfloat y, GLfloat z);
void vglTranslated(GLdouble x, GLdouble y, GLdouble z);
void vglRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void vglScalef(GLfloat x, GLfloat y, GLfloat z);
void vglOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar);
void vgluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);

GLuint vglGenLists(GLsizei range);
void   vglDeleteLists(GLuint list, GLsizei range);
void   vglNewList(GLuint list, GLenum mode);
void   vglEndList();
void   vglListBase(GLuint base);
void   vglCallLists(GLsizei n, GLenum type, const GLvoid* lists);

void vglEnable(GLenum cap);
void vglDisable(GLenum cap);
GLboolean vglIsEnabled(GLenum cap);
void vglPushAttrib(GLbitfield mask);
void vglPopAttrib();
void vglPushClientAttrib(GLbitfield mask);
void vglPopClientAttrib();

void vglLightf(GLenum light, GLenum pname, GLfloat param);
void vglLightfv(GLenum light, GLenum pname, const GLfloat* params);
void vglMaterialf(GLenum face, GLenum pname, GLfloat param);
void vglMaterialfv(GLenum face, GLenum pname, const GLfloat* params);
void vglShadeModel(GLenum mode);

void vglGenTextures(GLsizei n, GLuint* textures);
void vglDeleteTextures(GLsizei n, const GLuint* textures);
void vglBindTexture(GLenum target, GLuint texture);
void vglTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                   GLenum format, GLenum type, const GLvoid* pixels);
void vglCopyTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint x, GLint y, GLsizei width,
                          GLsizei height);
void vglTexParameteri(GLenum target, GLenum pname, GLint param);
void vglGetTexParameteriv(GLenum target, GLenum pname, GLint* params);
void vglGetTexLevelParameteriv(GLenum target, GLint level, GLenum pname, GLint* params);
void vglGetTexImage(GLenum target, GLint level, GLenum format, GLenum type, GLvoid* pixels);
void vglTexEnvi(GLenum target, GLenum pname, GLint param);
void vglTexEnvf(GLenum target, GLenum pname, GLfloat param);
void vglGetTexEnviv(GLenum target, GLenum pname, GLint* params);
void vglTexGeni(GLenum coord, GLenum pname, GLint param);
GLint vgluBuild2DMipmaps(GLenum target, GLint components, GLint width, GLint height, GLenum format, GLenum type,
                         const void* data);

void vglPixelStorei(GLenum pname, GLint param);
void vglReadBuffer(GLenum mode);
void vglReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, GLvoid* pixels);

void vglViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void vglScissor(GLint x, GLint y, GLsizei width, GLsizei height);
void vglClear(GLbitfield mask);
void vglClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a);
void vglClearStencil(GLint s);
void vglBlendFunc(GLenum sfactor, GLenum dfactor);
void vglDepthFunc(GLenum func);
void vglDepthMask(GLboolean flag);
void vglCullFace(GLenum mode);
void vglPolygonMode(GLenum face, GLenum mode);
void vglLineWidth(GLfloat width);
void vglPointSize(GLfloat size);
void vglHint(GLenum target, GLenum mode);
void vglFinish();
GLenum vglGetError();

void vglGetIntegerv(GLenum pname, GLint* params);
void vglGetFloatv(GLenum pname, GLfloat* params);

// --- The layer's own -------------------------------------------------------------------
// Starts the layer on the current ES 3 context (shaders, buffers, default
// state). False with the reason when the context cannot run it.
bool vglStart(const char** why);
// True once vglStart succeeded, until vglStop.
bool vglStarted();
// Deletes what vglStart made (the context itself is the caller's).
void vglStop();

// The glow's layers in one draw. Layer i is the rectangle (x0, y0)-(x1, y1)
// in the current transforms, coloured (colour, colour, colour, alphas[i])
// and textured with the bound texture from (s, t) = maps[i][0..1] at its
// first corner to maps[i][2..3] at the opposite one. With blending on as
// glBlendFunc(GL_SRC_COLOR, GL_ONE) and GL_MODULATE, each fragment adds the
// sum over the layers of the square of the colour times the sample, as the
// layers drawn one after another would, in one draw of one rectangle; under
// any other state the layers are drawn one by one. The depth test, culling,
// scissor and the rest of the state apply as to any draw. 1..VGL_GLOW_LAYERS_MAX
// layers; afterwards the current colour and texture coordinate are the last
// layer's, at its (x0, y1) corner.
constexpr int VGL_GLOW_LAYERS_MAX = 16;
void vglDrawGlowLayers(const float (*maps)[4], const float* alphas, int layers, float colour, float x0, float y0,
                       float x1, float y1);

// What the layer has sent to ES since it started: draws and uniform uploads
// (for the frame-time profile and its tests).
struct VglStatistics {
    long draws = 0;
    long uniformUploads = 0;
};
VglStatistics vglStatistics();

#ifndef VORTALUNE_GL_LAYER_NO_MACROS
#define glBegin               vglBegin
#define glEnd                 vglEnd
#define glVertex2f            vglVertex2f
#define glVertex2i            vglVertex2i
#define glVertex3f            vglVertex3f
#define glVertex3fv           vglVertex3fv
#define glNormal3f            vglNormal3f
#define glNormal3fv           vglNormal3fv
#define glColor3f             vglColor3f
#define glColor3fv            vglColor3fv
#define glColor4f             vglColor4f
#define glTexCoord2f          vglTexCoord2f
#define glTexCoord2d          vglTexCoord2d
#define glEnableClientState   vglEnableClientState
#define glDisableClientState  vglDisableClientState
#define glVertexPointer       vglVertexPointer
#define glNormalPointer       vglNormalPointer
#define glColorPointer        vglColorPointer
#define glTexCoordPointer     vglTexCoordPointer
#define glDrawArrays          vglDrawArrays
#define glDrawElements        vglDrawElements
#define glMatrixMode          vglMatrixMode
#define glLoadIdentity        vglLoadIdentity
#define glPushMatrix          vglPushMatrix
#define glPopMatrix           vglPopMatrix
#define glTranslatef          vglTranslatef
#define glTranslated          vglTranslated
#define glRotatef             vglRotatef
#define glScalef              vglScalef
#define glOrtho               vglOrtho
#define gluPerspective        vgluPerspective
#define glGenLists            vglGenLists
#define glDeleteLists         vglDeleteLists
#define glNewList             vglNewList
#define glEndList             vglEndList
#define glListBase            vglListBase
#define glCallLists           vglCallLists
#define glEnable              vglEnable
#define glDisable             vglDisable
#define glIsEnabled           vglIsEnabled
#define glPushAttrib          vglPushAttrib
#define glPopAttrib           vglPopAttrib
#define glPushClientAttrib    vglPushClientAttrib
#define glPopClientAttrib     vglPopClientAttrib
#define glLightf              vglLightf
#define glLightfv             vglLightfv
#define glMaterialf           vglMaterialf
#define glMaterialfv          vglMaterialfv
#define glShadeModel          vglShadeModel
#define glGenTextures         vglGenTextures
#define glDeleteTextures      vglDeleteTextures
#define glBindTexture         vglBindTexture
#define glTexImage2D          vglTexImage2D
#define glCopyTexSubImage2D   vglCopyTexSubImage2D
#define glTexParameteri       vglTexParameteri
#define glGetTexParameteriv   vglGetTexParameteriv
#define glGetTexLevelParameteriv vglGetTexLevelParameteriv
#define glGetTexImage         vglGetTexImage
#define glTexEnvi             vglTexEnvi
#define glTexEnvf             vglTexEnvf
#define glGetTexEnviv         vglGetTexEnviv
#define glTexGeni             vglTexGeni
#define gluBuild2DMipmaps     vgluBuild2DMipmaps
#define glPixelStorei         vglPixelStorei
#define glReadBuffer          vglReadBuffer
#define glReadPixels          vglReadPixels
#define glViewport            vglViewport
#define glScissor             vglScissor
#define glClear               vglClear
#define glClearColor          vglClearColor
#define glClearStencil        vglClearStencil
#define glBlendFunc           vglBlendFunc
#define glDepthFunc           vglDepthFunc
#define glDepthMask           vglDepthMask
#define glCullFace            vglCullFace
#define glPolygonMode         vglPolygonMode
#define glLineWidth           vglLineWidth
#define glPointSize           vglPointSize
#define glHint                vglHint
#define glFinish              vglFinish
#define glGetError            vglGetError
#define glGetIntegerv         vglGetIntegerv
#define glGetFloatv           vglGetFloatv
#endif
