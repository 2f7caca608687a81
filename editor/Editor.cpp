// editor/Editor.cpp: the camera-path editor of the authoring tool.
//
// Sections:
//   --- Replays ---
//   --- Frame times ---
//   --- The editor ---
//   --- Timeline, loop, slow motion, overview ---
//   --- Status line ---
//   --- Keys ---
#include "editor/Editor.h"

#include "app/Demo.h"
#include "app/Input.h"
#include "app/Music.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "app/Tool.h"
#include "base/Report.h"
#include "editor/EditorDraw.h"
#include "gfx/Screenshot.h"
#include "iso/IsoSurface.h"
#include "iso/Particles.h"
#include "path/PathPlayer.h"
#include "sound/SoundOutput.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

Editor editor;

// --- Replays -----------------------------------------------------------------------------

SceneFrames sceneFrames(int scene, const float (&durations)[SCENE_ENTRIES], double trackSeconds)
{
    SceneFrames f;
    f.scene = scene;
    f.clock.framesInTrack = SCRUB_FPS * std::max(trackSeconds, 0.0);
    if (scene < FIRST_SCENE || scene > LAST_SCENE || f.clock.framesInTrack < 1.0)
        return f;
    f.first = f.clock.firstAtOrAfter(startPositionSum(scene, durations));
    // The player ends the scene at the first update with t - start >= duration.
    const float start = f.clock.fraction(f.first);
    const float duration = sceneLength(scene, durations, start);
    long k = f.first;
    const long limit = static_cast<long>(std::ceil(f.clock.framesInTrack)) + 1;
    while (k <= limit && !(f.clock.fraction(k) - start >= duration))
        ++k;
    f.last = k - 1;
    return f;
}

double scrubStepTarget(const BeatMap& map, const SceneFrames& f, double from, int count, BeatStep step)
{
    const long lastFrame = std::max(f.first, f.last);
    const auto frameOf = [&](double fraction) { return std::clamp(f.clock.firstAtOrAfter(fraction), f.first, lastFrame); };
    const auto beyond = [&](double to) { return count > 0 ? to > from : to < from; };
    const long at = frameOf(from);
    double to = step(map, from, count);
    while (beyond(to) && frameOf(to) == at) {
        const double next = step(map, to, count > 0 ? 1 : -1);
        if (next == to)
            break;
        to = next;
    }
    if (!beyond(to) || frameOf(to) == at)
        to = f.clock.fraction(count > 0 ? lastFrame : f.first);
    const long k = f.clock.firstAtOrAfter(to);
    return k < f.first ? f.clock.fraction(f.first) : k > lastFrame ? f.clock.fraction(lastFrame) : to;
}

void playSceneTo(ShowRun& run, const SceneFrames& frames, long frame)
{
    if (frames.last < frames.first || !run.started())
        return;
    run.playTo(std::clamp(frame, frames.first, frames.last));
    run.player().playing = false;
}

PlaybackStep stepPlayback(ShowRun& run, const SceneFrames& frames, const LoopRegion& loop, double musicFraction)
{
    PlaybackStep step;
    if (frames.last < frames.first || !run.started()) {
        step.ended = true;
        return step;
    }
    const long atFrame = run.frame();
    long frame = frames.clock.firstAtOrAfter(musicFraction);
    if (frames.clock.fraction(frame) > static_cast<float>(musicFraction))
        --frame;   // the last frame whose time has come
    frame = std::max(frame, atFrame);   // the music never takes the picture back
    if (loop.active()) {
        const long from = std::clamp(frames.clock.firstAtOrAfter(loop.start), frames.first, frames.last);
        const long end = std::clamp(frames.clock.firstAtOrAfter(loop.end), from + 1, frames.last + 1);
        if (frame >= end || atFrame < from) {
            frame = from;   // to the loop's first frame (from a snapshot when it lies behind)
            step.wrapped = true;
        }
    } else if (frame >= frames.last) {
        frame = frames.last;
        step.ended = true;
    }
    playSceneTo(run, frames, frame);
    step.frame = run.frame();
    return step;
}

// --- Frame times -----------------------------------------------------------------------

void FrameTimes::add(double now, double length)
{
    frames.emplace_back(now, length);
    while (!frames.empty() && frames.front().first <= now - 1.0)
        frames.pop_front();
}

double FrameTimes::rate() const
{
    return static_cast<double>(frames.size());
}

double FrameTimes::median() const
{
    if (frames.empty())
        return 0.0;
    std::vector<double> lengths;
    for (const auto& f : frames)
        lengths.push_back(f.second);
    std::nth_element(lengths.begin(), lengths.begin() + static_cast<long>(lengths.size() / 2), lengths.end());
    return lengths[lengths.size() / 2] * 1000.0;
}

double FrameTimes::worst() const
{
    double w = 0.0;
    for (const auto& f : frames)
        w = std::max(w, f.second);
    return w * 1000.0;
}

// --- The editor ------------------------------------------------------------------------

double editorClock()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace {

constexpr double RELOAD_POLL_SECONDS = 0.25;

double trackSeconds()
{
    return static_cast<double>(musicClock.lengthSamples) / SOUND_RATE;
}

void say(const std::string& text)
{
    std::printf("Scene %d: %s\n", editor.flight.scene, text.c_str());
    std::fflush(stdout);
}

// The track fraction the scene stands at: the scrub's, or the music's.
double currentFraction()
{
    if (editor.held)
        return editor.scrubTarget;
    if (editor.playing && editor.run.frame() >= 0)
        return editor.frames.clock.fraction(editor.run.frame());
    const float t = musicPosition(0);
    if (t >= 0.0f)
        return t;
    return editor.frames.clock.fraction(std::max(editor.frames.first, editor.frames.last));
}

// The frame the scene stands at, and its time in the scene (seconds from
// the scene's first frame: the time a key recorded now gets).
long headFrame()
{
    const SceneFrames& f = editor.frames;
    if (editor.held)
        return std::clamp(editor.run.frame() >= f.first ? editor.run.frame() : f.clock.firstAtOrAfter(currentFraction()),
                          f.first, std::max(f.first, f.last));
    return std::clamp(f.clock.firstAtOrAfter(currentFraction()), f.first, std::max(f.first, f.last));
}

double timeOfFrame(long frame)
{
    return double(frame - editor.frames.first) / SCRUB_FPS;
}

// The track fraction of a time in the scene.
double fractionAtTime(double time)
{
    return editor.frames.clock.fraction(editor.frames.first) + time / std::max(trackSeconds(), 1e-9);
}

void placeCameraOnFlight()
{
    const SceneFrames& f = editor.frames;
    if (f.last < f.first)
        return;
    const long k = std::clamp(f.clock.firstAtOrAfter(currentFraction()), f.first, f.last);
    const float start = f.clock.fraction(f.first);
    const float duration = sceneLength(f.scene, pathPlayer.paths.pathDurations, start);
    const float s = duration != 0.0f ? (f.clock.fraction(k) - start) / duration : 0.0f;
    PathPair& pair = pathPlayer.paths.pairs[f.scene];
    pair.posCursor = pair.rotCursor = 0;
    Float3 position, angles;
    samplePair(pair, s, position, angles);
    pair.posCursor = pair.rotCursor = 0;
    holdCameraAt(camera, angles, position);
    updateCamera(camera, 0.0f);
}

// The run scrubs and playback go on: begun at the first scrub (the scene's
// live playing keeps its own random draws), its snapshots dropped when the
// flight they were made along has changed since.
ShowRun& sceneRun()
{
    const PathPair& pair = pathPlayer.paths.pairs[editor.frames.scene];
    const auto same = [](const std::vector<Float3>& a, const std::vector<Float3>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Float3& p, const Float3& q) {
                   return p.x == q.x && p.y == q.y && p.z == q.z;
               });
    };
    if (!editor.run.started()) {
        editor.run.begin(pathPlayer, camera, editor.start, editor.frames.clock, editor.frames.scene, SCRUB_SEED);
    } else if (!same(editor.runFlight[0], pair.position.points) || !same(editor.runFlight[1], pair.rotation.points)) {
        editor.run.forgetSnapshots();
    }
    editor.runFlight[0] = pair.position.points;
    editor.runFlight[1] = pair.rotation.points;
    return editor.run;
}

// The scene to the frame at or after track fraction `target`, held there with
// the music paused at that frame.
void scrubTo(double target)
{
    const SceneFrames& f = editor.frames;
    if (f.last < f.first) {
        say("the scene has no time on the music track to scrub (no track, or scene 0)");
        return;
    }
    const double lo = f.clock.fraction(f.first), hi = f.clock.fraction(f.last);
    target = std::clamp(target, lo, hi);
    const long frame = std::clamp(f.clock.firstAtOrAfter(target), f.first, f.last);
    const Camera before = camera;
    if (!editor.held)
        editor.run.stateTouched();   // the free camera stepped the scene: back from a snapshot
    pathPlayer.pathIndex = f.scene;
    playSceneTo(sceneRun(), f, frame);
    if (!editor.preview)
        camera = before;
    editor.scrubTarget = target;
    editor.held = true;
    seekMusic(0, f.clock.fraction(frame));
    pauseMusic(0, true);
    char text[160];
    const double seconds = trackSeconds();
    std::snprintf(text, sizeof text, "frame %ld at track fraction %.9f (scene time %.3f s, track %s)", frame,
                  static_cast<double>(f.clock.fraction(frame)),
                  (f.clock.fraction(frame) - f.clock.fraction(f.first)) * seconds,
                  clockText(f.clock.fraction(frame) * seconds).c_str());
    say(text);
}

// A scrub `count` steps away, `step` giving where they lead from the current
// fraction. Past the map's last (or before its first) beat there is nowhere
// to step to: the scene's end (or start) is the next stop.
// A scrub `count` steps away, `step` giving where they lead from the current
// fraction.
void scrubBySteps(int count, BeatStep step)
{
    scrubTo(scrubStepTarget(editor.beats, editor.frames, currentFraction(), count, step));
}

// Return: the scene plays on from the scrub time (or from the loop's start,
// over and over) on the virtual clock, with its music at the chosen speed.
void playOn()
{
    if (editor.loop.active())
        scrubTo(editor.loop.start);
    else if (!editor.held)
        scrubTo(currentFraction());
    if (!editor.held)
        return;
    editor.held = false;
    editor.playing = true;
    setMusicRate(0, playbackSpeed(editor.speed));
    pauseMusic(0, false);
    pathPlayer.playing = true;   // the player goes on from the held frame
}

// The editor's playback ends (Return again, Escape, the scene's end): the
// scene holds the frame it shows, the music pauses there at its own speed.
void stopPlayback()
{
    if (!editor.playing)
        return;
    editor.playing = false;
    pathPlayer.playing = false;
    const SceneFrames& f = editor.frames;
    const long frame = std::clamp(editor.run.frame(), f.first, std::max(f.first, f.last));
    editor.held = true;
    editor.scrubTarget = f.clock.fraction(frame);
    setMusicRate(0, 1.0);
    seekMusic(0, f.clock.fraction(frame));
    pauseMusic(0, true);
    char text[96];
    std::snprintf(text, sizeof text, "stopped at frame %ld", frame);
    say(text);
}

void togglePreview()
{
    editor.preview = !editor.preview;
    if (editor.preview) {
        editor.freeCamera = camera;
        placeCameraOnFlight();
    } else {
        camera = editor.freeCamera;
    }
    say(editor.preview ? "preview: the camera rides the flight" : "edit: the camera is free");
}

// A key selected: the scene goes to the key's time (so `k` then `r` gives
// the key the pose seen there) and the camera to the key's pose.
void jumpToSelectedKey()
{
    Float3 position, angles;
    if (!keyPose(editor.flight, editor.flight.selected, position, angles))
        return;
    const double time = keyTime(editor.flight, editor.flight.selected);
    if (time >= 0.0 && editor.frames.last >= editor.frames.first) {
        const bool preview = editor.preview;
        editor.preview = false;   // the camera goes to the key's own pose below
        scrubTo(fractionAtTime(time));
        editor.preview = preview;
    }
    holdCameraAt(camera, angles, position);
    updateCamera(camera, 0.0f);
}

// Every edit, refused or done, says what happened in one line.
void reportEdit()
{
    say(editor.flight.lastMessage);
}

template <typename Edit>
void editWithPose(Edit edit)
{
    if (!finitePose(camera.position, camera.angles)) {
        say("the camera's pose is not finite; no key was changed");
        return;
    }
    edit(camera.position, camera.angles);
    reportEdit();
}

// `i` and Space after a scrub: a key at the time the scene stands at.
bool recordAtHead(const Float3& position, const Float3& angles)
{
    if (!timedFlight(editor.flight))
        return insertKey(editor.flight, position, angles);
    return recordKeyAt(editor.flight, timeOfFrame(headFrame()), position, angles);
}

// `1` and `2`: the selected key a beat earlier or later (onto the beat's
// frame); with Shift, a frame. The scene follows it.
void stepSelectedKey(int direction)
{
    const double time = keyTime(editor.flight, editor.flight.selected);
    if (time < 0.0) {
        say(timedFlight(editor.flight) ? "no key selected to move" : "this scene has no time on the track for timed keys");
        return;
    }
    const SceneFrames& f = editor.frames;
    double to = time + double(direction) / SCRUB_FPS;
    if (!(SDL_GetModState() & KMOD_SHIFT))
        to = timeOfFrame(f.clock.firstAtOrAfter(
            scrubStepTarget(editor.beats, f, fractionAtTime(time), direction, stepBeats)));
    moveKey(editor.flight, to);
    reportEdit();
    jumpToSelectedKey();
}

// `3`: the pace evened over the loop, or over the whole flight without one.
void evenThePace()
{
    if (editor.loop.active())
        evenPace(editor.flight, (editor.loop.start - editor.frames.clock.fraction(editor.frames.first)) * trackSeconds(),
                 (editor.loop.end - editor.frames.clock.fraction(editor.frames.first)) * trackSeconds());
    else   // the whole flight: its last key may lie at the scene's very end, past its last frame
        evenPace(editor.flight, 0.0, editor.flight.timing.sceneSeconds);
    reportEdit();
}

// The frame the window shows: the render of this loop iteration is in the
// back buffer until the swap that follows the events.
void takeScreenshot()
{
    int w = appSettings.screenWidth, h = appSettings.screenHeight;
    if (screenSurface) {
        w = screenSurface->w;
        h = screenSurface->h;
    }
    saveScreenshot(w, h);
}

void pollReload()
{
    const double now = editorClock();
    if (now < editor.nextPoll)
        return;
    editor.nextPoll = now + RELOAD_POLL_SECONDS;
    std::string message;
    switch (reloadIfChanged(editor.flight, editor.watch, message)) {
    case ReloadResult::RELOADED:
    case ReloadResult::KEPT:
        reportLine("%s\n", message.c_str());
        break;
    default:
        break;
    }
}

// --- Timeline, loop, slow motion, overview -------------------------------------------------

constexpr int KEY_MARKER_REACH = 6;   // pixels either side of a key marker a click selects it from

void windowSize(int& w, int& h)
{
    w = screenSurface ? screenSurface->w : appSettings.screenWidth;
    h = screenSurface ? screenSurface->h : appSettings.screenHeight;
}

double sceneStart()
{
    return editor.frames.clock.fraction(editor.frames.first);
}

double editedSceneLength()
{
    return ::sceneLength(editor.frames.scene, pathPlayer.paths.pathDurations, static_cast<float>(sceneStart()));
}

// The scene's frame nearest to `fraction`.
long nearestFrame(double fraction)
{
    const SceneFrames& f = editor.frames;
    long k = f.clock.firstAtOrAfter(fraction);
    if (k > f.first && fraction - f.clock.fraction(k - 1) < f.clock.fraction(k) - fraction)
        --k;
    return std::clamp(k, f.first, std::max(f.first, f.last));
}

// The beat a moment of the scene falls in, from the beat map (none without
// one). The scene's last frame can lie a few milliseconds past the bar line
// where the next scene begins: it still belongs to this scene's last beat.
const Beat* beatShownAt(double fraction)
{
    if (!editor.beats.fromFile)
        return nullptr;
    const int scene = editor.frames.scene;
    const double sceneEnd = scene < LAST_SCENE ? startPositionSum(scene + 1, pathPlayer.paths.pathDurations) : 1.0;
    return beatWithin(editor.beats, fraction + 1e-7, sceneEnd);
}

// "4.250s 12.3": seconds into the scene and, from the beat map, bar.beat.
std::string momentText(double fraction)
{
    char text[64];
    int n = std::snprintf(text, sizeof text, "%.3fs", (fraction - sceneStart()) * trackSeconds());
    if (const Beat* beat = beatShownAt(fraction))
        std::snprintf(text + n, sizeof text - size_t(n), " %d.%d", beat->bar, beat->beat);
    return text;
}

// `;` and `'`: the loop's start or end at the frame the scene stands at.
void setLoopEnd(bool start)
{
    const SceneFrames& f = editor.frames;
    if (f.last < f.first) {
        say("the scene has no time on the music track to loop");
        return;
    }
    const long frame = editor.held ? std::clamp(editor.run.frame(), f.first, f.last) : nearestFrame(currentFraction());
    const double at = f.clock.fraction(frame);
    LoopRegion& loop = editor.loop;
    (start ? loop.start : loop.end) = at;
    (start ? loop.hasStart : loop.hasEnd) = true;
    if (loop.hasStart && loop.hasEnd && loop.end < loop.start)
        std::swap(loop.start, loop.end);
    if (loop.active())
        say("loop from " + momentText(loop.start) + " to " + momentText(loop.end) + " (Return plays it)");
    else if (loop.hasStart && loop.hasEnd)
        say("the loop's start and end are the same frame: set the other end elsewhere");
    else
        say(std::string("loop ") + (start ? "start" : "end") + " at " + momentText(at) + "; set the other end with " +
            (start ? "'" : ";"));
}

void clearLoop()
{
    editor.loop = LoopRegion();
    say("loop cleared");
}

// `h` and `q`: the playback speed down or up a step (1, 1/2, 1/4, 1/8).
void changeSpeed(int by)
{
    editor.speed = std::clamp(editor.speed + by, 0, PLAYBACK_SPEEDS - 1);
    if (editor.playing)
        setMusicRate(0, playbackSpeed(editor.speed));
    const char* const how[PLAYBACK_SPEEDS] = { "the music as it is", "the music an octave lower",
                                               "the music two octaves lower", "the music three octaves lower" };
    say("speed " + playbackSpeedText(editor.speed) + " (" + how[editor.speed] + ")");
}

// Tab: out to where the lattice and every key are in view, and back again.
void toggleOverview()
{
    if (editor.overview) {
        camera = editor.beforeOverview;
        editor.overview = false;
        editorLayer.nearPlane = editorLayer.farPlane = 0.0f;
        say("back from the overview");
        return;
    }
    int w, h;
    windowSize(w, h);
    // With the strip shown the view is fitted into the rows above it, kept
    // centred: the vertical half-angle narrows, the horizontal one stays.
    const double k = editor.timeline ? std::max(0.2, 1.0 - 2.0 * timelineLayout(w).height / std::max(h, 1)) : 1.0;
    const double halfY = std::atan(k * std::tan(0.5 * FIELD_OF_VIEW_Y * 3.14159265358979 / 180.0));
    const PathPair& pair = pathPlayer.paths.pairs[editor.flight.scene];
    const CameraPose pose = overviewPose(pair.position.points, float(2.0 * halfY * 180.0 / 3.14159265358979),
                                         float(w / (k * std::max(h, 1))));
    editor.beforeOverview = camera;
    editor.overview = true;
    overviewDepthRange(pose, NEAR_PLANE, FAR_PLANE, editorLayer.nearPlane, editorLayer.farPlane);
    holdCameraAt(camera, pose.angles, pose.position);
    updateCamera(camera, 0.0f);
    say("overview: the lattice and the flight's " + std::to_string(keyCount(editor.flight)) +
        " keys in view (Tab goes back)");
}

// The key whose marker is nearest to column x, within reach; -1 for none.
int keyMarkerAt(int x)
{
    int best = -1;
    float bestDistance = KEY_MARKER_REACH + 0.5f;
    const std::vector<float>& keys = editorLayer.timeline.keys;
    for (size_t i = 0; i < keys.size(); ++i) {
        const float d = std::fabs(keys[i] - (static_cast<float>(x) + 0.5f));
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// The strip for this frame: the wave (made once for the scene and the
// window's width), bars and beats, keys, head, loop and pointer, in pixels.
void fillTimeline()
{
    TimelineStrip& t = editorLayer.timeline;
    const SceneFrames& f = editor.frames;
    t.shown = editor.timeline && f.last >= f.first;
    if (!t.shown)
        return;
    int w, h;
    windowSize(w, h);
    editorLayer.aspect = float(w) / float(std::max(h, 1));
    const TimelineSpan span{ f.clock.fraction(f.first), f.clock.fraction(f.last), w };
    if (span.width != editor.waveSpan.width || span.first != editor.waveSpan.first ||
        span.last != editor.waveSpan.last || editor.wave.empty()) {
        editor.waveSpan = span;
        editor.wave = waveformColumns(sampleFrames(musicClock.sample), sampleLength(musicClock.sample), span);
        editor.marks = timelineBeats(editor.beats, span);
    }
    t.wave = &editor.wave;
    t.beats = editor.marks;
    const PathPair& pair = pathPlayer.paths.pairs[editor.flight.scene];
    const int count = keyCount(editor.flight);
    // A diamond stays whole inside the strip at either end.
    const TimelineLayout layout = timelineLayout(w);
    const float reach = 0.5f * float(layout.height - layout.waveTop) * 0.9f;
    t.keys.resize(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const double time = i == editor.dragKey ? editor.dragTime : keyTime(editor.flight, i);
        const double fraction = time >= 0.0 ? fractionAtTime(time) : keyFraction(pair.position, i, sceneStart(), editedSceneLength());
        t.keys[size_t(i)] = std::clamp(float(spanX(span, fraction)), reach, std::max(reach, float(w) - reach));
    }
    t.selectedKey = editor.flight.selected;
    // The speed along the flight, made again when the flight or the span changes.
    const bool sameFlight = editor.speedsOf.size() == pair.position.points.size() &&
                            std::equal(editor.speedsOf.begin(), editor.speedsOf.end(), pair.position.points.begin(),
                                       [](const Float3& a, const Float3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; });
    if (!sameFlight || editor.speedsSpan.width != span.width ||
        editor.speedsSpan.first != span.first || editor.speedsSpan.last != span.last ||
        editor.speeds.speed.size() != size_t(w)) {
        editor.speeds = timelineSpeeds(pair, span, sceneStart(), editedSceneLength(), editedSceneLength() * trackSeconds());
        editor.speedsOf = pair.position.points;
        editor.speedsSpan = span;
    }
    t.speeds = &editor.speeds;
    t.head = std::max(0.0f, float(spanX(span, currentFraction())));
    const LoopRegion& loop = editor.loop;
    t.loop = loop.active();
    t.loopFrom = float(spanX(span, loop.start));
    t.loopTo = float(spanX(span, loop.end));
    t.loopMark = !t.loop && (loop.hasStart || loop.hasEnd) ? float(spanX(span, loop.hasStart ? loop.start : loop.end))
                                                            : -1.0f;
    t.pointer = pointerOverTool && editor.pointerX >= 0 ? float(editor.pointerX) : -1.0f;
    t.pointerY = float(editor.pointerY);
}

bool ownsPointer(int x, int y)
{
    int w, h;
    windowSize(w, h);
    const bool over = editor.active && editorLayer.timeline.shown && !pathPlayer.playing && x >= 0 && x < w &&
                      y >= 0 && y < timelineLayout(w).height;
    editor.pointerX = over ? x : -1;
    editor.pointerY = y;
    return over;
}

// A click in the key lane on a marker selects that key (and a drag from it
// moves the key in time: the key lands where the button is released); a
// click anywhere else in the strip, and a drag, scrubs to the frame nearest
// the column.
void pointerInStrip(int x, int y, int event)
{
    int w, h;
    windowSize(w, h);
    if (event == POINTER_RELEASE) {
        if (editor.dragKey >= 0) {
            const int key = editor.dragKey;
            editor.dragKey = -1;
            if (std::fabs(editor.dragTime - keyTime(editor.flight, key)) > 0.5 / SCRUB_FPS) {
                editor.flight.selected = key;
                moveKey(editor.flight, editor.dragTime);
                reportEdit();
                jumpToSelectedKey();
            }
        }
        return;
    }
    if (editor.dragKey >= 0) {   // the dragged diamond follows the cursor
        const long frame = nearestFrame(spanFraction(editor.waveSpan, double(x) + 0.5));
        editor.dragTime = timeOfFrame(frame);
        return;
    }
    if (event == POINTER_PRESS && y >= timelineLayout(w).waveTop) {
        const int key = keyMarkerAt(x);
        if (key >= 0) {
            editor.flight.selected = key;
            selectKey(editor.flight, 0);
            jumpToSelectedKey();
            reportEdit();
            if (timedFlight(editor.flight)) {
                editor.dragKey = key;
                editor.dragTime = keyTime(editor.flight, key);
            }
            return;
        }
    }
    if (event == POINTER_RELEASE)
        return;
    const double fraction = spanFraction(editor.waveSpan, double(x) + 0.5);
    const long frame = nearestFrame(fraction);
    if (editor.held && editor.run.frame() == frame)
        return;   // a drag within the same frame
    scrubTo(editor.frames.clock.fraction(frame));
}

} // namespace

void beginEditor(int scene, double seconds)
{
    editor = Editor();
    editor.active = true;
    editor.start = takeShowSnapshot(pathPlayer, camera, -1);
    editor.frames = sceneFrames(scene, pathPlayer.paths.pathDurations, seconds);
    loadBeatMap(editor.beats, BEAT_MAP_FILE, seconds);
    // The keys' times: seconds from the scene's first frame, frame k at
    // (k - first) / SCRUB_FPS; the flight runs the scene's length on the track.
    FlightTiming timing;
    const SceneFrames& f = editor.frames;
    if (f.last >= f.first) {
        const float start = f.clock.fraction(f.first);
        timing.sceneSeconds = sceneLength(scene, pathPlayer.paths.pathDurations, start) * seconds;
        timing.lastTime = double(f.last - f.first) / SCRUB_FPS;
        timing.frameSeconds = 1.0 / SCRUB_FPS;
    }
    startFlightEdit(editor.flight, pathPlayer.paths, scene, timing);
    for (int i = 0; i < PAIR_FILES; ++i)
        editor.watch.seen[i] = pathPlayer.paths.disk[scene].stamp[i];
    editorLayer = EditorLayer();
    editorLayer.active = true;
    editorLayer.status = true;
}

void endEditor()
{
    if (!editor.active)
        return;
    const FlightEditor& flight = editor.flight;
    const PathPair& pair = pathPlayer.paths.pairs[flight.scene];
    if (flight.lastSave == PairSaveOutcome::FAILED && !pair.position.points.empty())
        keepUnsavedKeys(pair.position, pair.rotation, flight.scene, unsavedKeyFolders(pathPlayer.paths.folder));
    editor.active = false;
}

bool editorHoldsScene()
{
    return editor.active && editor.held;
}

void editorReleaseScene()
{
    if (!editor.active)
        return;
    editor.held = false;
    editor.playing = false;
    editor.run.stateTouched();
    setMusicRate(0, 1.0);
    pauseMusic(0, false);
}

// --- Status line -------------------------------------------------------------------------

std::string clockText(double seconds)
{
    if (!(seconds >= 0.0))
        return "-";
    const long ms = std::lround(seconds * 1000.0);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%03ld", ms / 60000, (ms / 1000) % 60, ms % 1000);
    return text;
}

std::string statusLine()
{
    const SceneFrames& f = editor.frames;
    const double length = trackSeconds();
    const double t = currentFraction();
    const float start = f.clock.fraction(f.first);
    const double sceneSeconds = ::sceneLength(f.scene, pathPlayer.paths.pathDurations, start) * length;
    char text[256];
    std::string line;
    std::snprintf(text, sizeof text, "scene %d %.2f/%.2fs", f.scene, (t - start) * length, sceneSeconds);
    line += text;
    std::snprintf(text, sizeof text, "  track %.6f %s", t, clockText(t * length).c_str());
    line += text;
    if (const Beat* beat = beatShownAt(t)) {
        std::snprintf(text, sizeof text, "  bar %d.%d", beat->bar, beat->beat);
        line += text;
    }
    const int count = keyCount(editor.flight);
    if (editor.flight.selected >= 0) {
        std::snprintf(text, sizeof text, "  key %d/%d", editor.flight.selected + 1, count);
        line += text;
        const double time = keyTime(editor.flight, editor.flight.selected);
        const double at = time >= 0.0 ? fractionAtTime(time)
                                      : keyFraction(pathPlayer.paths.pairs[f.scene].position, editor.flight.selected,
                                                    start, ::sceneLength(f.scene, pathPlayer.paths.pathDurations, start));
        if (at >= 0.0)
            line += " at " + momentText(at);
    } else {
        std::snprintf(text, sizeof text, "  keys %d", count);
        line += text;
    }
    // The camera's speed and turn rate along the flight at the head.
    const double duration = ::sceneLength(f.scene, pathPlayer.paths.pathDurations, start);
    if (duration > 0.0 && f.last >= f.first) {
        const PathPair& pair = pathPlayer.paths.pairs[f.scene];
        const double s = (f.clock.fraction(headFrame()) - start) / duration;
        std::snprintf(text, sizeof text, "  %.1fu/s %.0fdeg/s", pathRate(pair.position, s, duration * length),
                      pathRate(pair.rotation, s, duration * length));
        line += text;
    }
    std::snprintf(text, sizeof text, "  %.0ffps %.1f/%.1fms", editor.times.rate(), editor.times.median(),
                  editor.times.worst());
    line += text;
    line += editor.held ? "  held" : (pathPlayer.playing ? "  play" : "");
    line += editor.preview ? " preview" : " edit";
    if (editor.speed != 0)
        line += " " + playbackSpeedText(editor.speed) + "x";
    if (editor.loop.active()) {
        std::snprintf(text, sizeof text, "  loop %.2f-%.2fs", (editor.loop.start - start) * length,
                      (editor.loop.end - start) * length);
        line += text;
    }
    return line;
}

// --- Keys --------------------------------------------------------------------------------

void editorFrame()
{
    if (!editor.active)
        return;
    const double now = editorClock();
    if (editor.lastFrameStart >= 0.0)
        editor.times.add(now, now - editor.lastFrameStart);
    editor.lastFrameStart = now;

    pollReload();
    if (editor.playing && !pathPlayer.playing)
        stopPlayback();   // Escape stopped the scene

    const bool free = !pathPlayer.playing;
    editorLayer.pair = &pathPlayer.paths.pairs[editor.flight.scene];
    editorLayer.keys = timedFlight(editor.flight) ? &editor.flight.keys : nullptr;
    editorLayer.selectedKey = editor.flight.selected;
    editorLayer.flight = free && editor.showFlight;
    fillTimeline();
    if (editorLayer.status)
        editorLayer.statusText = statusLine();
}

// Space: after a scrub, a key at the time the scene stands at; before any
// (the recording flow, the free camera after the scene played out), the
// pose as the flight's next point.
bool editorRecordKey(const Float3& position, const Float3& angles)
{
    if (!editor.active)
        return false;
    if (editor.held && timedFlight(editor.flight))
        recordKeyAt(editor.flight, timeOfFrame(headFrame()), position, angles);
    else
        appendKey(editor.flight, position, angles);
    reportEdit();
    return true;
}

bool editorClearKeys()
{
    if (!editor.active)
        return false;
    clearKeys(editor.flight);
    reportEdit();
    return true;
}

bool editorKey(int sym)
{
    if (!editor.active)
        return false;
    switch (static_cast<SDLKey>(sym)) {
    case SDLK_o:
        editor.showFlight = !editor.showFlight;
        break;
    case SDLK_l:
        editorLayer.status = !editorLayer.status;
        break;
    case SDLK_e:
        editorLayer.wireframe = !editorLayer.wireframe;
        break;
    case SDLK_LEFTBRACKET:  scrubBySteps(-1, stepBeats); break;
    case SDLK_RIGHTBRACKET: scrubBySteps(+1, stepBeats); break;
    case SDLK_PAGEUP:       scrubBySteps(-1, stepBars); break;
    case SDLK_PAGEDOWN:     scrubBySteps(+1, stepBars); break;
    case SDLK_HOME:         scrubTo(editor.frames.clock.fraction(editor.frames.first)); break;
    case SDLK_END:          scrubTo(editor.frames.clock.fraction(std::max(editor.frames.first, editor.frames.last))); break;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:     playOn(); break;
    case SDLK_k:            togglePreview(); break;
    case SDLK_COMMA:
        if (selectKey(editor.flight, -1))
            jumpToSelectedKey();
        reportEdit();
        break;
    case SDLK_PERIOD:
        if (selectKey(editor.flight, +1))
            jumpToSelectedKey();
        reportEdit();
        break;
    case SDLK_r:
        editWithPose([](const Float3& p, const Float3& a) { return replaceKey(editor.flight, p, a); });
        break;
    case SDLK_i:
    case SDLK_INSERT:    editWithPose(recordAtHead); break;
    case SDLK_1:         stepSelectedKey(-1); break;
    case SDLK_2:         stepSelectedKey(+1); break;
    case SDLK_3:         evenThePace(); break;
    case SDLK_4:         easeKey(editor.flight); reportEdit(); break;
    case SDLK_5:         passThroughPoints(editor.flight); reportEdit(); break;
    case SDLK_DELETE:
    case SDLK_BACKSPACE: deleteKey(editor.flight); reportEdit(); break;
    case SDLK_u:         undoEdit(editor.flight); reportEdit(); break;
    case SDLK_y:         redoEdit(editor.flight); reportEdit(); break;
    case SDLK_x:         takeScreenshot(); break;
    case SDLK_t:         editor.timeline = !editor.timeline; break;
    case SDLK_SEMICOLON: setLoopEnd(true); break;
    case SDLK_QUOTE:     setLoopEnd(false); break;
    case SDLK_BACKSLASH: clearLoop(); break;
    case SDLK_h:         changeSpeed(+1); break;
    case SDLK_q:         changeSpeed(-1); break;
    case SDLK_TAB:       toggleOverview(); break;
    default:
        return false;
    }
    return true;
}

namespace {

// While the editor's playback runs: Return stops it, `h` and `q` change its
// speed, `t` shows or hides the strip, `x` takes a screenshot. Other keys do
// nothing, as in any playback.
bool editorPlaybackKey(int sym)
{
    if (!editor.active || !editor.playing)
        return false;
    switch (static_cast<SDLKey>(sym)) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: stopPlayback(); break;
    case SDLK_h:        changeSpeed(+1); break;
    case SDLK_q:        changeSpeed(-1); break;
    case SDLK_t:        editor.timeline = !editor.timeline; break;
    case SDLK_x:        takeScreenshot(); break;
    default:
        return false;
    }
    return true;
}

// In place of the player's update at the music clock while the editor plays.
bool editorUpdatePlayer()
{
    if (!editor.active || !editor.playing)
        return false;
    const float music = musicPosition(0);
    if (music < 0.0f) {   // the track ended under the scene
        stopPlayback();
        return true;
    }
    const PlaybackStep step =
        stepPlayback(sceneRun(), editor.frames, editor.loop, music);
    if (step.wrapped)
        seekMusic(0, editor.frames.clock.fraction(step.frame));
    if (step.ended)
        stopPlayback();
    else
        pathPlayer.playing = true;
    return true;
}

// The strip is on unless `t` hid it: the frames without it get a row of their own.
const char* editorFrameLayerName()
{
    return editor.active && !editor.timeline ? "no strip" : nullptr;
}

} // namespace

void installEditor()
{
    toolHooks.begin = beginEditor;
    toolHooks.end = endEditor;
    toolHooks.frame = editorFrame;
    toolHooks.key = editorKey;
    toolHooks.recordKey = editorRecordKey;
    toolHooks.clearKeys = editorClearKeys;
    toolHooks.releaseScene = editorReleaseScene;
    toolHooks.holdsScene = editorHoldsScene;
    toolHooks.updatePlayer = editorUpdatePlayer;
    toolHooks.playbackKey = editorPlaybackKey;
    toolHooks.ownsPointer = ownsPointer;
    toolHooks.pointer = pointerInStrip;
    toolHooks.frameLayerName = editorFrameLayerName;
    installEditorLayer();
}
