// tests/StudioFixtures.h: small studio models for the model tests, built with
// the model writer, and a sink that records what drawing sends.
#pragma once

#include "model/hl.h"
#include "model/hlWrite.h"

#include <cstring>
#include <string>
#include <vector>

// Two bones (a root and one child 10 units along x), one rotation controller
// on the child's z rotation (channel 0, range 0..90 degrees), `sequences`
// sequences of `frames` frames at `fps`, each with the root's x position and
// z rotation animated, one body part with one sub-model whose single mesh
// holds a fan of 3 and a strip of 5 vertices, one 64x32 texture.
inline StudioModelDesc tinyModelDesc(int sequences = 1, int frames = 10, float fps = 10.0f)
{
    StudioModelDesc desc;
    StudioBoneDesc root;
    root.name = "root";
    StudioBoneDesc child;
    child.name = "child";
    child.parent = 0;
    child.values[0] = 10.0f;
    child.controllers[5] = 0;
    for (int c = 3; c < 6; ++c) {
        root.scales[c] = 0.01f;
        child.scales[c] = 0.01f;
    }
    desc.bones = { root, child };

    StudioControllerDesc controller;
    controller.bone = 1;
    controller.type = studio::CHANNEL_ZR;
    controller.start = 0.0f;
    controller.end = 90.0f;
    controller.channel = 0;
    desc.controllers = { controller };

    for (int s = 0; s < sequences; ++s) {
        StudioSequenceDesc seq;
        seq.name = "seq" + std::to_string(s);
        seq.fps = fps;
        seq.frameCount = frames;
        seq.boxMin = Float3(-1.0f, -2.0f, -3.0f);
        seq.boxMax = Float3(4.0f, 5.0f, 6.0f);
        StudioAnimBlock block;
        block.bones.assign(2, std::vector<StudioChannelFrames>(6));
        for (int f = 0; f < frames; ++f) {
            block.bones[0][0].push_back(static_cast<int16_t>(f * 2));          // x: 2 units per frame
            block.bones[0][5].push_back(static_cast<int16_t>(f * 10 + s));     // zr: 0.1 rad per frame
        }
        seq.blocks.push_back(block);
        desc.sequences.push_back(seq);
    }

    StudioSubModelDesc sub;
    sub.name = "sub";
    for (int i = 0; i < 5; ++i) {
        StudioVertexDesc v;
        v.position = Float3(static_cast<float>(i), 1.0f, 0.0f);
        v.bone = i < 3 ? 0 : 1;
        sub.vertices.push_back(v);
        StudioVertexDesc n;
        n.position = Float3(0.0f, 0.0f, 2.0f);
        n.bone = v.bone;
        sub.normals.push_back(n);
    }
    StudioMeshDesc mesh;
    appendCommand(mesh.commands, true, { 0, 0, 0, 0, 1, 1, 64, 0, 2, 2, 0, 32 });
    appendCommand(mesh.commands, false, { 0, 0, 0, 0, 1, 1, 8, 8, 2, 2, 16, 16, 3, 3, 32, 16, 4, 4, 64, 32 });
    endCommands(mesh.commands);
    sub.meshes.push_back(mesh);
    StudioBodyPartDesc part;
    part.name = "part";
    part.subModels.push_back(sub);
    desc.bodyParts.push_back(part);

    StudioTextureDesc texture;
    texture.name = "tex";
    texture.width = 64;
    texture.height = 32;
    texture.pixels.assign(64 * 32, 1);
    desc.textures.push_back(texture);
    desc.skinRefs = 1;
    desc.skinFamilies = { { 0 } };
    return desc;
}

// Opens `files` (served from memory as "m/model.mdl" and its companions).
struct LoadedStudio {
    StudioMemoryFiles memory;
    StudioModel       model;
    int               opened = 0;

    explicit LoadedStudio(const StudioFiles& files, uint32_t texture = 7)
    {
        memory.addModel("m/model.mdl", files);
        model.fileSource = memory.source();
        opened = model.open("m/model.mdl", texture);
    }
    explicit LoadedStudio(const std::vector<uint8_t>& mainFile, uint32_t texture = 7)
    {
        memory.add("m/model.mdl", mainFile);
        model.fileSource = memory.source();
        opened = model.open("m/model.mdl", texture);
    }
};

// Records every call drawing makes.
class RecordingSink final : public StudioDrawSink {
public:
    struct Vertex {
        float  s, t;
        Float3 normal, position;
    };
    struct Primitive {
        bool                fan;
        std::vector<Vertex> vertices;
    };
    std::vector<uint32_t>  textures;
    std::vector<Primitive> primitives;
    int                    unbalanced = 0;   // begin/end pairing errors

    void bindTexture(uint32_t name) override { textures.push_back(name); }
    void begin(bool fan) override
    {
        if (open_)
            ++unbalanced;
        open_ = true;
        primitives.push_back({ fan, {} });
    }
    void vertex(float s, float t, const Float3& normal, const Float3& position) override
    {
        if (!open_)
            ++unbalanced;
        else
            primitives.back().vertices.push_back({ s, t, normal, position });
    }
    void end() override
    {
        if (!open_)
            ++unbalanced;
        open_ = false;
    }

private:
    bool open_ = false;
};

inline int32_t readInt32At(const std::vector<uint8_t>& bytes, size_t at)
{
    int32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

inline void writeInt32At(std::vector<uint8_t>& bytes, size_t at, int32_t v)
{
    std::memcpy(bytes.data() + at, &v, 4);
}
