// model/hlWrite.cpp: studio model file writer (see hlWrite.h).
#include "model/hlWrite.h"

#include "base/Report.h"
#include "model/hl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace studio;

namespace {

constexpr int WRITTEN_HEADER_SIZE = 244;   // room for the fields we fill, plus the unread rest
constexpr int GROUP_HEADER_SIZE = 176;     // an "IDSQ" file: magic, name, then animation data

class ByteWriter {
public:
    std::vector<uint8_t> bytes;

    size_t size() const { return bytes.size(); }
    size_t reserve(size_t count)
    {
        const size_t at = bytes.size();
        bytes.resize(at + count, 0);
        return at;
    }
    void align(size_t to)
    {
        while (bytes.size() % to)
            bytes.push_back(0);
    }
    template <typename T> void put(size_t at, T value)
    {
        std::memcpy(bytes.data() + at, &value, sizeof value);
    }
    void putInt(size_t at, int32_t v) { put(at, v); }
    void putFloat(size_t at, float v) { put(at, v); }
    void putOffset(size_t at, size_t v) { put(at, static_cast<int32_t>(v)); }
    void putName(size_t at, const std::string& name, size_t room)
    {
        std::memcpy(bytes.data() + at, name.data(), name.size() < room - 1 ? name.size() : room - 1);
    }
    void appendShorts(const std::vector<int16_t>& values)
    {
        const size_t at = reserve(values.size() * 2);
        if (!values.empty())
            std::memcpy(bytes.data() + at, values.data(), values.size() * 2);
    }
};

void fail(const char* what)
{
    reportLine("studio writer: %s\n", what);
    std::abort();
}

// Writes the blocks of one sequence at the writer's end: the BoneAnimRecords of
// every block, then the run chains. Returns the offset of the first block.
size_t writeAnimation(ByteWriter& out, const StudioSequenceDesc& seq, size_t bones)
{
    out.align(4);
    const size_t first = out.reserve(seq.blocks.size() * bones * BONE_ANIM_SIZE);
    for (size_t b = 0; b < seq.blocks.size(); ++b) {
        const StudioAnimBlock& block = seq.blocks[b];
        for (size_t i = 0; i < bones && i < block.bones.size(); ++i) {
            const size_t record = first + (b * bones + i) * BONE_ANIM_SIZE;
            for (size_t c = 0; c < 6 && c < block.bones[i].size(); ++c) {
                const StudioChannelFrames& frames = block.bones[i][c];
                if (frames.empty())
                    continue;
                const size_t at = out.size();
                if (at - record > 0xffff)
                    fail("animation data too far from its bone record");
                out.put(record + 2 * c, static_cast<uint16_t>(at - record));
                out.appendShorts(encodeChannelRuns(frames));
            }
        }
    }
    return first;
}

void writeTextures(ByteWriter& out, const StudioModelDesc& desc, size_t header)
{
    out.align(4);
    const size_t records = out.reserve(desc.textures.size() * TEXTURE_SIZE);
    out.putInt(header + HEADER_TEXTURE_COUNT, static_cast<int32_t>(desc.textures.size()));
    out.putOffset(header + HEADER_TEXTURE_OFFSET, records);
    out.putInt(header + HEADER_SKIN_REF_COUNT, desc.skinRefs);
    out.putInt(header + HEADER_SKIN_FAMILY_COUNT, static_cast<int32_t>(desc.skinFamilies.size()));
    const size_t table = out.size();
    out.putOffset(header + HEADER_SKIN_OFFSET, table);
    for (const std::vector<int16_t>& row : desc.skinFamilies) {
        std::vector<int16_t> entries(static_cast<size_t>(desc.skinRefs), 0);
        for (size_t i = 0; i < entries.size() && i < row.size(); ++i)
            entries[i] = row[i];
        out.appendShorts(entries);
    }
    for (size_t i = 0; i < desc.textures.size(); ++i) {
        const StudioTextureDesc& texture = desc.textures[i];
        const size_t record = records + i * TEXTURE_SIZE;
        out.putName(record, texture.name, 64);
        out.putInt(record + TEXTURE_WIDTH, texture.width);
        out.putInt(record + TEXTURE_HEIGHT, texture.height);
        out.align(4);
        const size_t pixels = out.size();
        out.putOffset(record + TEXTURE_PIXELS, pixels);
        out.bytes.insert(out.bytes.end(), texture.pixels.begin(), texture.pixels.end());
        std::vector<uint8_t> palette = texture.palette;
        palette.resize(768, 0);
        out.bytes.insert(out.bytes.end(), palette.begin(), palette.end());
    }
}

size_t startFile(ByteWriter& out, const char* magic, size_t headerSize)
{
    const size_t header = out.reserve(headerSize);
    std::memcpy(out.bytes.data() + header, magic, 4);
    out.putInt(header + 4, 10);   // format version, not read
    return header;
}

} // namespace

std::vector<int16_t> encodeChannelRuns(const StudioChannelFrames& frames)
{
    std::vector<int16_t> items;
    const size_t n = frames.size();
    size_t i = 0;
    auto header = [](size_t valid, size_t total) {
        return static_cast<int16_t>(static_cast<uint16_t>(valid | (total << 8)));
    };
    while (i < n) {
        const size_t limit = n - i < 255 ? n - i : 255;
        // Stored values run until the first value that repeats; the run then
        // covers the repeats of that value.
        size_t valid = limit;
        size_t total = limit;
        for (size_t p = i; p + 1 < i + limit; ++p) {
            if (frames[p + 1] == frames[p]) {
                valid = p - i + 1;
                size_t q = p + 1;
                while (q + 1 < i + limit && frames[q + 1] == frames[p])
                    ++q;
                total = q - i + 1;
                break;
            }
        }
        items.push_back(header(valid, total));
        for (size_t k = 0; k < valid; ++k)
            items.push_back(frames[i + k]);
        i += total;
    }
    if (n > 0) {
        items.push_back(header(1, 1));
        items.push_back(frames[n - 1]);
    }
    return items;
}

void appendCommand(std::vector<int16_t>& commands, bool fan, const std::vector<int16_t>& quadruples)
{
    const int count = static_cast<int>(quadruples.size() / 4);
    commands.push_back(static_cast<int16_t>(fan ? -count : count));
    commands.insert(commands.end(), quadruples.begin(), quadruples.begin() + count * 4);
}

void endCommands(std::vector<int16_t>& commands)
{
    commands.push_back(0);
}

StudioFiles writeStudioModel(const StudioModelDesc& desc)
{
    ByteWriter out;
    const size_t header = startFile(out, "IDST", WRITTEN_HEADER_SIZE);
    out.putName(header + 8, "model", 64);
    const size_t bones = desc.bones.size();

    // Bones.
    const size_t boneRecords = out.reserve(bones * BONE_SIZE);
    out.putInt(header + HEADER_BONE_COUNT, static_cast<int32_t>(bones));
    out.putOffset(header + HEADER_BONE_OFFSET, boneRecords);
    for (size_t i = 0; i < bones; ++i) {
        const StudioBoneDesc& bone = desc.bones[i];
        const size_t at = boneRecords + i * BONE_SIZE;
        out.putName(at, bone.name, 32);
        out.putInt(at + BONE_PARENT, bone.parent);
        for (int c = 0; c < 6; ++c) {
            out.putInt(at + BONE_CONTROLLERS + 4 * c, bone.controllers[c]);
            out.putFloat(at + BONE_VALUES + 4 * c, bone.values[c]);
            out.putFloat(at + BONE_SCALES + 4 * c, bone.scales[c]);
        }
    }

    // Bone controllers.
    const size_t controllers = out.reserve(desc.controllers.size() * CONTROLLER_SIZE);
    out.putInt(header + HEADER_CONTROLLER_COUNT, static_cast<int32_t>(desc.controllers.size()));
    out.putOffset(header + HEADER_CONTROLLER_OFFSET, controllers);
    for (size_t j = 0; j < desc.controllers.size(); ++j) {
        const StudioControllerDesc& c = desc.controllers[j];
        const size_t at = controllers + j * CONTROLLER_SIZE;
        out.putInt(at, c.bone);
        out.putInt(at + CONTROLLER_TYPE, c.type);
        out.putFloat(at + CONTROLLER_START, c.start);
        out.putFloat(at + CONTROLLER_END, c.end);
        out.putInt(at + CONTROLLER_CHANNEL, c.channel);
    }

    // Sequences and groups; animation data is written further down.
    const size_t sequences = out.reserve(desc.sequences.size() * SEQUENCE_SIZE);
    out.putInt(header + HEADER_SEQUENCE_COUNT, static_cast<int32_t>(desc.sequences.size()));
    out.putOffset(header + HEADER_SEQUENCE_OFFSET, sequences);
    const size_t groupRecords = out.reserve(static_cast<size_t>(desc.groupCount) * GROUP_SIZE);
    out.putInt(header + HEADER_GROUP_COUNT, desc.groupCount);
    out.putOffset(header + HEADER_GROUP_OFFSET, groupRecords);
    for (int g = 0; g < desc.groupCount; ++g) {
        char label[32];
        std::snprintf(label, sizeof label, "group%02d", g);
        out.putName(groupRecords + static_cast<size_t>(g) * GROUP_SIZE, label, 32);
    }
    for (size_t s = 0; s < desc.sequences.size(); ++s) {
        const StudioSequenceDesc& seq = desc.sequences[s];
        const size_t at = sequences + s * SEQUENCE_SIZE;
        out.putName(at, seq.name, 32);
        out.putFloat(at + SEQUENCE_FPS, seq.fps);
        out.putInt(at + SEQUENCE_FRAME_COUNT, seq.frameCount);
        out.putInt(at + SEQUENCE_FLAGS, seq.flags);
        out.putInt(at + SEQUENCE_MOTION_TYPE, seq.motionType);
        out.putInt(at + SEQUENCE_MOTION_BONE, seq.motionBone);
        for (int a = 0; a < 3; ++a) {
            out.putFloat(at + SEQUENCE_BOX_MIN + 4 * a, seq.boxMin[a]);
            out.putFloat(at + SEQUENCE_BOX_MAX + 4 * a, seq.boxMax[a]);
        }
        out.putInt(at + SEQUENCE_BLEND_COUNT, static_cast<int32_t>(seq.blocks.size()));
        out.putInt(at + SEQUENCE_GROUP, seq.group);
    }

    // Textures and skin table, here or in the texture file.
    ByteWriter textureFile;
    if (desc.separateTextureFile) {
        const size_t textureHeader = startFile(textureFile, "IDST", WRITTEN_HEADER_SIZE);
        writeTextures(textureFile, desc, textureHeader);
        out.putInt(header + HEADER_TEXTURE_COUNT, 0);
    } else {
        writeTextures(out, desc, header);
    }

    // Body parts, sub-models, meshes, vertices, normals and commands.
    out.align(4);
    const size_t parts = out.reserve(desc.bodyParts.size() * BODY_PART_SIZE);
    out.putInt(header + HEADER_BODY_PART_COUNT, static_cast<int32_t>(desc.bodyParts.size()));
    out.putOffset(header + HEADER_BODY_PART_OFFSET, parts);
    for (size_t p = 0; p < desc.bodyParts.size(); ++p) {
        const StudioBodyPartDesc& part = desc.bodyParts[p];
        const size_t at = parts + p * BODY_PART_SIZE;
        out.putName(at, part.name, 64);
        out.putInt(at + BODY_PART_SUBMODEL_COUNT, static_cast<int32_t>(part.subModels.size()));
        out.putInt(at + BODY_PART_BASE, part.base);
        out.align(4);
        const size_t subs = out.reserve(part.subModels.size() * SUBMODEL_SIZE);
        out.putOffset(at + BODY_PART_SUBMODEL_OFFSET, subs);
        for (size_t m = 0; m < part.subModels.size(); ++m) {
            const StudioSubModelDesc& sub = part.subModels[m];
            const size_t sm = subs + m * SUBMODEL_SIZE;
            out.putName(sm, sub.name, 64);
            out.putInt(sm + SUBMODEL_MESH_COUNT, static_cast<int32_t>(sub.meshes.size()));
            out.putInt(sm + SUBMODEL_VERTEX_COUNT, static_cast<int32_t>(sub.vertices.size()));
            out.putInt(sm + SUBMODEL_NORMAL_COUNT, static_cast<int32_t>(sub.normals.size()));

            const size_t vertexBones = out.reserve(sub.vertices.size());
            for (size_t v = 0; v < sub.vertices.size(); ++v)
                out.bytes[vertexBones + v] = static_cast<uint8_t>(sub.vertices[v].bone);
            const size_t normalBones = out.reserve(sub.normals.size());
            for (size_t n = 0; n < sub.normals.size(); ++n)
                out.bytes[normalBones + n] = static_cast<uint8_t>(sub.normals[n].bone);
            out.align(4);
            const size_t vertices = out.reserve(sub.vertices.size() * 12);
            for (size_t v = 0; v < sub.vertices.size(); ++v)
                for (int a = 0; a < 3; ++a)
                    out.putFloat(vertices + 12 * v + 4 * a, sub.vertices[v].position[a]);
            const size_t normals = out.reserve(sub.normals.size() * 12);
            for (size_t n = 0; n < sub.normals.size(); ++n)
                for (int a = 0; a < 3; ++a)
                    out.putFloat(normals + 12 * n + 4 * a, sub.normals[n].position[a]);
            out.putOffset(sm + SUBMODEL_VERTEX_BONES, vertexBones);
            out.putOffset(sm + SUBMODEL_VERTICES, vertices);
            out.putOffset(sm + SUBMODEL_NORMAL_BONES, normalBones);
            out.putOffset(sm + SUBMODEL_NORMALS, normals);

            const size_t meshes = out.reserve(sub.meshes.size() * MESH_SIZE);
            out.putOffset(sm + SUBMODEL_MESH_OFFSET, meshes);
            for (size_t k = 0; k < sub.meshes.size(); ++k) {
                const StudioMeshDesc& mesh = sub.meshes[k];
                const size_t record = meshes + k * MESH_SIZE;
                int triangles = 0;
                for (size_t c = 0; c < mesh.commands.size();) {
                    const int count = mesh.commands[c] < 0 ? -mesh.commands[c] : mesh.commands[c];
                    if (count == 0)
                        break;
                    triangles += count - 2;
                    c += 1 + 4 * static_cast<size_t>(count);
                }
                out.putInt(record, triangles);
                out.putOffset(record + MESH_COMMAND_OFFSET, out.size());
                out.putInt(record + MESH_SKIN_REF, mesh.skinRef);
                out.putInt(record + 12, static_cast<int32_t>(sub.normals.size()));
                out.appendShorts(mesh.commands);
            }
            out.align(4);
        }
    }

    // Animation: group 0 follows in this file, counted from the group's data offset.
    out.align(4);
    const size_t groupData = out.size();
    out.putOffset(groupRecords + GROUP_DATA_OFFSET, groupData);
    StudioFiles files;
    std::vector<ByteWriter> groupFiles(static_cast<size_t>(desc.groupCount > 0 ? desc.groupCount : 0));
    for (size_t g = 1; g < groupFiles.size(); ++g) {
        startFile(groupFiles[g], "IDSQ", GROUP_HEADER_SIZE);
        char label[32];
        std::snprintf(label, sizeof label, "group%02d", static_cast<int>(g));
        groupFiles[g].putName(8, label, 64);
    }
    for (size_t s = 0; s < desc.sequences.size(); ++s) {
        const StudioSequenceDesc& seq = desc.sequences[s];
        const size_t at = sequences + s * SEQUENCE_SIZE;
        if (seq.group <= 0 || static_cast<size_t>(seq.group) >= groupFiles.size()) {
            const size_t block = writeAnimation(out, seq, bones);
            out.putOffset(at + SEQUENCE_ANIM_OFFSET, block - groupData);
        } else {
            const size_t block = writeAnimation(groupFiles[static_cast<size_t>(seq.group)], seq, bones);
            out.putOffset(at + SEQUENCE_ANIM_OFFSET, block);
        }
    }
    out.putInt(header + 72, static_cast<int32_t>(out.size()));   // file length, not read

    files.model = std::move(out.bytes);
    files.texture = std::move(textureFile.bytes);
    files.groups.resize(groupFiles.size());
    for (size_t g = 1; g < groupFiles.size(); ++g)
        files.groups[g] = std::move(groupFiles[g].bytes);
    return files;
}

// --- Files in memory -------------------------------------------------------------

namespace {

uint8_t* loadFromMemory(const char* path, size_t* size, void* context)
{
    *size = 0;
    const StudioMemoryFiles* memory = static_cast<const StudioMemoryFiles*>(context);
    for (const auto& file : memory->files) {
        if (file.first != path)
            continue;
        uint8_t* copy = static_cast<uint8_t*>(std::malloc(file.second.empty() ? 1 : file.second.size()));
        if (!copy)
            return nullptr;
        if (!file.second.empty())
            std::memcpy(copy, file.second.data(), file.second.size());
        *size = file.second.size();
        return copy;
    }
    return nullptr;
}

} // namespace

void StudioMemoryFiles::addModel(const std::string& path, const StudioFiles& model)
{
    add(path, model.model);
    char name[256];
    if (!model.texture.empty() && studioTextureFileName(path.c_str(), name, sizeof name))
        add(name, model.texture);
    for (size_t g = 1; g < model.groups.size(); ++g)
        if (studioGroupFileName(path.c_str(), static_cast<int>(g), name, sizeof name))
            add(name, model.groups[g]);
}

StudioFileSource StudioMemoryFiles::source() const
{
    StudioFileSource source;
    source.load = loadFromMemory;
    source.context = const_cast<StudioMemoryFiles*>(this);
    return source;
}
