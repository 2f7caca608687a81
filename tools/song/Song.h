// tools/song/Song.h: the demo's music as data, and the synthesizer that plays it.
//
// A Song is a tempo map (sections of whole bars, each at its own tempo) and a
// list of note events in seconds. Score.cpp writes the demo's song; Synth.cpp
// renders any song to stereo PCM, deterministically (same song, same rate, same
// range: the same samples). OggWriter.cpp encodes PCM with libvorbisenc.
// Tool code: linked into gensong and the tests, never into the demo.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace song {

// --- Instruments ----------------------------------------------------------------------
enum class Instrument : uint8_t {
    Kick,        // pitched-down sine with a click
    Snare,       // tone and band-passed noise
    ClosedHat,   // short high-passed noise
    OpenHat,     // longer high-passed noise
    Shaker,      // soft band-passed noise, sixteenths in the break
    Crash,       // long noise wash at section starts
    Impact,      // sub boom under a drop
    Riser,       // noise with a rising band-pass, swelling to its end
    Bass,        // detuned saws and a sub sine, low-passed
    Pad,         // four detuned saws per note, slow attack, wide
    Pluck,       // arpeggio: saw with a fast filter decay
    Lead,        // two detuned saws with vibrato, into the delay
    Bell,        // two-operator FM bell
    COUNT
};

constexpr const char* INSTRUMENT_NAMES[] = {
    "kick", "snare", "closed hat", "open hat", "shaker", "crash", "impact",
    "riser", "bass", "pad", "pluck", "lead", "bell",
};
static_assert(std::size(INSTRUMENT_NAMES) == size_t(Instrument::COUNT));

struct Note {
    double     time     = 0.0;   // seconds from the track's start
    double     duration = 0.0;   // seconds the key is held (the release follows)
    Instrument instrument = Instrument::Kick;
    int        pitch    = 60;    // MIDI note number (69 = A4 = 440 Hz)
    float      velocity = 1.0f;  // 0..1
    float      pan      = 0.0f;  // -1 left .. 1 right
    float      tone     = 0.5f;  // 0..1 brightness (filter opening) where the instrument has one
};

// A stretch of whole bars at one tempo. Every scene of the show is one or more
// sections, so scene boundaries fall on bar lines.
struct Section {
    std::string name;
    int         scene = 0;        // the show's scene it belongs to, 1..10
    int         bars = 0;
    double      bpm = 120.0;      // quarter notes per minute, 4/4
    double      start = 0.0;      // seconds; filled by finishTempoMap
    double      barSeconds() const { return 240.0 / bpm; }
    double      end() const { return start + bars * barSeconds(); }
};

struct Song {
    std::vector<Section> sections;
    std::vector<Note>    notes;
    double               length = 0.0;      // seconds of the rendered track
    double               tailStart = 0.0;   // from here on the score lets the sound die away
};

// --- The demo's score (Score.cpp) ---------------------------------------------------------
// Scene boundaries of the show as fractions of the track: scene k starts at
// SCENE_STARTS[k - 1]; scene 10 runs to the end.
constexpr int    SCENE_COUNT = 10;
constexpr double SCENE_STARTS[SCENE_COUNT] = {
    0.0, 0.064, 0.1419,
    0.1419 + 1.0 / 11.0, 0.1419 + 2.0 / 11.0, 0.1419 + 3.0 / 11.0, 0.1419 + 4.0 / 11.0,
    0.1419 + 5.0 / 11.0, 0.1419 + 6.0 / 11.0, 0.1419 + 7.0 / 11.0,
};

Song buildDemoSong();

// Fills Section::start from the bars and tempos.
void finishTempoMap(Song& song);

// The bar line (seconds) nearest to `seconds`.
double nearestBarLine(const Song& song, double seconds);

// Where scenes 2..10 start: the fraction of the track, its time and the bar
// line nearest to it.
struct Boundary {
    int    scene;      // the scene that starts here
    double fraction;
    double seconds;
    double barLine;
};
std::vector<Boundary> sceneBoundaries(const Song& song);

// --- The beat map (BeatMapWriter.cpp) ------------------------------------------------------------
// Every section is in 4/4: a bar is BEATS_PER_BAR quarter-note beats of 60 / bpm seconds.
constexpr int BEATS_PER_BAR = 4;

struct SongBeat {
    double seconds;   // from the track's start, where the score places the beat's notes
    int    bar;       // counts from 1 through the whole track
    int    beat;      // 1..BEATS_PER_BAR within its bar
};

// Every beat of the tempo map, in time order: the sections' bars one after the
// other (nothing in the tail after the last section's end).
std::vector<SongBeat> songBeats(const Song& song);

// The beat map's text for a track of `trackSeconds`: comment lines saying the
// format, then one "fraction bar beat" line per beat with fraction =
// seconds / trackSeconds printed with 9 decimals. Beats at or past the track's
// end are left out.
std::string beatMapText(const std::vector<SongBeat>& beats, double trackSeconds);

// The beat map's file beside a track: the track's path with its extension
// replaced by ".beats" (or ".beats" appended when it has none).
std::string beatMapPath(const std::string& trackPath);

// Writes `text` to a temporary name beside `path` and renames it over `path`.
// Returns false with a one-line reason.
bool writeTextFile(const std::string& path, const std::string& text, std::string& error);

// --- Checks on rendered PCM --------------------------------------------------------------------
// Largest absolute sample of interleaved float PCM.
float peakLevel(const std::vector<float>& pcm);

// Longest stretch (seconds) of consecutive 50 ms windows whose RMS stays below
// `threshold` (full scale 1), over interleaved stereo at `rate`.
double longestSilence(const std::vector<float>& pcm, int rate, double threshold);

// --- How the sound changes across a moment (Analysis.cpp) ----------------------------------------
// The measure of a scene boundary: the mono mix's levels in 12 log-spaced
// bands from 40 Hz to 5.5 kHz (dB, averaged over Hann-windowed 4096-point
// spectra) over the 1.5 s before a moment against the 1.5 s after it; the
// change is the mean absolute difference over the bands.
constexpr int    CHANGE_BANDS = 12;
constexpr double CHANGE_LOW_HZ = 40.0;
constexpr double CHANGE_HIGH_HZ = 5500.0;
constexpr double CHANGE_WINDOW_SECONDS = 1.5;

using BandLevels = std::array<double, CHANGE_BANDS>;

// Band levels of `frames` frames of interleaved stereo at `rate`.
BandLevels bandLevels(const float* stereo, size_t frames, int rate);

// The change across `at` seconds of the song, rendering only the 3 s around it.
double spectralChange(const Song& song, int rate, double at);

// Moments inside the sections, every 2.7 s, none within 1.8 s of a scene
// boundary, the track's start or its last chord: what a boundary is measured against.
std::vector<double> insideMoments(const Song& song);

struct BoundaryChange {
    int    scene;     // the scene that starts there
    double seconds;   // its bar line
    double change;    // dB
};

struct ChangeReport {
    std::vector<BoundaryChange> boundaries;   // scenes 2..10
    std::vector<double>         inside;       // the change at each inside moment
    double                      median = 0.0;
};

// Every boundary's change and the median over `insideCount` of the inside
// moments spread over the track (0: all of them).
ChangeReport changeReport(const Song& song, int rate, size_t insideCount = 0);

// The report as gensong --report prints it: each boundary's change in dB and
// as a multiple of the median, then the median.
void printChangeReport(const ChangeReport& report);

// --- Synthesizer (Synth.cpp) ------------------------------------------------------------------
// Renders frames [firstFrame, firstFrame + frameCount) of the song at `rate` Hz
// into interleaved stereo floats (nominal range -1..1, soft-limited so |x| < 1).
// Effects run from a little before the range so excerpts sound like the track.
std::vector<float> renderSong(const Song& song, int rate, int64_t firstFrame, int64_t frameCount);

// Float PCM to signed 16-bit, rounded and clamped.
std::vector<int16_t> toPcm16(const std::vector<float>& pcm);

// --- Files (OggWriter.cpp) ---------------------------------------------------------------------
// Encodes interleaved 16-bit PCM as Ogg Vorbis (VBR, `quality` -0.1..1) with a
// fixed stream serial, so the same PCM always gives the same file. Writes to a
// temporary name and renames. Returns false with a reason.
bool writeOggVorbis(const std::string& path, const int16_t* pcm, size_t frames, int channels, long rate,
                    float quality, std::string& error);

// Writes a 16-bit PCM WAV file (for listening to excerpts).
bool writeWav(const std::string& path, const int16_t* pcm, size_t frames, int channels, long rate);

// --- What gensong does (tools/song/Jobs.cpp) --------------------------------------
constexpr int   TRACK_RATE = 44100;      // the rendered track's rate, Hz
constexpr float TRACK_QUALITY = 0.45f;   // Vorbis quality of the track

// Prints the tempo map and every scene boundary with the bar line it lands
// on; false when a boundary misses its bar line by more than 2 ms.
bool printPlan(const Song& song);

// The beat map, in fractions of the rendered length (whole frames, as the
// music clock counts them). Prints what it wrote, or one line on failure.
bool writeBeatMapFile(const Song& song, const std::string& path);

// Index into INSTRUMENT_NAMES, or -1; and the names as one list.
int         instrumentIndex(const char* name);
std::string instrumentList();

// Seconds `from` to `to` (inside the track) of `song` as a 16-bit stereo WAV.
bool writeSongWav(const Song& song, const std::string& path, double from, double to);

// The whole track: rendered, checked (planOk from printPlan, no clipping, no
// silence over a second before the last chord), encoded as Ogg Vorbis, and
// its beat map written beside it. Lines on stdout; failures on stderr.
bool writeSongTrack(const Song& song, const std::string& path, bool planOk);

} // namespace song
