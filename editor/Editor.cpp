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

PlayerStart takePlayerStart(const PathPlayer& player, const Camera& view)
{
    PlayerStart s;
    s.show = player.show;
    s.songPosition = player.songPosition;
    s.previousSongPosition = player.previousSongPosition;
    s.step = player.step;
    s.levelCounterA = player.levelCounterA;
    s.levelCounterB = player.levelCounterB;
    s.titleShown = player.titleShown;
    s.scene2Placed = player.scene2Placed;
    s.scene2Faded = player.scene2Faded;
    s.scene3Flashed = player.scene3Flashed;
    s.creditsShown = player.creditsShown;
    s.camera = view;
    return s;
}

namespace {

void restorePlayerStart(PathPlayer& player, Camera& view, const PlayerStart& s)
{
    player.show = s.show;
    player.songPosition = s.songPosition;
    player.previousSongPosition = s.previousSongPosition;
    player.step = s.step;
    player.levelCounterA = s.levelCounterA;
    player.levelCounterB = s.levelCounterB;
    player.titleShown = s.titleShown;
    player.scene2Placed = s.scene2Placed;
    player.scene2Faded = s.scene2Faded;
    player.scene3Flashed = s.scene3Flashed;
    player.creditsShown = s.creditsShown;
    view = s.camera;
}

// How long scene `scene` plays when it starts at fraction `start` (scene 10
// takes the rest of the track, as its script sets).
float sceneDuration(int scene, const float (&durations)[SCENE_ENTRIES], float start)
{
    return scene == LAST_SCENE ? 1.0f - start : durations[scene];
}

} // namespace

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
    const float duration = sceneDuration(scene, durations, start);
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

void playSceneTo(PathPlayer& player, Camera& view, const PlayerStart& start, const SceneFrames& frames, long frame,
                 long& atFrame)
{
    if (frames.last < frames.first)
        return;
    frame = std::clamp(frame, frames.first, frames.last);
    if (atFrame < frames.first || atFrame > frame) {
        // From the scene's start, as a fresh run begins it.
        restorePlayerStart(player, view, start);
        std::srand(SCRUB_SEED);
        destroyParticles(particleSystem);
        createParticleRoot(particleSystem);
        player.pathIndex = frames.scene;
        player.pathStartTime = -1.0f;
        atFrame = frames.first - 1;
    }
    player.playing = true;
    isoSurface.deferMesh = true;
    for (long k = atFrame + 1; k <= frame && player.playing; ++k)
        updatePlayer(player, frames.clock.fraction(k));
    isoSurface.deferMesh = false;
    rebuildIsoMesh(isoSurface);
    player.playing = false;
    atFrame = frame;
}

PlaybackStep stepPlayback(PathPlayer& player, Camera& view, const PlayerStart& start, const SceneFrames& frames,
                          const LoopRegion& loop, double musicFraction, long& atFrame)
{
    PlaybackStep step;
    if (frames.last < frames.first) {
        step.ended = true;
        return step;
    }
    long frame = frames.clock.firstAtOrAfter(musicFraction);
    if (frames.clock.fraction(frame) > static_cast<float>(musicFraction))
        --frame;   // the last frame whose time has come
    frame = std::max(frame, atFrame);   // the music never takes the picture back
    if (loop.active()) {
        const long from = std::clamp(frames.clock.firstAtOrAfter(loop.start), frames.first, frames.last);
        const long end = std::clamp(frames.clock.firstAtOrAfter(loop.end), from + 1, frames.last + 1);
        if (frame >= end || atFrame < from) {
            // To the loop's first frame: past it, from the scene's start.
            frame = from;
            step.wrapped = true;
            if (atFrame > from)
                atFrame = -1;
        }
    } else if (frame >= frames.last) {
        frame = frames.last;
        step.ended = true;
    }
    playSceneTo(player, view, start, frames, frame, atFrame);
    step.frame = atFrame;
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
    if (editor.playing && editor.atFrame >= 0)
        return editor.frames.clock.fraction(editor.atFrame);
    const float t = musicPosition(0);
    if (t >= 0.0f)
        return t;
    return editor.frames.clock.fraction(std::max(editor.frames.first, editor.frames.last));
}

void placeCameraOnFlight()
{
    const SceneFrames& f = editor.frames;
    if (f.last < f.first)
        return;
    const long k = std::clamp(f.clock.firstAtOrAfter(currentFraction()), f.first, f.last);
    const float start = f.clock.fraction(f.first);
    const float duration = sceneDuration(f.scene, pathPlayer.paths.pathDurations, start);
    const float s = duration != 0.0f ? (f.clock.fraction(k) - start) / duration : 0.0f;
    PathPair& pair = pathPlayer.paths.pairs[f.scene];
    pair.posCursor = pair.rotCursor = 0;
    Float3 position, angles;
    samplePair(pair, s, position, angles);
    pair.posCursor = pair.rotCursor = 0;
    holdCameraAt(camera, angles, position);
    updateCamera(camera, 0.0f);
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
        editor.atFrame = -1;   // the free camera stepped the scene: replay from its start
    pathPlayer.pathIndex = f.scene;
    playSceneTo(pathPlayer, camera, editor.start, f, frame, editor.atFrame);
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
    const long frame = std::clamp(editor.atFrame, f.first, std::max(f.first, f.last));
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

void jumpToSelectedKey()
{
    Float3 position, angles;
    if (!keyPose(editor.flight, editor.flight.selected, position, angles))
        return;
    holdCameraAt(camera, angles, position);
    updateCamera(camera, 0.0f);
}

// Every edit, refused or done, says what happened in one line.
void reportEdit()
{
    say(editor.flight.lastMessage);
}

void editWithPose(bool (*edit)(FlightEditor&, const Float3&, const Float3&))
{
    if (!finitePose(camera.position, camera.angles)) {
        say("the camera's pose is not finite; no key was changed");
        return;
    }
    edit(editor.flight, camera.position, camera.angles);
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

double sceneLength()
{
    return sceneDuration(editor.frames.scene, pathPlayer.paths.pathDurations, static_cast<float>(sceneStart()));
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

// "4.250s 12.3": seconds into the scene and, from the beat map, bar.beat.
std::string momentText(double fraction)
{
    char text[64];
    int n = std::snprintf(text, sizeof text, "%.3fs", (fraction - sceneStart()) * trackSeconds());
    if (const Beat* beat = editor.beats.fromFile ? beatAt(editor.beats, fraction + 1e-7) : nullptr)
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
    const long frame = editor.held ? std::clamp(editor.atFrame, f.first, f.last) : nearestFrame(currentFraction());
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
    const CameraPath& keys = pathPlayer.paths.pairs[editor.flight.scene].position;
    const int count = keyCount(editor.flight);
    t.keys.resize(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        t.keys[size_t(i)] = float(spanX(span, keyFraction(keys, i, sceneStart(), sceneLength())));
    t.selectedKey = editor.flight.selected;
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

// A click in the key lane on a marker selects that key; anywhere else in the
// strip, and a drag, scrubs to the frame nearest the column.
void pointerInStrip(int x, int y, bool pressed)
{
    int w, h;
    windowSize(w, h);
    if (pressed && y >= timelineLayout(w).waveTop) {
        const int key = keyMarkerAt(x);
        if (key >= 0) {
            editor.flight.selected = key;
            selectKey(editor.flight, 0);
            jumpToSelectedKey();
            reportEdit();
            return;
        }
    }
    const double fraction = spanFraction(editor.waveSpan, double(x) + 0.5);
    const long frame = nearestFrame(fraction);
    if (editor.held && editor.atFrame == frame)
        return;   // a drag within the same frame
    scrubTo(editor.frames.clock.fraction(frame));
}

} // namespace

void beginEditor(int scene, double seconds)
{
    editor = Editor();
    editor.active = true;
    editor.start = takePlayerStart(pathPlayer, camera);
    editor.frames = sceneFrames(scene, pathPlayer.paths.pathDurations, seconds);
    loadBeatMap(editor.beats, BEAT_MAP_FILE, seconds);
    startFlightEdit(editor.flight, pathPlayer.paths, scene);
    editor.watch.seen[0] = pathPlayer.paths.disk[scene].stamp[0];
    editor.watch.seen[1] = pathPlayer.paths.disk[scene].stamp[1];
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
    editor.atFrame = -1;
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
    const double sceneLength = sceneDuration(f.scene, pathPlayer.paths.pathDurations, start) * length;
    char text[256];
    std::string line;
    std::snprintf(text, sizeof text, "scene %d %.2f/%.2fs", f.scene, (t - start) * length, sceneLength);
    line += text;
    std::snprintf(text, sizeof text, "  track %.6f %s", t, clockText(t * length).c_str());
    line += text;
    if (const Beat* beat = editor.beats.fromFile ? beatAt(editor.beats, t + 1e-7) : nullptr) {
        std::snprintf(text, sizeof text, "  bar %d.%d", beat->bar, beat->beat);
        line += text;
    }
    const int count = keyCount(editor.flight);
    if (editor.flight.selected >= 0) {
        std::snprintf(text, sizeof text, "  key %d/%d", editor.flight.selected + 1, count);
        line += text;
        const double at = keyFraction(pathPlayer.paths.pairs[f.scene].position, editor.flight.selected, start,
                                      sceneDuration(f.scene, pathPlayer.paths.pathDurations, start));
        if (at >= 0.0)
            line += " at " + momentText(at);
    } else {
        std::snprintf(text, sizeof text, "  keys %d", count);
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
    editorLayer.selectedKey = editor.flight.selected;
    editorLayer.flight = free && editor.showFlight;
    fillTimeline();
    if (editorLayer.status)
        editorLayer.statusText = statusLine();
}

bool editorRecordKey(const Float3& position, const Float3& angles)
{
    if (!editor.active)
        return false;
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
    case SDLK_r:         editWithPose(replaceKey); break;
    case SDLK_i:
    case SDLK_INSERT:    editWithPose(insertKey); break;
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
        stepPlayback(pathPlayer, camera, editor.start, editor.frames, editor.loop, music, editor.atFrame);
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
