// tools/gensong.cpp: renders the demo's music and writes "data/vortalune.ogg"
// and its beat map "data/vortalune.beats".
//
//   gensong OUT.ogg              the whole track: checks it, encodes it (Vorbis q 0.45),
//                                and writes the beat map beside it (OUT.beats)
//   gensong --wav OUT.wav A B [INSTRUMENT]
//                                seconds A to B of the track as a WAV file, for listening
//                                (only one instrument, by its name, when given)
//   gensong --beats OUT.beats    only the beat map (no rendering)
//   gensong --plan               only the tempo map and the scene boundaries
//   gensong --help               the usage
//
// Always prints the tempo map, every scene boundary and the bar line it lands
// on. Fails (exit 1) when a boundary misses its bar line by more than 2 ms,
// when the track clips or when it falls silent for over a second before the
// last chord. A refused command line (exit 2) writes nothing.
#include "tools/ToolArgs.h"
#include "tools/song/Song.h"

#include <algorithm>
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

// The beat map, in fractions of the rendered length (whole frames, as the
// music clock counts them). Prints what it wrote, or one line on failure.
bool writeBeatMap(const song::Song& s, const std::string& path)
{
    const int64_t frames = std::llround(s.length * RATE);
    const std::vector<song::SongBeat> beats = song::songBeats(s);
    std::string error;
    if (!song::writeTextFile(path, song::beatMapText(beats, double(frames) / RATE), error)) {
        std::fprintf(stderr, "gensong: %s\n", error.c_str());
        return false;
    }
    std::printf("Wrote %s (%zu beats in %d bars)\n", path.c_str(), beats.size(), beats.empty() ? 0 : beats.back().bar);
    return true;
}

const char* const USAGE =
    "usage: gensong OUT.ogg\n"
    "       gensong --wav OUT.wav FROM TO [INSTRUMENT]\n"
    "       gensong --beats OUT.beats\n"
    "       gensong --plan\n";
const char* const HELP =
    "  OUT.ogg      render the whole track, check it and encode it (Vorbis), and\n"
    "               write its beat map beside it (OUT.beats: fraction, bar, beat)\n"
    "  --wav        seconds FROM to TO of the track as a WAV file, only INSTRUMENT\n"
    "               when given (kick, snare, closed hat, open hat, shaker, crash,\n"
    "               impact, riser, bass, pad, pluck, lead, bell)\n"
    "  --beats      write the beat map only, without rendering the track\n"
    "  --plan       print the tempo map and the scene boundaries only\n"
    "  -h, --help   print this and exit\n";

int refuse(const std::string& reason)
{
    return refuseCommandLine("gensong", reason, USAGE);
}

// Index into song::INSTRUMENT_NAMES, or -1.
int instrumentIndex(const char* name)
{
    for (size_t i = 0; i < std::size(song::INSTRUMENT_NAMES); ++i)
        if (std::strcmp(song::INSTRUMENT_NAMES[i], name) == 0)
            return int(i);
    return -1;
}

std::string instrumentList()
{
    std::string list;
    for (const char* name : song::INSTRUMENT_NAMES)
        list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc < 2)
        return refuse("nothing to do: give OUT.ogg, --wav or --plan");

    // The whole command line is checked before the song is built.
    const bool plan = std::strcmp(argv[1], "--plan") == 0;
    const bool wav = std::strcmp(argv[1], "--wav") == 0;
    const bool beatsOnly = std::strcmp(argv[1], "--beats") == 0;
    double from = 0.0, to = 0.0;
    int solo = -1;
    if (plan) {
        if (argc > 2)
            return refuse(std::string("--plan takes nothing after it, not '") + argv[2] + "'");
    } else if (beatsOnly) {
        if (argc != 3)
            return refuse("--beats needs exactly one OUT.beats");
        const std::string problem = fileArgumentProblem("the beat map's file name", argv[2]);
        if (!problem.empty())
            return refuse(problem);
    } else if (wav) {
        if (argc < 5 || argc > 6)
            return refuse("--wav needs OUT.wav FROM TO and at most an INSTRUMENT");
        const std::string problem = fileArgumentProblem("the WAV file name", argv[2]);
        if (!problem.empty())
            return refuse(problem);
        if (!parseFiniteNumber(argv[3], from))
            return refuse(std::string("FROM '") + argv[3] + "' is not a finite number of seconds");
        if (!parseFiniteNumber(argv[4], to))
            return refuse(std::string("TO '") + argv[4] + "' is not a finite number of seconds");
        if (!(from < to))
            return refuse(std::string("FROM ") + argv[3] + " must come before TO " + argv[4]);
        if (argc == 6) {
            solo = instrumentIndex(argv[5]);
            if (solo < 0)
                return refuse(std::string("unknown instrument '") + argv[5] + "' (one of: " + instrumentList() + ")");
        }
    } else {
        const std::string problem = fileArgumentProblem("the Ogg file name", argv[1]);
        if (!problem.empty())
            return refuse(problem);
        if (argc > 2)
            return refuse(std::string("unexpected argument '") + argv[2] + "' after OUT.ogg");
        if (song::beatMapPath(argv[1]) == argv[1])
            return refuse(std::string("'") + argv[1] + "' is the beat map's own name: give the track another extension");
    }

    song::Song s = song::buildDemoSong();
    const bool planOk = printPlan(s);
    if (plan)
        return planOk ? 0 : 1;
    if (beatsOnly)
        return planOk && writeBeatMap(s, argv[2]) ? 0 : 1;

    if (wav) {
        if (solo >= 0) {   // solo one instrument
            std::vector<song::Note> kept;
            for (const song::Note& n : s.notes)
                if (int(n.instrument) == solo)
                    kept.push_back(n);
            s.notes = kept;
        }
        from = std::max(0.0, from);
        to = std::min(s.length, to);
        if (to <= from) {
            char range[64];
            std::snprintf(range, sizeof range, "0..%.3f s", s.length);
            return refuse(std::string("FROM ") + argv[3] + " to TO " + argv[4] + " leaves nothing of the track (" +
                          range + ")");
        }
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
    return writeBeatMap(s, song::beatMapPath(argv[1])) ? 0 : 1;
}
