// tools/gensong.cpp: renders the demo's music and writes "data/vortalune.ogg".
//
//   gensong OUT.ogg              the whole track: checks it, encodes it (Vorbis q 0.45)
//   gensong --wav OUT.wav A B [INSTRUMENT]
//                                seconds A to B of the track as a WAV file, for listening
//                                (only one instrument, by its name, when given)
//   gensong --plan               only the tempo map and the scene boundaries
//
// Always prints the tempo map, every scene boundary and the bar line it lands
// on. Fails (exit 1) when a boundary misses its bar line by more than 2 ms,
// when the track clips or when it falls silent for over a second before the
// last chord.
#include "tools/song/Song.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int    RATE = 44100;
constexpr float  QUALITY = 0.45f;
constexpr double BAR_TOLERANCE = 0.002;     // seconds
constexpr double SILENCE_LEVEL = 0.001;     // RMS, -60 dBFS
constexpr double MAX_SILENCE = 1.0;         // seconds

bool printPlan(const song::Song& s)
{
    std::printf("Tempo map (track %.3f s, %lld frames at %d Hz):\n", s.length,
                static_cast<long long>(std::llround(s.length * RATE)), RATE);
    for (const song::Section& sec : s.sections)
        std::printf("  scene %2d  %-12s %2d bars at %6.2f BPM  %8.3f s - %8.3f s\n", sec.scene, sec.name.c_str(),
                    sec.bars, sec.bpm, sec.start, sec.end());
    std::printf("  last chord from %.3f s, the track ends at %.3f s\n", s.tailStart, s.length);
    std::printf("Scene boundaries:\n");
    bool ok = true;
    for (const song::Boundary& b : song::sceneBoundaries(s)) {
        const double missBy = (b.seconds - b.barLine) * 1000.0;
        const bool hit = std::fabs(missBy) <= BAR_TOLERANCE * 1000.0;
        ok = ok && hit;
        std::printf("  scene %2d starts at %.5f = %8.3f s, bar line %8.3f s (%+.2f ms)%s\n", b.scene, b.fraction,
                    b.seconds, b.barLine, missBy, hit ? "" : "  MISSES ITS BAR LINE");
    }
    return ok;
}

int usage()
{
    std::fprintf(stderr, "usage: gensong OUT.ogg | gensong --wav OUT.wav FROM TO [INSTRUMENT] | gensong --plan\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    song::Song s = song::buildDemoSong();
    const bool planOk = printPlan(s);
    if (std::strcmp(argv[1], "--plan") == 0)
        return planOk ? 0 : 1;

    if (std::strcmp(argv[1], "--wav") == 0) {
        if (argc < 5)
            return usage();
        if (argc > 5) {   // solo one instrument
            std::vector<song::Note> kept;
            for (const song::Note& n : s.notes)
                if (std::strcmp(song::INSTRUMENT_NAMES[size_t(n.instrument)], argv[5]) == 0)
                    kept.push_back(n);
            s.notes = kept;
        }
        const double from = std::max(0.0, std::atof(argv[3]));
        const double to = std::min(s.length, std::atof(argv[4]));
        if (to <= from)
            return usage();
        const auto first = int64_t(from * RATE);
        const auto pcm = song::renderSong(s, RATE, first, int64_t(to * RATE) - first);
        const auto pcm16 = song::toPcm16(pcm);
        if (!song::writeWav(argv[2], pcm16.data(), pcm16.size() / 2, 2, RATE)) {
            std::fprintf(stderr, "gensong: cannot write %s\n", argv[2]);
            return 1;
        }
        std::printf("%s: %.3f s - %.3f s, peak %.3f\n", argv[2], from, to, double(song::peakLevel(pcm)));
        return 0;
    }

    const int64_t frames = std::llround(s.length * RATE);
    const auto pcm = song::renderSong(s, RATE, 0, frames);
    const float peak = song::peakLevel(pcm);
    const std::vector<float> beforeTail(pcm.begin(), pcm.begin() + std::ptrdiff_t(int64_t(s.tailStart * RATE) * 2));
    const double silence = song::longestSilence(beforeTail, RATE, SILENCE_LEVEL);
    std::printf("Rendered %lld frames: peak %.3f (%.2f dBFS), longest silence before the last chord %.2f s\n",
                static_cast<long long>(frames), double(peak), 20.0 * std::log10(std::max(peak, 1e-9f)), silence);
    if (!planOk || peak >= 1.0f || silence > MAX_SILENCE) {
        std::fprintf(stderr, "gensong: the track fails its checks\n");
        return 1;
    }
    const auto pcm16 = song::toPcm16(pcm);
    std::string error;
    if (!song::writeOggVorbis(argv[1], pcm16.data(), pcm16.size() / 2, 2, RATE, QUALITY, error)) {
        std::fprintf(stderr, "gensong: %s\n", error.c_str());
        return 1;
    }
    std::printf("Wrote %s\n", argv[1]);
    return 0;
}
