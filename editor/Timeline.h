// editor/Timeline.h: the path editor's timeline strip as numbers: the scene's
// frames across the window's width, the track's waveform per pixel column,
// the beat map's bars and beats, each key's time, the loop, the slow-motion
// speeds, and the overview pose from which a whole flight is in view. The
// strip is drawn by editor/EditorDraw.cpp. No GL, no SDL.
#pragma once

#include "editor/BeatMap.h"
#include "math/Math.h"

#include <cstdint>
#include <string>
#include <vector>

struct CameraPath;
struct PathPair;

// --- Across the width ---------------------------------------------------------------
// The scene's first frame at the strip's left edge (x = 0), its last frame at
// the right edge (x = width), linearly in between; pixel column c covers
// [c, c + 1).
struct TimelineSpan {
    double first = 0.0;   // track fraction of the scene's first frame
    double last = 0.0;    // and of its last frame
    int    width = 0;     // pixels
};

double spanFraction(const TimelineSpan& span, double x);   // x in pixels (any real)
double spanX(const TimelineSpan& span, double fraction);

// --- Waveform --------------------------------------------------------------------------
// The lowest and highest sample of a column, both channels mixed ((L + R) / 2),
// in -1 .. 1.
struct WaveColumn {
    float low = 0.0f;
    float high = 0.0f;
};

// One column per pixel of the span over the `frames` frames of interleaved
// stereo `track` (frame i at track fraction i / frames). A column narrower
// than a frame takes the frame it starts in, so the wave has no gaps; columns
// outside the track are silent.
std::vector<WaveColumn> waveformColumns(const int16_t* track, size_t frames, const TimelineSpan& span);

// --- Layout ------------------------------------------------------------------------------
// The strip along the bottom of a window `width` pixels wide, in rows from
// the bottom: the status line's row, the waveform with the bars and beats,
// and on top the lane of key markers. Sizes follow the status line's glyphs,
// which scale with the width; never under TIMELINE_MIN_HEIGHT.
constexpr int TIMELINE_MIN_HEIGHT = 40;

struct TimelineLayout {
    int statusTop = 0;   // rows [0, statusTop): the status line
    int waveTop = 0;     // rows [statusTop, waveTop): waveform, bars and beats
    int height = 0;      // rows [waveTop, height): the key lane; the strip's whole height
};

TimelineLayout timelineLayout(int width);

// --- Bars and beats ----------------------------------------------------------------------
struct TimelineBar {
    float x;
    int   number;
};

struct TimelineBeats {
    std::vector<TimelineBar> bars;   // bar starts (beat 1) inside the span
    std::vector<float>       beats;  // the other beats inside the span
};

TimelineBeats timelineBeats(const BeatMap& map, const TimelineSpan& span);

// --- Keys ------------------------------------------------------------------------------------
// The track fraction playback reaches point `key` of `path` at (keyParameter,
// path/FlightSolve.h), for a scene that starts at `sceneStart` and lasts
// `duration` (fractions): start + s * duration; -1 for an index out of range.
double keyFraction(const CameraPath& path, int key, double sceneStart, double duration);

// --- Speed along the flight -------------------------------------------------------------
// Per pixel column of the span, the camera's speed (units per second) and
// turn rate (degrees per second) at the column's middle, for a scene that
// starts at track fraction `sceneStart`, lasts `duration` of the track and
// `sceneSeconds` on it. A spike is a column where the speed jumps by more
// than TIMELINE_SPIKE of the scene's peak from the column before.
constexpr double TIMELINE_SPIKE = 0.15;

struct TimelineSpeeds {
    std::vector<float>   speed;   // per column, units per second
    std::vector<float>   turn;    // per column, degrees per second
    std::vector<uint8_t> spike;   // per column, 1 where the speed jumps
    float                peakSpeed = 0.0f, peakTurn = 0.0f;
};

TimelineSpeeds timelineSpeeds(const PathPair& pair, const TimelineSpan& span, double sceneStart, double duration,
                              double sceneSeconds);

// --- Loop and speed -------------------------------------------------------------------
struct LoopRegion {
    bool   hasStart = false, hasEnd = false;
    double start = 0.0, end = 0.0;   // track fractions

    bool active() const { return hasStart && hasEnd && end > start; }
};

// The slow-motion speeds, fastest first: 1, 1/2, 1/4, 1/8.
constexpr int PLAYBACK_SPEEDS = 4;
double playbackSpeed(int index);         // index clamped to 0 .. PLAYBACK_SPEEDS - 1
std::string playbackSpeedText(int index);   // "1", "1/2", "1/4", "1/8"

// --- Overview -------------------------------------------------------------------------
// A pose (eye position, pitch yaw roll) from which the 64-unit lattice and
// every one of `points` lie inside a view of `fovY` degrees vertically at
// `aspect` (width / height), looking down at the lattice from above and aside.
struct CameraPose {
    Float3 position;
    Float3 angles;
    double nearest = 0.0;    // depth along the view of the nearest point in view (the lattice's corners included)
    double farthest = 0.0;   // and of the farthest
};

CameraPose overviewPose(const std::vector<Float3>& points, float fovY, float aspect);

// The depth range that draws what `pose` has in view. The show's own planes
// when everything lies between them; else the far plane moves out past the
// farthest point, and the near plane with it as far as the nearest point
// allows, so the depth buffer keeps the show's far-to-near ratio.
void overviewDepthRange(const CameraPose& pose, float showNear, float showFar, float& nearPlane, float& farPlane);

// The frustum of a key that looks along (pitch, yaw, roll) from `apex`: the
// four edges from the apex and the four sides of its far end, `length` away,
// as eight line pairs (16 points) appended to `lines`. Roll turns it about
// its axis.
void appendKeyFrustum(const Float3& apex, const Float3& angles, float length, float fovY, float aspect,
                      std::vector<Float3>& lines);

// A vector given in a view's own axes (x right, y up, -z ahead) in the world,
// for a view turned by (pitch, yaw, roll) as the frame's camera transform
// turns it, with roll applied about the view axis.
Float3 viewToWorld(const Float3& angles, const Float3& v);
