// tests/model_load_test.cpp: studio model loading, companion files and the
// checks that refuse damaged files.
#include "StudioFixtures.h"
#include "TestSupport.h"

#include "model/OvrinCharacter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace studio;

namespace {

bool nothingAllocated(const StudioModel& m)
{
    if (m.header || m.textureImage || m.ownsTextureImage)
        return false;
    for (const uint8_t* image : m.groupImages)
        if (image)
            return false;
    return true;
}

const std::vector<uint8_t>& characterFile()
{
    static const std::vector<uint8_t> bytes = writeStudioModel(buildOvrinModel()).model;
    return bytes;
}

// Logs every name the model asks for, then serves it from memory.
struct NameLog {
    StudioMemoryFiles    memory;
    std::vector<std::string> names;

    static uint8_t* load(const char* path, size_t* size, void* context)
    {
        NameLog* log = static_cast<NameLog*>(context);
        log->names.push_back(path);
        const StudioFileSource inner = log->memory.source();
        return inner.load(path, size, inner.context);
    }
    StudioFileSource source()
    {
        StudioFileSource s;
        s.load = load;
        s.context = this;
        return s;
    }
};

// Every int32 header field that is an offset.
constexpr int HEADER_OFFSET_FIELDS[] = {
    HEADER_BONE_OFFSET, HEADER_CONTROLLER_OFFSET, HEADER_SEQUENCE_OFFSET, HEADER_GROUP_OFFSET,
    HEADER_TEXTURE_OFFSET, HEADER_SKIN_OFFSET, HEADER_BODY_PART_OFFSET,
};

} // namespace

TEST(StudioLoad, CompanionFileNamesReplaceTheExtension)
{
    char name[64];
    ASSERT_TRUE(studioTextureFileName("data/ovrin.mdl", name, sizeof name));
    EXPECT_STREQ(name, "data/ovrinT.mdl");
    ASSERT_TRUE(studioGroupFileName("data/ovrin.mdl", 1, name, sizeof name));
    EXPECT_STREQ(name, "data/ovrin01.mdl");
    ASSERT_TRUE(studioGroupFileName("data/ovrin.mdl", 12, name, sizeof name));
    EXPECT_STREQ(name, "data/ovrin12.mdl");
    EXPECT_FALSE(studioTextureFileName("abc", name, sizeof name));
    EXPECT_FALSE(studioTextureFileName("data/a_rather_long_name.mdl", name, 8));
}

TEST(StudioLoad, OpensTheCharacterWithItsInitialState)
{
    LoadedStudio s(writeStudioModel(buildOvrinModel()), 42);
    ASSERT_EQ(s.opened, 1);
    const StudioModel& m = s.model;
    EXPECT_EQ(m.skinTexture, 42);
    EXPECT_FLOAT_EQ(m.frame, 1.0f);
    EXPECT_EQ(m.sequence, 0);
    EXPECT_EQ(m.textureImage, m.header);
    EXPECT_EQ(m.ownsTextureImage, 0);
    // The head controller runs -60..60: the value 0 is setting 127.
    EXPECT_EQ(m.controllerBytes[0], 127);
    EXPECT_EQ(m.body, 0);
    EXPECT_EQ(m.skin, 0);
    EXPECT_EQ(m.boneCount(), OVRIN_BONES);
    EXPECT_EQ(m.sequenceCount(), OVRIN_SEQUENCES);
}

TEST(StudioLoad, ReadsTheCharacterFromDisk)
{
    TempDir dir;
    const std::string path = dir.path() + "/ovrin.mdl";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(characterFile().data(), 1, characterFile().size(), file);
    std::fclose(file);
    StudioModel m;
    EXPECT_EQ(m.open(path.c_str(), 3), 1);
    EXPECT_EQ(m.headerSize, characterFile().size());
    StudioModel missing;
    EXPECT_EQ(missing.open((dir.path() + "/none.mdl").c_str(), 3), 0);
    EXPECT_TRUE(nothingAllocated(missing));
    EXPECT_EQ(missing.open(nullptr, 3), 0);
}

TEST(StudioLoad, SeparateTextureFileIsReadAndOwned)
{
    StudioModelDesc desc = tinyModelDesc();
    desc.separateTextureFile = true;
    const StudioFiles files = writeStudioModel(desc);
    LoadedStudio s(files);
    ASSERT_EQ(s.opened, 1);
    EXPECT_NE(s.model.textureImage, s.model.header);
    EXPECT_EQ(s.model.ownsTextureImage, 1);
    s.model.release();
    EXPECT_TRUE(nothingAllocated(s.model));
}

TEST(StudioLoad, MissingTextureFileFailsWithNothingAllocated)
{
    StudioModelDesc desc = tinyModelDesc();
    desc.separateTextureFile = true;
    LoadedStudio s(writeStudioModel(desc).model);   // main file only
    EXPECT_EQ(s.opened, 0);
    EXPECT_TRUE(nothingAllocated(s.model));
}

TEST(StudioLoad, GroupCountOneReadsNoGroupFile)
{
    NameLog log;
    log.memory.addModel("d/x.mdl", writeStudioModel(tinyModelDesc()));
    StudioModel m;
    m.fileSource = log.source();
    ASSERT_EQ(m.open("d/x.mdl", 1), 1);
    EXPECT_EQ(log.names, std::vector<std::string>{ "d/x.mdl" });
}

TEST(StudioLoad, GroupCountThreeReadsExactlyGroupsOneAndTwo)
{
    StudioModelDesc desc = tinyModelDesc(3);
    desc.groupCount = 3;
    desc.sequences[1].group = 1;
    desc.sequences[2].group = 2;
    const StudioFiles files = writeStudioModel(desc);
    ASSERT_EQ(files.groups.size(), 3u);
    NameLog log;
    log.memory.addModel("d/x.mdl", files);
    StudioModel m;
    m.fileSource = log.source();
    ASSERT_EQ(m.open("d/x.mdl", 1), 1);
    EXPECT_EQ(log.names, (std::vector<std::string>{ "d/x.mdl", "d/x01.mdl", "d/x02.mdl" }));
    EXPECT_EQ(m.groupImages[0], nullptr);
    EXPECT_NE(m.groupImages[1], nullptr);
    EXPECT_NE(m.groupImages[2], nullptr);
    EXPECT_EQ(m.groupImages[3], nullptr);

    // Sequence 2 animates from its group file: its root z rotation carries
    // the sequence number (2 stored units of 0.01 rad at frame 0).
    m.selectSequence(2);
    m.frame = 0.0f;
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[1][0], std::sin(0.02f), 1e-5f);
}

TEST(StudioLoad, ADamagedSequenceGroupFileIsNamedInTheFailure)
{
    StudioModelDesc desc = tinyModelDesc(3);
    desc.groupCount = 3;
    desc.sequences[1].group = 1;
    desc.sequences[2].group = 2;
    StudioFiles files = writeStudioModel(desc);
    files.groups[2].resize(files.groups[2].size() / 2);   // cut: its runs end early
    LoadedStudio cut(files);
    EXPECT_EQ(cut.opened, 0);
    EXPECT_EQ(cut.model.failure, "m/model02.mdl: bad sequence or animation records");
    EXPECT_TRUE(nothingAllocated(cut.model));

    // A group file with the model's mark is not read as a group.
    StudioFiles marked = writeStudioModel(desc);
    std::memcpy(marked.groups[1].data(), "IDST", 4);
    LoadedStudio wrongMark(marked);
    EXPECT_EQ(wrongMark.model.failure, "m/model01.mdl: a model file, not a sequence group");
    std::memcpy(marked.groups[1].data(), "ABCD", 4);
    LoadedStudio noMark(marked);
    EXPECT_EQ(noMark.model.failure, "m/model01.mdl: not a sequence-group file (no IDSQ mark)");

    // A cut texture file names itself, not the model.
    StudioModelDesc separate = tinyModelDesc();
    separate.separateTextureFile = true;
    StudioFiles textures = writeStudioModel(separate);
    textures.texture.resize(size_t(HEADER_SIZE));   // the header only: no texture records
    LoadedStudio cutTextures(textures);
    EXPECT_EQ(cutTextures.opened, 0);
    EXPECT_EQ(cutTextures.model.failure, "m/modelT.mdl: bad texture records or skin table");

    // A fault in the main file's own animation names no group file.
    StudioFiles main = writeStudioModel(tinyModelDesc(1));
    main.model.resize(main.model.size() - 8);
    LoadedStudio own(main);
    EXPECT_EQ(own.opened, 0);
    EXPECT_EQ(own.model.failure.find("model0"), std::string::npos) << own.model.failure;
}

TEST(StudioLoad, MissingGroupFileFailsWithNothingAllocated)
{
    StudioModelDesc desc = tinyModelDesc(2);
    desc.groupCount = 2;
    desc.sequences[1].group = 1;
    LoadedStudio s(writeStudioModel(desc).model);
    EXPECT_EQ(s.opened, 0);
    EXPECT_TRUE(nothingAllocated(s.model));
}

TEST(StudioLoad, SequenceGroupFileAsMainModelFails)
{
    std::vector<uint8_t> bytes = writeStudioModel(tinyModelDesc()).model;
    std::memcpy(bytes.data(), "IDSQ", 4);
    LoadedStudio s(bytes);
    EXPECT_EQ(s.opened, 0);
    EXPECT_TRUE(nothingAllocated(s.model));
}

TEST(StudioLoad, WrongMagicFails)
{
    std::vector<uint8_t> bytes = writeStudioModel(tinyModelDesc()).model;
    std::memcpy(bytes.data(), "IDSX", 4);
    LoadedStudio s(bytes);
    EXPECT_EQ(s.opened, 0);
    EXPECT_TRUE(nothingAllocated(s.model));
    LoadedStudio tiny(std::vector<uint8_t>{ 'I', 'D' });
    EXPECT_EQ(tiny.opened, 0);
}

TEST(StudioLoad, ReopeningReplacesTheOldImages)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc()));
    ASSERT_EQ(s.opened, 1);
    EXPECT_EQ(s.model.open("m/model.mdl", 9), 1);
    EXPECT_EQ(s.model.skinTexture, 9);
    EXPECT_EQ(s.model.open("m/missing.mdl", 9), 0);
    EXPECT_TRUE(nothingAllocated(s.model));
}

TEST(StudioLoad, EveryHeaderOffsetPastTheEndFails)
{
    const std::vector<uint8_t>& good = characterFile();
    for (int field : HEADER_OFFSET_FIELDS) {
        for (int64_t past : { int64_t(good.size()), int64_t(good.size()) - 1, int64_t(0x7fffffff), int64_t(-4) }) {
            std::vector<uint8_t> bytes = good;
            writeInt32At(bytes, static_cast<size_t>(field), static_cast<int32_t>(past));
            LoadedStudio s(bytes);
            EXPECT_EQ(s.opened, 0) << "field " << field << " = " << past;
            EXPECT_TRUE(nothingAllocated(s.model));
        }
    }
}

TEST(StudioLoad, CountsAboveCapacityOrFileFail)
{
    struct Case {
        int     field;
        int32_t value;
    };
    const Case cases[] = {
        { HEADER_BONE_COUNT, MAX_BONES + 1 },
        { HEADER_BONE_COUNT, -1 },
        { HEADER_CONTROLLER_COUNT, MAX_BONE_CONTROLLERS + 1 },
        { HEADER_SEQUENCE_COUNT, 0 },
        { HEADER_SEQUENCE_COUNT, 100000 },
        { HEADER_GROUP_COUNT, MAX_SEQUENCE_GROUPS + 1 },
        { HEADER_GROUP_COUNT, 0 },
        { HEADER_TEXTURE_COUNT, 100000 },
        { HEADER_SKIN_REF_COUNT, 0x10000 },
        { HEADER_SKIN_FAMILY_COUNT, 0x7fffffff },
        { HEADER_BODY_PART_COUNT, 100000 },
        { HEADER_BODY_PART_COUNT, -2 },
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = characterFile();
        writeInt32At(bytes, static_cast<size_t>(c.field), c.value);
        LoadedStudio s(bytes);
        EXPECT_EQ(s.opened, 0) << "field " << c.field << " = " << c.value;
        EXPECT_TRUE(nothingAllocated(s.model));
    }
}

TEST(StudioLoad, DamagedRecordsFail)
{
    const std::vector<uint8_t>& good = characterFile();
    const size_t bones = static_cast<size_t>(readInt32At(good, HEADER_BONE_OFFSET));
    const size_t sequences = static_cast<size_t>(readInt32At(good, HEADER_SEQUENCE_OFFSET));
    const size_t parts = static_cast<size_t>(readInt32At(good, HEADER_BODY_PART_OFFSET));
    const size_t subs = static_cast<size_t>(readInt32At(good, parts + BODY_PART_SUBMODEL_OFFSET));
    const size_t meshes = static_cast<size_t>(readInt32At(good, subs + SUBMODEL_MESH_OFFSET));
    const size_t textures = static_cast<size_t>(readInt32At(good, HEADER_TEXTURE_OFFSET));
    const size_t skins = static_cast<size_t>(readInt32At(good, HEADER_SKIN_OFFSET));
    const int32_t vertexCount = readInt32At(good, subs + SUBMODEL_VERTEX_COUNT);
    const size_t vertexBones = static_cast<size_t>(readInt32At(good, subs + SUBMODEL_VERTEX_BONES));
    const size_t commands = static_cast<size_t>(readInt32At(good, meshes + MESH_COMMAND_OFFSET));

    struct Case {
        const char* what;
        size_t      at;
        int32_t     value;
        int         width;   // 4, 2 or 1 bytes
    };
    const Case cases[] = {
        { "parent after child", bones + BONE_PARENT, 5, 4 },
        { "parent below -1", bones + 3 * BONE_SIZE + BONE_PARENT, -2, 4 },
        { "bone controller out of range", bones + BONE_CONTROLLERS, 1, 4 },
        { "frame count 0", sequences + SEQUENCE_FRAME_COUNT, 0, 4 },
        { "frames beyond the runs", sequences + SEQUENCE_FRAME_COUNT, 0x7fffffff, 4 },
        { "blend count 3", sequences + SEQUENCE_BLEND_COUNT, 3, 4 },
        { "group beyond count", sequences + SEQUENCE_GROUP, 1, 4 },
        { "animation offset past the end", sequences + SEQUENCE_ANIM_OFFSET, static_cast<int32_t>(good.size()), 4 },
        { "motion bone out of range", sequences + SEQUENCE_MOTION_BONE, OVRIN_BONES, 4 },
        { "sub-model count 0", parts + BODY_PART_SUBMODEL_COUNT, 0, 4 },
        { "base 0", parts + BODY_PART_BASE, 0, 4 },
        { "vertex count above 2048", subs + SUBMODEL_VERTEX_COUNT, MAX_SKIN_VERTICES + 1, 4 },
        { "normal count above 2048", subs + SUBMODEL_NORMAL_COUNT, MAX_SKIN_VERTICES + 1, 4 },
        { "vertex data past the end", subs + SUBMODEL_VERTICES, static_cast<int32_t>(good.size()) - 8, 4 },
        { "vertex bone number too high", vertexBones + static_cast<size_t>(vertexCount) - 1, OVRIN_BONES, 1 },
        { "mesh count past the end", subs + SUBMODEL_MESH_COUNT, 100000, 4 },
        { "skin reference outside the table", meshes + MESH_SKIN_REF, 1, 4 },
        { "command vertex out of range", commands + 2, 0x7fff, 2 },
        { "command normal negative", commands + 4, -1, 2 },
        { "command stream past the end", meshes + MESH_COMMAND_OFFSET, static_cast<int32_t>(good.size()), 4 },
        { "texture width 0", textures + TEXTURE_WIDTH, 0, 4 },
        { "texture height negative", textures + TEXTURE_HEIGHT, -256, 4 },
        { "skin entry names no texture", skins, 1, 2 },
        { "controller channel 5", static_cast<size_t>(readInt32At(good, HEADER_CONTROLLER_OFFSET)) + CONTROLLER_CHANNEL, 5, 4 },
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        if (c.at == sequences + SEQUENCE_MOTION_BONE)
            writeInt32At(bytes, sequences + SEQUENCE_MOTION_TYPE, 1);   // zero x of the motion bone
        if (c.width == 4)
            writeInt32At(bytes, c.at, c.value);
        else if (c.width == 2) {
            const int16_t v = static_cast<int16_t>(c.value);
            std::memcpy(bytes.data() + c.at, &v, 2);
        } else {
            bytes[c.at] = static_cast<uint8_t>(c.value);
        }
        LoadedStudio s(bytes);
        EXPECT_EQ(s.opened, 0) << c.what;
        EXPECT_TRUE(nothingAllocated(s.model)) << c.what;
    }
}

TEST(StudioLoad, EndlessRunChainFails)
{
    // The last channel written is the last animated channel of the last
    // sequence; its chain ends the file. Zeroing every run's frame total
    // makes the chain cover no frames: the walk runs off the end.
    std::vector<uint8_t> bytes = characterFile();
    const size_t sequences = static_cast<size_t>(readInt32At(bytes, HEADER_SEQUENCE_OFFSET));
    const size_t groups = static_cast<size_t>(readInt32At(bytes, HEADER_GROUP_OFFSET));
    const size_t last = sequences + (OVRIN_SEQUENCES - 1) * SEQUENCE_SIZE;
    const size_t block = static_cast<size_t>(readInt32At(bytes, groups + GROUP_DATA_OFFSET)) +
                         static_cast<size_t>(readInt32At(bytes, last + SEQUENCE_ANIM_OFFSET));
    size_t chain = 0;
    for (size_t record = block; record < block + OVRIN_BONES * BONE_ANIM_SIZE; record += BONE_ANIM_SIZE)
        for (int c = 0; c < 6; ++c) {
            uint16_t offset;
            std::memcpy(&offset, bytes.data() + record + 2 * c, 2);
            if (offset != 0 && record + offset > chain)
                chain = record + offset;
        }
    ASSERT_GT(chain, 0u);
    for (size_t at = chain; at + 1 < bytes.size(); at += 2u * (bytes[at] + 1u))
        bytes[at + 1] = 0;
    LoadedStudio s(bytes);
    EXPECT_EQ(s.opened, 0);
    EXPECT_TRUE(nothingAllocated(s.model));
}

TEST(StudioLoad, TruncatedCharacterFailsOrStaysSafe)
{
    // Cut anywhere, the file must never be read past its end; cut before the
    // animation data it cannot load at all.
    const std::vector<uint8_t>& good = characterFile();
    const size_t groups = static_cast<size_t>(readInt32At(good, HEADER_GROUP_OFFSET));
    const size_t animation = static_cast<size_t>(readInt32At(good, groups + GROUP_DATA_OFFSET));
    for (size_t length = 0; length < good.size(); length += (length < 300 ? 1 : 97)) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(length));
        LoadedStudio s(bytes);
        if (length <= animation) {
            EXPECT_EQ(s.opened, 0) << length;
        } else if (s.opened) {
            RecordingSink sink;
            for (int seq = 0; seq < OVRIN_SEQUENCES; ++seq) {
                s.model.selectSequence(seq);
                s.model.stepAnimation(0.3f);
                s.model.render(sink);
            }
        }
        if (!s.opened) {
            EXPECT_TRUE(nothingAllocated(s.model));
        }
    }
}

TEST(StudioLoad, RandomlyDamagedCharacterNeverReadsOutOfBounds)
{
    // A cheap in-process fuzz: flip, overwrite and splice bytes of the real
    // character; whatever loads must animate and draw (ASan watches).
    const std::vector<uint8_t>& good = characterFile();
    uint32_t state = 12345u;
    auto next = [&]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    int loaded = 0;
    for (int round = 0; round < 600; ++round) {
        std::vector<uint8_t> bytes = good;
        const int edits = 1 + static_cast<int>(next() % 4);
        for (int e = 0; e < edits; ++e) {
            // Aim half the edits at the records before the vertex data.
            const size_t span = (next() & 1) ? 4096 : bytes.size();
            const size_t at = next() % span;
            switch (next() % 4) {
            case 0: bytes[at] ^= static_cast<uint8_t>(1u << (next() % 8)); break;
            case 1: bytes[at] = static_cast<uint8_t>(next()); break;
            case 2:
                if (at + 4 <= bytes.size())
                    writeInt32At(bytes, at, static_cast<int32_t>(next() % 70000) - 100);
                break;
            default:
                if (at + 4 <= bytes.size())
                    writeInt32At(bytes, at, -1);
                break;
            }
        }
        LoadedStudio s(bytes);
        if (!s.opened) {
            EXPECT_TRUE(nothingAllocated(s.model));
            continue;
        }
        ++loaded;
        RecordingSink sink;
        for (int seq = 0; seq < s.model.sequenceCount() && seq < 8; ++seq) {
            s.model.selectSequence(seq);
            s.model.stepAnimation(static_cast<float>(next() % 1000) / 100.0f);
            s.model.setControllerValue(static_cast<int>(next() % 4), static_cast<float>(next() % 720) - 360.0f);
            s.model.setMouthValue(static_cast<float>(next() % 100));
            s.model.render(sink);
        }
        EXPECT_EQ(sink.unbalanced, 0);
    }
    // Many edits land in vertex data or texels, where any value is valid.
    EXPECT_GT(loaded, 0);
}

// --- Hostile model files ---------------------------------------------------------
// What a user's data folder may hold instead of a model: every refusal says
// why, and a file's size is known before anything of that size is allocated.

namespace {

// In a death-test child: opens `path` with the address space capped at 256 MiB
// above what the process maps, prints why it failed and exits 0 when the open
// was refused. A 3 GiB file could not be read whole under the cap, so the
// refusal must come from the file's size.
void openOversizedUnderCap(const std::string& path)
{
    if (!capAddressSpace(uint64_t(256) << 20))
        _exit(3);
    StudioModel m;
    const int opened = m.open(path.c_str(), 0);
    std::fprintf(stderr, "open: %s\n", m.failure.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ignored);   // the child's own folder
    _exit(opened == 0 && nothingAllocated(m) ? 0 : 1);
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

} // namespace

TEST(ModelFileLimits, SparseThreeGigabyteFileIsRefusedFromItsSizeUnderAMemoryCap)
{
    TempDir dir;
    const std::string path = dir.path() + "/ovrin.mdl";
    ASSERT_EQ(runShell("truncate -s 3G '" + path + "'"), 0);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(openOversizedUnderCap(path), testing::ExitedWithCode(0), "open: 3072.0 MiB, over the limit of 16.0 MiB");

    // Just over the limit is refused too; at the limit the size is no reason.
    ASSERT_EQ(runShell("truncate -s " + std::to_string(MAX_STUDIO_FILE_BYTES + 1) + " '" + path + "'"), 0);
    StudioModel m;
    EXPECT_EQ(m.open(path.c_str(), 0), 0);
    EXPECT_NE(m.failure.find("over the limit"), std::string::npos) << m.failure;
    ASSERT_EQ(runShell("truncate -s " + std::to_string(MAX_STUDIO_FILE_BYTES) + " '" + path + "'"), 0);
    EXPECT_EQ(m.open(path.c_str(), 0), 0);
    EXPECT_NE(m.failure.find("no IDST"), std::string::npos) << m.failure;
    EXPECT_TRUE(nothingAllocated(m));
}

TEST(ModelFileLimits, DirectoryEmptyOrForeignFileIsRefusedWithItsReason)
{
    TempDir dir;
    const std::string folder = dir.path() + "/ovrin.mdl";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    writeBytes(dir.path() + "/empty.mdl", {});
    writeBytes(dir.path() + "/text.mdl", { 'h', 'e', 'l', 'l', 'o', ' ', 'm', 'o', 'd', 'e', 'l' });
    std::vector<uint8_t> group = characterFile();
    std::memcpy(group.data(), "IDSQ", 4);
    writeBytes(dir.path() + "/group.mdl", group);
    std::vector<uint8_t> shortHeader(characterFile().begin(), characterFile().begin() + 100);
    writeBytes(dir.path() + "/short.mdl", shortHeader);

    struct Case {
        const char* name;
        const char* reason;
    };
    const Case cases[] = {
        { "ovrin.mdl", "a directory" },   { "empty.mdl", "empty" },
        { "text.mdl", "no IDST" },        { "group.mdl", "sequence-group file" },
        { "short.mdl", "shorter than a model header" }, { "none.mdl", "No such file" },
    };
    for (const Case& c : cases) {
        StudioModel m;
        EXPECT_EQ(m.open((dir.path() + "/" + c.name).c_str(), 0), 0) << c.name;
        EXPECT_NE(m.failure.find(c.reason), std::string::npos) << c.name << ": " << m.failure;
        EXPECT_TRUE(nothingAllocated(m)) << c.name;
    }
}

TEST(ModelFileLimits, DamagedRecordsAndMissingCompanionsSayWhich)
{
    // A bone whose parent comes after it.
    std::vector<uint8_t> bytes = characterFile();
    int32_t boneOffset = 0;
    std::memcpy(&boneOffset, bytes.data() + HEADER_BONE_OFFSET, 4);
    const int32_t badParent = 5;
    std::memcpy(bytes.data() + boneOffset + BONE_PARENT, &badParent, 4);
    LoadedStudio damaged(bytes);
    EXPECT_EQ(damaged.opened, 0);
    EXPECT_EQ(damaged.model.failure, "bad header, bone or controller records");

    // A missing texture file is named in the reason.
    StudioModelDesc desc = tinyModelDesc();
    desc.separateTextureFile = true;
    LoadedStudio withoutTextures(writeStudioModel(desc).model);
    EXPECT_EQ(withoutTextures.opened, 0);
    EXPECT_NE(withoutTextures.model.failure.find("T.mdl: "), std::string::npos) << withoutTextures.model.failure;

    // A successful open clears the reason of the last failure.
    LoadedStudio good(characterFile());
    ASSERT_EQ(good.opened, 1);
    EXPECT_TRUE(good.model.failure.empty());
    EXPECT_EQ(good.model.open(nullptr, 0), 0);
    EXPECT_EQ(good.model.failure, "no file name");
    EXPECT_EQ(good.model.open("m/model.mdl", 0), 1);
    EXPECT_TRUE(good.model.failure.empty()) << good.model.failure;
}
