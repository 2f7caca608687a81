// fuzz/model_fuzz.cpp: libFuzzer entry. Feeds the input as a model, texture
// or group file (see ModelFuzzInput.h) through open, every sequence's
// selection, stepping and bone set-up, the controller setters, and skinning
// with a draw into a sink that touches every vertex it is sent.
#include "ModelFuzzInput.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

class CheckingSink final : public StudioDrawSink {
public:
    double sum = 0.0;
    void bindTexture(uint32_t name) override { sum += name; }
    void begin(bool fan) override { sum += fan ? 1.0 : 2.0; }
    void vertex(float s, float t, const Float3& normal, const Float3& position) override
    {
        sum += s + t + normal.x + normal.y + normal.z + position.x + position.y + position.z;
    }
    void end() override {}
};

struct Fixtures {
    StudioFiles files[FUZZ_MODES];
    Fixtures()
    {
        for (int mode = 0; mode < FUZZ_MODES; ++mode)
            files[mode] = fuzzCharacter(mode);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Fixtures fixtures;
    if (size < 1)
        return 0;
    const int mode = data[0] % FUZZ_MODES;
    const std::vector<uint8_t> bytes(data + 1, data + size);

    StudioMemoryFiles memory;
    const char* path = "f/m.mdl";
    if (mode == FUZZ_AS_MODEL) {
        memory.add(path, bytes);
    } else {
        StudioFiles files = fixtures.files[mode];
        if (mode == FUZZ_AS_TEXTURE_FILE)
            files.texture = bytes;
        else
            files.groups[1] = bytes;
        memory.addModel(path, files);
    }

    StudioModel model;
    model.fileSource = memory.source();
    if (!model.open(path, 5)) {
        // A failed open keeps nothing and animates and draws nothing.
        if (model.header || model.textureImage || model.groupImages[1])
            __builtin_trap();
    }
    CheckingSink sink;
    const int sequences = model.sequenceCount() < 64 ? model.sequenceCount() : 64;
    for (int s = 0; s < (sequences > 0 ? sequences : 1); ++s) {
        model.selectSequence(s);
        model.stepAnimation(0.37f * static_cast<float>(s + 1));
        model.setControllerValue(s % 4, static_cast<float>(s * 97 % 720) - 360.0f);
        model.setMouthValue(static_cast<float>(s * 13 % 100));
        model.buildBoneTransforms();
        float box[6];
        model.sequenceBox(box);
        model.body = s;
        model.render(sink);
    }
    model.frame = 1e30f;
    model.render(sink);
    model.frame = std::nanf("");
    model.render(sink);
    model.release();
    return sink.sum == 12345.678 ? 1 : 0;
}
