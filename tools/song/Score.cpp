// tools/song/Score.cpp: the demo's music, written out as a score.
//
// A minor, mostly 175 BPM in 4/4: drum'n'bass drums over a reese bass, pads,
// a saw lead, plucked arpeggios and FM bells. One section per scene; each
// scene's boundary is a bar line and brings an audible change:
//
//   scene  bars  bpm     part
//     1      6   186.43  title: pads swell, bell motif, sub drone (no drums)
//     2      7   178.70  build: arpeggio and kick come in, snare roll and riser
//                        into a fade to white
//     3      8   175     drop (white flash): impact, full drums, bass, theme A;
//                        in its last bar drums and bass stop under a riser
//     4      8   175     theme B lands with an impact (the fountain merges into
//                        one surface): new chords and bass line, arpeggio back
//     5      8   175     break: drums out, shaker, bells over slow chords
//     6      8   175     rebuild: half-time drums, opening filter sweep; its
//                        last bar only the snare roll and the riser over pads
//     7      8   175     second drop (the glowing chain): theme A with a harmony;
//                        in its last bar drums and bass stop under the lead
//     8      8   175     two-step groove, bass riff, chord stabs, bell calls
//     9      8   175     climax, drifting in: the groove falls away to pads and
//                        an arpeggio whose filter opens, a sub from bar 2;
//                        half-time drums from bar 3 (a third in), everything
//                        from bar 5 (0.6 in), theme A and its ending joined,
//                        roll and riser
//    10     17   175     credits: half-time, bells sing theme A slowly, the
//                        drums thin out, a last chord rings to the end
//
// Scenes 3 to 9 each take 1/11 of the track, so eight bars at 175 BPM fix the
// track length: 88 bars = 120.686 s. The tempos of scenes 1 and 2 make their
// bars fit 0.064 and 0.0779 of that length. The show steps its animations by
// 75 x the change of the track fraction, so this length runs them at
// 75 / 120.686 = 0.62 of real time.
//
// Patterns are strings, one character per sixteenth note, sixteen to a bar:
//   drums   X accent, x hit, g ghost, . rest
//   bass    R root, O octave up, F fifth, - hold the previous note, . rest
// Melodies are "NOTE:LENGTH" tokens with the length in sixteenths ("r" rests).
#include "tools/song/Song.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace song {
namespace {

// --- Pitches and chords -----------------------------------------------------------------

// "A4", "C#5", "Bb3" to a MIDI number; -1 for anything else.
int parsePitch(const std::string& name)
{
    static constexpr int LETTER[7] = { 9, 11, 0, 2, 4, 5, 7 };   // A B C D E F G
    if (name.size() < 2 || name[0] < 'A' || name[0] > 'G')
        return -1;
    int semitone = LETTER[name[0] - 'A'];
    size_t i = 1;
    if (name[i] == '#') { ++semitone; ++i; }
    else if (name[i] == 'b') { --semitone; ++i; }
    if (i >= name.size())
        return -1;
    const int octave = std::atoi(name.c_str() + i);
    return 12 * (octave + 1) + semitone;
}

struct Chord {
    int root;                // pitch class 0..11 (C = 0)
    int tones[4];            // intervals above the root
    int count;
};

// "Am", "F", "Fmaj7", "Am9", "Gsus4", "E", "Bb", "Dm", "Em".
Chord parseChord(const std::string& name)
{
    static constexpr int LETTER[7] = { 9, 11, 0, 2, 4, 5, 7 };
    Chord c{ LETTER[name[0] - 'A'], { 0, 4, 7, 0 }, 3 };
    size_t i = 1;
    if (i < name.size() && name[i] == 'b') { c.root = (c.root + 11) % 12; ++i; }
    const std::string quality = name.substr(i);
    if (quality == "m")          c = { c.root, { 0, 3, 7, 0 }, 3 };
    else if (quality == "maj7")  c = { c.root, { 0, 4, 7, 11 }, 4 };
    else if (quality == "m9")    c = { c.root, { 0, 3, 7, 14 }, 4 };
    else if (quality == "sus4")  c = { c.root, { 0, 5, 7, 0 }, 3 };
    else if (quality == "6")     c = { c.root, { 0, 4, 7, 9 }, 4 };
    return c;
}

// Closed voicing between G3 and F#4: neighbouring chords share or move by
// small steps without any voice-leading logic.
std::vector<int> voicing(const Chord& c)
{
    std::vector<int> pitches;
    for (int t = 0; t < c.count; ++t) {
        int pc = (c.root + c.tones[t]) % 12;
        pitches.push_back(55 + (pc - 7 + 12) % 12);
    }
    return pitches;
}

int bassRoot(const Chord& c)       // E1 .. D#2
{
    return 28 + (c.root - 4 + 12) % 12;
}

// Moves a pitch by `steps` degrees of the A-minor scale (-2: a third below).
// Pitches outside the scale (the G# of E major) move by a major third.
int diatonicShift(int pitch, int steps)
{
    static constexpr int SCALE[7] = { 0, 2, 4, 5, 7, 9, 11 };   // C D E F G A B
    const int pc = pitch % 12;
    int degree = -1;
    for (int d = 0; d < 7; ++d)
        if (SCALE[d] == pc)
            degree = d;
    if (degree < 0)
        return pitch + (steps < 0 ? -4 : 4);
    const int index = (pitch / 12) * 7 + degree + steps;
    return (index / 7) * 12 + SCALE[index % 7];
}

// --- Writing into a section ------------------------------------------------------------

class Part {
public:
    Part(Song& song, const Section& section) : song_(song), section_(section) {}

    double sixteenth() const { return section_.barSeconds() / 16.0; }
    double at(double bar, double step = 0.0) const { return section_.start + (bar * 16.0 + step) * sixteenth(); }

    void note(double bar, double step, double steps, Instrument inst, int pitch,
              float velocity = 1.0f, float pan = 0.0f, float tone = 0.5f)
    {
        Note n;
        n.time = at(bar, step);
        n.duration = steps * sixteenth();
        n.instrument = inst;
        n.pitch = pitch;
        n.velocity = velocity;
        n.pan = pan;
        n.tone = tone;
        song_.notes.push_back(n);
    }

    // One drum voice over bars [from, to), repeating a pattern of any length.
    void drums(int from, int to, Instrument inst, const char* pattern, float level = 1.0f, float pan = 0.0f)
    {
        const int len = int(std::strlen(pattern));
        for (int step = from * 16; step < to * 16; ++step) {
            const char c = pattern[(step - from * 16) % len];
            const float v = c == 'X' ? 1.0f : c == 'x' ? 0.72f : c == 'g' ? 0.32f : 0.0f;
            if (v > 0.0f)
                note(0, step, 1, inst, 60, v * level, pan);
        }
    }

    // Sixteenth-note snare roll over [from, to) bars, growing from `low` to `high`.
    void roll(double fromBar, double toBar, float low, float high)
    {
        const int first = int(fromBar * 16), last = int(toBar * 16);
        for (int s = first; s < last; ++s) {
            const float x = float(s - first) / float(std::max(1, last - first - 1));
            note(0, s, 1, Instrument::Snare, 60, low + (high - low) * x);
        }
    }

    // Chords held for `barsEach` bars each, from bar `from`.
    void pads(int from, const std::vector<std::string>& chords, int barsEach, float tone, float level = 1.0f)
    {
        for (size_t i = 0; i < chords.size(); ++i) {
            const Chord c = parseChord(chords[i]);
            const double bar = from + double(i) * barsEach;
            const std::vector<int> v = voicing(c);
            for (size_t k = 0; k < v.size(); ++k)
                note(bar, 0, barsEach * 16, Instrument::Pad, v[k], level, (k % 2 ? 0.3f : -0.3f), tone);
            note(bar, 0, barsEach * 16, Instrument::Pad, bassRoot(c) + 24, level * 0.7f, 0.0f, tone);
        }
    }

    // A bass line: one pattern per bar over chords of `barsEach` bars.
    void bass(int from, const std::vector<std::string>& chords, int barsEach, const char* pattern, float tone)
    {
        for (size_t i = 0; i < chords.size(); ++i) {
            const int root = bassRoot(parseChord(chords[i]));
            for (int b = 0; b < barsEach; ++b) {
                const int bar = from + int(i) * barsEach + b;
                for (int s = 0; s < 16; ++s) {
                    const char c = pattern[s];
                    if (c != 'R' && c != 'O' && c != 'F')
                        continue;
                    int len = 1;
                    while (s + len < 16 && pattern[s + len] == '-')
                        ++len;
                    const int pitch = root + (c == 'O' ? 12 : c == 'F' ? 7 : 0);
                    note(bar, s, len, Instrument::Bass, pitch, 1.0f, 0.0f, tone);
                }
            }
        }
    }

    // Sixteenth arpeggio through the chord tones over two octaves; `tone` moves
    // from toneFrom to toneTo across the chords (a filter sweep).
    void arpeggio(int from, const std::vector<std::string>& chords, int barsEach, float toneFrom, float toneTo,
                  float level = 1.0f)
    {
        static constexpr int ORDER[16] = { 0, 1, 2, 4, 3, 2, 1, 2, 0, 1, 2, 4, 5, 4, 2, 1 };
        const int total = int(chords.size()) * barsEach * 16;
        for (size_t i = 0; i < chords.size(); ++i) {
            const std::vector<int> v = voicing(parseChord(chords[i]));
            std::vector<int> ladder;
            for (int oct = 0; oct < 2; ++oct)
                for (size_t k = 0; k < 3; ++k)
                    ladder.push_back(v[k] + 12 * (oct + 1));
            for (int s = 0; s < barsEach * 16; ++s) {
                const int global = int(i) * barsEach * 16 + s;
                const float x = float(global) / float(total);
                const int pitch = ladder[size_t(ORDER[s % 16]) % ladder.size()];
                note(from + int(i) * barsEach, s, 1, Instrument::Pluck, pitch,
                     level * (s % 4 == 0 ? 1.0f : 0.75f), (s % 2 ? 0.35f : -0.35f), toneFrom + (toneTo - toneFrom) * x);
            }
        }
    }

    // Chord stabs on the pattern's hits (x), with the pluck.
    void stabs(int from, const std::vector<std::string>& chords, int barsEach, const char* pattern, float tone)
    {
        for (size_t i = 0; i < chords.size(); ++i) {
            const std::vector<int> v = voicing(parseChord(chords[i]));
            for (int b = 0; b < barsEach; ++b)
                for (int s = 0; s < 16; ++s)
                    if (pattern[s] == 'x')
                        for (size_t k = 0; k < v.size(); ++k)
                            note(from + int(i) * barsEach + b, s, 1, Instrument::Pluck, v[k] + 12, 0.8f,
                                 float(k) * 0.3f - 0.4f, tone);
        }
    }

    // A melody from bar `from`; `stretch` 2 plays it at half speed; `harmony`
    // adds a line a diatonic third below.
    void melody(int from, const char* text, Instrument inst, float level, float tone, double stretch = 1.0,
                bool harmony = false, int transpose = 0)
    {
        std::istringstream in(text);
        std::string token;
        double step = 0.0;
        while (in >> token) {
            const size_t colon = token.find(':');
            const std::string name = token.substr(0, colon);
            const double len = (colon == std::string::npos ? 4.0 : std::atof(token.c_str() + colon + 1)) * stretch;
            if (name != "r") {
                const int pitch = parsePitch(name) + transpose;
                note(from, step, len, inst, pitch, level, 0.1f, tone);
                if (harmony)
                    note(from, step, len, inst, diatonicShift(pitch, -2), level * 0.6f, -0.3f, tone);
            }
            step += len;
        }
    }

    void hit(double bar, Instrument inst, float velocity = 1.0f, int pitch = 60)
    {
        note(bar, 0, 1, inst, pitch, velocity);
    }

    // A rise of `bars` bars ending exactly at bar `endBar`.
    void riser(double endBar, double bars, float level = 1.0f)
    {
        note(endBar - bars, 0, bars * 16, Instrument::Riser, 60, level);
    }

private:
    Song&          song_;
    const Section& section_;
};

// --- The tunes ---------------------------------------------------------------------------

const char* const THEME_A =
    "E5:6 D5:2 C5:4 D5:4  E5:12 A4:4  F5:6 E5:2 C5:4 A4:4  C5:12 r:4 "
    "G5:6 E5:2 C5:4 E5:4  G5:8 A5:4 G5:4  D5:6 B4:2 G4:4 B4:4  D5:8 E5:8";
const char* const THEME_B =
    "A5:4 G5:4 F5:4 E5:4  C5:8 F5:8  G5:4 F5:4 E5:4 D5:4  B4:8 D5:8 "
    "E5:4 G5:4 B5:4 A5:4  G5:8 E5:8  A5:6 B5:2 C6:4 B5:4  A5:16";
const char* const THEME_CLIMAX_END =   // over G and E: the way back home
    "D5:6 G5:2 B5:4 A5:4  G5:8 D5:8  E5:6 G#5:2 B5:4 G#5:4  B5:8 G#5:8";
const char* const INTRO_BELLS =
    "E5:8 A5:4 B5:4  C6:12 B5:4  A5:8 E5:8  F5:16  D5:8 G5:8  B5:16";
const char* const BREAK_BELLS =
    "D5:8 F5:8  A5:16  C5:8 E5:8  A5:16  D5:8 F5:8  A5:8 F5:8  G#5:8 E5:8  G#5:8 B5:8";
const char* const CALLS =
    "r:8 A5:2 G5:2 F5:4  r:16  r:8 B5:2 A5:2 G5:4  r:16 "
    "r:8 B5:2 A5:2 G5:4  r:16  r:8 C6:2 B5:2 A5:4  r:16";

// Drum patterns (sixteen steps a bar).
const char* const KICK_DNB     = "X.........X.....X.........X..x..";   // two bars
const char* const SNARE_DNB    = "....X.......X.......X..g....X..g";
const char* const HATS_8       = "x.x.x.x.x.x.x.x.";
const char* const HATS_16      = "xgxgXgxgxgxgXgxg";
const char* const OPEN_OFF     = "..x...x...x...x.";
const char* const KICK_HALF    = "X.........X.....";
const char* const SNARE_HALF   = "........X.......";
const char* const KICK_TWO     = "X......X..X.....X.....X...X..x..";
const char* const SNARE_TWO    = "....X..g....X.......X..g....X.g.";
const char* const KICK_FOUR    = "x...x...x...x...";
const char* const SHAKER_16    = "xgxgxgxgxgxgxgxg";

void writeScene(Song& song, const Section& s)
{
    Part p(song, s);
    const std::vector<std::string> MAIN = { "Am", "F", "C", "G" };
    const std::vector<std::string> SECOND = { "F", "G", "Em", "Am" };
    switch (s.scene) {
    case 1:   // title
        p.pads(0, { "Am9", "Fmaj7", "Gsus4" }, 2, 0.2f, 0.9f);
        p.bass(0, { "Am", "F", "G" }, 2, "R---------------", 0.05f);
        p.melody(0, INTRO_BELLS, Instrument::Bell, 0.75f, 0.5f);
        p.hit(0, Instrument::Crash, 0.35f);
        p.riser(6, 2, 0.35f);
        break;
    case 2:   // build into the fade to white
        p.pads(0, { "Am", "F" }, 2, 0.3f);
        p.pads(4, { "C", "G", "E" }, 1, 0.4f);
        p.arpeggio(0, { "Am", "F" }, 2, 0.1f, 0.35f, 0.8f);
        p.arpeggio(4, { "C", "G" }, 1, 0.35f, 0.6f, 0.9f);
        p.bass(0, { "Am", "F" }, 2, "R-------R-------", 0.15f);
        p.bass(4, { "C", "G" }, 1, "R-R-R-R-R-R-R-R-", 0.25f);
        p.drums(0, 6, Instrument::Kick, KICK_FOUR, 0.85f);
        p.drums(2, 6, Instrument::ClosedHat, "..x...x...x...x.", 0.9f, 0.2f);
        p.drums(4, 6, Instrument::Snare, SNARE_HALF, 0.55f);
        p.roll(6, 7, 0.25f, 1.0f);
        p.riser(7, 3, 1.0f);
        p.hit(0, Instrument::Crash, 0.5f);
        break;
    case 3:   // the drop; its last bar stops under a riser
        p.hit(0, Instrument::Impact);
        p.hit(0, Instrument::Crash, 1.0f);
        p.drums(0, 7, Instrument::Kick, KICK_DNB);
        p.drums(0, 7, Instrument::Snare, SNARE_DNB);
        p.drums(0, 7, Instrument::ClosedHat, HATS_8, 1.0f, 0.25f);
        p.bass(0, { "Am", "F", "C" }, 2, "R---------R---O-", 0.55f);
        p.bass(6, { "G" }, 1, "R---------R---O-", 0.55f);
        p.pads(0, MAIN, 2, 0.5f, 0.85f);
        p.melody(0, THEME_A, Instrument::Lead, 0.9f, 0.45f);
        p.hit(4, Instrument::Crash, 0.45f);
        p.riser(8, 1, 0.9f);
        break;
    case 4:   // theme B lands
        p.hit(0, Instrument::Impact, 0.7f);
        p.hit(0, Instrument::Crash, 0.9f);
        p.drums(0, 8, Instrument::Kick, KICK_DNB);
        p.drums(0, 8, Instrument::Snare, SNARE_DNB);
        p.drums(0, 8, Instrument::ClosedHat, HATS_16, 0.8f, 0.25f);
        p.drums(0, 8, Instrument::OpenHat, OPEN_OFF, 0.7f, -0.2f);
        p.bass(0, SECOND, 2, "R---O-R-..R-O---", 0.6f);
        p.pads(0, SECOND, 2, 0.55f, 0.75f);
        p.arpeggio(0, SECOND, 2, 0.45f, 0.6f, 0.55f);
        p.melody(0, THEME_B, Instrument::Lead, 0.85f, 0.55f);
        break;
    case 5:   // the break
        p.hit(0, Instrument::Impact, 0.5f);
        p.hit(0, Instrument::Crash, 0.55f);
        p.drums(0, 8, Instrument::Shaker, SHAKER_16, 0.8f, 0.3f);
        p.pads(0, { "Dm", "Am", "Bb", "E" }, 2, 0.3f);
        p.bass(0, { "Dm", "Am", "Bb", "E" }, 2, "R---------------", 0.05f);
        p.melody(0, BREAK_BELLS, Instrument::Bell, 0.8f, 0.5f);
        break;
    case 6:   // rebuild; its last bar holds its breath: the roll and the riser over pads
        p.hit(0, Instrument::Crash, 0.6f);
        p.drums(0, 7, Instrument::Kick, KICK_HALF);
        p.drums(0, 7, Instrument::Snare, SNARE_HALF, 0.9f);
        p.drums(0, 7, Instrument::ClosedHat, HATS_8, 0.9f, 0.25f);
        p.roll(7, 8, 0.3f, 1.0f);
        p.arpeggio(0, { "Am", "F", "C" }, 2, 0.05f, 0.8f);
        p.arpeggio(6, { "G" }, 1, 0.8f, 0.9f);
        p.bass(0, { "Am", "F", "C" }, 2, "R.R.R.R.R.R.R.R.", 0.3f);
        p.bass(6, { "G" }, 1, "R.R.R.R.R.R.R.R.", 0.3f);
        p.pads(0, MAIN, 2, 0.35f, 0.8f);
        p.riser(8, 2, 0.8f);
        break;
    case 7:   // second drop; its last bar the drums and bass stop under the lead
        p.hit(0, Instrument::Impact);
        p.hit(0, Instrument::Crash, 1.0f);
        p.drums(0, 7, Instrument::Kick, KICK_DNB);
        p.drums(0, 7, Instrument::Snare, SNARE_DNB);
        p.drums(0, 7, Instrument::ClosedHat, HATS_16, 0.85f, 0.25f);
        p.drums(0, 7, Instrument::OpenHat, OPEN_OFF, 0.6f, -0.2f);
        p.bass(0, { "Am", "F", "C" }, 2, "R---------R---O-", 0.65f);
        p.bass(6, { "G" }, 1, "R---------R---O-", 0.65f);
        p.pads(0, MAIN, 2, 0.6f, 0.8f);
        p.arpeggio(0, MAIN, 2, 0.5f, 0.7f, 0.45f);
        p.melody(0, THEME_A, Instrument::Lead, 0.9f, 0.6f, 1.0, true);
        p.hit(4, Instrument::Crash, 0.5f);
        break;
    case 8:   // two-step
        p.hit(0, Instrument::Crash, 0.8f);
        p.drums(0, 8, Instrument::Kick, KICK_TWO);
        p.drums(0, 8, Instrument::Snare, SNARE_TWO);
        p.drums(0, 8, Instrument::ClosedHat, "x.xgx.xgx.xgx.xx", 0.85f, 0.3f);
        p.bass(0, SECOND, 2, "R.R.O.R.F.R.O.R.", 0.7f);
        p.stabs(0, SECOND, 2, "..x..x....x..x..", 0.5f);
        p.pads(0, SECOND, 2, 0.4f, 0.6f);
        p.melody(0, CALLS, Instrument::Bell, 0.8f, 0.5f);
        break;
    case 9:   // climax, drifting in: the groove falls away, the drums return a third in, all from bar 5
        p.drums(3, 5, Instrument::Kick, KICK_HALF, 0.85f);
        p.drums(3, 5, Instrument::ClosedHat, HATS_8, 0.7f, 0.25f);
        p.hit(5, Instrument::Impact, 0.8f);
        p.hit(5, Instrument::Crash, 1.0f);
        p.drums(5, 7, Instrument::Kick, KICK_DNB);
        p.drums(5, 7, Instrument::Snare, SNARE_DNB);
        p.drums(5, 8, Instrument::ClosedHat, HATS_16, 0.9f, 0.25f);
        p.drums(5, 7, Instrument::OpenHat, OPEN_OFF, 0.7f, -0.2f);
        p.roll(7, 8, 0.4f, 1.0f);
        p.bass(2, { "F" }, 2, "R---------------", 0.1f);
        p.bass(4, { "G", "E" }, 2, "R---O-R-..R-O-R-", 0.7f);
        p.pads(0, { "Am", "F", "G", "E" }, 2, 0.7f, 0.85f);
        p.arpeggio(0, { "Am", "F", "G", "E" }, 2, 0.15f, 0.9f, 0.55f);
        p.melody(0, THEME_A, Instrument::Lead, 0.6f, 0.7f, 1.0, true);   // bars 0-3 of it over Am and F, softly
        p.melody(4, THEME_CLIMAX_END, Instrument::Lead, 0.9f, 0.75f, 1.0, true);
        p.riser(8, 1, 0.7f);
        break;
    case 10: {   // credits
        p.hit(0, Instrument::Impact, 0.6f);
        p.hit(0, Instrument::Crash, 0.9f);
        p.pads(0, MAIN, 4, 0.45f);
        p.bass(0, MAIN, 4, "R-------R-----O-", 0.3f);
        p.melody(0, THEME_A, Instrument::Bell, 0.8f, 0.5f, 2.0);   // half speed: sixteen bars
        p.arpeggio(0, { "Am", "F" }, 4, 0.5f, 0.3f, 0.35f);
        p.drums(0, 8, Instrument::Kick, KICK_HALF);
        p.drums(0, 8, Instrument::Snare, SNARE_HALF, 0.85f);
        p.drums(0, 12, Instrument::ClosedHat, HATS_8, 0.8f, 0.25f);
        p.drums(8, 12, Instrument::Kick, "X.......X.......", 0.7f);
        p.drums(8, 16, Instrument::Shaker, SHAKER_16, 0.7f, 0.3f);
        p.hit(8, Instrument::Crash, 0.5f);
        // The last chord, from bar 16 to the end of the track.
        p.hit(16, Instrument::Impact, 0.45f);
        p.hit(16, Instrument::Crash, 0.4f);
        p.note(16, 0, 20, Instrument::Pad, 57, 0.9f, -0.3f, 0.4f);
        p.note(16, 0, 20, Instrument::Pad, 60, 0.9f, 0.3f, 0.4f);
        p.note(16, 0, 20, Instrument::Pad, 64, 0.9f, -0.3f, 0.4f);
        p.note(16, 0, 20, Instrument::Pad, 45, 0.7f, 0.0f, 0.4f);
        p.note(16, 0, 16, Instrument::Bass, 33, 1.0f, 0.0f, 0.1f);
        p.note(16, 0, 16, Instrument::Bell, 69, 0.7f, 0.0f, 0.5f);
        p.note(16, 0, 16, Instrument::Bell, 76, 0.5f, 0.2f, 0.5f);
        break;
    }
    default:
        break;
    }
}

} // namespace

// --- The tempo map and the song -----------------------------------------------------------------

void finishTempoMap(Song& song)
{
    double t = 0.0;
    for (Section& s : song.sections) {
        s.start = t;
        t = s.end();
    }
}

double nearestBarLine(const Song& song, double seconds)
{
    double best = 0.0;
    double bestDistance = 1e300;
    for (const Section& s : song.sections) {
        for (int b = 0; b <= s.bars; ++b) {
            const double line = s.start + b * s.barSeconds();
            if (std::fabs(line - seconds) < bestDistance) {
                bestDistance = std::fabs(line - seconds);
                best = line;
            }
        }
    }
    return best;
}

std::vector<Boundary> sceneBoundaries(const Song& song)
{
    std::vector<Boundary> result;
    for (int k = 1; k < SCENE_COUNT; ++k) {
        const double seconds = SCENE_STARTS[k] * song.length;
        result.push_back({ k + 1, SCENE_STARTS[k], seconds, nearestBarLine(song, seconds) });
    }
    return result;
}

float peakLevel(const std::vector<float>& pcm)
{
    float peak = 0.0f;
    for (float v : pcm)
        peak = std::max(peak, std::fabs(v));
    return peak;
}

double longestSilence(const std::vector<float>& pcm, int rate, double threshold)
{
    const size_t window = size_t(std::max(1, rate / 20));
    const size_t frames = pcm.size() / 2;
    size_t run = 0, longest = 0;
    for (size_t w = 0; w + window <= frames; w += window) {
        double sum = 0.0;
        for (size_t i = w; i < w + window; ++i)
            sum += double(pcm[2 * i]) * pcm[2 * i] + double(pcm[2 * i + 1]) * pcm[2 * i + 1];
        const double rms = std::sqrt(sum / double(2 * window));
        run = rms < threshold ? run + window : 0;
        longest = std::max(longest, run);
    }
    return double(longest) / rate;
}

Song buildDemoSong()
{
    Song song;
    song.sections = {
        { "title",        1,  6, 186.43 },
        { "build",        2,  7, 178.70 },
        { "drop",         3,  8, 175.0 },
        { "theme B",      4,  8, 175.0 },
        { "break",        5,  8, 175.0 },
        { "rebuild",      6,  8, 175.0 },
        { "second drop",  7,  8, 175.0 },
        { "two-step",     8,  8, 175.0 },
        { "climax",       9,  8, 175.0 },
        { "credits",     10, 17, 175.0 },
    };
    finishTempoMap(song);
    for (const Section& s : song.sections)
        writeScene(song, s);

    // The track ends where scene 10's share of it ends: scene 10 starts at
    // SCENE_STARTS[9] of the track.
    const Section& credits = song.sections.back();
    song.length = credits.start / SCENE_STARTS[SCENE_COUNT - 1];
    song.tailStart = credits.start + 16 * credits.barSeconds();   // the last chord
    return song;
}

} // namespace song
