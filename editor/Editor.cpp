// editor/Editor.cpp: the camera-path editor of the authoring tool.
//
// Sections:
//   --- Replays ---
//   --- Frame times ---
//   --- The editor ---
//   --- Status line ---
//   --- Keys ---
#include "editor/Editor.h"

#include "app/Demo.h"
#include "app/Music.h"
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
void scrubBySteps(int count, double (*step)(const BeatMap&, double, int))
{
    const double from = currentFraction();
    double to = step(editor.beats, from, count);
    const SceneFrames& f = editor.frames;
    if (count > 0 && !(to > from))
        to = f.clock.fraction(std::max(f.first, f.last));
    if (count < 0 && !(to < from))
        to = f.clock.fraction(f.first);
    scrubTo(to);
}

void playOn()
{
    if (!editor.held)
        scrubTo(currentFraction());
    if (!editor.held)
        return;
    editor.held = false;
    editor.atFrame = -1;
    pauseMusic(0, false);
    pathPlayer.playing = true;   // the player goes on from the held frame
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

bool editorHoldsScene()
{
    return editor.active && editor.held;
}

void editorReleaseScene()
{
    if (!editor.active)
        return;
    editor.held = false;
    editor.atFrame = -1;
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
    if (editor.flight.selected >= 0)
        std::snprintf(text, sizeof text, "  key %d/%d", editor.flight.selected + 1, count);
    else
        std::snprintf(text, sizeof text, "  keys %d", count);
    line += text;
    std::snprintf(text, sizeof text, "  %.0ffps %.1f/%.1fms", editor.times.rate(), editor.times.median(),
                  editor.times.worst());
    line += text;
    line += editor.held ? "  held" : (pathPlayer.playing ? "  play" : "");
    line += editor.preview ? " preview" : " edit";
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

    const bool free = !pathPlayer.playing;
    editorLayer.pair = &pathPlayer.paths.pairs[editor.flight.scene];
    editorLayer.selectedKey = editor.flight.selected;
    editorLayer.flight = free && editor.showFlight;
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
    default:
        return false;
    }
    return true;
}

void installEditor()
{
    toolHooks.begin = beginEditor;
    toolHooks.frame = editorFrame;
    toolHooks.key = editorKey;
    toolHooks.recordKey = editorRecordKey;
    toolHooks.clearKeys = editorClearKeys;
    toolHooks.releaseScene = editorReleaseScene;
    toolHooks.holdsScene = editorHoldsScene;
    installEditorLayer();
}
