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
//   gensong --report             the plan, then how much the sound changes across
//                                each scene boundary next to the median inside sections
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

const char* const USAGE =
    "usage: gensong OUT.ogg\n"
    "       gensong --wav OUT.wav FROM TO [INSTRUMENT]\n"
    "       gensong --beats OUT.beats\n"
    "       gensong --plan\n"
    "       gensong --report\n";
const char* const HELP =
    "  OUT.ogg      render the whole track, check it and encode it (Vorbis), and\n"
    "               write its beat map beside it (OUT.beats: fraction, bar, beat)\n"
    "  --wav        seconds FROM to TO of the track as a WAV file, only INSTRUMENT\n"
    "               when given (kick, snare, closed hat, open hat, shaker, crash,\n"
    "               impact, riser, bass, pad, pluck, lead, bell)\n"
    "  --beats      write the beat map only, without rendering the track\n"
    "  --plan       print the tempo map and the scene boundaries only\n"
    "  --report     the plan, then the change of sound across each scene boundary\n"
    "               (12 bands, 1.5 s before against after) next to the median change\n"
    "               at moments inside the sections\n"
    "  -h, --help   print this and exit\n";

int refuse(const std::string& reason)
{
    return refuseCommandLine("gensong", reason, USAGE);
}

} // namespace

int main(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return printHelp(USAGE, HELP);
    if (argc < 2)
        return refuse("nothing to do: give OUT.ogg, --wav or --plan");

    // The whole command line is checked before the song is built.
    const bool report = std::strcmp(argv[1], "--report") == 0;
    const bool plan = report || std::strcmp(argv[1], "--plan") == 0;
    const bool wav = std::strcmp(argv[1], "--wav") == 0;
    const bool beatsOnly = std::strcmp(argv[1], "--beats") == 0;
    double from = 0.0, to = 0.0;
    int solo = -1;
    if (plan) {
        if (argc > 2)
            return refuse(std::string(argv[1]) + " takes nothing after it, not '" + argv[2] + "'");
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
            solo = song::instrumentIndex(argv[5]);
            if (solo < 0)
                return refuse(std::string("unknown instrument '") + argv[5] + "' (one of: " + song::instrumentList() + ")");
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
    const bool planOk = song::printPlan(s);
    if (report)
        song::printChangeReport(song::changeReport(s, song::TRACK_RATE));
    if (plan)
        return planOk ? 0 : 1;
    if (beatsOnly)
        return planOk && song::writeBeatMapFile(s, argv[2]) ? 0 : 1;

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
        return song::writeSongWav(s, argv[2], from, to) ? 0 : 1;
    }

    return song::writeSongTrack(s, argv[1], planOk) ? 0 : 1;
}
