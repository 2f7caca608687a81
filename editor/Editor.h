// editor/Editor.h: the authoring tool's camera-path editor, on top of the free
// camera: the flight drawn in the scene, a status line, scrubbing the scene
// to the music's beats, key-by-key edits with undo and redo, reload of path
// files changed on disk, screenshots and a wireframe view.
//
// Scrubbing replays the scene from its start on the capture program's
// virtual clock (base/VirtualClock.h), with the player, the camera, the
// particles and the random seed as a fresh run of `vortalune N` has them, so
// the scene at a scrub time is exactly the scene a run played to that time
// shows. While the scene is held at a scrub time the free camera still flies,
// but the scene does not move and the music is paused.
#pragma once

#include "base/Show.h"
#include "app/ShowRun.h"
#include "base/VirtualClock.h"
#include "editor/BeatMap.h"
#include "editor/Timeline.h"
#include "path/Camera.h"
#include "path/FlightEdit.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

struct PathPlayer;

// The scrub clock's rate and the random seed a replay starts from (the
// capture program's defaults, so its frames are the replay's).
constexpr int      SCRUB_FPS = 60;
constexpr unsigned SCRUB_SEED = 1;

// The frames of one scene on the virtual clock.
struct SceneFrames {
    VirtualClock clock;
    int          scene = 0;
    long         first = 0;   // the scene's first update
    long         last = -1;   // its last update before it ends; last < first: no frames
};

SceneFrames sceneFrames(int scene, const float (&durations)[SCENE_ENTRIES], double trackSeconds);

// Where a beat or bar step (`step`: stepBeats or stepBars) of `count` from
// track fraction `from` leads in the scene: the step, taken again until it
// reaches another frame than the one `from` stands at (beats closer together
// than a frame, or a last frame a little past a bar line, never leave the
// scene where it stands), clamped to the scene; past the map's last (or
// before its first) beat, the scene's last (or first) frame.
using BeatStep = double (*)(const BeatMap&, double, int);
double scrubStepTarget(const BeatMap& map, const SceneFrames& frames, double from, int count, BeatStep step);

// The scene's state at frame `frame` (clamped to the scene's frames) of a
// run that started it fresh: `run`, begun at the scene on its clock
// (app/ShowRun.h), plays on or comes back from a snapshot. The mesh is built
// once, for the frame reached. The player is left stopped, the camera as the
// flight put it.
void playSceneTo(ShowRun& run, const SceneFrames& frames, long frame);

// The tool's own playback (Return) goes on the virtual clock too: each frame
// shows the last frame whose time on the music has come, reached by playing
// the scene on from the frame shown before (or, when the loop starts over,
// back at its first frame), so at any speed it shows exactly the frames a
// capture writes, more of them per second of track the slower it plays.
struct PlaybackStep {
    long frame = -1;        // the frame the scene stands at now
    bool wrapped = false;   // the loop started over: the music goes back to `frame`
    bool ended = false;     // the scene's last frame is shown and no loop holds it
};

PlaybackStep stepPlayback(ShowRun& run, const SceneFrames& frames, const LoopRegion& loop, double musicFraction);

// Frame times of the last second: the status line's rate, median and worst.
struct FrameTimes {
    std::deque<std::pair<double, double>> frames;   // (end time, length) in seconds
    void   add(double now, double length);
    double rate() const;      // frames per second over the last second
    double median() const;    // ms
    double worst() const;     // ms
};

struct Editor {
    bool         active = false;      // the tool runs: `vortalune N`
    FlightEditor flight;
    ReloadWatch  watch;
    double       nextPoll = 0.0;      // seconds on the steady clock
    BeatMap      beats;
    ShowSnapshot start;               // the state before the scene's first update, as the run had it
    SceneFrames  frames;
    ShowRun      run;                 // the scene on the virtual clock: scrubs and playback
    std::vector<Float3> runFlight[2]; // the flight (positions, angles) its snapshots were made along
    double       scrubTarget = 0.0;   // the track fraction the last scrub asked for
    bool         held = false;        // the scene stands at run.frame(); the music is paused
    bool         preview = false;     // the camera rides the flight at the scrub time
    bool         showFlight = true;   // the flight overlay in the free camera
    Camera       freeCamera;          // the free camera's pose while previewing
    FrameTimes   times;
    double       lastFrameStart = -1.0;
    // The timeline strip, the loop, slow motion and the overview.
    bool                    timeline = true;    // the strip along the bottom (`t`)
    TimelineSpan            waveSpan;           // the span `wave` was made for
    std::vector<WaveColumn> wave;               // the track under the scene, a column per pixel
    TimelineBeats           marks;              // the beat map over waveSpan
    LoopRegion              loop;
    int                     speed = 0;          // playbackSpeed index: 1, 1/2, 1/4, 1/8
    bool                    playing = false;    // the editor's playback (Return) runs
    bool                    overview = false;   // the camera is out where the whole flight shows
    Camera                  beforeOverview;     // where it was
    int                     pointerX = -1;      // the cursor's column over the strip
    int                     pointerY = 0;       // and its row
    int                     dragKey = -1;       // the key whose diamond is dragged; -1 none
    double                  dragTime = 0.0;     // where it is dragged to (seconds in the scene)
    // The speed along the flight under the strip, made again when the flight
    // or the span changes.
    TimelineSpeeds          speeds;
    std::vector<Float3>     speedsOf;           // the flight's points they were made for
    TimelineSpan            speedsSpan;
};

extern Editor editor;

// Seconds on a steady clock.
double editorClock();

// At the start of `vortalune N`, after loading and before the scene plays:
// remembers the player's start, reads the beat map, opens the scene's flight.
void beginEditor(int scene, double trackSeconds);

// When `vortalune N` quits: keys that only live in memory (the last save
// failed) are written where they can be kept, or said to be lost.
void endEditor();

// The scene stands still (a scrub holds it): the free camera does not step it.
bool editorHoldsScene();

// Once per frame before the render: reload poll, frame times, what the
// editor layer draws and the status line.
void editorFrame();

// A free-camera key (an SDLKey) that the keys Input.cpp leaves free; true
// when the editor used it. Space and `c` go through editorRecordKey and
// editorClearKeys so they can be undone; both are false (and do nothing)
// while the editor is not active.
bool editorKey(int sym);
bool editorRecordKey(const Float3& position, const Float3& angles);
bool editorClearKeys();

// `n` replays the scene with its music: the hold ends.
void editorReleaseScene();

// The status line's text for the editor's state (scene time, track
// position, bar and beat, keys, frame times, mode).
std::string statusLine();

// m:ss.mmm of `seconds` (negative: "-").
std::string clockText(double seconds);

// Hooks the editor into the show's frame loop, keys and frame (app/Tool.h,
// app/Render.h's FrameLayer). Called by the tool's entry point before the
// program runs; the editor then wakes when `vortalune N` begins.
void installEditor();
