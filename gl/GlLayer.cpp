// gl/GlLayer.cpp: OpenGL 1.1 over OpenGL ES 3.0 / WebGL 2.
//
// Every draw (glEnd, glDrawArrays, glDrawElements) becomes one draw of an
// interleaved vertex buffer through a single shader program that carries out
// the fixed-function pipeline: the modelview and projection transforms,
// per-vertex lighting as OpenGL 1.1 defines it, sphere-map texture
// generation and the texture matrix, then the texture environment per
// fragment. Everything else is state kept here and handed to ES where it
// has a counterpart (blending, depth, culling, scissor, viewport).
//
// Sections:
//   --- Matrices ---
//   --- State ---
//   --- Shader ---
//   --- Drawing ---
//   --- Immediate mode and arrays ---
//   --- Matrix stacks ---
//   --- Display lists ---
//   --- Enables and attribute stacks ---
//   --- Lights and materials ---
//   --- Textures ---
//   --- Pixels, buffers and queries ---
//   --- Start and stop ---
#include <GLES3/gl3.h>

#define VORTALUNE_GL_LAYER_NO_MACROS
#include "gl/GlLayer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

// --- Matrices ----------------------------------------------------------------------------

namespace {

// Column-major 4 x 4, as OpenGL keeps its matrices.
struct Mat4 {
    float m[16] = { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 };
};

Mat4 multiply(const Mat4& a, const Mat4& b)
{
    Mat4 r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[k * 4 + row] * b.m[c * 4 + k];
            r.m[c * 4 + row] = sum;
        }
    return r;
}

void transformPoint(const Mat4& a, const float in[4], float out[4])
{
    for (int row = 0; row < 4; ++row)
        out[row] = a.m[row] * in[0] + a.m[4 + row] * in[1] + a.m[8 + row] * in[2] + a.m[12 + row] * in[3];
}

// The inverse transpose of the upper 3 x 3: how normals go into eye space.
// Column-major 3 x 3. A singular matrix gives zeros.
std::array<float, 9> normalMatrix(const Mat4& a)
{
    const float* m = a.m;
    const float c00 = m[5] * m[10] - m[9] * m[6], c01 = m[9] * m[2] - m[1] * m[10], c02 = m[1] * m[6] - m[5] * m[2];
    const float c10 = m[8] * m[6] - m[4] * m[10], c11 = m[0] * m[10] - m[8] * m[2], c12 = m[4] * m[2] - m[0] * m[6];
    const float c20 = m[4] * m[9] - m[8] * m[5], c21 = m[8] * m[1] - m[0] * m[9], c22 = m[0] * m[5] - m[4] * m[1];
    const float det = m[0] * c00 + m[4] * c01 + m[8] * c02;
    std::array<float, 9> r {};
    if (det == 0.0f)
        return r;
    const float inv = 1.0f / det;
    // cRC is the cofactor of row R, column C of the 3 x 3; the inverse
    // transpose is the cofactor matrix over the determinant, stored by columns.
    const float cofactors[9] = { c00, c10, c20, c01, c11, c21, c02, c12, c22 };
    for (int i = 0; i < 9; ++i)
        r[size_t(i)] = cofactors[i] * inv;
    return r;
}

// --- State -------------------------------------------------------------------------------

constexpr int LIGHTS = 2;          // lights 0 and 1 light the scene; 2..7 are stored nowhere
constexpr int STACK_DEPTH = 32;    // the modelview stack's depth in OpenGL 1.1

struct Light {
    float ambient[4] = { 0, 0, 0, 1 };
    float diffuse[4] = { 0, 0, 0, 1 };
    float specular[4] = { 0, 0, 0, 1 };
    float position[4] = { 0, 0, 1, 0 };   // eye coordinates, as transformed when given
    float attenuation[3] = { 1, 0, 0 };   // constant, linear, quadratic
};

struct Material {
    float ambient[4] = { 0.2f, 0.2f, 0.2f, 1 };
    float diffuse[4] = { 0.8f, 0.8f, 0.8f, 1 };
    float specular[4] = { 0, 0, 0, 1 };
    float emission[4] = { 0, 0, 0, 1 };
    float shininess = 0.0f;
};

// The capabilities the layer knows, in one table: glEnable of another one is
// recorded as an error and changes nothing.
constexpr GLenum CAPS[] = {
    GL_LIGHTING, GL_LIGHT0, GL_LIGHT1, GL_COLOR_MATERIAL, GL_NORMALIZE, GL_TEXTURE_2D, GL_TEXTURE_GEN_S,
    GL_TEXTURE_GEN_T, GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_SCISSOR_TEST, GL_LINE_SMOOTH, GL_POINT_SMOOTH,
    GL_FOG, GL_ALPHA_TEST, GL_DITHER, GL_STENCIL_TEST, GL_COLOR_SUM, GL_POLYGON_OFFSET_FILL,
};
constexpr int CAP_COUNT = int(sizeof(CAPS) / sizeof(CAPS[0]));

// The attribute groups a capability's enable bit also belongs to.
GLbitfield capGroups(GLenum cap)
{
    switch (cap) {
    case GL_BLEND: case GL_ALPHA_TEST: case GL_DITHER: return GL_COLOR_BUFFER_BIT;
    case GL_DEPTH_TEST:                                return GL_DEPTH_BUFFER_BIT;
    case GL_CULL_FACE: case GL_POLYGON_OFFSET_FILL:    return GL_POLYGON_BIT;
    case GL_SCISSOR_TEST:                              return GL_SCISSOR_BIT;
    case GL_LIGHTING: case GL_LIGHT0: case GL_LIGHT1:
    case GL_COLOR_MATERIAL:                            return GL_LIGHTING_BIT;
    case GL_NORMALIZE:                                 return GL_TRANSFORM_BIT;
    case GL_TEXTURE_2D: case GL_TEXTURE_GEN_S:
    case GL_TEXTURE_GEN_T:                             return GL_TEXTURE_BIT;
    case GL_LINE_SMOOTH:                               return GL_LINE_BIT;
    case GL_POINT_SMOOTH:                              return GL_POINT_BIT;
    default:                                           return 0;
    }
}

int capIndex(GLenum cap)
{
    for (int i = 0; i < CAP_COUNT; ++i)
        if (CAPS[i] == cap)
            return i;
    return -1;
}

// The server state, grouped the way glPushAttrib saves it.
struct ServerState {
    bool enabled[CAP_COUNT] = {};
    // GL_CURRENT_BIT
    float color[4] = { 1, 1, 1, 1 };
    float normal[3] = { 0, 0, 1 };
    float texCoord[4] = { 0, 0, 0, 1 };
    // GL_LIGHTING_BIT
    Light    lights[LIGHTS];
    Material material;
    float    lightModelAmbient[4] = { 0.2f, 0.2f, 0.2f, 1 };
    GLenum   shadeModel = GL_SMOOTH;
    // GL_TEXTURE_BIT
    GLuint boundTexture = 0;
    GLenum envMode = GL_MODULATE;
    GLenum texGenMode[2] = { GL_EYE_LINEAR, GL_EYE_LINEAR };
    // GL_COLOR_BUFFER_BIT
    GLenum blendSrc = GL_ONE, blendDst = GL_ZERO;
    float  clearColor[4] = { 0, 0, 0, 0 };
    // GL_DEPTH_BUFFER_BIT
    GLenum    depthFunc = GL_LESS;
    GLboolean depthMask = GL_TRUE;
    // GL_STENCIL_BUFFER_BIT
    GLint clearStencil = 0;
    // GL_POLYGON_BIT
    GLenum cullFace = GL_BACK;
    GLenum polygonMode[2] = { GL_FILL, GL_FILL };   // front, back
    // GL_LINE_BIT, GL_POINT_BIT
    float lineWidth = 1.0f;
    float pointSize = 1.0f;
    // GL_SCISSOR_BIT, GL_VIEWPORT_BIT
    GLint scissor[4] = { 0, 0, 0, 0 };
    GLint viewport[4] = { 0, 0, 0, 0 };
    // GL_TRANSFORM_BIT
    GLenum matrixMode = GL_MODELVIEW;
    // GL_PIXEL_MODE_BIT
    GLenum readBuffer = GL_BACK;
    // hints (GL_HINT_BIT)
    GLenum lineSmoothHint = GL_DONT_CARE;
};

struct ClientArray {
    bool           enabled = false;
    GLint          size = 4;
    GLenum         type = GL_FLOAT;
    GLsizei        stride = 0;
    const uint8_t* pointer = nullptr;
};

enum ArrayKind { ARRAY_VERTEX, ARRAY_NORMAL, ARRAY_COLOR, ARRAY_TEXCOORD, ARRAY_KINDS };

struct PixelStore {
    GLint packAlignment = 4, packRowLength = 0, packSkipRows = 0, packSkipPixels = 0;
    GLint unpackAlignment = 4, unpackRowLength = 0, unpackSkipRows = 0, unpackSkipPixels = 0;
    GLint packSwapBytes = 0, unpackSwapBytes = 0;
};

struct ClientState {
    ClientArray arrays[ARRAY_KINDS];
    PixelStore  pixels;
};

struct TextureInfo {
    GLint  width = 0, height = 0;        // level 0
    GLint  internalFormat = 0;
    GLenum minFilter = GL_NEAREST_MIPMAP_LINEAR, magFilter = GL_LINEAR;
    GLenum wrapS = GL_REPEAT, wrapT = GL_REPEAT;
    bool   mipmaps = false;              // every level below 0 was made
};

// One vertex as the shader reads it.
struct Vertex {
    float position[4];
    float normal[3];
    float color[4];
    float texCoord[4];
};
static_assert(sizeof(Vertex) == 15 * sizeof(float), "tightly packed");

// A corner of a smooth line's rectangle: the end's vertex, the segment's other
// end, and which side of the line and which end the corner is on (+1 / -1).
struct LineCorner {
    Vertex v;
    float  other[4];
    float  side[2];
};

// --- The programs' uniforms: one table --------------------------------------------------
// Every uniform of every program, declared in both shader stages from this
// table; a program that does not use one has no location for it. A value is
// uploaded only when it differs from the one the program holds.
enum Uniform : int {
    U_MVP, U_MODEL_VIEW, U_NORMAL_MATRIX, U_TEXTURE_MATRIX, U_LIGHTING, U_NORMALIZE, U_COLOR_MATERIAL,
    U_MATERIAL_AMBIENT, U_MATERIAL_DIFFUSE, U_MATERIAL_SPECULAR, U_MATERIAL_EMISSION, U_SHININESS, U_MODEL_AMBIENT,
    U_LIGHT_ENABLED, U_LIGHT_AMBIENT, U_LIGHT_DIFFUSE, U_LIGHT_SPECULAR, U_LIGHT_POSITION, U_LIGHT_ATTENUATION,
    U_TEX_GEN, U_POINT_SIZE, U_SMOOTH_LINE, U_LINE_EXPAND, U_LINE_HALF_WIDTH, U_TEXTURING, U_ENV_MODE, U_SAMPLER,
    U_GLOW_MAPS, U_GLOW_COLOUR, U_GLOW_ALPHA, UNIFORM_COUNT
};

enum class UniformKind { FLOAT, VEC3, VEC4, MAT3, MAT4, INT, IVEC2 };

struct UniformInfo {
    const char* name;
    const char* glsl;   // its declaration's type and, for an array, its size
    UniformKind kind;
    int         count;  // array elements (1 for a plain uniform)
};

constexpr int GLOW_LAYERS_MAX = VGL_GLOW_LAYERS_MAX;

constexpr UniformInfo UNIFORMS[UNIFORM_COUNT] = {
    { "uMvp", "mat4", UniformKind::MAT4, 1 },
    { "uModelView", "mat4", UniformKind::MAT4, 1 },
    { "uNormalMatrix", "mat3", UniformKind::MAT3, 1 },
    { "uTextureMatrix", "mat4", UniformKind::MAT4, 1 },
    { "uLighting", "bool", UniformKind::INT, 1 },
    { "uNormalize", "bool", UniformKind::INT, 1 },
    { "uColorMaterial", "bool", UniformKind::INT, 1 },   // ambient and diffuse follow the vertex colour
    { "uMaterialAmbient", "vec4", UniformKind::VEC4, 1 },
    { "uMaterialDiffuse", "vec4", UniformKind::VEC4, 1 },
    { "uMaterialSpecular", "vec4", UniformKind::VEC4, 1 },
    { "uMaterialEmission", "vec4", UniformKind::VEC4, 1 },
    { "uShininess", "float", UniformKind::FLOAT, 1 },
    { "uModelAmbient", "vec4", UniformKind::VEC4, 1 },
    { "uLightEnabled", "bool[2]", UniformKind::INT, LIGHTS },
    { "uLightAmbient", "vec4[2]", UniformKind::VEC4, LIGHTS },
    { "uLightDiffuse", "vec4[2]", UniformKind::VEC4, LIGHTS },
    { "uLightSpecular", "vec4[2]", UniformKind::VEC4, LIGHTS },
    { "uLightPosition", "vec4[2]", UniformKind::VEC4, LIGHTS },      // eye coordinates
    { "uLightAttenuation", "vec3[2]", UniformKind::VEC3, LIGHTS },   // constant, linear, quadratic
    { "uTexGen", "bvec2", UniformKind::IVEC2, 1 },                    // sphere map for s, t
    { "uPointSize", "float", UniformKind::FLOAT, 1 },
    { "uSmoothLine", "bool", UniformKind::INT, 1 },
    { "uLineExpand", "vec3", UniformKind::VEC3, 1 },   // half the viewport in pixels; how far the rectangle reaches out
    { "uLineHalfWidth", "float", UniformKind::FLOAT, 1 },
    { "uTexturing", "bool", UniformKind::INT, 1 },
    { "uEnvMode", "int", UniformKind::INT, 1 },        // 0 modulate, 1 replace, 2 decal, 3 add
    { "uSampler", "sampler2D", UniformKind::INT, 1 },
    { "uGlowMaps", "vec4[16]", UniformKind::VEC4, GLOW_LAYERS_MAX },   // each layer's s0, t0, s1, t1
    { "uGlowColour", "float", UniformKind::FLOAT, 1 },   // the layers' grey colour times 255
    { "uGlowAlpha", "float", UniformKind::FLOAT, 1 },  // the layers' alphas, squared and summed
};
static_assert(GLOW_LAYERS_MAX == 16, "uGlowMaps is declared with 16 elements");

constexpr int uniformWords(const UniformInfo& u)
{
    const int per = u.kind == UniformKind::MAT4 ? 16 : u.kind == UniformKind::MAT3 ? 9
                  : u.kind == UniformKind::VEC4 ? 4  : u.kind == UniformKind::VEC3 ? 3
                  : u.kind == UniformKind::IVEC2 ? 2 : 1;
    return per * u.count;
}

constexpr int MAX_UNIFORM_WORDS = 4 * GLOW_LAYERS_MAX;

// A linked program, the locations of the table's uniforms in it (-1: not
// used) and the values it holds.
struct Program {
    GLuint   id = 0;
    GLint    location[UNIFORM_COUNT] = {};
    uint32_t value[UNIFORM_COUNT][MAX_UNIFORM_WORDS] = {};
    bool     known[UNIFORM_COUNT] = {};
    long     uploads = 0;   // uniform uploads made (the statistics)
};

struct Layer {
    bool started = false;
    GLenum error = GL_NO_ERROR;

    ServerState s;
    ClientState c;
    std::vector<std::pair<GLbitfield, ServerState>> attribStack;
    std::vector<std::pair<GLbitfield, ClientState>> clientStack;

    std::vector<Mat4> modelview { Mat4() }, projection { Mat4() }, texture { Mat4() };

    // Immediate mode.
    bool                inBegin = false;
    GLenum              beginMode = GL_POINTS;
    std::vector<Vertex> immediate;

    // Display lists.
    std::map<GLuint, std::vector<std::function<void()>>> lists;
    GLuint nextList = 1;
    GLuint listBase = 0;
    bool   compiling = false;
    bool   executeWhileCompiling = false;
    GLuint compilingList = 0;
    std::vector<std::function<void()>> compiled;

    std::map<GLuint, TextureInfo> textures;

    // ES objects.
    Program fixedFunction;   // the fixed-function pipeline: every draw but the glow's
    // The glow's layers summed in one draw, by their count, sampled with or
    // without the level's choice; each made when first drawn.
    Program glow[2][VGL_GLOW_LAYERS_MAX + 1];
    GLuint programInUse = 0;
    long   draws = 0;            // ES draws made (the statistics)
    GLuint vao = 0, lineVao = 0, vertexBuffer = 0, indexBuffer = 0, readFramebuffer = 0;
    std::vector<Vertex>   scratch;
    std::vector<LineCorner> lineCorners;
    std::vector<uint32_t>   lineTriangles;
    std::vector<uint32_t> scratchIndices;
    std::vector<uint32_t> elementIndices;
    GLfloat lineWidthRange[2] = { 1, 1 };
};

// Made once and never destroyed: textures and lists may be released by other
// objects' destructors at exit, after this file's statics would be gone.
Layer& gl = *new Layer;

void setError(GLenum e)
{
    if (gl.error == GL_NO_ERROR)
        gl.error = e;
}

Mat4& currentMatrix()
{
    switch (gl.s.matrixMode) {
    case GL_PROJECTION: return gl.projection.back();
    case GL_TEXTURE:    return gl.texture.back();
    default:            return gl.modelview.back();
    }
}

std::vector<Mat4>& currentStack()
{
    switch (gl.s.matrixMode) {
    case GL_PROJECTION: return gl.projection;
    case GL_TEXTURE:    return gl.texture;
    default:            return gl.modelview;
    }
}

bool isEnabled(GLenum cap)
{
    const int i = capIndex(cap);
    return i >= 0 && gl.s.enabled[i];
}


// While a list is compiled, a command goes into it (and runs too with
// GL_COMPILE_AND_EXECUTE); true when it must not run now. Outside a list
// nothing is allocated: the command is only kept when it is recorded.
template <typename Command>
bool record(Command&& command)
{
    if (!gl.compiling)
        return false;
    gl.compiled.emplace_back(std::forward<Command>(command));
    return !gl.executeWhileCompiling;
}

void copy4(float* to, const float* from)
{
    std::memcpy(to, from, 4 * sizeof(float));
}

// With GL_COLOR_MATERIAL on, the current colour is the material's ambient and
// diffuse colour (the default glColorMaterial mode, the only one drawn with):
// set when it is enabled and whenever the colour changes, and kept once it is
// disabled again, so a glColor before glDisable leaves that material behind.
void trackColorMaterial()
{
    if (!isEnabled(GL_COLOR_MATERIAL))
        return;
    copy4(gl.s.material.ambient, gl.s.color);
    copy4(gl.s.material.diffuse, gl.s.color);
}

// --- Shader ------------------------------------------------------------------------------

// The fixed-function pipeline, per vertex.
const char* const VERTEX_SHADER = R"glsl(
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;
layout(location = 3) in vec4 aTexCoord;
layout(location = 4) in vec4 aOther;    // smooth lines: the segment's other end
layout(location = 5) in vec2 aSide;     // smooth lines: side of the line, which end

out vec4 vColor;
out vec4 vTexCoord;
out vec2 vLine;                     // smooth lines: (pixels from the centre line, 1) times w

void main()
{
    gl_Position = uMvp * aPosition;
    vLine = vec2(0.0, 1.0);
    if (uSmoothLine) {
        // The segment's rectangle: each corner moved across the line in
        // window pixels, the distance kept for the coverage (times w, so that
        // it interpolates linearly on the screen).
        vec4 other = uMvp * aOther;
        vec2 d = (other.xy / other.w - gl_Position.xy / gl_Position.w) * uLineExpand.xy;
        float length = length(d);
        vec2 across = length > 0.0 ? vec2(-d.y, d.x) / length : vec2(0.0, 1.0);
        gl_Position.xy += across * (aSide.x * aSide.y * uLineExpand.z) / uLineExpand.xy * gl_Position.w;
        vLine = vec2(aSide.x * uLineExpand.z, 1.0) * gl_Position.w;
    }
    gl_PointSize = uPointSize;
    vec4 eye = uModelView * aPosition;
    vec3 n = uNormalMatrix * aNormal;
    if (uNormalize)
        n = normalize(n);

    if (uLighting) {
        vec4 ambient = uColorMaterial ? aColor : uMaterialAmbient;
        vec4 diffuse = uColorMaterial ? aColor : uMaterialDiffuse;
        vec3 c = uMaterialEmission.rgb + ambient.rgb * uModelAmbient.rgb;
        for (int i = 0; i < 2; ++i) {
            if (!uLightEnabled[i])
                continue;
            vec3 l;
            float attenuation = 1.0;
            if (uLightPosition[i].w != 0.0) {
                vec3 toLight = uLightPosition[i].xyz / uLightPosition[i].w - eye.xyz / eye.w;
                float d = length(toLight);
                l = toLight / d;
                attenuation = 1.0 / (uLightAttenuation[i].x + uLightAttenuation[i].y * d +
                                     uLightAttenuation[i].z * d * d);
            } else {
                l = normalize(uLightPosition[i].xyz);
            }
            float nDotL = max(dot(n, l), 0.0);
            vec3 term = ambient.rgb * uLightAmbient[i].rgb + nDotL * diffuse.rgb * uLightDiffuse[i].rgb;
            if (nDotL > 0.0) {
                vec3 h = normalize(l + vec3(0.0, 0.0, 1.0));   // infinite viewer
                float nDotH = max(dot(n, h), 0.0);
                term += pow(nDotH, uShininess) * uMaterialSpecular.rgb * uLightSpecular[i].rgb;
            }
            c += attenuation * term;
        }
        vColor = clamp(vec4(c, diffuse.a), 0.0, 1.0);
    } else {
        vColor = clamp(aColor, 0.0, 1.0);
    }

    vec4 t = aTexCoord;
    if (uTexGen.x || uTexGen.y) {
        vec3 u = normalize(eye.xyz);
        vec3 r = reflect(u, n);
        float m = 2.0 * sqrt(r.x * r.x + r.y * r.y + (r.z + 1.0) * (r.z + 1.0));
        if (uTexGen.x)
            t.s = r.x / m + 0.5;
        if (uTexGen.y)
            t.t = r.y / m + 0.5;
    }
    vTexCoord = uTextureMatrix * t;
}
)glsl";

// The texture environment and smooth lines' coverage, per fragment.
const char* const FRAGMENT_SHADER = R"glsl(
in vec4 vColor;
in vec4 vTexCoord;
in vec2 vLine;
out vec4 fragColor;

void main()
{
    vec4 c = vColor;
    if (uTexturing) {
        vec4 t = texture(uSampler, vTexCoord.st / vTexCoord.q);
        if (uEnvMode == 1)
            c = t;
        else if (uEnvMode == 2)
            c = vec4(mix(c.rgb, t.rgb, t.a), c.a);
        else if (uEnvMode == 3)
            c = vec4(min(c.rgb + t.rgb, 1.0), c.a * t.a);
        else
            c = c * t;
    }
    if (uSmoothLine) {
        // The share of the pixel's width across the line that the line covers.
        float d = vLine.x / vLine.y;
        c.a *= clamp(min(d + 0.5, uLineHalfWidth) - max(d - 0.5, -uLineHalfWidth), 0.0, 1.0);
    }
    fragColor = c;
}
)glsl";

// The glow: a rectangle whose texture coordinate runs 0..1 across it; each
// layer's texture coordinates (affine across it, so exact when interpolated)
// made per corner, two layers to a varying. Built for a count of layers
// (GLOW_LAYERS, defined before it), so that both stages run straight code.
const char* const GLOW_VERTEX_SHADER = R"glsl(
#define GLOW_PAIRS ((GLOW_LAYERS + 1) / 2)
layout(location = 0) in vec4 aPosition;
layout(location = 3) in vec4 aTexCoord;
out vec4 vGlow[GLOW_PAIRS];

void main()
{
    gl_Position = uMvp * aPosition;
    vec2 p = aTexCoord.xy;
    for (int i = 0; i < GLOW_PAIRS; ++i) {
        vec4 a = uGlowMaps[2 * i];
        vec4 b = uGlowMaps[min(2 * i + 1, GLOW_LAYERS - 1)];
        vGlow[i] = vec4(mix(a.xy, a.zw, p), mix(b.xy, b.zw, p));
    }
}
)glsl";

// Each layer's sample of the texture (GLOW_SAMPLE: at level 0 when the
// texture filters alike at every level, which spares the level's choice),
// modulated by the colour and squared
// (what a layer blended with GL_SRC_COLOR, GL_ONE adds), summed over the
// layers. Each term is rounded as an 8-bit frame rounds it, the colour to 8
// bits and then its square, so the sum is what the layers blended one by one
// leave in such a frame.
const char* const GLOW_FRAGMENT_SHADER = R"glsl(
#define GLOW_PAIRS ((GLOW_LAYERS + 1) / 2)
in vec4 vGlow[GLOW_PAIRS];
out vec4 fragColor;

vec3 term(vec2 at)
{
    vec3 t = uTexturing ? GLOW_SAMPLE(uSampler, at).rgb : vec3(1.0);
    vec3 c = floor(t * uGlowColour + 0.5);   // uGlowColour: the colour (0..1) times 255
    return floor(c * c * (1.0 / 255.0) + 0.5);
}

void main()
{
    vec3 sum = vec3(0.0);
    for (int i = 0; i < GLOW_LAYERS / 2; ++i)
        sum += term(vGlow[i].xy) + term(vGlow[i].zw);
    if (GLOW_LAYERS % 2 == 1)
        sum += term(vGlow[GLOW_PAIRS - 1].xy);
    fragColor = vec4(sum / 255.0, uGlowAlpha);
}
)glsl";

// The head every shader starts with: the version, one precision for both
// stages (a uniform both declare must agree) and the table's uniforms.
std::string shaderHead(const std::string& defines)
{
    std::string head = "#version 300 es\nprecision highp float;\nprecision highp int;\n" + defines;
    for (const UniformInfo& u : UNIFORMS) {
        std::string type = u.glsl;
        const size_t bracket = type.find('[');
        const std::string array = bracket == std::string::npos ? "" : type.substr(bracket);
        type = type.substr(0, bracket);
        head += "uniform " + type + " " + u.name + array + ";\n";
    }
    return head;
}

GLuint compileShader(GLenum kind, const char* body, const std::string& defines, const char** why)
{
    const std::string source = shaderHead(defines) + body;
    const char* text = source.c_str();
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        static char log[1024];
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        if (why)
            *why = log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Links the two stages into `program` and finds the table's uniforms in it.
bool buildProgram(Program& program, const char* vertex, const char* fragment, const char** why,
                  const std::string& defines = "")
{
    const GLuint vs = compileShader(GL_VERTEX_SHADER, vertex, defines, why);
    const GLuint fs = vs ? compileShader(GL_FRAGMENT_SHADER, fragment, defines, why) : 0;
    if (!vs || !fs) {
        if (vs)
            glDeleteShader(vs);
        return false;
    }
    program = Program();
    program.id = glCreateProgram();
    glAttachShader(program.id, vs);
    glAttachShader(program.id, fs);
    glLinkProgram(program.id);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program.id, GL_LINK_STATUS, &ok);
    if (!ok) {
        static char log[1024];
        glGetProgramInfoLog(program.id, sizeof log, nullptr, log);
        if (why)
            *why = log;
        glDeleteProgram(program.id);
        program.id = 0;
        return false;
    }
    for (int i = 0; i < UNIFORM_COUNT; ++i)
        program.location[i] = glGetUniformLocation(program.id, UNIFORMS[i].name);
    return true;
}

// Uploads `data` (uniformWords of the uniform: floats, or GLints for the
// integer kinds) to the program in use, unless it holds that value already.
void setUniform(Program& program, Uniform which, const void* data)
{
    const GLint at = program.location[which];
    if (at < 0)
        return;
    const UniformInfo& u = UNIFORMS[which];
    const size_t bytes = size_t(uniformWords(u)) * 4;
    if (program.known[which] && std::memcmp(program.value[which], data, bytes) == 0)
        return;
    std::memcpy(program.value[which], data, bytes);
    program.known[which] = true;
    ++program.uploads;
    const float* f = static_cast<const float*>(data);
    const GLint* i = static_cast<const GLint*>(data);
    switch (u.kind) {
    case UniformKind::FLOAT: glUniform1fv(at, u.count, f); break;
    case UniformKind::VEC3:  glUniform3fv(at, u.count, f); break;
    case UniformKind::VEC4:  glUniform4fv(at, u.count, f); break;
    case UniformKind::MAT3:  glUniformMatrix3fv(at, u.count, GL_FALSE, f); break;
    case UniformKind::MAT4:  glUniformMatrix4fv(at, u.count, GL_FALSE, f); break;
    case UniformKind::INT:   glUniform1iv(at, u.count, i); break;
    case UniformKind::IVEC2: glUniform2iv(at, u.count, i); break;
    }
}

void setUniform(Program& program, Uniform which, GLint value)
{
    setUniform(program, which, static_cast<const void*>(&value));
}

void setUniform(Program& program, Uniform which, float value)
{
    setUniform(program, which, static_cast<const void*>(&value));
}

// --- Drawing -----------------------------------------------------------------------------

// A texture OpenGL 1.1 would sample: an image at level 0 and, for a mipmap
// filter, the levels below. Otherwise texturing is as if disabled.
bool textureComplete(GLuint name)
{
    const auto it = gl.textures.find(name);
    if (it == gl.textures.end() || it->second.width <= 0 || it->second.height <= 0)
        return false;
    const GLenum f = it->second.minFilter;
    return f == GL_NEAREST || f == GL_LINEAR || it->second.mipmaps;
}

int envModeIndex(GLenum mode)
{
    switch (mode) {
    case GL_REPLACE: return 1;
    case GL_DECAL:   return 2;
    case GL_ADD:     return 3;
    default:         return 0;
    }
}

// The fixed-function state the program reads, for the next draw.
void setUniforms(Program& p)
{
    const ServerState& s = gl.s;
    const Mat4& mv = gl.modelview.back();
    const Mat4 mvp = multiply(gl.projection.back(), mv);
    setUniform(p, U_MVP, mvp.m);
    setUniform(p, U_MODEL_VIEW, mv.m);
    setUniform(p, U_NORMAL_MATRIX, normalMatrix(mv).data());
    setUniform(p, U_TEXTURE_MATRIX, gl.texture.back().m);

    const bool lighting = isEnabled(GL_LIGHTING);
    setUniform(p, U_LIGHTING, GLint(lighting));
    if (lighting) {
        setUniform(p, U_NORMALIZE, GLint(isEnabled(GL_NORMALIZE)));
        setUniform(p, U_COLOR_MATERIAL, GLint(isEnabled(GL_COLOR_MATERIAL)));
        setUniform(p, U_MATERIAL_AMBIENT, s.material.ambient);
        setUniform(p, U_MATERIAL_DIFFUSE, s.material.diffuse);
        setUniform(p, U_MATERIAL_SPECULAR, s.material.specular);
        setUniform(p, U_MATERIAL_EMISSION, s.material.emission);
        setUniform(p, U_SHININESS, s.material.shininess);
        setUniform(p, U_MODEL_AMBIENT, s.lightModelAmbient);
        GLint enabled[LIGHTS];
        float ambient[4 * LIGHTS], diffuse[4 * LIGHTS], specular[4 * LIGHTS], position[4 * LIGHTS],
            attenuation[3 * LIGHTS];
        for (int i = 0; i < LIGHTS; ++i) {
            const Light& l = s.lights[i];
            enabled[i] = isEnabled(GLenum(GL_LIGHT0 + i));
            copy4(ambient + 4 * i, l.ambient);
            copy4(diffuse + 4 * i, l.diffuse);
            copy4(specular + 4 * i, l.specular);
            copy4(position + 4 * i, l.position);
            std::memcpy(attenuation + 3 * i, l.attenuation, sizeof l.attenuation);
        }
        setUniform(p, U_LIGHT_ENABLED, enabled);
        setUniform(p, U_LIGHT_AMBIENT, ambient);
        setUniform(p, U_LIGHT_DIFFUSE, diffuse);
        setUniform(p, U_LIGHT_SPECULAR, specular);
        setUniform(p, U_LIGHT_POSITION, position);
        setUniform(p, U_LIGHT_ATTENUATION, attenuation);
    }
    const bool texturing = isEnabled(GL_TEXTURE_2D) && textureComplete(s.boundTexture);
    setUniform(p, U_TEXTURING, GLint(texturing));
    setUniform(p, U_ENV_MODE, GLint(envModeIndex(s.envMode)));
    const GLint texGen[2] = { isEnabled(GL_TEXTURE_GEN_S) && s.texGenMode[0] == GL_SPHERE_MAP,
                              isEnabled(GL_TEXTURE_GEN_T) && s.texGenMode[1] == GL_SPHERE_MAP };
    setUniform(p, U_TEX_GEN, texGen);
    setUniform(p, U_POINT_SIZE, s.pointSize);
}

bool isPolygon(GLenum mode)
{
    return mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN || mode == GL_QUADS ||
           mode == GL_QUAD_STRIP || mode == GL_POLYGON;
}

// The triangles of a polygon primitive over `count` vertices (through `at`,
// which maps a position in the primitive to a vertex index), appended as
// index triples. Quads split as (0, 1, 3) and (1, 2, 3), keeping the last
// vertex in both.
template <typename At>
void triangulate(GLenum mode, size_t count, At at, std::vector<uint32_t>& out)
{
    auto tri = [&](size_t a, size_t b, size_t c) {
        out.push_back(at(a));
        out.push_back(at(b));
        out.push_back(at(c));
    };
    switch (mode) {
    case GL_TRIANGLES:
        for (size_t i = 0; i + 2 < count; i += 3)
            tri(i, i + 1, i + 2);
        break;
    case GL_TRIANGLE_STRIP:
    case GL_QUAD_STRIP:
        for (size_t i = 0; i + 2 < count; ++i) {
            if (i % 2)
                tri(i + 1, i, i + 2);   // every other triangle turned, so all keep one winding
            else
                tri(i, i + 1, i + 2);
        }
        break;
    case GL_TRIANGLE_FAN:
    case GL_POLYGON:
        for (size_t i = 1; i + 1 < count; ++i)
            tri(0, i, i + 1);
        break;
    case GL_QUADS:
        for (size_t i = 0; i + 3 < count; i += 4) {
            tri(i, i + 1, i + 3);
            tri(i + 1, i + 2, i + 3);
        }
        break;
    default:
        break;
    }
}

// The outline of each polygon, as line index pairs: the triangles' edges,
// or a quad's four sides.
template <typename At>
void outline(GLenum mode, size_t count, At at, std::vector<uint32_t>& out)
{
    auto edge = [&](size_t a, size_t b) {
        out.push_back(at(a));
        out.push_back(at(b));
    };
    if (mode == GL_QUADS) {
        for (size_t i = 0; i + 3 < count; i += 4)
            for (size_t k = 0; k < 4; ++k)
                edge(i + k, i + (k + 1) % 4);
        return;
    }
    if (mode == GL_POLYGON) {
        for (size_t k = 0; k < count; ++k)
            edge(k, (k + 1) % count);
        return;
    }
    std::vector<uint32_t> triangles;
    triangulate(mode, count, [](size_t i) { return uint32_t(i); }, triangles);
    for (size_t t = 0; t + 2 < triangles.size(); t += 3)
        for (size_t k = 0; k < 3; ++k)
            edge(triangles[t + k], triangles[t + (k + 1) % 3]);
}

// Smooth lines as OpenGL 1.1 draws them antialiased: each segment a
// rectangle reaching half a pixel past the line's width on both sides, its
// alpha scaled by the share of each pixel's width the line covers. Rectangles
// are never culled, as lines are not.
void drawSmoothLines(GLenum mode, const std::vector<Vertex>& vertices, const std::vector<uint32_t>& list)
{
    std::vector<LineCorner>& corners = gl.lineCorners;
    std::vector<uint32_t>& triangles = gl.lineTriangles;
    corners.clear();
    triangles.clear();
    auto segment = [&](uint32_t a, uint32_t b) {
        const uint32_t first = uint32_t(corners.size());
        for (uint32_t end : { a, b }) {
            const float endSign = end == a ? 1.0f : -1.0f;
            for (float side : { -1.0f, 1.0f }) {
                LineCorner c;
                c.v = vertices[end];
                copy4(c.other, vertices[end == a ? b : a].position);
                c.side[0] = side;
                c.side[1] = endSign;
                corners.push_back(c);
            }
        }
        for (uint32_t k : { 0u, 1u, 3u, 0u, 3u, 2u })
            triangles.push_back(first + k);
    };
    const size_t step = mode == GL_LINES ? 2 : 1;
    for (size_t i = 0; i + 1 < list.size(); i += step)
        segment(list[i], list[i + 1]);
    if (mode == GL_LINE_LOOP && list.size() > 2)
        segment(list.back(), list.front());
    if (triangles.empty())
        return;

    const float half = 0.5f * std::max(gl.s.lineWidth, 0.0f);
    const float expand[3] = { 0.5f * float(gl.s.viewport[2]), 0.5f * float(gl.s.viewport[3]), half + 0.5f };
    setUniform(gl.fixedFunction, U_LINE_EXPAND, expand);
    setUniform(gl.fixedFunction, U_LINE_HALF_WIDTH, half);
    const bool culled = isEnabled(GL_CULL_FACE);
    if (culled)
        glDisable(GL_CULL_FACE);
    glBindVertexArray(gl.lineVao);
    glBindBuffer(GL_ARRAY_BUFFER, gl.vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(corners.size() * sizeof(LineCorner)), corners.data(), GL_STREAM_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gl.indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(triangles.size() * sizeof(uint32_t)), triangles.data(),
                 GL_STREAM_DRAW);
    glDrawElements(GL_TRIANGLES, GLsizei(triangles.size()), GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    if (culled)
        glEnable(GL_CULL_FACE);
}

void useProgram(const Program& program)
{
    if (gl.programInUse != program.id) {
        glUseProgram(program.id);
        gl.programInUse = program.id;
    }
}

// One draw of `list` (positions in `vertices`) in ES's `mode` by the program in use.
void drawVertices(GLenum mode, const std::vector<Vertex>& vertices, const std::vector<uint32_t>& list)
{
    glBindVertexArray(gl.vao);
    glBindBuffer(GL_ARRAY_BUFFER, gl.vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(Vertex)), vertices.data(), GL_STREAM_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gl.indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(list.size() * sizeof(uint32_t)), list.data(), GL_STREAM_DRAW);
    glDrawElements(mode, GLsizei(list.size()), GL_UNSIGNED_INT, nullptr);
    glBindVertexArray(0);
    ++gl.draws;
}

// Draws vertices in `mode`; with `indices`, those positions of the vertices.
void submit(GLenum mode, const std::vector<Vertex>& vertices, const std::vector<uint32_t>* indices)
{
    const size_t count = indices ? indices->size() : vertices.size();
    if (count == 0 || vertices.empty())
        return;
    auto at = [&](size_t i) { return indices ? (*indices)[i] : uint32_t(i); };

    GLenum esMode = mode;
    std::vector<uint32_t>& list = gl.scratchIndices;
    list.clear();
    const bool lines = isPolygon(mode) && gl.s.polygonMode[0] == GL_LINE;
    if (lines) {
        outline(mode, count, at, list);
        esMode = GL_LINES;
    } else if (mode == GL_QUADS || mode == GL_QUAD_STRIP || mode == GL_POLYGON) {
        triangulate(mode, count, at, list);
        esMode = GL_TRIANGLES;
    } else if (mode == GL_POINTS || mode == GL_LINES || mode == GL_LINE_STRIP || mode == GL_LINE_LOOP ||
               mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN) {
        for (size_t i = 0; i < count; ++i)
            list.push_back(at(i));
    } else {
        setError(GL_INVALID_ENUM);
        return;
    }
    if (list.empty())
        return;

    Program& program = gl.fixedFunction;
    useProgram(program);
    setUniforms(program);
    const bool smooth =
        isEnabled(GL_LINE_SMOOTH) && (esMode == GL_LINES || esMode == GL_LINE_STRIP || esMode == GL_LINE_LOOP);
    setUniform(program, U_SMOOTH_LINE, GLint(smooth));
    if (smooth) {
        drawSmoothLines(esMode, vertices, list);
        return;
    }
    drawVertices(esMode, vertices, list);
}

// --- Immediate mode and arrays -------------------------------------------------------

void addVertex(float x, float y, float z, float w)
{
    if (!gl.inBegin)
        return;   // outside glBegin/glEnd a vertex has no effect
    Vertex v;
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    v.position[3] = w;
    std::memcpy(v.normal, gl.s.normal, sizeof v.normal);
    copy4(v.color, gl.s.color);
    copy4(v.texCoord, gl.s.texCoord);
    gl.immediate.push_back(v);
}

// Components 0..n-1 of elements 0..count-1 of client array `a`, as floats,
// into the field at `offset` (n floats) of each vertex; `normalise` maps
// unsigned bytes to 0..1 (colours). The type is chosen once per array.
template <typename T>
void readArray(const ClientArray& a, size_t count, int n, bool normalise, size_t offset, std::vector<Vertex>& out)
{
    const size_t stride = a.stride > 0 ? size_t(a.stride) : sizeof(T) * size_t(a.size);
    const float scale = normalise && std::is_same<T, uint8_t>::value ? 1.0f / 255.0f : 1.0f;
    const uint8_t* p = a.pointer;
    for (size_t i = 0; i < count; ++i, p += stride) {
        float* field = reinterpret_cast<float*>(reinterpret_cast<uint8_t*>(&out[i]) + offset);
        for (int k = 0; k < n; ++k) {
            T v;
            std::memcpy(&v, p + sizeof(T) * size_t(k), sizeof(T));
            field[k] = float(v) * scale;
        }
    }
}

void readArray(const ClientArray& a, size_t count, int n, bool normalise, size_t offset, std::vector<Vertex>& out)
{
    switch (a.type) {
    case GL_UNSIGNED_BYTE:  readArray<uint8_t>(a, count, n, normalise, offset, out); break;
    case GL_BYTE:           readArray<int8_t>(a, count, n, normalise, offset, out); break;
    case GL_SHORT:          readArray<int16_t>(a, count, n, normalise, offset, out); break;
    case GL_UNSIGNED_SHORT: readArray<uint16_t>(a, count, n, normalise, offset, out); break;
    case GL_INT:            readArray<int32_t>(a, count, n, normalise, offset, out); break;
    case GL_DOUBLE:         readArray<double>(a, count, n, normalise, offset, out); break;
    default:                readArray<float>(a, count, n, normalise, offset, out); break;
    }
}

// The vertices 0..count-1 of the enabled client arrays; the arrays that are
// not enabled give the current values, components an array lacks their
// defaults (0, 0, 0, 1; a colour's 1).
void gatherArrays(size_t count, std::vector<Vertex>& out)
{
    out.resize(count);
    const ClientArray* a = gl.c.arrays;
    Vertex fill;
    const float defaults[4] = { 0, 0, 0, 1 };
    copy4(fill.position, defaults);
    std::memcpy(fill.normal, gl.s.normal, sizeof fill.normal);
    copy4(fill.color, gl.s.color);
    copy4(fill.texCoord, gl.s.texCoord);
    if (a[ARRAY_COLOR].enabled)
        std::fill(std::begin(fill.color), std::end(fill.color), 1.0f);
    if (a[ARRAY_TEXCOORD].enabled)
        copy4(fill.texCoord, defaults);
    std::fill(out.begin(), out.end(), fill);
    auto read = [&](ArrayKind kind, int most, bool normalise, size_t offset) {
        const ClientArray& c = a[kind];
        readArray(c, count, std::clamp(int(c.size), 0, most), normalise, offset, out);
    };
    read(ARRAY_VERTEX, 4, false, offsetof(Vertex, position));
    if (a[ARRAY_NORMAL].enabled)
        readArray(a[ARRAY_NORMAL], count, 3, false, offsetof(Vertex, normal), out);
    if (a[ARRAY_COLOR].enabled)
        read(ARRAY_COLOR, 4, true, offsetof(Vertex, color));
    if (a[ARRAY_TEXCOORD].enabled)
        read(ARRAY_TEXCOORD, 4, false, offsetof(Vertex, texCoord));
}

ClientArray* arrayFor(GLenum array)
{
    switch (array) {
    case GL_VERTEX_ARRAY:        return &gl.c.arrays[ARRAY_VERTEX];
    case GL_NORMAL_ARRAY:        return &gl.c.arrays[ARRAY_NORMAL];
    case GL_COLOR_ARRAY:         return &gl.c.arrays[ARRAY_COLOR];
    case GL_TEXTURE_COORD_ARRAY: return &gl.c.arrays[ARRAY_TEXCOORD];
    default:                     return nullptr;
    }
}

void setArray(ArrayKind kind, GLint size, GLenum type, GLsizei stride, const GLvoid* pointer)
{
    ClientArray& a = gl.c.arrays[kind];
    a.size = size;
    a.type = type;
    a.stride = stride;
    a.pointer = static_cast<const uint8_t*>(pointer);
}

} // namespace

void vglBegin(GLenum mode)
{
    if (record([=] { vglBegin(mode); }))
        return;
    if (gl.inBegin) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    gl.inBegin = true;
    gl.beginMode = mode;
    gl.immediate.clear();
}

void vglEnd()
{
    if (record([] { vglEnd(); }))
        return;
    if (!gl.inBegin) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    gl.inBegin = false;
    submit(gl.beginMode, gl.immediate, nullptr);
    gl.immediate.clear();
}

void vglVertex2f(GLfloat x, GLfloat y)
{
    if (!record([=] { vglVertex2f(x, y); }))
        addVertex(x, y, 0.0f, 1.0f);
}

void vglVertex2i(GLint x, GLint y)
{
    if (!record([=] { vglVertex2i(x, y); }))
        addVertex(float(x), float(y), 0.0f, 1.0f);
}

void vglVertex3f(GLfloat x, GLfloat y, GLfloat z)
{
    if (!record([=] { vglVertex3f(x, y, z); }))
        addVertex(x, y, z, 1.0f);
}

void vglVertex3fv(const GLfloat* v)
{
    vglVertex3f(v[0], v[1], v[2]);
}

void vglNormal3f(GLfloat x, GLfloat y, GLfloat z)
{
    if (record([=] { vglNormal3f(x, y, z); }))
        return;
    gl.s.normal[0] = x;
    gl.s.normal[1] = y;
    gl.s.normal[2] = z;
}

void vglNormal3fv(const GLfloat* v)
{
    vglNormal3f(v[0], v[1], v[2]);
}

void vglColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a)
{
    if (record([=] { vglColor4f(r, g, b, a); }))
        return;
    const float c[4] = { r, g, b, a };
    copy4(gl.s.color, c);
    trackColorMaterial();
}

void vglColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    vglColor4f(r, g, b, 1.0f);
}

void vglColor3fv(const GLfloat* v)
{
    vglColor4f(v[0], v[1], v[2], 1.0f);
}

void vglTexCoord2f(GLfloat s, GLfloat t)
{
    if (record([=] { vglTexCoord2f(s, t); }))
        return;
    const float c[4] = { s, t, 0.0f, 1.0f };
    copy4(gl.s.texCoord, c);
}

void vglTexCoord2d(GLdouble s, GLdouble t)
{
    vglTexCoord2f(float(s), float(t));
}

void vglEnableClientState(GLenum array)
{
    if (ClientArray* a = arrayFor(array))
        a->enabled = true;
    else
        setError(GL_INVALID_ENUM);
}

void vglDisableClientState(GLenum array)
{
    if (ClientArray* a = arrayFor(array))
        a->enabled = false;
    else
        setError(GL_INVALID_ENUM);
}

void vglVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer)
{
    setArray(ARRAY_VERTEX, size, type, stride, pointer);
}

void vglNormalPointer(GLenum type, GLsizei stride, const GLvoid* pointer)
{
    setArray(ARRAY_NORMAL, 3, type, stride, pointer);
}

void vglColorPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer)
{
    setArray(ARRAY_COLOR, size, type, stride, pointer);
}

void vglTexCoordPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer)
{
    setArray(ARRAY_TEXCOORD, size, type, stride, pointer);
}

void vglDrawArrays(GLenum mode, GLint first, GLsizei count)
{
    if (first < 0 || count < 0) {
        setError(GL_INVALID_VALUE);
        return;
    }
    if (!gl.c.arrays[ARRAY_VERTEX].enabled || count == 0)
        return;
    std::vector<Vertex>& v = gl.scratch;
    gatherArrays(size_t(first) + size_t(count), v);
    v.erase(v.begin(), v.begin() + first);
    submit(mode, v, nullptr);
}

void vglDrawElements(GLenum mode, GLsizei count, GLenum type, const GLvoid* indices)
{
    if (count < 0) {
        setError(GL_INVALID_VALUE);
        return;
    }
    if (!gl.c.arrays[ARRAY_VERTEX].enabled || count == 0)
        return;
    if (type != GL_UNSIGNED_BYTE && type != GL_UNSIGNED_SHORT && type != GL_UNSIGNED_INT) {
        setError(GL_INVALID_ENUM);
        return;
    }
    std::vector<uint32_t>& list = gl.elementIndices;   // kept: no allocation per draw once grown
    list.resize(static_cast<size_t>(count));
    auto widen = [&](auto* from) {
        for (GLsizei i = 0; i < count; ++i)
            list[size_t(i)] = from[i];
    };
    if (type == GL_UNSIGNED_BYTE)
        widen(static_cast<const uint8_t*>(indices));
    else if (type == GL_UNSIGNED_SHORT)
        widen(static_cast<const uint16_t*>(indices));
    else
        std::memcpy(list.data(), indices, size_t(count) * sizeof(uint32_t));
    const uint32_t highest = *std::max_element(list.begin(), list.end());
    gatherArrays(size_t(highest) + 1, gl.scratch);
    submit(mode, gl.scratch, &list);
}

// --- Matrix stacks -------------------------------------------------------------------

namespace {

void multiplyCurrent(const Mat4& by)
{
    Mat4& m = currentMatrix();
    m = multiply(m, by);
}

} // namespace

void vglMatrixMode(GLenum mode)
{
    if (record([=] { vglMatrixMode(mode); }))
        return;
    if (mode != GL_MODELVIEW && mode != GL_PROJECTION && mode != GL_TEXTURE) {
        setError(GL_INVALID_ENUM);
        return;
    }
    gl.s.matrixMode = mode;
}

void vglLoadIdentity()
{
    if (!record([] { vglLoadIdentity(); }))
        currentMatrix() = Mat4();
}

void vglPushMatrix()
{
    if (record([] { vglPushMatrix(); }))
        return;
    std::vector<Mat4>& stack = currentStack();
    if (stack.size() >= STACK_DEPTH) {
        setError(GL_STACK_OVERFLOW);
        return;
    }
    stack.push_back(stack.back());
}

void vglPopMatrix()
{
    if (record([] { vglPopMatrix(); }))
        return;
    std::vector<Mat4>& stack = currentStack();
    if (stack.size() <= 1) {
        setError(GL_STACK_UNDERFLOW);
        return;
    }
    stack.pop_back();
}

void vglTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    if (record([=] { vglTranslatef(x, y, z); }))
        return;
    Mat4 t;
    t.m[12] = x;
    t.m[13] = y;
    t.m[14] = z;
    multiplyCurrent(t);
}

void vglTranslated(GLdouble x, GLdouble y, GLdouble z)
{
    vglTranslatef(float(x), float(y), float(z));
}

void vglScalef(GLfloat x, GLfloat y, GLfloat z)
{
    if (record([=] { vglScalef(x, y, z); }))
        return;
    Mat4 t;
    t.m[0] = x;
    t.m[5] = y;
    t.m[10] = z;
    multiplyCurrent(t);
}

void vglRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    if (record([=] { vglRotatef(angle, x, y, z); }))
        return;
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f)
        return;
    x /= length;
    y /= length;
    z /= length;
    const float radians = angle * 3.14159265358979323846f / 180.0f;
    const float c = std::cos(radians), s = std::sin(radians), k = 1.0f - c;
    Mat4 r;
    r.m[0] = x * x * k + c;     r.m[4] = x * y * k - z * s; r.m[8] = x * z * k + y * s;
    r.m[1] = y * x * k + z * s; r.m[5] = y * y * k + c;     r.m[9] = y * z * k - x * s;
    r.m[2] = x * z * k - y * s; r.m[6] = y * z * k + x * s; r.m[10] = z * z * k + c;
    multiplyCurrent(r);
}

void vglOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar)
{
    if (record([=] { vglOrtho(left, right, bottom, top, zNear, zFar); }))
        return;
    if (left == right || bottom == top || zNear == zFar) {
        setError(GL_INVALID_VALUE);
        return;
    }
    Mat4 o;
    o.m[0] = float(2.0 / (right - left));
    o.m[5] = float(2.0 / (top - bottom));
    o.m[10] = float(-2.0 / (zFar - zNear));
    o.m[12] = float(-(right + left) / (right - left));
    o.m[13] = float(-(top + bottom) / (top - bottom));
    o.m[14] = float(-(zFar + zNear) / (zFar - zNear));
    multiplyCurrent(o);
}

void vgluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar)
{
    const double radians = fovy / 2.0 * 3.14159265358979323846 / 180.0;
    const double sine = std::sin(radians);
    const double depth = zFar - zNear;
    if (depth == 0.0 || sine == 0.0 || aspect == 0.0)
        return;
    const double cotangent = std::cos(radians) / sine;
    Mat4 p;
    p.m[0] = float(cotangent / aspect);
    p.m[5] = float(cotangent);
    p.m[10] = float(-(zFar + zNear) / depth);
    p.m[11] = -1.0f;
    p.m[14] = float(-2.0 * zNear * zFar / depth);
    p.m[15] = 0.0f;
    if (!record([=] { multiplyCurrent(p); }))
        multiplyCurrent(p);
}

// --- Display lists -----------------------------------------------------------------------

GLuint vglGenLists(GLsizei range)
{
    if (range <= 0)
        return 0;
    const GLuint first = gl.nextList;
    gl.nextList += GLuint(range);
    for (GLsizei i = 0; i < range; ++i)
        gl.lists[first + GLuint(i)];
    return first;
}

void vglDeleteLists(GLuint list, GLsizei range)
{
    for (GLsizei i = 0; i < range; ++i)
        gl.lists.erase(list + GLuint(i));
}

void vglNewList(GLuint list, GLenum mode)
{
    if (gl.compiling || list == 0) {
        setError(list == 0 ? GL_INVALID_VALUE : GL_INVALID_OPERATION);
        return;
    }
    gl.compiling = true;
    gl.executeWhileCompiling = mode == GL_COMPILE_AND_EXECUTE;
    gl.compilingList = list;
    gl.compiled.clear();
}

void vglEndList()
{
    if (!gl.compiling) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    gl.compiling = false;
    gl.lists[gl.compilingList] = std::move(gl.compiled);
    gl.compiled.clear();
}

void vglListBase(GLuint base)
{
    if (!record([=] { vglListBase(base); }))
        gl.listBase = base;
}

void vglCallLists(GLsizei n, GLenum type, const GLvoid* lists)
{
    if (n <= 0)
        return;
    std::vector<GLuint> ids(static_cast<size_t>(n));
    for (GLsizei i = 0; i < n; ++i) {
        GLuint offset = 0;
        if (type == GL_UNSIGNED_BYTE)
            offset = static_cast<const uint8_t*>(lists)[i];
        else if (type == GL_UNSIGNED_SHORT)
            offset = static_cast<const uint16_t*>(lists)[i];
        else if (type == GL_UNSIGNED_INT)
            offset = static_cast<const uint32_t*>(lists)[i];
        else {
            setError(GL_INVALID_ENUM);
            return;
        }
        ids[size_t(i)] = gl.listBase + offset;   // wraps as GL's unsigned sum does
    }
    auto run = [ids] {
        for (GLuint id : ids) {
            const auto it = gl.lists.find(id);
            if (it == gl.lists.end())
                continue;   // not a list: nothing happens
            const std::vector<std::function<void()>> commands = it->second;   // a list may delete itself
            for (const auto& command : commands)
                command();
        }
    };
    if (!record(run))
        run();
}

// --- Enables and attribute stacks ----------------------------------------------------

namespace {

// ES state for the capabilities it has.
GLenum esCap(GLenum cap)
{
    switch (cap) {
    case GL_BLEND: case GL_DEPTH_TEST: case GL_CULL_FACE: case GL_SCISSOR_TEST: case GL_DITHER:
    case GL_STENCIL_TEST: case GL_POLYGON_OFFSET_FILL:
        return cap;
    default:
        return 0;
    }
}

void setCap(GLenum cap, bool on)
{
    const int i = capIndex(cap);
    if (i < 0) {
        setError(GL_INVALID_ENUM);
        return;
    }
    gl.s.enabled[i] = on;
    if (cap == GL_COLOR_MATERIAL && on)
        trackColorMaterial();
    if (const GLenum es = esCap(cap)) {
        if (on)
            glEnable(es);
        else
            glDisable(es);
    }
}

GLenum esWrap(GLenum wrap)
{
    return wrap == GL_CLAMP ? GL_CLAMP_TO_EDGE : wrap;
}

// Puts the whole server state into ES (after a glPopAttrib).
void applyServerState()
{
    const ServerState& s = gl.s;
    for (int i = 0; i < CAP_COUNT; ++i) {
        const GLenum es = esCap(CAPS[i]);
        if (es && s.enabled[i])
            glEnable(es);
        else if (es)
            glDisable(es);
    }
    glBlendFunc(s.blendSrc, s.blendDst);
    glClearColor(s.clearColor[0], s.clearColor[1], s.clearColor[2], s.clearColor[3]);
    glDepthFunc(s.depthFunc);
    glDepthMask(s.depthMask);
    glClearStencil(s.clearStencil);
    glCullFace(s.cullFace);
    glLineWidth(std::clamp(s.lineWidth, gl.lineWidthRange[0], gl.lineWidthRange[1]));
    glScissor(s.scissor[0], s.scissor[1], s.scissor[2], s.scissor[3]);
    glViewport(s.viewport[0], s.viewport[1], s.viewport[2], s.viewport[3]);
    glBindTexture(GL_TEXTURE_2D, s.boundTexture);
}

void applyPixelStore()
{
    const PixelStore& p = gl.c.pixels;
    glPixelStorei(GL_PACK_ALIGNMENT, p.packAlignment);
    glPixelStorei(GL_PACK_ROW_LENGTH, p.packRowLength);
    glPixelStorei(GL_PACK_SKIP_ROWS, p.packSkipRows);
    glPixelStorei(GL_PACK_SKIP_PIXELS, p.packSkipPixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, p.unpackAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, p.unpackRowLength);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, p.unpackSkipRows);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, p.unpackSkipPixels);
}

} // namespace

void vglEnable(GLenum cap)
{
    if (!record([=] { vglEnable(cap); }))
        setCap(cap, true);
}

void vglDisable(GLenum cap)
{
    if (!record([=] { vglDisable(cap); }))
        setCap(cap, false);
}

GLboolean vglIsEnabled(GLenum cap)
{
    const int i = capIndex(cap);
    if (i < 0) {
        setError(GL_INVALID_ENUM);
        return GL_FALSE;
    }
    return gl.s.enabled[i] ? GL_TRUE : GL_FALSE;
}

void vglPushAttrib(GLbitfield mask)
{
    if (record([=] { vglPushAttrib(mask); }))
        return;
    if (gl.attribStack.size() >= 16) {
        setError(GL_STACK_OVERFLOW);
        return;
    }
    gl.attribStack.emplace_back(mask, gl.s);
}

void vglPopAttrib()
{
    if (record([] { vglPopAttrib(); }))
        return;
    if (gl.attribStack.empty()) {
        setError(GL_STACK_UNDERFLOW);
        return;
    }
    const GLbitfield mask = gl.attribStack.back().first;
    const ServerState saved = gl.attribStack.back().second;
    gl.attribStack.pop_back();
    ServerState& s = gl.s;
    for (int i = 0; i < CAP_COUNT; ++i)
        if ((mask & GL_ENABLE_BIT) || (mask & capGroups(CAPS[i])))
            s.enabled[i] = saved.enabled[i];
    if (mask & GL_CURRENT_BIT) {
        copy4(s.color, saved.color);
        std::memcpy(s.normal, saved.normal, sizeof s.normal);
        copy4(s.texCoord, saved.texCoord);
    }
    if (mask & GL_LIGHTING_BIT) {
        std::copy(std::begin(saved.lights), std::end(saved.lights), std::begin(s.lights));
        s.material = saved.material;
        copy4(s.lightModelAmbient, saved.lightModelAmbient);
        s.shadeModel = saved.shadeModel;
    }
    if (mask & GL_TEXTURE_BIT) {
        s.boundTexture = saved.boundTexture;
        s.envMode = saved.envMode;
        s.texGenMode[0] = saved.texGenMode[0];
        s.texGenMode[1] = saved.texGenMode[1];
    }
    if (mask & GL_COLOR_BUFFER_BIT) {
        s.blendSrc = saved.blendSrc;
        s.blendDst = saved.blendDst;
        copy4(s.clearColor, saved.clearColor);
    }
    if (mask & GL_DEPTH_BUFFER_BIT) {
        s.depthFunc = saved.depthFunc;
        s.depthMask = saved.depthMask;
    }
    if (mask & GL_STENCIL_BUFFER_BIT)
        s.clearStencil = saved.clearStencil;
    if (mask & GL_POLYGON_BIT) {
        s.cullFace = saved.cullFace;
        s.polygonMode[0] = saved.polygonMode[0];
        s.polygonMode[1] = saved.polygonMode[1];
    }
    if (mask & GL_LINE_BIT)
        s.lineWidth = saved.lineWidth;
    if (mask & GL_POINT_BIT)
        s.pointSize = saved.pointSize;
    if (mask & GL_SCISSOR_BIT)
        std::memcpy(s.scissor, saved.scissor, sizeof s.scissor);
    if (mask & GL_VIEWPORT_BIT)
        std::memcpy(s.viewport, saved.viewport, sizeof s.viewport);
    if (mask & GL_TRANSFORM_BIT)
        s.matrixMode = saved.matrixMode;
    if (mask & GL_PIXEL_MODE_BIT)
        s.readBuffer = saved.readBuffer;
    applyServerState();
}

void vglPushClientAttrib(GLbitfield mask)
{
    if (gl.clientStack.size() >= 16) {
        setError(GL_STACK_OVERFLOW);
        return;
    }
    gl.clientStack.emplace_back(mask, gl.c);
}

void vglPopClientAttrib()
{
    if (gl.clientStack.empty()) {
        setError(GL_STACK_UNDERFLOW);
        return;
    }
    const GLbitfield mask = gl.clientStack.back().first;
    const ClientState saved = gl.clientStack.back().second;
    gl.clientStack.pop_back();
    if (mask & GL_CLIENT_VERTEX_ARRAY_BIT)
        std::copy(std::begin(saved.arrays), std::end(saved.arrays), std::begin(gl.c.arrays));
    if (mask & GL_CLIENT_PIXEL_STORE_BIT) {
        gl.c.pixels = saved.pixels;
        applyPixelStore();
    }
}

// --- Lights and materials ----------------------------------------------------------------

void vglLightfv(GLenum light, GLenum pname, const GLfloat* params)
{
    const int n = int(light) - int(GL_LIGHT0);
    if (n < 0 || n >= 8) {
        setError(GL_INVALID_ENUM);
        return;
    }
    std::array<float, 4> v {};
    const int count = pname == GL_POSITION || pname == GL_AMBIENT || pname == GL_DIFFUSE || pname == GL_SPECULAR ? 4
                      : pname == GL_SPOT_DIRECTION ? 3 : 1;
    std::copy(params, params + count, v.begin());
    if (record([=] { vglLightfv(light, pname, v.data()); }))
        return;
    if (n >= LIGHTS)
        return;   // lights 2..7 light nothing here
    Light& l = gl.s.lights[n];
    switch (pname) {
    case GL_AMBIENT:  copy4(l.ambient, v.data()); break;
    case GL_DIFFUSE:  copy4(l.diffuse, v.data()); break;
    case GL_SPECULAR: copy4(l.specular, v.data()); break;
    case GL_POSITION: transformPoint(gl.modelview.back(), v.data(), l.position); break;   // eye coordinates
    case GL_CONSTANT_ATTENUATION:  l.attenuation[0] = v[0]; break;
    case GL_LINEAR_ATTENUATION:    l.attenuation[1] = v[0]; break;
    case GL_QUADRATIC_ATTENUATION: l.attenuation[2] = v[0]; break;
    case GL_SPOT_DIRECTION: case GL_SPOT_EXPONENT: case GL_SPOT_CUTOFF: break;   // spot lights are left out
    default: setError(GL_INVALID_ENUM); break;
    }
}

void vglLightf(GLenum light, GLenum pname, GLfloat param)
{
    vglLightfv(light, pname, &param);
}

void vglMaterialfv(GLenum face, GLenum pname, const GLfloat* params)
{
    std::array<float, 4> v {};
    std::copy(params, params + (pname == GL_SHININESS ? 1 : 4), v.begin());
    if (record([=] { vglMaterialfv(face, pname, v.data()); }))
        return;
    if (face == GL_BACK)
        return;   // one-sided lighting: the back material lights nothing
    Material& m = gl.s.material;
    switch (pname) {
    case GL_AMBIENT:  copy4(m.ambient, v.data()); break;
    case GL_DIFFUSE:  copy4(m.diffuse, v.data()); break;
    case GL_SPECULAR: copy4(m.specular, v.data()); break;
    case GL_EMISSION: copy4(m.emission, v.data()); break;
    case GL_AMBIENT_AND_DIFFUSE:
        copy4(m.ambient, v.data());
        copy4(m.diffuse, v.data());
        break;
    case GL_SHININESS: m.shininess = std::clamp(v[0], 0.0f, 128.0f); break;
    default: setError(GL_INVALID_ENUM); break;
    }
}

void vglMaterialf(GLenum face, GLenum pname, GLfloat param)
{
    vglMaterialfv(face, pname, &param);
}

void vglShadeModel(GLenum mode)
{
    if (!record([=] { vglShadeModel(mode); }))
        gl.s.shadeModel = mode;
}

// --- Textures ----------------------------------------------------------------------------

void vglGenTextures(GLsizei n, GLuint* textures)
{
    glGenTextures(n, textures);
    for (GLsizei i = 0; i < n; ++i)
        gl.textures[textures[i]];
}

void vglDeleteTextures(GLsizei n, const GLuint* textures)
{
    for (GLsizei i = 0; i < n; ++i) {
        gl.textures.erase(textures[i]);
        if (gl.s.boundTexture == textures[i])
            gl.s.boundTexture = 0;
    }
    glDeleteTextures(n, textures);
}

void vglBindTexture(GLenum target, GLuint texture)
{
    if (record([=] { vglBindTexture(target, texture); }))
        return;
    if (target != GL_TEXTURE_2D) {
        setError(GL_INVALID_ENUM);
        return;
    }
    gl.s.boundTexture = texture;
    gl.textures[texture];
    glBindTexture(GL_TEXTURE_2D, texture);
}

namespace {

TextureInfo& boundInfo()
{
    return gl.textures[gl.s.boundTexture];
}

GLenum baseFormat(GLint internalFormat)
{
    switch (internalFormat) {
    case 3: case GL_RGB:  return GL_RGB;
    case 4: case GL_RGBA: return GL_RGBA;
    default:              return GLenum(internalFormat);
    }
}

} // namespace

void vglTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                   GLenum format, GLenum type, const GLvoid* pixels)
{
    if (target != GL_TEXTURE_2D || border != 0) {
        setError(GL_INVALID_VALUE);
        return;
    }
    const GLenum internal = baseFormat(internalFormat);
    glTexImage2D(GL_TEXTURE_2D, level, GLint(internal), width, height, 0, format, type, pixels);
    if (level == 0) {
        TextureInfo& info = boundInfo();
        info.width = width;
        info.height = height;
        info.internalFormat = internalFormat;
        info.mipmaps = false;
    }
}

void vglCopyTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint x, GLint y, GLsizei width,
                          GLsizei height)
{
    glCopyTexSubImage2D(target, level, xoffset, yoffset, x, y, width, height);
}

void vglTexParameteri(GLenum target, GLenum pname, GLint param)
{
    if (record([=] { vglTexParameteri(target, pname, param); }))
        return;
    TextureInfo& info = boundInfo();
    GLint value = param;
    switch (pname) {
    case GL_TEXTURE_MIN_FILTER: info.minFilter = GLenum(param); break;
    case GL_TEXTURE_MAG_FILTER: info.magFilter = GLenum(param); break;
    case GL_TEXTURE_WRAP_S: info.wrapS = GLenum(param); value = GLint(esWrap(GLenum(param))); break;
    case GL_TEXTURE_WRAP_T: info.wrapT = GLenum(param); value = GLint(esWrap(GLenum(param))); break;
    default: setError(GL_INVALID_ENUM); return;
    }
    glTexParameteri(target, pname, value);
}

void vglGetTexParameteriv(GLenum, GLenum pname, GLint* params)
{
    const TextureInfo& info = boundInfo();
    switch (pname) {
    case GL_TEXTURE_MIN_FILTER: *params = GLint(info.minFilter); break;
    case GL_TEXTURE_MAG_FILTER: *params = GLint(info.magFilter); break;
    case GL_TEXTURE_WRAP_S:     *params = GLint(info.wrapS); break;
    case GL_TEXTURE_WRAP_T:     *params = GLint(info.wrapT); break;
    default: setError(GL_INVALID_ENUM); break;
    }
}

void vglGetTexLevelParameteriv(GLenum, GLint level, GLenum pname, GLint* params)
{
    const TextureInfo& info = boundInfo();
    const int w = level == 0 ? info.width : std::max(1, info.width >> level);
    const int h = level == 0 ? info.height : std::max(1, info.height >> level);
    const bool present = info.width > 0 && (level == 0 || info.mipmaps);
    switch (pname) {
    case GL_TEXTURE_WIDTH:  *params = present ? w : 0; break;
    case GL_TEXTURE_HEIGHT: *params = present ? h : 0; break;
    default: setError(GL_INVALID_ENUM); break;
    }
}

void vglTexEnvi(GLenum target, GLenum pname, GLint param)
{
    if (record([=] { vglTexEnvi(target, pname, param); }))
        return;
    if (target != GL_TEXTURE_ENV || pname != GL_TEXTURE_ENV_MODE) {
        setError(GL_INVALID_ENUM);
        return;
    }
    gl.s.envMode = GLenum(param);
}

void vglTexEnvf(GLenum target, GLenum pname, GLfloat param)
{
    vglTexEnvi(target, pname, GLint(param));
}

void vglGetTexEnviv(GLenum target, GLenum pname, GLint* params)
{
    if (target != GL_TEXTURE_ENV || pname != GL_TEXTURE_ENV_MODE) {
        setError(GL_INVALID_ENUM);
        return;
    }
    *params = GLint(gl.s.envMode);
}

void vglTexGeni(GLenum coord, GLenum pname, GLint param)
{
    if (record([=] { vglTexGeni(coord, pname, param); }))
        return;
    if ((coord != GL_S && coord != GL_T) || pname != GL_TEXTURE_GEN_MODE) {
        setError(GL_INVALID_ENUM);
        return;
    }
    gl.s.texGenMode[coord == GL_S ? 0 : 1] = GLenum(param);
}

GLint vgluBuild2DMipmaps(GLenum target, GLint components, GLint width, GLint height, GLenum format, GLenum type,
                         const void* data)
{
    if (width < 1 || height < 1)
        return GL_INVALID_VALUE;
    vglTexImage2D(target, 0, components, width, height, 0, format, type, data);
    glGenerateMipmap(GL_TEXTURE_2D);
    boundInfo().mipmaps = true;
    return 0;
}

namespace {

// RGBA rows read by ES copied into `out` as `format` (GL_RGB or GL_RGBA)
// under the pack state: alignment, row length and skips.
void packPixels(const std::vector<uint8_t>& rgba, GLsizei width, GLsizei height, GLenum format, GLvoid* out)
{
    const PixelStore& p = gl.c.pixels;
    const int channels = format == GL_RGB ? 3 : 4;
    const size_t rowPixels = size_t(p.packRowLength > 0 ? p.packRowLength : width);
    size_t rowBytes = rowPixels * size_t(channels);
    const size_t alignment = size_t(std::max(1, p.packAlignment));
    rowBytes = (rowBytes + alignment - 1) / alignment * alignment;
    uint8_t* base = static_cast<uint8_t*>(out) + size_t(p.packSkipRows) * rowBytes +
                    size_t(p.packSkipPixels) * size_t(channels);
    for (GLsizei y = 0; y < height; ++y) {
        const uint8_t* src = rgba.data() + size_t(y) * size_t(width) * 4;
        uint8_t* dst = base + size_t(y) * rowBytes;
        for (GLsizei x = 0; x < width; ++x)
            std::memcpy(dst + size_t(x) * size_t(channels), src + size_t(x) * 4, size_t(channels));
    }
}

// ES reads only RGBA bytes (with alignment 4, no row length) into the layer's buffer.
void readRgba(GLint x, GLint y, GLsizei width, GLsizei height, std::vector<uint8_t>& rgba)
{
    rgba.resize(size_t(width) * size_t(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    applyPixelStore();
}

} // namespace

void vglGetTexImage(GLenum target, GLint level, GLenum format, GLenum type, GLvoid* pixels)
{
    if (target != GL_TEXTURE_2D || type != GL_UNSIGNED_BYTE || (format != GL_RGB && format != GL_RGBA)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    GLint width = 0, height = 0;
    vglGetTexLevelParameteriv(target, level, GL_TEXTURE_WIDTH, &width);
    vglGetTexLevelParameteriv(target, level, GL_TEXTURE_HEIGHT, &height);
    if (width < 1 || height < 1)
        return;
    // ES has no glGetTexImage: the level goes onto a framebuffer of its own and is read from there.
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, gl.readFramebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, gl.s.boundTexture, level);
    std::vector<uint8_t> rgba;
    if (glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
        readRgba(0, 0, width, height, rgba);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previous));
    if (!rgba.empty())
        packPixels(rgba, width, height, format, pixels);
}

// --- Pixels, buffers and queries -----------------------------------------------------

void vglPixelStorei(GLenum pname, GLint param)
{
    PixelStore& p = gl.c.pixels;
    switch (pname) {
    case GL_PACK_ALIGNMENT:      p.packAlignment = param; break;
    case GL_PACK_ROW_LENGTH:     p.packRowLength = param; break;
    case GL_PACK_SKIP_ROWS:      p.packSkipRows = param; break;
    case GL_PACK_SKIP_PIXELS:    p.packSkipPixels = param; break;
    case GL_UNPACK_ALIGNMENT:    p.unpackAlignment = param; break;
    case GL_UNPACK_ROW_LENGTH:   p.unpackRowLength = param; break;
    case GL_UNPACK_SKIP_ROWS:    p.unpackSkipRows = param; break;
    case GL_UNPACK_SKIP_PIXELS:  p.unpackSkipPixels = param; break;
    case GL_PACK_SWAP_BYTES:     p.packSwapBytes = param; return;   // bytes are never swapped here
    case GL_UNPACK_SWAP_BYTES:   p.unpackSwapBytes = param; return;
    default: setError(GL_INVALID_ENUM); return;
    }
    glPixelStorei(pname, param);
}

void vglReadBuffer(GLenum mode)
{
    if (!record([=] { vglReadBuffer(mode); }))
        gl.s.readBuffer = mode;   // the frame drawn into is the one read
}

void vglReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, GLvoid* pixels)
{
    if (type != GL_UNSIGNED_BYTE || (format != GL_RGB && format != GL_RGBA)) {
        setError(GL_INVALID_ENUM);
        return;
    }
    if (width <= 0 || height <= 0)
        return;
    std::vector<uint8_t> rgba;
    readRgba(x, y, width, height, rgba);
    packPixels(rgba, width, height, format, pixels);
}

void vglViewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    if (record([=] { vglViewport(x, y, width, height); }))
        return;
    const GLint v[4] = { x, y, width, height };
    std::memcpy(gl.s.viewport, v, sizeof v);
    glViewport(x, y, width, height);
}

void vglScissor(GLint x, GLint y, GLsizei width, GLsizei height)
{
    if (record([=] { vglScissor(x, y, width, height); }))
        return;
    const GLint v[4] = { x, y, width, height };
    std::memcpy(gl.s.scissor, v, sizeof v);
    glScissor(x, y, width, height);
}

void vglClear(GLbitfield mask)
{
    if (!record([=] { vglClear(mask); }))
        glClear(mask);
}

void vglClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a)
{
    if (record([=] { vglClearColor(r, g, b, a); }))
        return;
    const float c[4] = { r, g, b, a };
    copy4(gl.s.clearColor, c);
    glClearColor(r, g, b, a);
}

void vglClearStencil(GLint s)
{
    if (record([=] { vglClearStencil(s); }))
        return;
    gl.s.clearStencil = s;
    glClearStencil(s);
}

void vglBlendFunc(GLenum sfactor, GLenum dfactor)
{
    if (record([=] { vglBlendFunc(sfactor, dfactor); }))
        return;
    gl.s.blendSrc = sfactor;
    gl.s.blendDst = dfactor;
    glBlendFunc(sfactor, dfactor);
}

void vglDepthFunc(GLenum func)
{
    if (record([=] { vglDepthFunc(func); }))
        return;
    gl.s.depthFunc = func;
    glDepthFunc(func);
}

void vglDepthMask(GLboolean flag)
{
    if (record([=] { vglDepthMask(flag); }))
        return;
    gl.s.depthMask = flag;
    glDepthMask(flag);
}

void vglCullFace(GLenum mode)
{
    if (record([=] { vglCullFace(mode); }))
        return;
    gl.s.cullFace = mode;
    glCullFace(mode);
}

void vglPolygonMode(GLenum face, GLenum mode)
{
    if (record([=] { vglPolygonMode(face, mode); }))
        return;
    if (face == GL_FRONT || face == GL_FRONT_AND_BACK)
        gl.s.polygonMode[0] = mode;
    if (face == GL_BACK || face == GL_FRONT_AND_BACK)
        gl.s.polygonMode[1] = mode;
}

void vglLineWidth(GLfloat width)
{
    if (record([=] { vglLineWidth(width); }))
        return;
    gl.s.lineWidth = width;
    glLineWidth(std::clamp(width, gl.lineWidthRange[0], gl.lineWidthRange[1]));
}

void vglPointSize(GLfloat size)
{
    if (!record([=] { vglPointSize(size); }))
        gl.s.pointSize = size;
}

void vglHint(GLenum target, GLenum mode)
{
    if (record([=] { vglHint(target, mode); }))
        return;
    if (target == GL_LINE_SMOOTH_HINT)
        gl.s.lineSmoothHint = mode;
}

void vglFinish()
{
#if defined(__EMSCRIPTEN__)
    // WebGL's finish returns before the work is done; reading a pixel back
    // waits for it, so a timed part holds the drawing it queued.
    GLubyte pixel[4];
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
#else
    glFinish();
#endif
}

GLenum vglGetError()
{
    const GLenum mine = gl.error;
    gl.error = GL_NO_ERROR;
    const GLenum es = glGetError();
    return mine != GL_NO_ERROR ? mine : es;
}

void vglGetIntegerv(GLenum pname, GLint* params)
{
    const ServerState& s = gl.s;
    const PixelStore& p = gl.c.pixels;
    switch (pname) {
    case GL_BLEND_SRC_RGB: case GL_BLEND_SRC_ALPHA: *params = GLint(s.blendSrc); break;
    case GL_BLEND_DST_RGB: case GL_BLEND_DST_ALPHA: *params = GLint(s.blendDst); break;
    case GL_BLEND_EQUATION_RGB: case GL_BLEND_EQUATION_ALPHA: *params = GL_FUNC_ADD; break;
    case GL_UNPACK_ALIGNMENT:   *params = p.unpackAlignment; break;
    case GL_UNPACK_ROW_LENGTH:  *params = p.unpackRowLength; break;
    case GL_PACK_ALIGNMENT:     *params = p.packAlignment; break;
    case GL_PACK_ROW_LENGTH:    *params = p.packRowLength; break;
    case GL_VIEWPORT:           std::memcpy(params, s.viewport, sizeof s.viewport); break;
    case GL_SCISSOR_BOX:        std::memcpy(params, s.scissor, sizeof s.scissor); break;
    case GL_MATRIX_MODE:        *params = GLint(s.matrixMode); break;
    case GL_TEXTURE_BINDING_2D: *params = GLint(s.boundTexture); break;
    case GL_MAX_TEXTURE_SIZE:   glGetIntegerv(GL_MAX_TEXTURE_SIZE, params); break;
    default: setError(GL_INVALID_ENUM); break;
    }
}

void vglGetFloatv(GLenum pname, GLfloat* params)
{
    switch (pname) {
    case GL_MODELVIEW_MATRIX:  std::memcpy(params, gl.modelview.back().m, sizeof(Mat4::m)); break;
    case GL_PROJECTION_MATRIX: std::memcpy(params, gl.projection.back().m, sizeof(Mat4::m)); break;
    case GL_TEXTURE_MATRIX:    std::memcpy(params, gl.texture.back().m, sizeof(Mat4::m)); break;
    default: setError(GL_INVALID_ENUM); break;
    }
}

// --- The glow ----------------------------------------------------------------------------

namespace {

bool identity(const Mat4& m)
{
    for (int i = 0; i < 16; ++i)
        if (m.m[i] != (i % 5 == 0 ? 1.0f : 0.0f))
            return false;
    return true;
}

// The layers summed in one draw give what drawing them one by one gives:
// each adds (colour x sample)^2 to the frame, whatever is there already.
bool glowInOnePass()
{
    const ServerState& s = gl.s;
    return isEnabled(GL_BLEND) && s.blendSrc == GL_SRC_COLOR && s.blendDst == GL_ONE && s.envMode == GL_MODULATE &&
           s.polygonMode[0] == GL_FILL && s.polygonMode[1] == GL_FILL && identity(gl.texture.back()) &&
           !isEnabled(GL_TEXTURE_GEN_S) && !isEnabled(GL_TEXTURE_GEN_T);
}

// False when the context cannot build the glow's program (the layers are
// then drawn one by one).
bool drawGlowInOnePass(const float (*maps)[4], const float* alphas, int layers, float colour, float x0, float y0,
                       float x1, float y1)
{
    // A texture whose minifying filter is its magnifying one looks the same at every level.
    const auto bound = gl.textures.find(gl.s.boundTexture);
    const bool oneLevel = bound != gl.textures.end() && bound->second.minFilter == bound->second.magFilter;
    Program& p = gl.glow[oneLevel][layers];
    if (!p.id) {
        const char* why = nullptr;
        const std::string defines = "#define GLOW_LAYERS " + std::to_string(layers) + "\n#define GLOW_SAMPLE(s, at) " +
                                    (oneLevel ? "textureLod(s, at, 0.0)" : "texture(s, at)") + "\n";
        if (!buildProgram(p, GLOW_VERTEX_SHADER, GLOW_FRAGMENT_SHADER, &why, defines))
            return false;
        useProgram(p);
        setUniform(p, U_SAMPLER, GLint(0));
    }
    useProgram(p);
    const Mat4 mvp = multiply(gl.projection.back(), gl.modelview.back());
    setUniform(p, U_MVP, mvp.m);
    setUniform(p, U_TEXTURING, GLint(isEnabled(GL_TEXTURE_2D) && textureComplete(gl.s.boundTexture)));
    float packed[4 * VGL_GLOW_LAYERS_MAX] = {};
    float alpha = 0.0f;
    for (int i = 0; i < layers; ++i) {
        copy4(packed + 4 * i, maps[i]);
        const float a = std::clamp(alphas[i], 0.0f, 1.0f);
        alpha += a * a;
    }
    setUniform(p, U_GLOW_MAPS, packed);
    setUniform(p, U_GLOW_COLOUR, std::clamp(colour, 0.0f, 1.0f) * 255.0f);
    setUniform(p, U_GLOW_ALPHA, alpha);

    std::vector<Vertex>& corners = gl.scratch;
    corners.assign(4, Vertex{});
    const float at[4][4] = { { x0, y0, 0, 0 }, { x1, y0, 1, 0 }, { x1, y1, 1, 1 }, { x0, y1, 0, 1 } };
    for (int i = 0; i < 4; ++i) {
        const float position[4] = { at[i][0], at[i][1], 0.0f, 1.0f };
        const float across[4] = { at[i][2], at[i][3], 0.0f, 1.0f };
        copy4(corners[size_t(i)].position, position);
        copy4(corners[size_t(i)].texCoord, across);
    }
    std::vector<uint32_t>& list = gl.scratchIndices;
    list.clear();
    triangulate(GL_QUADS, 4, [](size_t i) { return uint32_t(i); }, list);
    // The sum is what the layers add; the frame's clamping gives the rest.
    glBlendFunc(GL_ONE, GL_ONE);
    drawVertices(GL_TRIANGLES, corners, list);
    glBlendFunc(gl.s.blendSrc, gl.s.blendDst);
    return true;
}

} // namespace

void vglDrawGlowLayers(const float (*maps)[4], const float* alphas, int layers, float colour, float x0, float y0,
                       float x1, float y1)
{
    if (layers < 1 || layers > VGL_GLOW_LAYERS_MAX) {
        setError(GL_INVALID_VALUE);
        return;
    }
    if (gl.compiling) {
        std::vector<std::array<float, 4>> m(layers);
        for (int i = 0; i < layers; ++i)
            copy4(m[size_t(i)].data(), maps[i]);
        const std::vector<float> a(alphas, alphas + layers);
        if (record([=] {
                vglDrawGlowLayers(reinterpret_cast<const float(*)[4]>(m.data()), a.data(), layers, colour, x0, y0, x1, y1);
            }))
            return;
    }
    if (gl.inBegin) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    // Compiled and executed: what it does now goes into no list (the call is there).
    const bool compiling = gl.compiling;
    gl.compiling = false;
    if (!glowInOnePass() || !drawGlowInOnePass(maps, alphas, layers, colour, x0, y0, x1, y1)) {
        for (int i = 0; i < layers; ++i) {
            const float* m = maps[i];
            vglColor4f(colour, colour, colour, alphas[i]);
            vglBegin(GL_QUADS);
            vglTexCoord2f(m[0], m[1]);  vglVertex2f(x0, y0);
            vglTexCoord2f(m[2], m[1]);  vglVertex2f(x1, y0);
            vglTexCoord2f(m[2], m[3]);  vglVertex2f(x1, y1);
            vglTexCoord2f(m[0], m[3]);  vglVertex2f(x0, y1);
            vglEnd();
        }
    }
    vglColor4f(colour, colour, colour, alphas[layers - 1]);
    vglTexCoord2f(maps[layers - 1][0], maps[layers - 1][3]);
    gl.compiling = compiling;
}

VglStatistics vglStatistics()
{
    VglStatistics s;
    s.draws = gl.draws;
    s.uniformUploads = gl.fixedFunction.uploads;
    for (const auto& programs : gl.glow)
        for (const Program& glow : programs)
            s.uniformUploads += glow.uploads;
    return s;
}

// --- Start and stop ------------------------------------------------------------------

bool vglStart(const char** why)
{
    if (gl.started)
        return true;
    gl = Layer();
    // OpenGL 1.1's light 0 is white; the others start dark.
    const float white[4] = { 1, 1, 1, 1 };
    copy4(gl.s.lights[0].diffuse, white);
    copy4(gl.s.lights[0].specular, white);
    gl.s.enabled[capIndex(GL_DITHER)] = true;
    if (!buildProgram(gl.fixedFunction, VERTEX_SHADER, FRAGMENT_SHADER, why))
        return false;
    glGenVertexArrays(1, &gl.vao);
    glGenBuffers(1, &gl.vertexBuffer);
    glGenBuffers(1, &gl.indexBuffer);
    glGenFramebuffers(1, &gl.readFramebuffer);
    glBindVertexArray(gl.vao);
    glBindBuffer(GL_ARRAY_BUFFER, gl.vertexBuffer);
    const GLsizei stride = sizeof(Vertex);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, position)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, normal)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, color)));
    glEnableVertexAttribArray(3);
    glVertexAttribPointer(3, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, texCoord)));
    glGenVertexArrays(1, &gl.lineVao);
    glBindVertexArray(gl.lineVao);
    const GLsizei lineStride = sizeof(LineCorner);
    auto lineAttribute = [&](GLuint index, GLint size, size_t offset) {
        glEnableVertexAttribArray(index);
        glVertexAttribPointer(index, size, GL_FLOAT, GL_FALSE, lineStride, reinterpret_cast<const void*>(offset));
    };
    lineAttribute(0, 4, offsetof(LineCorner, v) + offsetof(Vertex, position));
    lineAttribute(1, 3, offsetof(LineCorner, v) + offsetof(Vertex, normal));
    lineAttribute(2, 4, offsetof(LineCorner, v) + offsetof(Vertex, color));
    lineAttribute(3, 4, offsetof(LineCorner, v) + offsetof(Vertex, texCoord));
    lineAttribute(4, 4, offsetof(LineCorner, other));
    lineAttribute(5, 2, offsetof(LineCorner, side));
    glBindVertexArray(0);
    glGetFloatv(GL_ALIASED_LINE_WIDTH_RANGE, gl.lineWidthRange);
    glGetIntegerv(GL_VIEWPORT, gl.s.viewport);
    std::memcpy(gl.s.scissor, gl.s.viewport, sizeof gl.s.scissor);
    useProgram(gl.fixedFunction);
    setUniform(gl.fixedFunction, U_SAMPLER, GLint(0));
    glActiveTexture(GL_TEXTURE0);
    applyServerState();
    applyPixelStore();
    gl.started = true;
    return true;
}

bool vglStarted()
{
    return gl.started;
}

void vglStop()
{
    if (!gl.started)
        return;
    glDeleteProgram(gl.fixedFunction.id);
    for (const auto& programs : gl.glow)
        for (const Program& glow : programs)
            if (glow.id)
                glDeleteProgram(glow.id);
    glDeleteVertexArrays(1, &gl.vao);
    glDeleteVertexArrays(1, &gl.lineVao);
    glDeleteBuffers(1, &gl.vertexBuffer);
    glDeleteBuffers(1, &gl.indexBuffer);
    glDeleteFramebuffers(1, &gl.readFramebuffer);
    gl = Layer();
}
