// model/hl.h: the skeletal studio model. Owns the loaded file images of one
// model (main file, texture file, sequence-group files), its animation state,
// its bone transforms and the skinned vertex arrays. Records are read in place
// from the images through the offsets below; nothing is converted at load.
//
// Loading checks every count and offset against the image sizes and the fixed
// capacities before the model is accepted, so animation and drawing never
// read outside an image. A model that fails to open is empty: animating or
// drawing it does nothing.
//
// GL lives only in model/hlDraw.cpp (render()); the rest of the unit hands
// strips and fans to a StudioDrawSink and needs no context.
#pragma once

#include "math/Math.h"

#include <cstddef>
#include <cstdint>
#include <string>

// --- Capacities ------------------------------------------------------------------

constexpr int MAX_BONES            = 64;     // bones per model
constexpr int MAX_BONE_CONTROLLERS = 4;      // bone-controller records per model
constexpr int MAX_SKIN_VERTICES    = 2048;   // vertices, and normals, per sub-model
constexpr int MAX_SEQUENCE_GROUPS  = 32;     // group 0 (main file) + files 01..31
constexpr int MAX_POSE_BLOCKS      = 4;      // blend count 1, 2 or 4

// File sizes read from disk. The character's file is under 100 KB. The checks
// of a loaded model walk at most 2^23 items (run headers, vertices, command
// vertices, skin entries) of two bytes or more, and the fixed capacities above
// bound the rest, so a model over 16 MiB could not be checked whole anyway; a
// file is refused from its size before anything of that size is allocated.
constexpr size_t MAX_STUDIO_FILE_BYTES  = size_t(16) << 20;   // one file
constexpr size_t MAX_STUDIO_MODEL_BYTES = size_t(32) << 20;   // all images of one model together

// --- File layout -----------------------------------------------------------------
// All integers are 32-bit little-endian, floats IEEE 32-bit, offsets count from
// the start of the same file. Only the fields named here are read.

namespace studio {

// ModelHeader
constexpr int HEADER_MAGIC            = 0;     // "IDST" model/texture file, "IDSQ" group file
constexpr int HEADER_BONE_COUNT       = 140;
constexpr int HEADER_BONE_OFFSET      = 144;
constexpr int HEADER_CONTROLLER_COUNT = 148;
constexpr int HEADER_CONTROLLER_OFFSET= 152;
constexpr int HEADER_SEQUENCE_COUNT   = 164;
constexpr int HEADER_SEQUENCE_OFFSET  = 168;
constexpr int HEADER_GROUP_COUNT      = 172;
constexpr int HEADER_GROUP_OFFSET     = 176;
constexpr int HEADER_TEXTURE_COUNT    = 180;   // 0: textures live in the "...T.mdl" file
constexpr int HEADER_TEXTURE_OFFSET   = 184;
constexpr int HEADER_SKIN_REF_COUNT   = 192;   // entries per skin-table row
constexpr int HEADER_SKIN_FAMILY_COUNT= 196;   // rows of the skin table
constexpr int HEADER_SKIN_OFFSET      = 200;   // int16[families][refs], texture numbers
constexpr int HEADER_BODY_PART_COUNT  = 204;
constexpr int HEADER_BODY_PART_OFFSET = 208;
constexpr int HEADER_SIZE             = 212;   // bytes a header must have

// BoneRecord
constexpr int BONE_SIZE        = 112;
constexpr int BONE_PARENT      = 32;    // -1 root; a parent precedes its children
constexpr int BONE_CONTROLLERS = 40;    // int32[6], -1 or a controller record number
constexpr int BONE_VALUES      = 64;    // float[6]: x, y, z, xr, yr, zr (radians)
constexpr int BONE_SCALES      = 88;    // float[6]: multiply the stored values

// BoneControllerRecord
constexpr int CONTROLLER_SIZE    = 24;
constexpr int CONTROLLER_TYPE    = 4;   // one of the CHANNEL_* bits, maybe | CONTROLLER_WRAPS
constexpr int CONTROLLER_START   = 8;
constexpr int CONTROLLER_END     = 12;
constexpr int CONTROLLER_CHANNEL = 20;  // 0-3 ordinary, 4 the mouth

// SequenceRecord
constexpr int SEQUENCE_SIZE        = 176;
constexpr int SEQUENCE_FPS         = 32;
constexpr int SEQUENCE_FLAGS       = 36;    // bit SEQUENCE_LOOPING: the last frame leads back to frame 0
constexpr int SEQUENCE_FRAME_COUNT = 56;
constexpr int SEQUENCE_MOTION_TYPE = 68;    // bits 0x1/0x2/0x4 zero x/y/z of the motion bone
constexpr int SEQUENCE_MOTION_BONE = 72;
constexpr int SEQUENCE_BOX_MIN     = 96;    // float[3]
constexpr int SEQUENCE_BOX_MAX     = 108;   // float[3]
constexpr int SEQUENCE_BLEND_COUNT = 120;   // 1, 2 or 4 animation blocks
constexpr int SEQUENCE_ANIM_OFFSET = 124;
constexpr int SEQUENCE_GROUP       = 156;

// SequenceGroupRecord
constexpr int GROUP_SIZE        = 104;
constexpr int GROUP_DATA_OFFSET = 100;

// Animation block: one BoneAnimRecord (uint16[6] channel offsets, counted from
// the record itself, 0 = not animated) per bone.
constexpr int BONE_ANIM_SIZE = 12;

// BodyPartRecord
constexpr int BODY_PART_SIZE           = 76;
constexpr int BODY_PART_SUBMODEL_COUNT = 64;
constexpr int BODY_PART_BASE           = 68;
constexpr int BODY_PART_SUBMODEL_OFFSET= 72;

// SubModelRecord
constexpr int SUBMODEL_SIZE          = 112;
constexpr int SUBMODEL_MESH_COUNT    = 72;
constexpr int SUBMODEL_MESH_OFFSET   = 76;
constexpr int SUBMODEL_VERTEX_COUNT  = 80;
constexpr int SUBMODEL_VERTEX_BONES  = 84;   // uint8 per vertex
constexpr int SUBMODEL_VERTICES      = 88;   // float[3] per vertex, bone space
constexpr int SUBMODEL_NORMAL_COUNT  = 92;
constexpr int SUBMODEL_NORMAL_BONES  = 96;   // uint8 per normal
constexpr int SUBMODEL_NORMALS       = 100;  // float[3] per normal, bone space

// MeshRecord
constexpr int MESH_SIZE           = 20;
constexpr int MESH_COMMAND_OFFSET = 4;   // int16 stream: n, then |n| x {vertex, normal, s, t}; 0 ends
constexpr int MESH_SKIN_REF       = 8;

// TextureRecord
constexpr int TEXTURE_SIZE   = 80;
constexpr int TEXTURE_WIDTH  = 68;   // texels; scales the mesh texture coordinates
constexpr int TEXTURE_HEIGHT = 72;
constexpr int TEXTURE_PIXELS = 76;   // 8-bit pixels + RGB palette, not used

// Controller type bits
constexpr int CHANNEL_X  = 0x1;
constexpr int CHANNEL_Y  = 0x2;
constexpr int CHANNEL_Z  = 0x4;
constexpr int CHANNEL_XR = 0x8;
constexpr int CHANNEL_YR = 0x10;
constexpr int CHANNEL_ZR = 0x20;
constexpr int CHANNEL_ROTATIONS    = CHANNEL_XR | CHANNEL_YR | CHANNEL_ZR;
constexpr int CHANNEL_TRANSLATIONS = CHANNEL_X | CHANNEL_Y | CHANNEL_Z;
constexpr int CONTROLLER_WRAPS     = 0x8000;   // range is a full turn
constexpr int MOUTH_CHANNEL        = 4;
constexpr int SEQUENCE_LOOPING     = 0x1;   // in SEQUENCE_FLAGS

} // namespace studio

// --- File source -----------------------------------------------------------------

// Where file images come from: the file system by default; tests and the fuzzer
// serve them from memory. `load` returns a std::malloc'd copy of the file and
// its size, or null; the model frees it with std::free.
struct StudioFileSource {
    uint8_t* (*load)(const char* path, size_t* size, void* context) = nullptr;
    void*    context = nullptr;
};

// Reads a whole regular file of at most MAX_STUDIO_FILE_BYTES.
uint8_t* loadStudioFileFromDisk(const char* path, size_t* size, void* context);

// The same with a reason and a size bound of the caller's: null with `reason`
// (strerror text, "not a regular file", "... over the limit ...") when the
// file cannot be read, is a directory or other non-regular file, or holds
// more than `maxBytes` (checked from its size before reading).
uint8_t* readStudioFile(const char* path, size_t* size, size_t maxBytes, std::string* reason);

// --- Drawing sink ----------------------------------------------------------------

// Receives what drawSubModel sends: the GL sink in hlDraw.cpp issues the calls
// one for one; tests and the fuzzer record them.
class StudioDrawSink {
public:
    virtual ~StudioDrawSink() = default;
    virtual void bindTexture(uint32_t name) = 0;
    virtual void begin(bool fan) = 0;                         // fan: GL_TRIANGLE_FAN, else strip
    virtual void vertex(float s, float t, const Float3& normal, const Float3& position) = 0;
    virtual void end() = 0;
};

// --- StudioModel -----------------------------------------------------------------

class StudioModel {
public:
    float    frame = 0.0f;             // integer part: frame; fraction: weight towards the next
    int32_t  skinTexture = 0;          // GL texture name bound when drawing
    int32_t  sequence = 0;
    int32_t  body = 0;                 // body-part selection, mixed radix over the parts' bases
    int32_t  skin = 0;                 // skin family (row of the skin table)
    uint8_t  controllerBytes[4] = {};  // 0..255 per controller channel 0-3
    uint8_t  blendBytes[2] = {};       // 0..255; stay 0
    uint8_t  mouthByte = 0;            // 0..64
    uint8_t  ownsTextureImage = 0;     // textureImage is a separate file image

    Float3   skinnedVertices[MAX_SKIN_VERTICES];   // model space, by vertex number
    Float3   skinnedNormals[MAX_SKIN_VERTICES];    // model space, unit, by normal number
    Float3*  vertexArray = skinnedVertices;        // the arrays in use
    Float3*  normalArray = skinnedNormals;

    Matrix3x4 boneTransforms[MAX_BONES];           // bone to model space
    Float3   posePositions[MAX_POSE_BLOCKS][MAX_BONES];
    Quat     poseRotations[MAX_POSE_BLOCKS][MAX_BONES];

    uint8_t*       header = nullptr;               // main file image
    const uint8_t* currentSubModel = nullptr;      // SubModelRecord being drawn
    uint8_t*       textureImage = nullptr;         // header itself or the texture file image
    uint8_t*       groupImages[MAX_SEQUENCE_GROUPS] = {};   // entry g: group file g; 0 stays null

    float    controllerAdjust[MAX_BONE_CONTROLLERS] = {};   // radians or model units

    // Image sizes, parallel to the pointers above.
    size_t   headerSize = 0;
    size_t   textureImageSize = 0;
    size_t   groupImageSizes[MAX_SEQUENCE_GROUPS] = {};

    StudioFileSource fileSource;                   // defaults to the disk
    std::string failure;                           // why the last open failed; empty after a success

    StudioModel();
    ~StudioModel();
    StudioModel(const StudioModel&) = delete;
    StudioModel& operator=(const StudioModel&) = delete;

    // Loading (model/hl.cpp)
    int      open(const char* path, uint32_t texture);   // 1 loaded, 0 failed (nothing kept, `failure` says why)
    // What a model's file holds: the model (or its textures, "T.mdl"), marked
    // IDST, or one sequence group ("01.mdl".."31.mdl"), marked IDSQ.
    enum class FileKind { MODEL, GROUP };
    uint8_t* readModelFile(const char* path, size_t* size, FileKind kind = FileKind::MODEL);   // image or null; first image becomes header
    int      readCompanionFiles(const char* path);            // 1 ok, 0 failed (cleaned up)
    void     release();                                        // frees every image
    bool     loaded() const { return header != nullptr; }

    // Animation
    int      selectSequence(int n);              // n mod count (never negative), frame 1.0
    int      stepAnimation(float dt);            // 1 when the frame position wrapped
    float    setControllerValue(int channel, float value);   // channel 0-3; value represented
    float    setMouthValue(float value);                     // the channel-4 record, 64 steps; value represented
    void     sequenceBox(float out[6]) const;    // min x, max x, min y, max y, min z, max z
    void     buildBoneTransforms();

    // Drawing
    void     render();                           // GL immediate mode (model/hlDraw.cpp)
    void     render(StudioDrawSink& sink);       // same calls, into a sink
    void     drawSubModel(StudioDrawSink& sink); // skins and draws currentSubModel

    // Counts of the loaded model (0 when empty).
    int      boneCount() const;
    int      sequenceCount() const;
    int      bodyPartCount() const;

private:
    void     cleanUp();
    const char* validate(int* badGroup = nullptr) const;   // null when every record fits, else what does not;
                                                           // badGroup: the sequence-group file at fault,
                                                           // BAD_TEXTURE_FILE for the texture file, or 0
    static constexpr int BAD_TEXTURE_FILE = -1;
    size_t   imageBytes() const;                 // bytes of all images held
    void     computeControllerAdjust();
    void     computePose(int block, const uint8_t* image, size_t imageSize, size_t blockOffset,
                         const uint8_t* sequenceRecord);
};

// Companion file names: "data/ovrin.mdl" -> "data/ovrinT.mdl" (texture file),
// group 1 -> "data/ovrin01.mdl". False when the path is too short or too long
// for the buffer.
bool studioTextureFileName(const char* path, char* out, size_t outSize);
bool studioGroupFileName(const char* path, int group, char* out, size_t outSize);

// Run-length channel decoding, exposed for tests. `chain` points at the first
// run header inside an image that ends at `end`. Reads stay inside the image.
void decodeRotationRuns(const uint8_t* chain, const uint8_t* end, int frame, float raw[2]);
float decodePositionRuns(const uint8_t* chain, const uint8_t* end, int frame, float fraction);
