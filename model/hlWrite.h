// model/hlWrite.h: writes studio model files from a plain description. Used by
// the character generator (tools/gencharacter.cpp) and by the tests to build
// their fixtures. Owns nothing beyond the returned byte vectors; no GL.
#pragma once

#include "math/Math.h"
#include "model/hl.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct StudioBoneDesc {
    std::string name;
    int         parent = -1;                          // -1 root; must precede its children
    int         controllers[6] = { -1, -1, -1, -1, -1, -1 };   // x, y, z, xr, yr, zr
    float       values[6] = {};                       // base position and rotation (radians)
    float       scales[6] = { 1, 1, 1, 1, 1, 1 };     // stored value multiplier
};

struct StudioControllerDesc {
    int   bone = 0;       // informational; the bone records name the controller
    int   type = 0;       // studio::CHANNEL_* | maybe studio::CONTROLLER_WRAPS
    float start = 0.0f;
    float end = 0.0f;
    int   channel = 0;    // 0-3, 4 the mouth
};

// Stored values of one channel, one per frame; empty = not animated.
using StudioChannelFrames = std::vector<int16_t>;

// One animation block: for each bone, six channels.
struct StudioAnimBlock {
    std::vector<std::vector<StudioChannelFrames>> bones;   // [bone][channel 0..5]
};

struct StudioSequenceDesc {
    std::string name;
    float       fps = 10.0f;
    int         frameCount = 1;
    int         flags = 0;                           // studio::SEQUENCE_LOOPING
    int         motionType = 0;
    int         motionBone = 0;
    Float3      boxMin;
    Float3      boxMax;
    int         group = 0;                           // 0: main file, g: group file g
    std::vector<StudioAnimBlock> blocks;             // 1, 2 or 4
};

struct StudioVertexDesc {
    Float3 position;     // in the bone's space
    int    bone = 0;
};

struct StudioMeshDesc {
    int                  skinRef = 0;
    std::vector<int16_t> commands;   // n, |n| x {vertex, normal, s, t}, ..., 0
};

struct StudioSubModelDesc {
    std::string                   name;
    std::vector<StudioVertexDesc> vertices;
    std::vector<StudioVertexDesc> normals;
    std::vector<StudioMeshDesc>   meshes;
};

struct StudioBodyPartDesc {
    std::string                     name;
    int                             base = 1;
    std::vector<StudioSubModelDesc> subModels;
};

struct StudioTextureDesc {
    std::string          name;
    int                  width = 0;
    int                  height = 0;
    std::vector<uint8_t> pixels;     // width * height palette indices
    std::vector<uint8_t> palette;    // 256 RGB triples
};

struct StudioModelDesc {
    std::vector<StudioBoneDesc>       bones;
    std::vector<StudioControllerDesc> controllers;
    std::vector<StudioSequenceDesc>   sequences;
    int                               groupCount = 1;   // group files 01 .. groupCount-1
    std::vector<StudioTextureDesc>    textures;
    int                               skinRefs = 0;
    std::vector<std::vector<int16_t>> skinFamilies;     // rows of skinRefs texture numbers
    std::vector<StudioBodyPartDesc>   bodyParts;
    bool                              separateTextureFile = false;   // texture count 0 in the main file
};

// The file images of one model: the main file, the texture file (empty unless
// separateTextureFile) and the group files (index g for group g; entry 0 empty).
struct StudioFiles {
    std::vector<uint8_t>              model;
    std::vector<uint8_t>              texture;
    std::vector<std::vector<uint8_t>> groups;
};

StudioFiles writeStudioModel(const StudioModelDesc& desc);

// Run-length codes one channel: runs {valid, total} of at most 255 frames, each
// storing values until a stretch of repeats, then covering the repeats. A
// final one-value run holding the last value follows, so interpolation past
// the last frame holds still.
std::vector<int16_t> encodeChannelRuns(const StudioChannelFrames& frames);

// Command helpers: append one strip (count > 0) or fan (count < 0) of
// {vertex, normal, s, t} quadruples, and the terminating 0.
void appendCommand(std::vector<int16_t>& commands, bool fan, const std::vector<int16_t>& quadruples);
void endCommands(std::vector<int16_t>& commands);

// --- Files in memory -------------------------------------------------------------

// Named file images served to StudioModel::fileSource instead of the disk.
struct StudioMemoryFiles {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;

    void add(const std::string& name, const std::vector<uint8_t>& bytes) { files.emplace_back(name, bytes); }
    void addModel(const std::string& path, const StudioFiles& model);   // main, "T" and group files
    StudioFileSource source() const;                                    // valid while this lives
};
