// tools/song/Jobs.cpp: what gensong does with the score: the plan, the beat
// map, a stretch as WAV, the whole track as Ogg Vorbis.
#include "tools/song/Song.h"

#include "base/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace song {

namespace {

constexpr double BAR_TOLERANCE = 0.002;     // seconds
constexpr double SILENCE_LEVEL = 0.001;     // RMS, -60 dBFS
constexpr double MAX_SILENCE = 1.0;         // seconds

} // namespace

bool printPlan(const Song& s)
{
    std::printf("Tempo map (track %.3f s, %lld frames at %d Hz):\n", s.length,
                static_cast<long long>(std::llround(s.length * TRACK_RATE)), TRACK_RATE);
    for (const Section& sec : s.sections)
        std::printf("  scene %2d  %-12s %2d bars at %6.2f BPM  %8.3f s - %8.3f s\n", sec.scene, sec.name.c_str(),
                    sec.bars, sec.bpm, sec.start, sec.end());
    std::printf("  last chord from %.3f s, the track ends at %.3f s\n", s.tailStart, s.length);
    std::printf("Scene boundaries:\n");
    bool ok = true;
    for (const Boundary& b : sceneBoundaries(s)) {
        const double missBy = (b.seconds - b.barLine) * 1000.0;
        const bool hit = std::fabs(missBy) <= BAR_TOLERANCE * 1000.0;
        ok = ok && hit;
        std::printf("  scene %2d starts at %.5f = %8.3f s, bar line %8.3f s (%+.2f ms)%s\n", b.scene, b.fraction,
                    b.seconds, b.barLine, missBy, hit ? "" : "  MISSES ITS BAR LINE");
    }
    return ok;
}

bool writeBeatMapFile(const Song& s, const std::string& path)
{
    const int64_t frames = std::llround(s.length * TRACK_RATE);
    const std::vector<SongBeat> beats = songBeats(s);
    std::string error;
    if (!writeTextFile(path, beatMapText(beats, double(frames) / TRACK_RATE), error)) {
        reportLine("gensong: %s\n", error.c_str());
        return false;
    }
    std::printf("Wrote %s (%zu beats in %d bars)\n", path.c_str(), beats.size(), beats.empty() ? 0 : beats.back().bar);
    return true;
}

int instrumentIndex(const char* name)
{
    for (size_t i = 0; i < std::size(INSTRUMENT_NAMES); ++i)
        if (std::strcmp(INSTRUMENT_NAMES[i], name) == 0)
            return int(i);
    return -1;
}

std::string instrumentList()
{
    std::string list;
    for (const char* name : INSTRUMENT_NAMES)
        list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

bool writeSongWav(const Song& s, const std::string& path, double from, double to)
{
    const auto first = int64_t(from * TRACK_RATE);
    const auto pcm = renderSong(s, TRACK_RATE, first, int64_t(to * TRACK_RATE) - first);
    const auto pcm16 = toPcm16(pcm);
    if (!writeWav(path.c_str(), pcm16.data(), pcm16.size() / 2, 2, TRACK_RATE)) {
        reportLine("gensong: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s: %.3f s - %.3f s, peak %.3f\n", path.c_str(), from, to, double(peakLevel(pcm)));
    return true;
}

bool writeSongTrack(const Song& s, const std::string& path, bool planOk)
{
    const int64_t frames = std::llround(s.length * TRACK_RATE);
    const auto pcm = renderSong(s, TRACK_RATE, 0, frames);
    const float peak = peakLevel(pcm);
    const std::vector<float> beforeTail(pcm.begin(), pcm.begin() + std::ptrdiff_t(int64_t(s.tailStart * TRACK_RATE) * 2));
    const double silence = longestSilence(beforeTail, TRACK_RATE, SILENCE_LEVEL);
    std::printf("Rendered %lld frames: peak %.3f (%.2f dBFS), longest silence before the last chord %.2f s\n",
                static_cast<long long>(frames), double(peak), 20.0 * std::log10(std::max(peak, 1e-9f)), silence);
    if (!planOk || peak >= 1.0f || silence > MAX_SILENCE) {
        reportLine("gensong: the track fails its checks\n");
        return false;
    }
    const auto pcm16 = toPcm16(pcm);
    std::string error;
    if (!writeOggVorbis(path, pcm16.data(), pcm16.size() / 2, 2, TRACK_RATE, TRACK_QUALITY, error)) {
        reportLine("gensong: %s\n", error.c_str());
        return false;
    }
    std::printf("Wrote %s\n", path.c_str());
    return writeBeatMapFile(s, beatMapPath(path));
}

} // namespace song
