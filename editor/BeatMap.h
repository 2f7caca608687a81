// editor/BeatMap.h: the music's beats as track fractions, read from the beat map
// gensong writes beside the track ("data/vortalune.beats"), and stepping over
// them by beats and bars. Without a usable file: a fixed half-second grid.
// Plain data and free functions: no SDL, no GL, no sound.
//
// File format (text, one beat a line; lines starting with '#' and blank lines
// are comments):
//   # vortalune beat map: one line per beat: track fraction, bar, beat
//   # fraction = beat time / track length; bar counts from 1; beat 1..beats per bar
//   0.000000000 1 1
//   0.002700000 1 2
// Each line is exactly three fields: a finite fraction in [0, 1], a bar >= 1
// and a beat >= 1 (whole numbers within int32). A line whose fraction is not
// greater than the last kept one is refused as "beat out of order".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// --- Limits and constants ---------------------------------------------------------------
constexpr const char* BEAT_MAP_FILE = "data/vortalune.beats";
constexpr double GRID_BEAT_SECONDS = 0.5;            // the fallback grid's beat
constexpr int    GRID_BEATS_PER_BAR = 4;             // the fallback grid's bar
constexpr size_t BEAT_MAP_MAX_BYTES = size_t(4) << 20;   // larger files are refused unread
constexpr size_t BEAT_MAP_MAX_BEATS = 1000000;           // beats past this are refused
// Fraction tolerance of the navigation: a position this close to a beat stands
// on it. Covers what a seek and a read of the music clock lose (a float fraction,
// a frame truncated: about 3e-7 of the track), far below any beat's spacing
// (a beat at 300 BPM in a 10-minute track is 3e-4).
constexpr double BEAT_TOLERANCE = 1e-6;

// --- Types --------------------------------------------------------------------------------
struct Beat {
    double  fraction;   // track fraction 0..1 where the beat falls
    int32_t bar;        // >= 1
    int32_t beat;       // >= 1; 1 starts a bar
};

struct BeatMap {
    std::vector<Beat> beats;   // strictly ascending fraction
    bool fromFile = false;     // false: the fixed half-second grid
};

// --- Reading ------------------------------------------------------------------------------
// Parses a beat map's text into map.beats (replacing them; `fromFile` is left
// alone). Returns the number of lines refused; `problem` gets the first refused
// line's "line N: reason" (e.g. "line 7: 'x' is not a number", "line 9: beat out
// of order"), and is emptied when nothing is refused. Refused lines are skipped.
int parseBeatMap(const std::string& text, BeatMap& map, std::string& problem);

// The half-second grid over a track of `trackSeconds`: beats at 0, 0.5, 1.0 ...
// seconds before the track's end, bars of 4 grid beats numbered from 1. No beats
// for a length that is not a positive finite number; at most BEAT_MAP_MAX_BEATS.
BeatMap halfSecondGrid(double trackSeconds);

// Reads `file`. Missing/unreadable/too large/no usable beat: the grid, and one
// stderr line naming the file and the reason and saying the half-second grid is
// used. Some lines refused: the good beats are kept, one stderr line names the
// file, the count of refused lines and the first reason. Returns true when the
// map came from the file.
bool loadBeatMap(BeatMap& map, const std::string& file, double trackSeconds);

// --- Navigation over track fractions ------------------------------------------------------
// The |count|-th beat strictly after (count > 0) or strictly before (count < 0)
// `fraction` (within BEAT_TOLERANCE, so standing on a beat steps to the next
// one); clamps to the first/last beat. No beats, count 0 or a fraction that is
// not a number: `fraction` unchanged.
double stepBeats(const BeatMap& map, double fraction, int count);

// The same over bar starts (beats with beat == 1). No bar start: unchanged.
double stepBars(const BeatMap& map, double fraction, int count);

// The beat at or before `fraction` (within BEAT_TOLERANCE); nullptr before the
// first beat, with no beats or for a fraction that is not a number.
const Beat* beatAt(const BeatMap& map, double fraction);

// beatAt for a moment of a stretch that ends at `end` (a scene: its last
// frame may lie a little past the bar line where the next scene begins):
// a beat at or after `end` is the next stretch's, so the one before it.
const Beat* beatWithin(const BeatMap& map, double fraction, double end);
