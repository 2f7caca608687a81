// bench/music_bench.cpp: decoding the track at start-up, the music clock's
// per-frame poll and the synthesizer that renders the track at build time.
#include "app/Music.h"
#include "sound/SoundOutput.h"
#include "tools/song/Song.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// Ten seconds of a stereo chord, encoded once per process.
const std::string& tenSecondOgg()
{
    static const std::string path = [] {
        const std::string p = "/tmp/vortalune-bench-" + std::to_string(getpid()) + ".ogg";
        std::vector<int16_t> pcm(size_t(10 * 44100) * 2);
        for (size_t i = 0; i < pcm.size() / 2; ++i) {
            pcm[2 * i] = int16_t(8000.0 * std::sin(double(i) * 0.0627) + 4000.0 * std::sin(double(i) * 0.094));
            pcm[2 * i + 1] = int16_t(8000.0 * std::sin(double(i) * 0.0791));
        }
        std::string error;
        song::writeOggVorbis(p, pcm.data(), pcm.size() / 2, 2, 44100, 0.45f, error);
        std::atexit([] { std::remove(("/tmp/vortalune-bench-" + std::to_string(getpid()) + ".ogg").c_str()); });
        return p;
    }();
    return path;
}

} // namespace

static void BM_Sound_DecodeOgg10s(benchmark::State& state)
{
    const std::string& path = tenSecondOgg();
    std::vector<int16_t> stereo;
    std::string error;
    for (auto _ : state) {
        decodeOggFile(path.c_str(), stereo, error);
        benchmark::DoNotOptimize(stereo.data());
    }
}
BENCHMARK(BM_Sound_DecodeOgg10s)->Unit(benchmark::kMillisecond);

// The ten-second track with 50 MB of junk after it: the junk is found to lie
// past the stream's last page and is not scanned by the decoder.
static void BM_Sound_DecodeOgg10sWith50MBJunk(benchmark::State& state)
{
    const std::string path = "/tmp/vortalune-bench-junk-" + std::to_string(getpid()) + ".ogg";
    {
        FILE* out = std::fopen(path.c_str(), "wb");
        FILE* in = std::fopen(tenSecondOgg().c_str(), "rb");
        if (!out || !in) {
            state.SkipWithError("cannot write the track");
            return;
        }
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            std::fwrite(buffer, 1, got, out);
        uint32_t value = 1u;
        for (size_t written = 0; written < 50000000; written += sizeof buffer) {
            for (char& c : buffer) {
                value = value * 1664525u + 1013904223u;
                c = char(value >> 24);
            }
            std::fwrite(buffer, 1, sizeof buffer, out);
        }
        std::fclose(in);
        std::fclose(out);
    }
    std::vector<int16_t> stereo;
    std::string error, note;
    for (auto _ : state) {
        decodeOggFile(path.c_str(), stereo, error, &note);
        benchmark::DoNotOptimize(stereo.data());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_Sound_DecodeOgg10sWith50MBJunk)->Unit(benchmark::kMillisecond);

static void BM_Music_PositionPoll(benchmark::State& state)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    initSound();
    loadTrack(tenSecondOgg().c_str(), 0);
    playTrack(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(musicPosition(0));
    stopSoundOutput();
}
BENCHMARK(BM_Music_PositionPoll);

static void BM_Song_RenderOneSecondOfDrop(benchmark::State& state)
{
    const song::Song s = song::buildDemoSong();
    for (auto _ : state) {
        const std::vector<float> pcm = song::renderSong(s, 44100, 18 * 44100, 44100);
        benchmark::DoNotOptimize(pcm.data());
    }
}
BENCHMARK(BM_Song_RenderOneSecondOfDrop)->Unit(benchmark::kMillisecond);
