// model/hl.cpp: studio model loading, checking, animation, bone set-up and
// CPU skinning. No GL: drawing goes to a StudioDrawSink.
//
// Sections:
//   --- Little-endian reads ---
//   --- File images and names ---
//   --- Loading ---
//   --- Checking ---
//   --- Controllers ---
//   --- Channel decoding ---
//   --- Poses and bone transforms ---
//   --- Skinning and drawing ---
#include "model/hl.h"

#include "base/SafeFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace studio;

namespace {

// --- Little-endian reads ---------------------------------------------------------
// Records sit at arbitrary offsets inside the images: copy, never cast.

int32_t readInt(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int16_t readShort(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint16_t readUShort(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

float readFloat(const uint8_t* p)
{
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Float3 readFloat3(const uint8_t* p)
{
    return Float3(readFloat(p), readFloat(p + 4), readFloat(p + 8));
}

// True when [offset, offset + count * size) lies inside an image of imageSize
// bytes. Negative values never fit.
bool fits(int64_t offset, int64_t count, int64_t size, size_t imageSize)
{
    if (offset < 0 || count < 0 || size < 0)
        return false;
    const int64_t image = static_cast<int64_t>(imageSize);
    if (offset > image)
        return false;
    if (size != 0 && count > (image - offset) / size)
        return false;
    return offset + count * size <= image;
}

// Upper bound on the items (run headers, vertices, normals, command
// vertices, skin entries) looked at while checking a model. Records may share
// data, so a small hostile file could otherwise make the check walk the same
// bytes millions of times; the character needs well under 1 % of this.
constexpr int64_t MAX_CHECKED_ITEMS = int64_t(1) << 23;

bool hasMagic(const uint8_t* image, const char* magic)
{
    return std::memcmp(image, magic, 4) == 0;
}

bool replaceExtension(const char* path, const char* suffix, char* out, size_t outSize)
{
    if (!path || !out)
        return false;
    const size_t length = std::strlen(path);
    if (length < 4)
        return false;
    const size_t stem = length - 4;
    const size_t suffixLength = std::strlen(suffix);
    if (stem + suffixLength + 1 > outSize)
        return false;
    std::memcpy(out, path, stem);
    std::memcpy(out + stem, suffix, suffixLength + 1);
    return true;
}

} // namespace

// --- File images and names ---------------------------------------------------------

uint8_t* readStudioFile(const char* path, size_t* size, size_t maxBytes, std::string* reason)
{
    *size = 0;
    std::string why;
    uint8_t* buffer = nullptr;
    const int fd = path ? openForReading(path) : -1;   // never waits on a pipe; refused below
    struct stat info;
    if (!path) {
        why = "no file name";
    } else if (fd < 0) {
        why = std::strerror(errno);
    } else if (fstat(fd, &info) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = S_ISDIR(info.st_mode) ? "a directory, not a file" : "not a regular file";
    } else if (info.st_size <= 0) {
        why = "the file is empty";
    } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        char text[128];
        std::snprintf(text, sizeof text, "%.1f MiB, over the limit of %.1f MiB",
                      static_cast<double>(info.st_size) / (1 << 20), static_cast<double>(maxBytes) / (1 << 20));
        why = text;
    } else {
        const size_t length = static_cast<size_t>(info.st_size);
        buffer = static_cast<uint8_t*>(std::malloc(length));
        size_t done = 0;
        while (buffer && done < length) {
            const ssize_t got = read(fd, buffer + done, length - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                why = got < 0 ? std::strerror(errno) : "the file got shorter while it was read";
                std::free(buffer);
                buffer = nullptr;
                break;
            }
            done += static_cast<size_t>(got);
        }
        if (!buffer && why.empty())
            why = "out of memory";
        if (buffer)
            *size = length;
    }
    if (fd >= 0)
        close(fd);
    if (!buffer && reason)
        *reason = why;
    return buffer;
}

uint8_t* loadStudioFileFromDisk(const char* path, size_t* size, void* /*context*/)
{
    return readStudioFile(path, size, MAX_STUDIO_FILE_BYTES, nullptr);
}

bool studioTextureFileName(const char* path, char* out, size_t outSize)
{
    return replaceExtension(path, "T.mdl", out, outSize);
}

bool studioGroupFileName(const char* path, int group, char* out, size_t outSize)
{
    if (group < 0 || group > 99)
        return false;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%02d.mdl", group);
    return replaceExtension(path, suffix, out, outSize);
}

// --- Loading ---------------------------------------------------------------------

StudioModel::StudioModel()
{
    fileSource.load = loadStudioFileFromDisk;
}

StudioModel::~StudioModel()
{
    release();
}

int StudioModel::open(const char* path, uint32_t texture)
{
    // Reopening drops the old images first, so nothing leaks.
    release();
    failure.clear();
    skinTexture = static_cast<int32_t>(texture);
    currentSubModel = nullptr;
    size_t size = 0;
    if (!readModelFile(path, &size))
        return 0;
    return readCompanionFiles(path);
}

size_t StudioModel::imageBytes() const
{
    size_t total = headerSize + (ownsTextureImage ? textureImageSize : 0);
    for (const size_t groupSize : groupImageSizes)
        total += groupSize;
    return total;
}

uint8_t* StudioModel::readModelFile(const char* path, size_t* size, FileKind kind)
{
    *size = 0;
    if (!path || !fileSource.load) {
        failure = "no file name";
        return nullptr;
    }
    // The model's images together stay within MAX_STUDIO_MODEL_BYTES.
    const size_t held = imageBytes();
    const size_t room = held < MAX_STUDIO_MODEL_BYTES ? MAX_STUDIO_MODEL_BYTES - held : 0;
    const size_t limit = room < MAX_STUDIO_FILE_BYTES ? room : MAX_STUDIO_FILE_BYTES;
    // Companion files are named in the reason; the caller names the main file.
    const std::string prefix = header ? std::string(path) + ": " : std::string();
    size_t length = 0;
    std::string why;
    uint8_t* buffer = nullptr;
    if (fileSource.load == loadStudioFileFromDisk) {
        buffer = readStudioFile(path, &length, limit, &why);
    } else {
        buffer = fileSource.load(path, &length, fileSource.context);
        why = "cannot be read";
        if (buffer && length > limit) {
            std::free(buffer);
            buffer = nullptr;
            why = "over the size limit";
        }
    }
    if (!buffer) {
        failure = prefix + why;
        return nullptr;
    }
    const bool model = length >= 4 && hasMagic(buffer, "IDST");
    const bool group = length >= 4 && hasMagic(buffer, "IDSQ");
    if (kind == FileKind::GROUP ? !group : !model) {
        std::free(buffer);
        if (kind == FileKind::GROUP)
            failure = prefix + (model ? "a model file, not a sequence group" : "not a sequence-group file (no IDSQ mark)");
        else
            failure = prefix + (group ? "a sequence-group file, not a model" : "not a studio model file (no IDST mark)");
        return nullptr;
    }
    if (!header) {
        header = buffer;
        headerSize = length;
    }
    *size = length;
    return buffer;
}

int StudioModel::readCompanionFiles(const char* path)
{
    if (!header) {
        if (failure.empty())
            failure = "no model file read";
        return 0;
    }
    if (headerSize < static_cast<size_t>(HEADER_SIZE)) {
        failure = "the file is shorter than a model header";
        cleanUp();
        return 0;
    }
    char name[256];
    if (readInt(header + HEADER_TEXTURE_COUNT) != 0) {
        textureImage = header;
        textureImageSize = headerSize;
        ownsTextureImage = 0;
    } else {
        size_t size = 0;
        uint8_t* image = nullptr;
        if (!studioTextureFileName(path, name, sizeof name))
            failure = "the path is too long for the texture file's name";
        else
            image = readModelFile(name, &size);
        if (!image) {
            cleanUp();
            return 0;
        }
        textureImage = image;
        textureImageSize = size;
        ownsTextureImage = 1;
    }

    const int32_t groups = readInt(header + HEADER_GROUP_COUNT);
    if (groups > MAX_SEQUENCE_GROUPS) {
        failure = "more sequence groups than the 32 a model may have";
        cleanUp();
        return 0;
    }
    for (int g = 1; g < groups; ++g) {
        size_t size = 0;
        uint8_t* image = nullptr;
        if (!studioGroupFileName(path, g, name, sizeof name))
            failure = "the path is too long for the sequence-group files' names";
        else
            image = readModelFile(name, &size, FileKind::GROUP);
        if (!image) {
            cleanUp();
            return 0;
        }
        groupImages[g] = image;
        groupImageSizes[g] = size;
    }

    int badGroup = 0;
    if (const char* damage = validate(&badGroup)) {
        failure = damage;
        // The main file is named by the caller; a companion names itself.
        if (badGroup > 0 && studioGroupFileName(path, badGroup, name, sizeof name))
            failure = std::string(name) + ": " + damage;
        if (badGroup == BAD_TEXTURE_FILE && studioTextureFileName(path, name, sizeof name))
            failure = std::string(name) + ": " + damage;
        cleanUp();
        return 0;
    }

    frame = 1.0f;
    sequence = 0;
    for (int channel = 0; channel < 4; ++channel)
        setControllerValue(channel, 0.0f);
    setMouthValue(0.0f);

    body = 0;
    const int parts = bodyPartCount();
    const uint8_t* part = header + readInt(header + HEADER_BODY_PART_OFFSET);
    for (int i = 0; i < parts; ++i, part += BODY_PART_SIZE) {
        const int32_t count = readInt(part + BODY_PART_SUBMODEL_COUNT);
        const int32_t base = readInt(part + BODY_PART_BASE);
        if (count > 0)
            body -= base * ((body / base) % count);
    }
    if (readInt(textureImage + HEADER_SKIN_FAMILY_COUNT) > 0)
        skin = 0;
    return 1;
}

void StudioModel::cleanUp()
{
    std::free(header);
    if (ownsTextureImage)
        std::free(textureImage);
    header = nullptr;
    textureImage = nullptr;
    headerSize = 0;
    textureImageSize = 0;
    ownsTextureImage = 0;
    currentSubModel = nullptr;
    for (int g = 0; g < MAX_SEQUENCE_GROUPS; ++g) {
        std::free(groupImages[g]);
        groupImages[g] = nullptr;
        groupImageSizes[g] = 0;
    }
}

void StudioModel::release()
{
    cleanUp();
}

int StudioModel::boneCount() const
{
    return header ? readInt(header + HEADER_BONE_COUNT) : 0;
}

int StudioModel::sequenceCount() const
{
    return header ? readInt(header + HEADER_SEQUENCE_COUNT) : 0;
}

int StudioModel::bodyPartCount() const
{
    return header ? readInt(header + HEADER_BODY_PART_COUNT) : 0;
}

// --- Checking --------------------------------------------------------------------
// Everything animation and drawing will touch is checked here once, so the hot
// paths need no checks of their own beyond cheap index clamps.

namespace {

// Walks one channel's run chain from `chain` until it covers `frames` frames.
// Every run reached must lie in the image with at least one stored value and
// cover at least one frame.
bool checkRunChain(const uint8_t* image, size_t imageSize, int64_t chain, int64_t frames, int64_t& budget)
{
    int64_t covered = 0;
    int64_t at = chain;
    while (covered < frames) {
        if (--budget < 0 || !fits(at, 1, 2, imageSize))
            return false;
        const int valid = image[at];
        const int total = image[at + 1];
        if (valid < 1 || total < 1 || !fits(at + 2, valid, 2, imageSize))
            return false;
        covered += total;
        at += 2 * (valid + 1);
    }
    return true;
}

// The triangle-command stream of one mesh ends inside the image and names
// only existing vertices and normals.
bool checkCommands(const uint8_t* image, size_t imageSize, int64_t at, int vertices, int normals, int64_t& budget)
{
    for (;;) {
        if (!fits(at, 1, 2, imageSize))
            return false;
        int count = readShort(image + at);
        at += 2;
        if (count == 0)
            return true;
        if (count < 0)
            count = -count;
        budget -= count + 1;
        if (budget < 0 || !fits(at, count, 8, imageSize))
            return false;
        for (int i = 0; i < count; ++i, at += 8) {
            const int vertex = readShort(image + at);
            const int normal = readShort(image + at + 2);
            if (vertex < 0 || vertex >= vertices || normal < 0 || normal >= normals)
                return false;
        }
    }
}

// What validate reports, by the part of the file that does not fit.
constexpr const char* BAD_BONES     = "bad header, bone or controller records";
constexpr const char* BAD_SEQUENCES = "bad sequence or animation records";
constexpr const char* BAD_TEXTURES  = "bad texture records or skin table";
constexpr const char* BAD_BODY      = "bad body part, mesh or vertex records";

} // namespace

const char* StudioModel::validate(int* badGroup) const
{
    if (badGroup)
        *badGroup = 0;
    const uint8_t* h = header;
    const size_t size = headerSize;
    if (!h || size < static_cast<size_t>(HEADER_SIZE) || !hasMagic(h, "IDST"))
        return BAD_BONES;

    // Bones.
    int64_t budget = MAX_CHECKED_ITEMS;
    const int32_t bones = readInt(h + HEADER_BONE_COUNT);
    const int32_t boneOffset = readInt(h + HEADER_BONE_OFFSET);
    const int32_t controllers = readInt(h + HEADER_CONTROLLER_COUNT);
    const int32_t controllerOffset = readInt(h + HEADER_CONTROLLER_OFFSET);
    if (bones < 0 || bones > MAX_BONES || !fits(boneOffset, bones, BONE_SIZE, size))
        return BAD_BONES;
    if (controllers < 0 || controllers > MAX_BONE_CONTROLLERS ||
        !fits(controllerOffset, controllers, CONTROLLER_SIZE, size))
        return BAD_BONES;
    for (int i = 0; i < bones; ++i) {
        const uint8_t* bone = h + boneOffset + i * BONE_SIZE;
        const int32_t parent = readInt(bone + BONE_PARENT);
        if (parent < -1 || parent >= i)
            return BAD_BONES;
        for (int c = 0; c < 6; ++c) {
            const int32_t controller = readInt(bone + BONE_CONTROLLERS + 4 * c);
            if (controller < -1 || controller >= controllers)
                return BAD_BONES;
        }
    }
    for (int j = 0; j < controllers; ++j) {
        const int32_t channel = readInt(h + controllerOffset + j * CONTROLLER_SIZE + CONTROLLER_CHANNEL);
        if (channel < 0 || channel > MOUTH_CHANNEL)
            return BAD_BONES;
    }

    // Sequence groups and sequences with their animation blocks and run chains.
    const int32_t sequences = readInt(h + HEADER_SEQUENCE_COUNT);
    const int32_t sequenceOffset = readInt(h + HEADER_SEQUENCE_OFFSET);
    const int32_t groups = readInt(h + HEADER_GROUP_COUNT);
    const int32_t groupOffset = readInt(h + HEADER_GROUP_OFFSET);
    if (sequences < 1 || !fits(sequenceOffset, sequences, SEQUENCE_SIZE, size))
        return BAD_SEQUENCES;
    if (groups < 1 || groups > MAX_SEQUENCE_GROUPS || !fits(groupOffset, groups, GROUP_SIZE, size))
        return BAD_SEQUENCES;
    for (int s = 0; s < sequences; ++s) {
        if (--budget < 0)
            return BAD_SEQUENCES;
        const uint8_t* seq = h + sequenceOffset + static_cast<int64_t>(s) * SEQUENCE_SIZE;
        const int32_t frames = readInt(seq + SEQUENCE_FRAME_COUNT);
        const int32_t motionType = readInt(seq + SEQUENCE_MOTION_TYPE);
        const int32_t motionBone = readInt(seq + SEQUENCE_MOTION_BONE);
        const int32_t blends = readInt(seq + SEQUENCE_BLEND_COUNT);
        const int32_t animOffset = readInt(seq + SEQUENCE_ANIM_OFFSET);
        const int32_t group = readInt(seq + SEQUENCE_GROUP);
        if (frames < 1 || (blends != 1 && blends != 2 && blends != 4))
            return BAD_SEQUENCES;
        if ((motionType & CHANNEL_TRANSLATIONS) && (motionBone < 0 || motionBone >= bones))
            return BAD_SEQUENCES;
        if (group < 0 || group >= groups)
            return BAD_SEQUENCES;
        const uint8_t* image = group == 0 ? h : groupImages[group];
        const size_t imageSize = group == 0 ? size : groupImageSizes[group];
        int64_t block = animOffset;
        if (group == 0)
            block += readInt(h + groupOffset + GROUP_DATA_OFFSET);
        // From here a fault lies in the file holding the sequence's animation.
        if (badGroup)
            *badGroup = group;
        if (!image || !fits(block, static_cast<int64_t>(bones) * blends, BONE_ANIM_SIZE, imageSize))
            return BAD_SEQUENCES;
        budget -= bones * blends * 6;
        for (int b = 0; b < bones * blends; ++b) {
            const int64_t record = block + static_cast<int64_t>(b) * BONE_ANIM_SIZE;
            for (int c = 0; c < 6; ++c) {
                const uint16_t offset = readUShort(image + record + 2 * c);
                if (offset != 0 && !checkRunChain(image, imageSize, record + offset, frames, budget))
                    return BAD_SEQUENCES;
            }
        }
        if (badGroup)
            *badGroup = 0;
    }

    // Skin table and textures, in the texture image (its own file, or the model's).
    if (badGroup && ownsTextureImage)
        *badGroup = BAD_TEXTURE_FILE;
    const uint8_t* t = textureImage;
    const size_t tSize = textureImageSize;
    if (!t || tSize < static_cast<size_t>(HEADER_SIZE) || !hasMagic(t, "IDST"))
        return BAD_TEXTURES;
    const int32_t textures = readInt(t + HEADER_TEXTURE_COUNT);
    const int32_t textureOffset = readInt(t + HEADER_TEXTURE_OFFSET);
    const int32_t skinRefs = readInt(t + HEADER_SKIN_REF_COUNT);
    const int32_t families = readInt(t + HEADER_SKIN_FAMILY_COUNT);
    const int32_t skinOffset = readInt(t + HEADER_SKIN_OFFSET);
    if (textures < 0 || !fits(textureOffset, textures, TEXTURE_SIZE, tSize))
        return BAD_TEXTURES;
    for (int i = 0; i < textures; ++i) {
        const uint8_t* texture = t + textureOffset + static_cast<int64_t>(i) * TEXTURE_SIZE;
        if (readInt(texture + TEXTURE_WIDTH) <= 0 || readInt(texture + TEXTURE_HEIGHT) <= 0)
            return BAD_TEXTURES;
    }
    if (skinRefs < 0 || families < 0 || !fits(skinOffset, static_cast<int64_t>(skinRefs) * families, 2, tSize))
        return BAD_TEXTURES;
    budget -= static_cast<int64_t>(skinRefs) * families + textures;
    if (budget < 0)
        return BAD_TEXTURES;
    for (int64_t i = 0; i < static_cast<int64_t>(skinRefs) * families; ++i) {
        const int entry = readShort(t + skinOffset + 2 * i);
        if (entry < 0 || entry >= textures)
            return BAD_TEXTURES;
    }

    if (badGroup)
        *badGroup = 0;

    // Body parts, sub-models, meshes and their command streams.
    const int32_t parts = readInt(h + HEADER_BODY_PART_COUNT);
    const int32_t partOffset = readInt(h + HEADER_BODY_PART_OFFSET);
    if (parts < 0 || !fits(partOffset, parts, BODY_PART_SIZE, size))
        return BAD_BODY;
    for (int p = 0; p < parts; ++p) {
        const uint8_t* part = h + partOffset + static_cast<int64_t>(p) * BODY_PART_SIZE;
        const int32_t subModels = readInt(part + BODY_PART_SUBMODEL_COUNT);
        const int32_t base = readInt(part + BODY_PART_BASE);
        const int32_t subModelOffset = readInt(part + BODY_PART_SUBMODEL_OFFSET);
        if (subModels < 1 || base < 1 || !fits(subModelOffset, subModels, SUBMODEL_SIZE, size))
            return BAD_BODY;
        for (int m = 0; m < subModels; ++m) {
            const uint8_t* sub = h + subModelOffset + static_cast<int64_t>(m) * SUBMODEL_SIZE;
            const int32_t meshes = readInt(sub + SUBMODEL_MESH_COUNT);
            const int32_t meshOffset = readInt(sub + SUBMODEL_MESH_OFFSET);
            const int32_t vertices = readInt(sub + SUBMODEL_VERTEX_COUNT);
            const int32_t vertexBones = readInt(sub + SUBMODEL_VERTEX_BONES);
            const int32_t vertexData = readInt(sub + SUBMODEL_VERTICES);
            const int32_t normals = readInt(sub + SUBMODEL_NORMAL_COUNT);
            const int32_t normalBones = readInt(sub + SUBMODEL_NORMAL_BONES);
            const int32_t normalData = readInt(sub + SUBMODEL_NORMALS);
            if (vertices < 0 || vertices > MAX_SKIN_VERTICES || normals < 0 || normals > MAX_SKIN_VERTICES)
                return BAD_BODY;
            if (!fits(vertexBones, vertices, 1, size) || !fits(vertexData, vertices, 12, size) ||
                !fits(normalBones, normals, 1, size) || !fits(normalData, normals, 12, size))
                return BAD_BODY;
            budget -= vertices + normals + meshes + 1;
            if (budget < 0)
                return BAD_BODY;
            for (int v = 0; v < vertices; ++v)
                if (h[vertexBones + v] >= bones)
                    return BAD_BODY;
            for (int n = 0; n < normals; ++n)
                if (h[normalBones + n] >= bones)
                    return BAD_BODY;
            if (meshes < 0 || !fits(meshOffset, meshes, MESH_SIZE, size))
                return BAD_BODY;
            if (meshes > 0 && families < 1)
                return BAD_BODY;   // drawing needs skin row 0
            for (int k = 0; k < meshes; ++k) {
                const uint8_t* mesh = h + meshOffset + static_cast<int64_t>(k) * MESH_SIZE;
                const int32_t skinRef = readInt(mesh + MESH_SKIN_REF);
                if (skinRef < 0 || skinRef >= skinRefs)
                    return BAD_BODY;
                if (!checkCommands(h, size, readInt(mesh + MESH_COMMAND_OFFSET), vertices, normals, budget))
                    return BAD_BODY;
            }
        }
    }
    return nullptr;
}

// --- Controllers -----------------------------------------------------------------

namespace {

// trunc(x) as an integer clamped to lo..hi; NaN gives lo. Converting an
// out-of-range float to int directly would be undefined.
int clampedTrunc(float x, int lo, int hi)
{
    if (!(x >= static_cast<float>(lo)))
        return lo;
    if (x >= static_cast<float>(hi))
        return hi;
    return static_cast<int>(x);
}

// A rotation controller's value brought into its range before scaling: a
// range that runs backwards (start > end) takes the value negated; a range
// of less than a full turn takes the value +-360 to within half a turn of the
// range's middle; a full-turn range takes it into 0..360. Other types keep it.
float wrapRotationValue(int32_t type, float start, float end, float value)
{
    if (!(type & CHANNEL_ROTATIONS))
        return value;
    if (start > end)
        value = -value;
    if (end <= start + 359.0f) {
        const float mid = (start + end) / 2.0f;
        if (value > mid + 180.0f)
            value -= 360.0f;
        if (value < mid - 180.0f)
            value += 360.0f;
    } else if (value > 360.0f) {
        value -= std::trunc(value / 360.0f) * 360.0f;
    } else if (value < 0.0f) {
        value += (std::trunc(value / -360.0f) + 1.0f) * 360.0f;
    }
    return value;
}

} // namespace

float StudioModel::setControllerValue(int channel, float value)
{
    if (!header || channel < 0 || channel > 3)
        return value;
    const int32_t count = readInt(header + HEADER_CONTROLLER_COUNT);
    const uint8_t* records = header + readInt(header + HEADER_CONTROLLER_OFFSET);
    const uint8_t* record = nullptr;
    for (int j = 0; j < count; ++j) {
        if (readInt(records + j * CONTROLLER_SIZE + CONTROLLER_CHANNEL) == channel) {
            record = records + j * CONTROLLER_SIZE;
            break;
        }
    }
    if (!record)
        return value;
    const int32_t type = readInt(record + CONTROLLER_TYPE);
    const float start = readFloat(record + CONTROLLER_START);
    const float end = readFloat(record + CONTROLLER_END);
    value = wrapRotationValue(type, start, end, value);
    const int setting = clampedTrunc((value - start) * 255.0f / (end - start), 0, 255);
    controllerBytes[channel] = static_cast<uint8_t>(setting);
    return start + static_cast<float>(setting) * (1.0f / 255.0f) * (end - start);
}

float StudioModel::setMouthValue(float value)
{
    if (!header)
        return value;
    const int32_t count = readInt(header + HEADER_CONTROLLER_COUNT);
    const uint8_t* records = header + readInt(header + HEADER_CONTROLLER_OFFSET);
    for (int j = 0; j < count; ++j) {
        const uint8_t* record = records + j * CONTROLLER_SIZE;
        if (readInt(record + CONTROLLER_CHANNEL) != MOUTH_CHANNEL)
            continue;
        const int32_t type = readInt(record + CONTROLLER_TYPE);
        const float start = readFloat(record + CONTROLLER_START);
        const float end = readFloat(record + CONTROLLER_END);
        value = wrapRotationValue(type, start, end, value);
        const int setting = clampedTrunc((value - start) * 64.0f / (end - start), 0, 64);
        mouthByte = static_cast<uint8_t>(setting);
        return start + static_cast<float>(setting) * 0.015625f * (end - start);
    }
    return value;
}

void StudioModel::computeControllerAdjust()
{
    const int32_t count = readInt(header + HEADER_CONTROLLER_COUNT);
    const uint8_t* records = header + readInt(header + HEADER_CONTROLLER_OFFSET);
    for (int j = 0; j < count; ++j) {
        const uint8_t* record = records + j * CONTROLLER_SIZE;
        const int32_t channel = readInt(record + CONTROLLER_CHANNEL);
        const int32_t type = readInt(record + CONTROLLER_TYPE);
        const float start = readFloat(record + CONTROLLER_START);
        const float end = readFloat(record + CONTROLLER_END);
        float value;
        if (channel > 3) {
            float w = static_cast<float>(mouthByte) / 64.0f;
            if (w > 1.0f)
                w = 1.0f;
            value = w * end + (1.0f - w) * start;
        } else if (type & CONTROLLER_WRAPS) {
            value = static_cast<float>(controllerBytes[channel]) * 1.40625f + start;
        } else {
            float w = static_cast<float>(controllerBytes[channel]) / 255.0f;
            if (w < 0.0f)
                w = 0.0f;
            if (w > 1.0f)
                w = 1.0f;
            value = w * end + (1.0f - w) * start;
        }
        switch (type & 0x7fff) {
        case CHANNEL_XR:
        case CHANNEL_YR:
        case CHANNEL_ZR:
            controllerAdjust[j] = static_cast<float>(value * DEG_TO_RAD);
            break;
        case CHANNEL_X:
        case CHANNEL_Y:
        case CHANNEL_Z:
            controllerAdjust[j] = value;
            break;
        default:
            break;
        }
    }
}

// --- Channel decoding ------------------------------------------------------------
// A chain is a list of runs {uint8 valid, uint8 total, int16 value[valid]}.
// Frames of a run past `valid` repeat its last value; `w` is the first value
// of the next run. Reads past the image end fall back to holding the value.

namespace {

struct RunAt {
    const uint8_t* run = nullptr;   // header of the run holding the frame, null if none
    int            frame = 0;       // frame within that run
};

RunAt findRun(const uint8_t* chain, const uint8_t* end, int frame)
{
    RunAt at;
    if (!chain || end < chain)
        return at;
    const size_t size = static_cast<size_t>(end - chain);
    size_t p = 0;
    for (;;) {
        if (size < 2 || p > size - 2)
            return at;
        const int valid = chain[p];
        const int total = chain[p + 1];
        if (total > frame) {
            if (valid < 1 || size - (p + 2) < static_cast<size_t>(2 * valid))
                return at;
            at.run = chain + p;
            at.frame = frame;
            return at;
        }
        frame -= total;
        p += static_cast<size_t>(2 * (valid + 1));
    }
}

float runValue(const uint8_t* run, int i)
{
    return static_cast<float>(readShort(run + 2 + 2 * i));
}

// First value of the run after `run`, or `fallback` when it is not in the image.
float nextRunValue(const uint8_t* run, const uint8_t* end, float fallback)
{
    const size_t at = static_cast<size_t>(2 * (run[0] + 1) + 2);
    if (static_cast<size_t>(end - run) < at + 2)
        return fallback;
    return static_cast<float>(readShort(run + at));
}

} // namespace

void decodeRotationRuns(const uint8_t* chain, const uint8_t* end, int frame, float raw[2])
{
    raw[0] = raw[1] = 0.0f;
    const RunAt at = findRun(chain, end, frame < 0 ? 0 : frame);
    if (!at.run)
        return;
    const int valid = at.run[0];
    const int total = at.run[1];
    const int k = at.frame;
    if (k < valid) {
        raw[0] = runValue(at.run, k);
        if (k + 1 < valid)
            raw[1] = runValue(at.run, k + 1);
        else if (k + 1 < total)
            raw[1] = raw[0];
        else
            raw[1] = nextRunValue(at.run, end, raw[0]);
    } else {
        raw[0] = runValue(at.run, valid - 1);
        raw[1] = k + 1 < total ? raw[0] : nextRunValue(at.run, end, raw[0]);
    }
}

float decodePositionRuns(const uint8_t* chain, const uint8_t* end, int frame, float fraction)
{
    const RunAt at = findRun(chain, end, frame < 0 ? 0 : frame);
    if (!at.run)
        return 0.0f;
    const int valid = at.run[0];
    const int total = at.run[1];
    const int k = at.frame;
    if (k < valid) {
        const float v = runValue(at.run, k);
        if (k + 1 < valid)
            return v * (1.0f - fraction) + runValue(at.run, k + 1) * fraction;
        return v;
    }
    const float last = runValue(at.run, valid - 1);
    if (k + 1 >= total)
        return last * (1.0f - fraction) + nextRunValue(at.run, end, last) * fraction;
    return last;
}

// --- Poses and bone transforms ---------------------------------------------------

int StudioModel::selectSequence(int n)
{
    if (!header)
        return sequence;
    const int count = sequenceCount();
    int s = n % count;
    if (s < 0)
        s += count;   // a negative request still names a real sequence
    sequence = s;
    frame = 1.0f;
    return sequence;
}

namespace {

const uint8_t* sequenceRecord(const uint8_t* header, int sequence)
{
    const int count = readInt(header + HEADER_SEQUENCE_COUNT);
    if (sequence < 0 || sequence >= count)
        sequence = 0;
    return header + readInt(header + HEADER_SEQUENCE_OFFSET) + static_cast<int64_t>(sequence) * SEQUENCE_SIZE;
}

void blendPoses(Float3* positionsA, Quat* rotationsA, const Float3* positionsB, Quat* rotationsB,
                int bones, float t)
{
    if (!(t >= 0.0f))
        t = 0.0f;
    if (t > 1.0f)
        t = 1.0f;
    for (int i = 0; i < bones; ++i) {
        Quat blended;
        quatSlerp(rotationsA[i], rotationsB[i], t, blended);
        rotationsA[i] = blended;
        for (int c = 0; c < 3; ++c)
            positionsA[i][c] = (1.0f - t) * positionsA[i][c] + t * positionsB[i][c];
    }
}

} // namespace

int StudioModel::stepAnimation(float dt)
{
    if (!header)
        return 0;
    const uint8_t* seq = sequenceRecord(header, sequence);
    const int n = readInt(seq + SEQUENCE_FRAME_COUNT);
    const float fps = readFloat(seq + SEQUENCE_FPS);
    if (n <= 1) {
        frame = 0.0f;
        return 0;
    }
    const float f = dt * fps + frame;
    if (f < static_cast<float>(n - 1)) {
        frame = f;
        return 0;
    }
    frame = f - static_cast<float>(n - 2);
    return 1;
}

void StudioModel::sequenceBox(float out[6]) const
{
    if (!header) {
        for (int i = 0; i < 6; ++i)
            out[i] = 0.0f;
        return;
    }
    const uint8_t* seq = sequenceRecord(header, sequence);
    const Float3 mins = readFloat3(seq + SEQUENCE_BOX_MIN);
    const Float3 maxs = readFloat3(seq + SEQUENCE_BOX_MAX);
    for (int axis = 0; axis < 3; ++axis) {
        out[2 * axis] = mins[axis];
        out[2 * axis + 1] = maxs[axis];
    }
}

void StudioModel::computePose(int block, const uint8_t* image, size_t imageSize, size_t blockOffset,
                              const uint8_t* seq)
{
    const int bones = boneCount();
    const int frames = readInt(seq + SEQUENCE_FRAME_COUNT);
    const uint8_t* end = image + imageSize;

    // Frame position -> frame and fraction, kept inside the sequence's frames
    // (a huge step or a negative one must not walk off the checked runs).
    int k = 0;
    float s = 0.0f;
    if (frame >= 0.0f && frame < static_cast<float>(frames)) {
        k = static_cast<int>(frame);
        s = frame - static_cast<float>(k);
    } else if (frame >= static_cast<float>(frames)) {
        k = frames - 1;
    }

    // The last frame has no stored frame after it: it moves towards frame 0
    // when the sequence loops and holds still when it does not, so the pose
    // never reaches into whatever data follows the sequence's runs.
    const bool lastFrame = k >= frames - 1;
    const bool looping = (readInt(seq + SEQUENCE_FLAGS) & SEQUENCE_LOOPING) != 0;
    const int towards = looping ? 0 : k;

    computeControllerAdjust();

    const uint8_t* bone = header + readInt(header + HEADER_BONE_OFFSET);
    const uint8_t* anim = image + blockOffset;
    for (int i = 0; i < bones; ++i, bone += BONE_SIZE, anim += BONE_ANIM_SIZE) {
        float values[6];
        int controllers[6];
        for (int c = 0; c < 6; ++c) {
            values[c] = readFloat(bone + BONE_VALUES + 4 * c);
            controllers[c] = readInt(bone + BONE_CONTROLLERS + 4 * c);
        }
        // Rotation.
        Float3 angle1, angle2;
        for (int c = 0; c < 3; ++c) {
            const uint16_t offset = readUShort(anim + 2 * (c + 3));
            float raw[2] = { 0.0f, 0.0f };
            if (offset != 0) {
                decodeRotationRuns(anim + offset, end, k, raw);
                if (lastFrame) {
                    float after[2];
                    decodeRotationRuns(anim + offset, end, towards, after);
                    raw[1] = after[0];
                }
            }
            const float scale = readFloat(bone + BONE_SCALES + 4 * (c + 3));
            angle1[c] = values[c + 3] + raw[0] * scale;
            angle2[c] = values[c + 3] + raw[1] * scale;
            if (controllers[c + 3] != -1) {
                angle1[c] += controllerAdjust[controllers[c + 3]];
                angle2[c] += controllerAdjust[controllers[c + 3]];
            }
        }
        Quat& rotation = poseRotations[block][i];
        if (nearlyEqual(angle1, angle2)) {
            quatFromRadians(angle1, rotation);
        } else {
            Quat q1, q2;
            quatFromRadians(angle1, q1);
            quatFromRadians(angle2, q2);
            quatSlerp(q1, q2, s, rotation);
        }
        // Position.
        Float3& position = posePositions[block][i];
        for (int c = 0; c < 3; ++c) {
            const uint16_t offset = readUShort(anim + 2 * c);
            float value = values[c];
            if (offset != 0) {
                float r = 0.0f;
                if (!lastFrame) {
                    r = decodePositionRuns(anim + offset, end, k, s);
                } else {
                    r = decodePositionRuns(anim + offset, end, k, 0.0f);
                    if (looping)
                        r = r * (1.0f - s) + decodePositionRuns(anim + offset, end, towards, 0.0f) * s;
                }
                value += readFloat(bone + BONE_SCALES + 4 * c) * r;
            }
            if (controllers[c] != -1)
                value += controllerAdjust[controllers[c]];
            position[c] = value;
        }
    }

    const int32_t motionType = readInt(seq + SEQUENCE_MOTION_TYPE);
    const int32_t motionBone = readInt(seq + SEQUENCE_MOTION_BONE);
    if (motionBone >= 0 && motionBone < bones) {
        if (motionType & CHANNEL_X)
            posePositions[block][motionBone].x = 0.0f;
        if (motionType & CHANNEL_Y)
            posePositions[block][motionBone].y = 0.0f;
        if (motionType & CHANNEL_Z)
            posePositions[block][motionBone].z = 0.0f;
    }
}

void StudioModel::buildBoneTransforms()
{
    if (!header)
        return;
    if (sequence < 0 || sequence >= sequenceCount())
        sequence = 0;
    const uint8_t* seq = sequenceRecord(header, sequence);
    const int group = readInt(seq + SEQUENCE_GROUP);
    const uint8_t* image = group == 0 ? header : groupImages[group];
    const size_t imageSize = group == 0 ? headerSize : groupImageSizes[group];
    size_t offset = static_cast<size_t>(readInt(seq + SEQUENCE_ANIM_OFFSET));
    if (group == 0) {
        const uint8_t* groupRecord = header + readInt(header + HEADER_GROUP_OFFSET);
        offset += static_cast<size_t>(readInt(groupRecord + GROUP_DATA_OFFSET));
    }
    const int bones = boneCount();
    const size_t blockSize = static_cast<size_t>(bones) * BONE_ANIM_SIZE;
    const int blends = readInt(seq + SEQUENCE_BLEND_COUNT);

    computePose(0, image, imageSize, offset, seq);
    if (blends > 1) {
        computePose(1, image, imageSize, offset + blockSize, seq);
        blendPoses(posePositions[0], poseRotations[0], posePositions[1], poseRotations[1], bones,
                   static_cast<float>(blendBytes[0]) / 255.0f);
    }
    if (blends == 4) {
        computePose(2, image, imageSize, offset + 2 * blockSize, seq);
        computePose(3, image, imageSize, offset + 3 * blockSize, seq);
        blendPoses(posePositions[2], poseRotations[2], posePositions[3], poseRotations[3], bones,
                   static_cast<float>(blendBytes[0]) / 255.0f);
        blendPoses(posePositions[0], poseRotations[0], posePositions[2], poseRotations[2], bones,
                   static_cast<float>(blendBytes[1]) / 255.0f);
    }

    const uint8_t* bone = header + readInt(header + HEADER_BONE_OFFSET);
    for (int i = 0; i < bones; ++i, bone += BONE_SIZE) {
        Matrix3x4 local;
        matrixFromQuat(poseRotations[0][i], local);
        local.m[0][3] = posePositions[0][i].x;
        local.m[1][3] = posePositions[0][i].y;
        local.m[2][3] = posePositions[0][i].z;
        const int32_t parent = readInt(bone + BONE_PARENT);
        if (parent < 0)
            boneTransforms[i] = local;
        else
            composeTransforms(boneTransforms[parent], local, boneTransforms[i]);
    }
}

// --- Skinning and drawing ----------------------------------------------------------

void StudioModel::render(StudioDrawSink& sink)
{
    if (!header)
        return;
    const int parts = bodyPartCount();
    if (parts == 0)
        return;
    buildBoneTransforms();
    const uint8_t* part = header + readInt(header + HEADER_BODY_PART_OFFSET);
    for (int i = 0; i < parts; ++i, part += BODY_PART_SIZE) {
        const int32_t count = readInt(part + BODY_PART_SUBMODEL_COUNT);
        const int32_t base = readInt(part + BODY_PART_BASE);
        int index = (body / base) % count;
        if (index < 0)
            index += count;   // a negative selection still names a sub-model
        currentSubModel = header + readInt(part + BODY_PART_SUBMODEL_OFFSET) + index * SUBMODEL_SIZE;
        drawSubModel(sink);
    }
}

void StudioModel::drawSubModel(StudioDrawSink& sink)
{
    if (!header || !currentSubModel)
        return;
    const uint8_t* sub = currentSubModel;
    const int32_t vertices = readInt(sub + SUBMODEL_VERTEX_COUNT);
    const uint8_t* vertexBones = header + readInt(sub + SUBMODEL_VERTEX_BONES);
    const uint8_t* vertexData = header + readInt(sub + SUBMODEL_VERTICES);
    const int32_t normals = readInt(sub + SUBMODEL_NORMAL_COUNT);
    const uint8_t* normalBones = header + readInt(sub + SUBMODEL_NORMAL_BONES);
    const uint8_t* normalData = header + readInt(sub + SUBMODEL_NORMALS);

    vertexArray = skinnedVertices;
    normalArray = skinnedNormals;
    for (int v = 0; v < vertices; ++v)
        transformByMatrix(readFloat3(vertexData + 12 * v), boneTransforms[vertexBones[v]], skinnedVertices[v]);
    for (int n = 0; n < normals; ++n) {
        rotateByMatrix(readFloat3(normalData + 12 * n), boneTransforms[normalBones[n]], skinnedNormals[n]);
        normalizeInPlace(skinnedNormals[n]);
    }

    sink.bindTexture(static_cast<uint32_t>(skinTexture));

    const int32_t families = readInt(textureImage + HEADER_SKIN_FAMILY_COUNT);
    const int32_t skinRefs = readInt(textureImage + HEADER_SKIN_REF_COUNT);
    const int row = (skin > 0 && skin < families) ? skin : 0;
    const uint8_t* skinRow = textureImage + readInt(textureImage + HEADER_SKIN_OFFSET) +
                             static_cast<int64_t>(row) * skinRefs * 2;
    const uint8_t* textures = textureImage + readInt(textureImage + HEADER_TEXTURE_OFFSET);

    const int32_t meshes = readInt(sub + SUBMODEL_MESH_COUNT);
    const uint8_t* mesh = header + readInt(sub + SUBMODEL_MESH_OFFSET);
    for (int k = 0; k < meshes; ++k, mesh += MESH_SIZE) {
        const int texture = readShort(skinRow + 2 * readInt(mesh + MESH_SKIN_REF));
        const uint8_t* record = textures + texture * TEXTURE_SIZE;
        const float sScale = 1.0f / static_cast<float>(readInt(record + TEXTURE_WIDTH));
        const float tScale = 1.0f / static_cast<float>(readInt(record + TEXTURE_HEIGHT));
        const uint8_t* command = header + readInt(mesh + MESH_COMMAND_OFFSET);
        for (;;) {
            int count = readShort(command);
            command += 2;
            if (count == 0)
                break;
            sink.begin(count < 0);
            if (count < 0)
                count = -count;
            for (int i = 0; i < count; ++i, command += 8) {
                const int vertex = readShort(command);
                const int normal = readShort(command + 2);
                const float s = static_cast<float>(readShort(command + 4)) * sScale;
                const float t = static_cast<float>(readShort(command + 6)) * tScale;
                sink.vertex(s, t, skinnedNormals[normal], skinnedVertices[vertex]);
            }
            sink.end();
        }
    }
}
