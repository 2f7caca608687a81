// model/OvrinCharacter.cpp: the character's skeleton, meshes, animation and
// skin, all built from a handful of numbers (see OvrinCharacter.h).
//
// Sections:
//   --- Skeleton ---
//   --- Skin layout ---
//   --- Mesh building ---
//   --- Poses ---
//   --- Sequences ---
//   --- Skin painting ---
#include "model/OvrinCharacter.h"

#include "model/hl.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float PI = 3.14159265358979f;
constexpr float ROTATION_SCALE = 0.0005f;   // radians per stored unit
constexpr float POSITION_SCALE = 0.01f;     // model units per stored unit

// --- Skeleton --------------------------------------------------------------------
// At rest every bone's axes are the model's axes, so a vertex's bone-space
// position is its model position minus the bone's rest origin.

enum Bone {
    PELVIS, SPINE, CHEST, NECK, HEAD,
    L_CLAVICLE, L_UPPERARM, L_FOREARM, L_HAND,
    R_CLAVICLE, R_UPPERARM, R_FOREARM, R_HAND,
    L_THIGH, L_SHIN, L_FOOT,
    R_THIGH, R_SHIN, R_FOOT,
};

struct BoneDef {
    const char* name;
    int         parent;
    Float3      offset;   // rest position in the parent's space
};

constexpr BoneDef BONE_DEFS[OVRIN_BONES] = {
    { "pelvis",      -1,         { 0.0f,  0.0f,  38.0f } },   // 0
    { "spine",       PELVIS,     { 0.0f,  0.0f,   6.0f } },   // 1
    { "chest",       SPINE,      { 0.0f,  0.0f,  10.0f } },   // 2
    { "neck",        CHEST,      { 0.0f,  0.0f,  10.0f } },   // 3
    { "head",        NECK,       { 0.0f,  0.0f,   4.0f } },   // 4
    { "l_clavicle",  CHEST,      { 0.0f,  3.0f,   7.0f } },   // 5
    { "l_upperarm",  L_CLAVICLE, { 0.0f,  6.8f,   0.0f } },   // 6
    { "l_forearm",   L_UPPERARM, { 0.0f,  0.0f, -12.0f } },   // 7
    { "l_hand",      L_FOREARM,  { 0.0f,  0.0f, -11.0f } },   // 8
    { "r_clavicle",  CHEST,      { 0.0f, -3.0f,   7.0f } },   // 9
    { "r_upperarm",  R_CLAVICLE, { 0.0f, -6.8f,   0.0f } },   // 10
    { "r_forearm",   R_UPPERARM, { 0.0f,  0.0f, -12.0f } },   // 11
    { "r_hand",      R_FOREARM,  { 0.0f,  0.0f, -11.0f } },   // 12
    { "l_thigh",     PELVIS,     { 0.0f,  4.5f,  -2.0f } },   // 13
    { "l_shin",      L_THIGH,    { 0.0f,  0.0f, -17.0f } },   // 14
    { "l_foot",      L_SHIN,     { 0.0f,  0.0f, -16.0f } },   // 15
    { "r_thigh",     PELVIS,     { 0.0f, -4.5f,  -2.0f } },   // 16
    { "r_shin",      R_THIGH,    { 0.0f,  0.0f, -17.0f } },   // 17
    { "r_foot",      R_SHIN,     { 0.0f,  0.0f, -16.0f } },   // 18
};
static_assert(sizeof(BONE_DEFS) / sizeof(BONE_DEFS[0]) == OVRIN_BONES, "one row per bone");

constexpr float THIGH_LENGTH = 17.0f;
constexpr float SHIN_LENGTH = 16.0f;
constexpr float HIP_TO_ANKLE = THIGH_LENGTH + SHIN_LENGTH;

Float3 restOrigin(int bone)
{
    Float3 origin;
    for (int b = bone; b >= 0; b = BONE_DEFS[b].parent)
        add(origin, BONE_DEFS[b].offset, origin);
    return origin;
}

// --- Skin layout -------------------------------------------------------------------
// Texel rectangles of the 256x256 skin; s runs around a part (back, left side,
// front at the middle, right side, back), t from its top to its bottom.

struct Rect {
    float s0, t0, s1, t1;
};

constexpr Rect SKIN_HEAD     = {   0.0f,   0.0f, 128.0f,  64.0f };
constexpr Rect SKIN_CHEST    = {   0.0f,  64.0f, 128.0f, 104.0f };
constexpr Rect SKIN_ABDOMEN  = {   0.0f, 104.0f, 128.0f, 128.0f };
constexpr Rect SKIN_PELVIS   = { 128.0f,  64.0f, 256.0f,  96.0f };
constexpr Rect SKIN_UPPERARM = { 128.0f,   0.0f, 192.0f,  32.0f };
constexpr Rect SKIN_FOREARM  = { 192.0f,   0.0f, 256.0f,  32.0f };
constexpr Rect SKIN_HAND     = { 128.0f,  32.0f, 192.0f,  48.0f };
constexpr Rect SKIN_NECK     = { 192.0f,  32.0f, 256.0f,  48.0f };
constexpr Rect SKIN_THIGH    = {   0.0f, 128.0f, 128.0f, 176.0f };
constexpr Rect SKIN_SHIN     = {   0.0f, 176.0f, 128.0f, 224.0f };
constexpr Rect SKIN_FOOT     = { 128.0f, 128.0f, 256.0f, 192.0f };
constexpr Rect SKIN_HAT      = { 128.0f, 192.0f, 256.0f, 256.0f };
constexpr Rect SKIN_SLEEVE_CAP = { 128.0f, 96.0f, 192.0f, 128.0f };   // shirt colour patch

// --- Mesh building -----------------------------------------------------------------

struct Corner {
    int    vertex;
    int    normal;
    float  s, t;
    Float3 position;   // model space at rest, for the winding check
    Float3 direction;  // outward normal at rest
};

// Builds one sub-model. Faces are wound clockwise seen from outside, because
// the program culls GL front faces (counter-clockwise ones).
class MeshBuilder {
public:
    explicit MeshBuilder(StudioSubModelDesc& sub) : sub_(sub)
    {
        for (int b = 0; b < OVRIN_BONES; ++b)
            origins_[b] = restOrigin(b);
    }

    int vertex(const Float3& position, int bone)
    {
        StudioVertexDesc v;
        subtract(position, origins_[bone], v.position);
        v.bone = bone;
        sub_.vertices.push_back(v);
        return static_cast<int>(sub_.vertices.size()) - 1;
    }

    int normal(Float3 direction, int bone)
    {
        normalizeInPlace(direction);
        StudioVertexDesc n;
        n.position = direction;
        n.bone = bone;
        sub_.normals.push_back(n);
        return static_cast<int>(sub_.normals.size()) - 1;
    }

    // Starts a mesh; every strip and fan until the next call belongs to it.
    void beginMesh()
    {
        sub_.meshes.emplace_back();
        sub_.meshes.back().skinRef = 0;
    }

    void strip(std::vector<Corner> corners)
    {
        if (facesOutward(corners[0], corners[1], corners[2]))
            for (size_t i = 0; i + 1 < corners.size(); i += 2)
                std::swap(corners[i], corners[i + 1]);
        emit(corners, false);
    }

    void fan(std::vector<Corner> corners)
    {
        if (facesOutward(corners[0], corners[1], corners[2]))
            std::reverse(corners.begin() + 1, corners.end());
        emit(corners, true);
    }

    void finish()
    {
        for (StudioMeshDesc& mesh : sub_.meshes)
            if (mesh.commands.empty() || mesh.commands.back() != 0)
                endCommands(mesh.commands);
    }

private:
    // True when the triangle is counter-clockwise seen from outside.
    static bool facesOutward(const Corner& a, const Corner& b, const Corner& c)
    {
        Float3 ab, ac, n, outward;
        subtract(b.position, a.position, ab);
        subtract(c.position, a.position, ac);
        cross(ab, ac, n);
        add(a.direction, b.direction, outward);
        add(outward, c.direction, outward);
        return dot(n, outward) > 0.0f;
    }

    void emit(const std::vector<Corner>& corners, bool isFan)
    {
        std::vector<int16_t> quadruples;
        for (const Corner& c : corners) {
            quadruples.push_back(static_cast<int16_t>(c.vertex));
            quadruples.push_back(static_cast<int16_t>(c.normal));
            quadruples.push_back(static_cast<int16_t>(std::lround(c.s)));
            quadruples.push_back(static_cast<int16_t>(std::lround(c.t)));
        }
        appendCommand(sub_.meshes.back().commands, isFan, quadruples);
    }

    StudioSubModelDesc& sub_;
    Float3              origins_[OVRIN_BONES];
};

struct Ring {
    std::vector<int>    vertices;
    std::vector<int>    normals;
    std::vector<Float3> positions;
    std::vector<Float3> directions;
};

// A ring of `sides` points around (x, y) at height z; j = 0 at the back (-x),
// j = sides / 2 at the front (+x).
Ring makeRing(MeshBuilder& b, int bone, float x, float y, float z, float rx, float ry, int sides, float tilt)
{
    Ring ring;
    for (int j = 0; j < sides; ++j) {
        const float a = -PI + 2.0f * PI * static_cast<float>(j) / static_cast<float>(sides);
        const Float3 p(x + rx * std::cos(a), y + ry * std::sin(a), z);
        const Float3 d(std::cos(a) / rx, std::sin(a) / ry, tilt);
        ring.vertices.push_back(b.vertex(p, bone));
        ring.normals.push_back(b.normal(d, bone));
        ring.positions.push_back(p);
        Float3 unit = d;
        normalizeInPlace(unit);
        ring.directions.push_back(unit);
    }
    return ring;
}

Corner corner(const Ring& ring, int j, float s, float t)
{
    const size_t i = static_cast<size_t>(j) % ring.vertices.size();
    return { ring.vertices[i], ring.normals[i], s, t, ring.positions[i], ring.directions[i] };
}

void bandStrip(MeshBuilder& b, const Ring& upper, const Ring& lower, const Rect& rect, float tUpper, float tLower)
{
    const int sides = static_cast<int>(upper.vertices.size());
    std::vector<Corner> corners;
    for (int j = 0; j <= sides; ++j) {
        const float s = rect.s0 + (rect.s1 - rect.s0) * static_cast<float>(j) / static_cast<float>(sides);
        corners.push_back(corner(upper, j, s, tUpper));
        corners.push_back(corner(lower, j, s, tLower));
    }
    b.strip(corners);
}

void capFan(MeshBuilder& b, int bone, const Ring& ring, const Float3& centre, const Float3& direction,
            const Rect& rect, float t)
{
    const int sides = static_cast<int>(ring.vertices.size());
    const float sMid = (rect.s0 + rect.s1) * 0.5f;
    std::vector<Corner> corners;
    corners.push_back({ b.vertex(centre, bone), b.normal(direction, bone), sMid, t, centre, direction });
    const int capNormal = b.normal(direction, bone);
    for (int j = 0; j <= sides; ++j) {
        const size_t i = static_cast<size_t>(j % sides);
        const float s = rect.s0 + (rect.s1 - rect.s0) * static_cast<float>(j) / static_cast<float>(sides);
        corners.push_back({ ring.vertices[i], capNormal, s, t, ring.positions[i], direction });
    }
    b.fan(corners);
}

// A tapered prism along z from zTop down to zBottom, with flat caps.
void limb(MeshBuilder& b, int bone, float x, float y, float zTop, float zBottom, float rxTop, float ryTop,
          float rxBottom, float ryBottom, int sides, const Rect& rect, bool capTop, bool capBottom)
{
    b.beginMesh();
    const float tilt = ((rxTop + ryTop) - (rxBottom + ryBottom)) * 0.5f / (zTop - zBottom) /
                       ((rxTop + ryTop + rxBottom + ryBottom) * 0.25f);
    const Ring top = makeRing(b, bone, x, y, zTop, rxTop, ryTop, sides, tilt);
    const Ring bottom = makeRing(b, bone, x, y, zBottom, rxBottom, ryBottom, sides, tilt);
    bandStrip(b, top, bottom, rect, rect.t0 + 0.5f, rect.t1 - 0.5f);
    if (capTop)
        capFan(b, bone, top, Float3(x, y, zTop), Float3(0.0f, 0.0f, 1.0f), rect, rect.t0 + 0.5f);
    if (capBottom)
        capFan(b, bone, bottom, Float3(x, y, zBottom), Float3(0.0f, 0.0f, -1.0f), rect, rect.t1 - 0.5f);
}

// An ellipsoid made of latitude bands (strips) and two polar fans.
void ellipsoid(MeshBuilder& b, int bone, const Float3& centre, const Float3& radii, int bands, int sides,
               const Rect& rect)
{
    b.beginMesh();
    std::vector<Ring> rings;
    std::vector<float> ts;
    for (int i = 1; i < bands; ++i) {
        const float phi = PI * static_cast<float>(i) / static_cast<float>(bands);
        Ring ring;
        for (int j = 0; j < sides; ++j) {
            const float a = -PI + 2.0f * PI * static_cast<float>(j) / static_cast<float>(sides);
            const Float3 unit(std::sin(phi) * std::cos(a), std::sin(phi) * std::sin(a), std::cos(phi));
            const Float3 p(centre.x + radii.x * unit.x, centre.y + radii.y * unit.y, centre.z + radii.z * unit.z);
            Float3 d(unit.x / radii.x, unit.y / radii.y, unit.z / radii.z);
            normalizeInPlace(d);
            ring.vertices.push_back(b.vertex(p, bone));
            ring.normals.push_back(b.normal(d, bone));
            ring.positions.push_back(p);
            ring.directions.push_back(d);
        }
        rings.push_back(ring);
        ts.push_back(rect.t0 + (rect.t1 - rect.t0) * static_cast<float>(i) / static_cast<float>(bands));
    }
    for (size_t i = 0; i + 1 < rings.size(); ++i)
        bandStrip(b, rings[i], rings[i + 1], rect, ts[i], ts[i + 1]);

    // Poles: the fan's rim keeps the ring's own normals.
    for (int pole = 0; pole < 2; ++pole) {
        const Ring& ring = pole == 0 ? rings.front() : rings.back();
        const float sign = pole == 0 ? 1.0f : -1.0f;
        const Float3 tip(centre.x, centre.y, centre.z + sign * radii.z);
        const Float3 up(0.0f, 0.0f, sign);
        const float t = pole == 0 ? rect.t0 + 0.5f : rect.t1 - 0.5f;
        std::vector<Corner> corners;
        corners.push_back({ b.vertex(tip, bone), b.normal(up, bone), (rect.s0 + rect.s1) * 0.5f, t, tip, up });
        for (int j = 0; j <= sides; ++j) {
            const float s = rect.s0 + (rect.s1 - rect.s0) * static_cast<float>(j) / static_cast<float>(sides);
            corners.push_back(corner(ring, j, s, pole == 0 ? ts.front() : ts.back()));
        }
        b.fan(corners);
    }
}

// A boot: a box from heel to toe whose top slopes down to the toe, one fan
// per face with flat normals.
void foot(MeshBuilder& b, int bone, float y)
{
    b.beginMesh();
    const float x0 = -2.8f, x1 = 7.0f, halfWidth = 2.0f;
    const Float3 p[8] = {
        { x0, y - halfWidth, 0.0f }, { x1, y - halfWidth, 0.0f }, { x1, y + halfWidth, 0.0f }, { x0, y + halfWidth, 0.0f },
        { x0, y - halfWidth, 4.8f }, { x1, y - halfWidth, 2.4f }, { x1, y + halfWidth, 2.4f }, { x0, y + halfWidth, 4.8f },
    };
    int v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = b.vertex(p[i], bone);
    const Rect& r = SKIN_FOOT;
    const float span = x1 - x0;
    auto sOf = [&](const Float3& q) { return r.s0 + 8.0f + (r.s1 - r.s0 - 16.0f) * (q.x - x0) / span; };
    struct Face {
        int   corners[4];
        float tTop, tBottom;   // texel rows for the top and the bottom of the face
    };
    const Face faces[6] = {
        { { 4, 5, 6, 7 }, r.t0 + 2.0f,  r.t0 + 14.0f },   // top
        { { 0, 1, 2, 3 }, r.t1 - 10.0f, r.t1 - 2.0f },    // sole
        { { 0, 1, 5, 4 }, r.t0 + 18.0f, r.t0 + 50.0f },   // right side
        { { 3, 2, 6, 7 }, r.t0 + 18.0f, r.t0 + 50.0f },   // left side
        { { 1, 2, 6, 5 }, r.t0 + 18.0f, r.t0 + 50.0f },   // toe
        { { 0, 3, 7, 4 }, r.t0 + 18.0f, r.t0 + 50.0f },   // heel
    };
    for (const Face& face : faces) {
        Float3 centre;
        for (int i = 0; i < 4; ++i)
            add(centre, p[face.corners[i]], centre);
        scaled(centre, 0.25f, centre);
        Float3 e1, e2, n;
        subtract(p[face.corners[1]], p[face.corners[0]], e1);
        subtract(p[face.corners[2]], p[face.corners[0]], e2);
        cross(e1, e2, n);
        Float3 toCentre;
        subtract(centre, Float3(2.0f, y, 2.0f), toCentre);
        if (dot(n, toCentre) < 0.0f)
            negateInPlace(n);
        normalizeInPlace(n);
        const int normal = b.normal(n, bone);
        // Top and sole run across the width, the sides up the height.
        const bool across = face.corners[0] == 4 || face.corners[2] == 2;
        std::vector<Corner> corners;
        for (int i = 0; i < 4; ++i) {
            const Float3& q = p[face.corners[i]];
            const float k = across ? (q.y - (y - halfWidth)) / (2.0f * halfWidth) : 1.0f - q.z / 4.8f;
            corners.push_back({ v[face.corners[i]], normal, sOf(q), face.tTop + (face.tBottom - face.tTop) * k, q, n });
        }
        b.fan(corners);
    }
}

// A flat ring (hat brim) at height z, seen from above (up) or below.
void annulus(MeshBuilder& b, int bone, float z, float inner, float outer, int sides, bool up, const Rect& rect,
             float t0, float t1)
{
    b.beginMesh();
    const Float3 dir(0.0f, 0.0f, up ? 1.0f : -1.0f);
    Ring in, out;
    for (int j = 0; j < sides; ++j) {
        const float a = -PI + 2.0f * PI * static_cast<float>(j) / static_cast<float>(sides);
        const Float3 pi(0.5f + inner * std::cos(a), inner * std::sin(a), z);
        const Float3 po(0.5f + outer * std::cos(a), outer * std::sin(a), z);
        const int n = b.normal(dir, bone);
        in.vertices.push_back(b.vertex(pi, bone));
        in.normals.push_back(n);
        in.positions.push_back(pi);
        in.directions.push_back(dir);
        out.vertices.push_back(b.vertex(po, bone));
        out.normals.push_back(n);
        out.positions.push_back(po);
        out.directions.push_back(dir);
    }
    bandStrip(b, in, out, rect, t0, t1);
}

void buildBody(StudioSubModelDesc& sub)
{
    sub.name = "ovrin_body";
    MeshBuilder b(sub);
    // Torso.
    limb(b, PELVIS, 0.0f, 0.0f, 42.5f, 33.0f, 5.0f, 6.6f, 5.2f, 7.6f, 10, SKIN_PELVIS, false, true);
    limb(b, SPINE, 0.0f, 0.0f, 51.5f, 41.0f, 4.4f, 6.8f, 4.6f, 6.5f, 10, SKIN_ABDOMEN, false, false);
    limb(b, CHEST, 0.2f, 0.0f, 63.0f, 50.0f, 4.6f, 9.2f, 5.0f, 7.2f, 10, SKIN_CHEST, true, false);
    limb(b, NECK, 0.3f, 0.0f, 67.0f, 61.5f, 2.3f, 2.3f, 2.6f, 2.6f, 6, SKIN_NECK, false, false);
    // Arms.
    for (int side = 0; side < 2; ++side) {
        const float y = side == 0 ? 9.8f : -9.8f;
        const int base = side == 0 ? L_UPPERARM : R_UPPERARM;
        limb(b, base, 0.0f, y, 63.5f, 48.5f, 2.3f, 2.4f, 1.9f, 1.9f, 8, SKIN_UPPERARM, true, false);
        limb(b, base + 1, 0.0f, y, 49.5f, 37.5f, 1.9f, 1.9f, 1.5f, 1.5f, 8, SKIN_FOREARM, false, false);
        limb(b, base + 2, 0.3f, y, 38.5f, 31.5f, 1.5f, 1.1f, 1.3f, 0.8f, 6, SKIN_HAND, false, true);
    }
    // Legs.
    for (int side = 0; side < 2; ++side) {
        const float y = side == 0 ? 4.5f : -4.5f;
        const int thigh = side == 0 ? L_THIGH : R_THIGH;
        limb(b, thigh, 0.0f, y, 38.0f, 18.0f, 3.8f, 3.5f, 2.8f, 2.7f, 8, SKIN_THIGH, false, false);
        limb(b, thigh + 1, 0.0f, y, 20.0f, 2.5f, 2.8f, 2.7f, 2.0f, 2.0f, 8, SKIN_SHIN, false, false);
        foot(b, thigh + 2, y);
    }
    b.finish();
}

constexpr Float3 HEAD_CENTRE(0.6f, 0.0f, 71.5f);
constexpr Float3 HEAD_RADII(5.2f, 4.6f, 6.2f);

void buildHead(StudioSubModelDesc& sub, bool hat)
{
    sub.name = hat ? "ovrin_head_hat" : "ovrin_head";
    MeshBuilder b(sub);
    ellipsoid(b, HEAD, HEAD_CENTRE, HEAD_RADII, 8, 16, SKIN_HEAD);
    if (hat) {
        limb(b, HEAD, 0.3f, 0.0f, 79.9f, 74.9f, 4.2f, 4.0f, 5.0f, 4.6f, 12, SKIN_HAT, true, false);
        const Rect brim = SKIN_HAT;
        annulus(b, HEAD, 75.1f, 4.0f, 8.0f, 12, true, brim, brim.t1 - 14.0f, brim.t1 - 2.0f);
        annulus(b, HEAD, 74.9f, 4.0f, 8.0f, 12, false, brim, brim.t1 - 14.0f, brim.t1 - 2.0f);
    }
    b.finish();
}

// --- Poses -----------------------------------------------------------------------
// A pose gives every bone's rotation (radians about x, y, z, applied x first)
// relative to its rest frame, and the pelvis offset from its rest position.
// Signs at rest: y rotation of a leg or arm by a < 0 swings it forward; x
// rotation of the left arm by a > 0 lifts it sideways (the right arm by a < 0);
// z rotation turns to the character's left.

struct Pose {
    Float3 rotation[OVRIN_BONES];
    Float3 pelvis;
};

float smoothstep(float x)
{
    x = std::min(1.0f, std::max(0.0f, x));
    return x * x * (3.0f - 2.0f * x);
}

// Arms hanging relaxed, slightly away from the body, elbows a little bent.
void relaxedArms(Pose& p)
{
    p.rotation[L_UPPERARM].x = 0.12f;
    p.rotation[R_UPPERARM].x = -0.12f;
    p.rotation[L_FOREARM].y = -0.15f;
    p.rotation[R_FOREARM].y = -0.15f;
}

// Knee bend that puts the ankle straight below the hip at distance `drop`:
// thigh forward by alpha, shin back by beta, foot kept level.
void legDrop(Pose& p, int thigh, float drop)
{
    drop = std::min(drop, HIP_TO_ANKLE);
    float lo = 0.0f, hi = 1.5f;
    for (int i = 0; i < 40; ++i) {
        const float alpha = 0.5f * (lo + hi);
        const float beta = std::asin(std::min(1.0f, THIGH_LENGTH * std::sin(alpha) / SHIN_LENGTH));
        if (THIGH_LENGTH * std::cos(alpha) + SHIN_LENGTH * std::cos(beta) > drop)
            lo = alpha;
        else
            hi = alpha;
    }
    const float alpha = 0.5f * (lo + hi);
    const float beta = std::asin(std::min(1.0f, THIGH_LENGTH * std::sin(alpha) / SHIN_LENGTH));
    p.rotation[thigh].y += -alpha;
    p.rotation[thigh + 1].y += alpha + beta;
    p.rotation[thigh + 2].y += -beta;
}

// Vertical hip-to-ankle distance of a leg swung by `thigh` with knee `knee`.
float legReach(float thigh, float knee)
{
    return THIGH_LENGTH * std::cos(thigh) + SHIN_LENGTH * std::cos(thigh + knee);
}

// t: 0..1 through the sequence (loops: one period).
Pose idlePose(float t)
{
    Pose p;
    const float phase = 2.0f * PI * t;
    relaxedArms(p);
    p.rotation[L_UPPERARM].x += 0.03f * std::sin(phase);
    p.rotation[R_UPPERARM].x -= 0.03f * std::sin(phase);
    p.rotation[CHEST].y = -0.025f * std::sin(phase);
    p.rotation[HEAD].z = 0.12f * std::sin(phase);
    p.rotation[HEAD].y = 0.04f * std::sin(2.0f * phase);
    p.rotation[L_THIGH].x = 0.04f;
    p.rotation[L_FOOT].x = -0.04f;
    p.rotation[R_THIGH].x = -0.04f;
    p.rotation[R_FOOT].x = 0.04f;
    const float dip = 0.5f + 0.4f * std::sin(phase);
    legDrop(p, L_THIGH, HIP_TO_ANKLE - dip);
    legDrop(p, R_THIGH, HIP_TO_ANKLE - dip);
    p.pelvis.z = -dip;
    return p;
}

Pose walkPose(float t)
{
    Pose p;
    const float phase = 2.0f * PI * t;
    float reach = 0.0f;
    for (int side = 0; side < 2; ++side) {
        const float ph = side == 0 ? phase : phase + PI;
        const int thigh = side == 0 ? L_THIGH : R_THIGH;
        const float swing = -0.55f * std::sin(ph);
        const float lift = std::max(0.0f, std::cos(ph + 0.3f));
        const float knee = 0.12f + 0.9f * lift * lift;
        p.rotation[thigh].y = swing;
        p.rotation[thigh + 1].y = knee;
        p.rotation[thigh + 2].y = -(swing + knee) * 0.85f;
        reach = std::max(reach, legReach(swing, knee));
    }
    p.pelvis.z = reach - HIP_TO_ANKLE;
    p.rotation[L_UPPERARM].y = 0.45f * std::sin(phase);
    p.rotation[R_UPPERARM].y = -0.45f * std::sin(phase);
    p.rotation[L_UPPERARM].x = 0.1f;
    p.rotation[R_UPPERARM].x = -0.1f;
    p.rotation[L_FOREARM].y = -0.35f - 0.2f * std::max(0.0f, -std::sin(phase));
    p.rotation[R_FOREARM].y = -0.35f - 0.2f * std::max(0.0f, std::sin(phase));
    p.rotation[PELVIS].z = -0.12f * std::sin(phase);
    p.rotation[SPINE].z = 0.1f * std::sin(phase);
    p.rotation[SPINE].y = 0.07f;
    p.rotation[CHEST].z = 0.1f * std::sin(phase);
    p.rotation[HEAD].z = -0.08f * std::sin(phase);
    p.rotation[HEAD].y = -0.05f;
    return p;
}

// depth 0..1: how far down the crouch is.
Pose crouchPose(float depth)
{
    Pose p;
    relaxedArms(p);
    legDrop(p, L_THIGH, HIP_TO_ANKLE - 11.0f * depth);
    legDrop(p, R_THIGH, HIP_TO_ANKLE - 11.0f * depth);
    p.pelvis.z = -11.0f * depth;
    p.pelvis.x = -2.5f * depth;
    p.rotation[SPINE].y = 0.35f * depth;
    p.rotation[CHEST].y = 0.15f * depth;
    p.rotation[HEAD].y = -0.35f * depth;
    p.rotation[L_UPPERARM].y = 0.75f * depth;
    p.rotation[R_UPPERARM].y = 0.75f * depth;
    p.rotation[L_FOREARM].y -= 0.25f * depth;
    p.rotation[R_FOREARM].y -= 0.25f * depth;
    return p;
}

Pose crouchSequencePose(float t)
{
    return crouchPose(smoothstep(t * 1.3f));
}

Pose takeOffPose(float t)
{
    const float e = smoothstep(t * 1.4f);
    Pose p = crouchPose(1.0f - e);
    p.pelvis.z += 2.5f * e;
    p.rotation[L_FOOT].y += 0.55f * e;
    p.rotation[R_FOOT].y += 0.55f * e;
    p.rotation[L_UPPERARM].y = 0.75f - 3.4f * e;
    p.rotation[R_UPPERARM].y = 0.75f - 3.4f * e;
    p.rotation[L_UPPERARM].x = 0.12f + 0.25f * e;
    p.rotation[R_UPPERARM].x = -0.12f - 0.25f * e;
    p.rotation[SPINE].y = 0.35f * (1.0f - e) - 0.08f * e;
    p.rotation[HEAD].y = -0.35f * (1.0f - e) - 0.1f * e;
    return p;
}

Pose inAirPose(float t)
{
    Pose p;
    const float phase = 2.0f * PI * t;
    for (int side = 0; side < 2; ++side) {
        const int thigh = side == 0 ? L_THIGH : R_THIGH;
        const float wobble = std::sin(phase + (side == 0 ? 0.0f : 1.3f));
        p.rotation[thigh].y = -1.0f + 0.1f * wobble;
        p.rotation[thigh + 1].y = 1.5f + 0.12f * wobble;
        p.rotation[thigh + 2].y = -0.3f;
    }
    p.rotation[L_UPPERARM].x = 1.25f + 0.15f * std::sin(phase);
    p.rotation[R_UPPERARM].x = -1.25f - 0.15f * std::sin(phase);
    p.rotation[L_FOREARM].y = -0.5f;
    p.rotation[R_FOREARM].y = -0.5f;
    p.rotation[SPINE].y = 0.15f;
    p.rotation[HEAD].y = -0.12f;
    return p;
}

// 0 at both ends, 1 in the middle: for motions that start and end standing.
float envelope(float t)
{
    return smoothstep(t * 4.0f) * smoothstep((1.0f - t) * 4.0f);
}

Pose wavePose(float t)
{
    Pose p = idlePose(0.0f);
    const float e = envelope(t);
    p.rotation[R_UPPERARM].x = -0.12f - 2.5f * e;
    p.rotation[R_UPPERARM].y = -0.3f * e;
    p.rotation[R_FOREARM].x = e * (-0.6f + 0.45f * std::sin(2.0f * PI * 3.0f * t));
    p.rotation[R_FOREARM].y = -0.15f * (1.0f - e);
    p.rotation[HEAD].z = -0.25f * e;
    p.rotation[HEAD].x = -0.1f * e;
    return p;
}

Pose lookAroundPose(float t)
{
    Pose p = idlePose(0.0f);
    const float phase = 2.0f * PI * t;
    p.rotation[HEAD].z = 0.85f * std::sin(phase);
    p.rotation[HEAD].y = 0.12f * std::sin(2.0f * phase);
    p.rotation[CHEST].z = 0.2f * std::sin(phase);
    p.rotation[SPINE].z = 0.1f * std::sin(phase);
    p.pelvis.y = 0.8f * std::sin(phase);
    p.rotation[L_UPPERARM].y = 0.25f;
    p.rotation[R_UPPERARM].y = 0.25f;
    p.rotation[L_FOREARM].y = -0.6f;
    p.rotation[R_FOREARM].y = -0.6f;
    return p;
}

Pose bowPose(float t)
{
    Pose p = idlePose(0.0f);
    const float e = envelope(t);
    p.rotation[SPINE].y = 0.45f * e;
    p.rotation[CHEST].y = 0.35f * e;
    p.rotation[HEAD].y = 0.2f * e;
    p.rotation[L_UPPERARM].y = -0.8f * e;
    p.rotation[R_UPPERARM].y = -0.8f * e;
    p.pelvis.x = -2.0f * e;
    return p;
}

// --- Sequences -------------------------------------------------------------------

struct SequenceDef {
    const char* name;
    float       fps;
    int         frames;
    bool        loops;
    Pose      (*pose)(float t);
};

// Frames run 1 .. n-1 when played (frame 0 only for one-frame sequences), so a
// loop's period is n - 2 frames and frame n - 1 equals frame 1.
constexpr SequenceDef SEQUENCE_DEFS[OVRIN_SEQUENCES] = {
    { "idle",        15.0f, 34, true,  idlePose },             // 0
    { "walk",        30.0f, 26, true,  walkPose },             // 1
    { "crouch",      30.0f, 10, false, crouchSequencePose },   // 2
    { "take_off",    30.0f, 10, false, takeOffPose },          // 3
    { "in_air",      12.0f, 14, true,  inAirPose },            // 4
    { "wave",        20.0f, 32, false, wavePose },             // 5
    { "look_around", 15.0f, 50, true,  lookAroundPose },       // 6
    { "bow",         20.0f, 26, false, bowPose },              // 7
};

int16_t quantise(float value, float scale)
{
    const long q = std::lround(value / scale);
    return static_cast<int16_t>(std::max(-32767L, std::min(32767L, q)));
}

StudioSequenceDesc buildSequence(const SequenceDef& def)
{
    StudioSequenceDesc seq;
    seq.name = def.name;
    seq.fps = def.fps;
    seq.frameCount = def.frames;
    StudioAnimBlock block;
    block.bones.assign(OVRIN_BONES, std::vector<StudioChannelFrames>(6));
    const int period = def.frames - 2;
    for (int f = 0; f < def.frames; ++f) {
        float t = static_cast<float>(f - 1) / static_cast<float>(period);
        if (!def.loops)
            t = std::min(1.0f, std::max(0.0f, t));
        const Pose pose = def.pose(t);
        for (int b = 0; b < OVRIN_BONES; ++b) {
            for (int c = 0; c < 3; ++c)
                block.bones[b][3 + c].push_back(quantise(pose.rotation[b][c], ROTATION_SCALE));
        }
        for (int c = 0; c < 3; ++c)
            block.bones[PELVIS][c].push_back(quantise(pose.pelvis[c], POSITION_SCALE));
    }
    // Channels that never leave the base value are not stored.
    for (auto& bone : block.bones)
        for (StudioChannelFrames& channel : bone)
            if (std::all_of(channel.begin(), channel.end(), [](int16_t v) { return v == 0; }))
                channel.clear();
    seq.blocks.push_back(block);
    return seq;
}

class BoundsSink final : public StudioDrawSink {
public:
    Float3 mins, maxs;
    BoundsSink() { resetBounds(mins, maxs); }
    void bindTexture(uint32_t) override {}
    void begin(bool) override {}
    void vertex(float, float, const Float3&, const Float3& position) override { growBounds(position, mins, maxs); }
    void end() override {}
};

// Poses every frame of every sequence through the loader and the skinning, and
// stores each sequence's box.
void measureBoxes(StudioModelDesc& desc)
{
    StudioMemoryFiles memory;
    memory.addModel("ovrin.mdl", writeStudioModel(desc));
    StudioModel model;
    model.fileSource = memory.source();
    if (!model.open("ovrin.mdl", 0))
        return;
    for (size_t s = 0; s < desc.sequences.size(); ++s) {
        BoundsSink sink;
        for (int f = 0; f < desc.sequences[s].frameCount; ++f) {
            model.selectSequence(static_cast<int>(s));
            model.frame = static_cast<float>(f);
            model.render(sink);
        }
        desc.sequences[s].boxMin = sink.mins;
        desc.sequences[s].boxMax = sink.maxs;
    }
}

// --- Skin painting -----------------------------------------------------------------

struct Rgb {
    int r, g, b;
};

class Painter {
public:
    std::vector<uint8_t> pixels = std::vector<uint8_t>(OVRIN_SKIN_SIZE * OVRIN_SKIN_SIZE * 3, 0);

    void set(int x, int y, Rgb c)
    {
        if (x < 0 || y < 0 || x >= OVRIN_SKIN_SIZE || y >= OVRIN_SKIN_SIZE)
            return;
        const int n = noise(x, y);
        uint8_t* p = &pixels[(static_cast<size_t>(y) * OVRIN_SKIN_SIZE + x) * 3];
        p[0] = clamp(c.r + n);
        p[1] = clamp(c.g + n);
        p[2] = clamp(c.b + n);
    }

    void fill(const Rect& r, Rgb c)
    {
        for (int y = static_cast<int>(r.t0); y < static_cast<int>(r.t1); ++y)
            for (int x = static_cast<int>(r.s0); x < static_cast<int>(r.s1); ++x)
                set(x, y, c);
    }

    void box(int x0, int y0, int x1, int y1, Rgb c)
    {
        fill({ static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1), static_cast<float>(y1) }, c);
    }

    // Darkens towards the back of a wrapped part (s at the rect's edges).
    void shadeBack(const Rect& r, float amount)
    {
        for (int y = static_cast<int>(r.t0); y < static_cast<int>(r.t1); ++y)
            for (int x = static_cast<int>(r.s0); x < static_cast<int>(r.s1); ++x) {
                const float u = (static_cast<float>(x) + 0.5f - r.s0) / (r.s1 - r.s0);
                const float k = 1.0f - amount * std::fabs(u - 0.5f);
                uint8_t* p = &pixels[(static_cast<size_t>(y) * OVRIN_SKIN_SIZE + x) * 3];
                for (int c = 0; c < 3; ++c)
                    p[c] = clamp(static_cast<int>(static_cast<float>(p[c]) * k));
            }
    }

private:
    static uint8_t clamp(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }
    static int noise(int x, int y)
    {
        uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
        h = (h ^ (h >> 13)) * 1274126177u;
        return static_cast<int>((h >> 16) % 9) - 4;
    }
};

constexpr Rgb SKIN_TONE  = { 226, 176, 142 };
constexpr Rgb HAIR       = {  74,  46,  30 };
constexpr Rgb SHIRT      = {  38, 146, 158 };
constexpr Rgb SHIRT_DARK = {  24, 100, 110 };
constexpr Rgb TROUSERS   = {  48,  58, 104 };
constexpr Rgb BELT       = { 104,  66,  34 };
constexpr Rgb GOLD       = { 236, 196,  70 };
constexpr Rgb BOOT       = { 112,  70,  38 };
constexpr Rgb SOLE       = {  40,  30,  24 };
constexpr Rgb HAT_RED    = { 186,  44,  44 };

void paintHead(Painter& p)
{
    const Rect& r = SKIN_HEAD;
    p.fill(r, SKIN_TONE);
    // Hair: low at the back, a fringe line at the front.
    for (int x = 0; x < 128; ++x) {
        const float away = std::fabs(static_cast<float>(x) + 0.5f - 64.0f) / 64.0f;   // 0 front, 1 back
        const int line = static_cast<int>(17.0f + 30.0f * std::pow(away, 1.6f));
        for (int y = 0; y < line; ++y)
            p.set(x, y, HAIR);
    }
    // Eyes (white, iris, pupil), brows, nose shade, mouth, cheeks.
    for (int side = -1; side <= 1; side += 2) {
        const int cx = 64 + side * 7;
        p.box(cx - 2, 28, cx + 3, 32, { 245, 245, 240 });
        p.box(cx - 1, 28, cx + 2, 32, { 60, 110, 160 });
        p.box(cx, 29, cx + 1, 31, { 15, 15, 20 });
        p.box(cx - 3, 25, cx + 4, 27, HAIR);
        p.box(cx - 3, 35, cx + 3, 37, { 236, 150, 140 });
    }
    p.box(63, 30, 66, 37, { 200, 150, 120 });
    p.box(59, 40, 70, 42, { 160, 60, 62 });
    p.box(61, 42, 68, 43, { 190, 110, 100 });
}

void paintClothes(Painter& p)
{
    // Shirt with a collar, a golden diamond on the chest and a hem.
    p.fill(SKIN_CHEST, SHIRT);
    p.box(0, 64, 128, 68, SHIRT_DARK);
    for (int y = 70; y < 96; ++y)
        for (int x = 50; x < 78; ++x)
            if (std::abs(x - 64) + std::abs(y - 82) <= 10)
                p.set(x, y, std::abs(x - 64) + std::abs(y - 82) <= 6 ? Rgb{ 250, 230, 130 } : GOLD);
    p.shadeBack(SKIN_CHEST, 0.35f);
    p.fill(SKIN_ABDOMEN, SHIRT);
    p.box(0, 122, 128, 128, SHIRT_DARK);
    p.shadeBack(SKIN_ABDOMEN, 0.35f);
    p.fill(SKIN_SLEEVE_CAP, SHIRT);

    // Trousers with a belt and buckle.
    p.fill(SKIN_PELVIS, TROUSERS);
    p.box(128, 64, 256, 71, BELT);
    p.box(187, 64, 197, 71, GOLD);
    p.box(190, 66, 194, 69, BELT);
    p.shadeBack(SKIN_PELVIS, 0.3f);

    // Sleeves, bare forearms, hands and neck.
    p.fill(SKIN_UPPERARM, SHIRT);
    p.box(128, 27, 192, 32, SHIRT_DARK);
    p.shadeBack(SKIN_UPPERARM, 0.3f);
    p.fill(SKIN_FOREARM, SKIN_TONE);
    p.shadeBack(SKIN_FOREARM, 0.2f);
    p.fill(SKIN_HAND, { 214, 164, 130 });
    p.fill(SKIN_NECK, { 210, 160, 128 });

    // Legs: seams at the sides, knee patches, darker cuffs.
    p.fill(SKIN_THIGH, TROUSERS);
    p.fill(SKIN_SHIN, TROUSERS);
    for (int y = 128; y < 224; ++y) {
        p.set(32, y, { 30, 36, 70 });
        p.set(96, y, { 30, 36, 70 });
    }
    p.box(54, 176, 74, 188, { 60, 72, 124 });
    p.box(0, 216, 128, 224, { 34, 40, 76 });
    p.shadeBack(SKIN_THIGH, 0.3f);
    p.shadeBack(SKIN_SHIN, 0.3f);

    // Boots: upper, laces across the top, dark sole.
    p.fill(SKIN_FOOT, BOOT);
    for (int x = 150; x < 200; x += 6)
        p.box(x, 134, x + 3, 140, { 220, 200, 160 });
    p.box(128, 168, 256, 180, { 86, 52, 28 });
    p.box(128, 180, 256, 192, SOLE);

    // Hat: red crown with a band, brim underneath.
    p.fill(SKIN_HAT, HAT_RED);
    p.box(128, 226, 256, 234, { 40, 40, 46 });
    p.box(128, 240, 256, 256, { 150, 34, 34 });
}

} // namespace

StudioModelDesc buildOvrinModel()
{
    StudioModelDesc desc;
    for (int b = 0; b < OVRIN_BONES; ++b) {
        StudioBoneDesc bone;
        bone.name = BONE_DEFS[b].name;
        bone.parent = BONE_DEFS[b].parent;
        for (int c = 0; c < 3; ++c) {
            bone.values[c] = BONE_DEFS[b].offset[c];
            bone.scales[c] = POSITION_SCALE;
            bone.scales[3 + c] = ROTATION_SCALE;
        }
        desc.bones.push_back(bone);
    }
    // Controller 0 turns the head about the vertical axis.
    StudioControllerDesc headTurn;
    headTurn.bone = HEAD;
    headTurn.type = studio::CHANNEL_ZR;
    headTurn.start = -60.0f;
    headTurn.end = 60.0f;
    headTurn.channel = 0;
    desc.controllers.push_back(headTurn);
    desc.bones[HEAD].controllers[5] = 0;

    for (const SequenceDef& def : SEQUENCE_DEFS)
        desc.sequences.push_back(buildSequence(def));

    StudioBodyPartDesc body;
    body.name = "body";
    body.base = 1;
    body.subModels.resize(1);
    buildBody(body.subModels[0]);
    StudioBodyPartDesc head;
    head.name = "head";
    head.base = 1;
    head.subModels.resize(2);
    buildHead(head.subModels[0], false);
    buildHead(head.subModels[1], true);
    desc.bodyParts.push_back(body);
    desc.bodyParts.push_back(head);

    // One texture record: the program draws with the PNG skin; the record
    // gives the texel scale and carries a 3-3-2 palette copy of the skin.
    StudioTextureDesc texture;
    texture.name = "ovrin_tex.bmp";
    texture.width = OVRIN_SKIN_SIZE;
    texture.height = OVRIN_SKIN_SIZE;
    const std::vector<uint8_t> rgb = buildOvrinSkin();
    for (size_t i = 0; i < rgb.size(); i += 3)
        texture.pixels.push_back(static_cast<uint8_t>((rgb[i] & 0xe0) | ((rgb[i + 1] >> 3) & 0x1c) | (rgb[i + 2] >> 6)));
    for (int i = 0; i < 256; ++i) {
        texture.palette.push_back(static_cast<uint8_t>((i & 0xe0) * 255 / 0xe0));
        texture.palette.push_back(static_cast<uint8_t>(((i & 0x1c) << 3) * 255 / 0xe0));
        texture.palette.push_back(static_cast<uint8_t>((i & 0x03) * 85));
    }
    desc.textures.push_back(texture);
    desc.skinRefs = 1;
    desc.skinFamilies = { { 0 } };

    measureBoxes(desc);
    return desc;
}

std::vector<uint8_t> buildOvrinSkin()
{
    Painter p;
    paintHead(p);
    paintClothes(p);
    return p.pixels;
}
