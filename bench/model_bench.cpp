// bench/model_bench.cpp: the studio model's load check, bone set-up and
// skinning of the character (19 bones), as done once per draw.
#include "model/OvrinCharacter.h"
#include "model/hl.h"

#include <benchmark/benchmark.h>

namespace {

class NullSink final : public StudioDrawSink {
public:
    float sum = 0.0f;
    void bindTexture(uint32_t) override {}
    void begin(bool) override {}
    void vertex(float s, float, const Float3&, const Float3& position) override { sum += s + position.z; }
    void end() override {}
};

const StudioFiles& characterFiles()
{
    static const StudioFiles files = writeStudioModel(buildOvrinModel());
    return files;
}

} // namespace

static void BM_StudioModel_OpenCharacter(benchmark::State& state)
{
    StudioMemoryFiles memory;
    memory.addModel("ovrin.mdl", characterFiles());
    StudioModel model;
    model.fileSource = memory.source();
    for (auto _ : state)
        benchmark::DoNotOptimize(model.open("ovrin.mdl", 1));
}
BENCHMARK(BM_StudioModel_OpenCharacter);

static void BM_StudioModel_BuildBoneTransforms19Bones(benchmark::State& state)
{
    StudioMemoryFiles memory;
    memory.addModel("ovrin.mdl", characterFiles());
    StudioModel model;
    model.fileSource = memory.source();
    model.open("ovrin.mdl", 1);
    model.selectSequence(OVRIN_WALK);
    for (auto _ : state) {
        model.frame = model.frame > 20.0f ? 1.3f : model.frame + 0.37f;
        model.buildBoneTransforms();
        benchmark::DoNotOptimize(model.boneTransforms);
    }
}
BENCHMARK(BM_StudioModel_BuildBoneTransforms19Bones);

static void BM_StudioModel_RenderCharacterToSink(benchmark::State& state)
{
    StudioMemoryFiles memory;
    memory.addModel("ovrin.mdl", characterFiles());
    StudioModel model;
    model.fileSource = memory.source();
    model.open("ovrin.mdl", 1);
    model.selectSequence(OVRIN_WALK);
    NullSink sink;
    for (auto _ : state) {
        model.frame = model.frame > 20.0f ? 1.3f : model.frame + 0.37f;
        model.render(sink);
    }
    benchmark::DoNotOptimize(sink.sum);
}
BENCHMARK(BM_StudioModel_RenderCharacterToSink);
