// web/WebShow.cpp: the page's frame loop: decode, wait for the click (making
// the show's snapshots meanwhile), play with the viewer's controls; or one
// frame on the virtual clock.
//
// Sections:
//   --- The page ---
//   --- Request ---
//   --- State ---
//   --- Snapshots and seeks ---
//   --- Phases ---
//   --- The viewer's controls ---
//   --- Entry ---
#include "web/WebShow.h"

#include "app/Demo.h"
#include "app/FrameReport.h"
#include "app/Music.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/ShowRun.h"
#include "base/Report.h"
#include "base/Show.h"
#include "base/VirtualClock.h"
#include "gfx/Screenshot.h"
#include "iso/IsoSurface.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"
#include "sound/OggDecode.h"
#include "sound/SoundOutput.h"

#include <SDL.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

// --- The page ----------------------------------------------------------------------------

// The line under the canvas that says what is happening (loading, waiting).
EM_JS(void, webPageStatus, (const char* text), {
    if (Module.vortalunePage)
        Module.vortalunePage.status(UTF8ToString(text));
});

// The track is decoded and the show can play: the page offers the click.
EM_JS(void, webPageAskForClick, (), {
    if (Module.vortalunePage)
        Module.vortalunePage.askForClick();
});

// The show cannot play (no track): the page says so and offers no click.
EM_JS(void, webPageCannotPlay, (const char* why), {
    if (Module.vortalunePage)
        Module.vortalunePage.cannotPlay(UTF8ToString(why));
});

// The frame of a FRAME request, handed to the page as RGB rows, top first.
EM_JS(void, webPageFrameReady, (const uint8_t* rgb, int width, int height, long frame), {
    Module.vortaluneFrame = { width: width, height: height, frame: frame,
                              rgb: HEAPU8.slice(rgb, rgb + width * height * 3) };
    if (Module.vortalunePage)
        Module.vortalunePage.frameReady();
});

EM_JS(void, webPageEnded, (), {
    if (Module.vortalunePage)
        Module.vortalunePage.ended();
});

namespace {

// --- Request -----------------------------------------------------------------------------

constexpr int MAX_DRAWING_SIDE = 4096;

bool parseSize(const char* v, int& width, int& height)
{
    char* end = nullptr;
    const long w = std::strtol(v, &end, 10);
    if (end == v || *end != 'x')
        return false;
    const char* h0 = end + 1;
    const long h = std::strtol(h0, &end, 10);
    if (end == h0 || *end != '\0' || w < 1 || h < 1 || w > MAX_DRAWING_SIDE || h > MAX_DRAWING_SIDE)
        return false;
    width = int(w);
    height = int(h);
    return true;
}

} // namespace

WebRequest parseWebRequest(int argc, char** argv)
{
    WebRequest r;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        char* end = nullptr;
        if (a == "--scene" && v) {
            const long scene = std::strtol(v, &end, 10);
            if (end == v || *end != '\0' || scene < FIRST_SCENE || scene > LAST_SCENE) {
                r.problem = "?scene must be a scene number 1..10";
                return r;
            }
            r.kind = WebRequest::SCENE;
            r.scene = int(scene);
            ++i;
        } else if (a == "--frame" && v) {
            const double f = std::strtod(v, &end);
            if (end == v || *end != '\0' || !(f >= 0.0 && f <= 1.0)) {
                r.problem = "?frame must be a track fraction 0..1";
                return r;
            }
            r.kind = WebRequest::FRAME;
            r.fraction = f;
            ++i;
        } else if (a == "--size" && v) {
            if (!parseSize(v, r.width, r.height)) {
                r.problem = "?size must be WxH, each side 1..4096";
                return r;
            }
            ++i;
        } else if (a != "--timings") {
            r.problem = "the page was asked for something it does not know";
            return r;
        }
    }
    return r;
}

// --- State -------------------------------------------------------------------------------

namespace {

constexpr double DECODE_BUDGET_MS = 20.0;    // decoding per animation frame: the page stays responsive
constexpr double PREPARE_BUDGET_MS = 25.0;   // snapshots per animation frame while the page waits
constexpr double PLAYING_BUDGET_MS = 3.0;    // and while the show plays, if it must
constexpr int    PREROLL_PER_FRAME = 30;     // virtual-clock updates per animation frame before a FRAME
constexpr int    FRAME_FPS = 60;             // the capture program's default clock
constexpr unsigned FRAME_SEED = 1;           // and its default seed

enum Phase { DECODING, WAITING, PLAYING, ENDED, PREROLL, DONE };

struct Page {
    WebRequest   request;
    Phase        phase = DECODING;
    OggDecoder   decoder;
    bool         decoderOpen = false;
    std::string  decodeError;
    int          shownPercent = -1;
    FrameReport  report;
    bool         timings = false;
    FrameLoop    loop;
    bool         clicked = false;
    // The show on the capture's virtual clock, from the state after loading:
    // the FRAME request's frame (`run`), and for the seeks one run for each
    // scene from its first frame, as the capture starts a run at the scene
    // holding the time asked for, each with the snapshots a seek comes back to.
    ShowRun      run;
    ShowRun      sceneRuns[LAST_SCENE + 1];
    long         prepared[LAST_SCENE + 1] = {};   // each scene's run has snapshots up to this frame
    long         sceneEnd[LAST_SCENE + 1] = {};   // and needs them up to this one
    int          preparing = FIRST_SCENE;         // the scene whose snapshots are made now
    ShowSnapshot initial;
    VirtualClock clock;
    long         lastFrame = 0;       // the show's last frame on that clock
    long         target = 0;          // FRAME: the frame asked for
    long         sought = -1;         // the frame the last seek landed on
    // The viewer's.
    bool         paused = false;
    bool         muted = false;
    bool         drawOnce = false;    // a seek while paused: its frame is drawn once
};

Page page;

double trackSeconds()
{
    return double(musicClock.lengthSamples) / SOUND_RATE;
}

// The drawing's size: the canvas's buffer, the show's viewport and projection.
void resizeDrawing(int width, int height)
{
    width = std::clamp(width, 16, MAX_DRAWING_SIDE);
    height = std::clamp(height, 12, MAX_DRAWING_SIDE);
    appSettings.screenWidth = width;
    appSettings.screenHeight = height;
    appSettings.centerX = width / 2;
    appSettings.centerY = height / 2;
    appSettings.inverseWidth = 1.0f / float(width);
    emscripten_set_canvas_element_size("#canvas", width, height);
    if (SDL_Surface* screen = SDL_GetVideoSurface()) {
        screen->w = width;
        screen->h = height;
    }
    page.drawOnce = true;
}

// --- Snapshots and seeks -----------------------------------------------------------------

// The runs the seeks use: each scene from its start on the capture's clock and seed.
void beginRuns()
{
    page.clock.framesInTrack = FRAME_FPS * trackSeconds();
    page.lastFrame = std::max(0L, page.clock.firstAtOrAfter(1.0) - 1);
    page.initial = takeShowSnapshot(pathPlayer, camera, -1);
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene) {
        ShowRun& run = page.sceneRuns[scene];
        run.begin(pathPlayer, camera, page.initial, page.clock, scene, FRAME_SEED);
        page.prepared[scene] = run.firstFrame() - 1;
    }
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene)
        page.sceneEnd[scene] = scene < LAST_SCENE ? page.sceneRuns[scene + 1].firstFrame() - 1 : page.lastFrame;
    page.preparing = FIRST_SCENE;
}

// Makes snapshots on for about `budgetMs`, scene after scene; the state is
// a run's afterwards.
void prepareSome(double budgetMs)
{
    const double until = emscripten_get_now() + budgetMs;
    while (page.preparing <= LAST_SCENE && emscripten_get_now() < until) {
        const int scene = page.preparing;
        ShowRun& run = page.sceneRuns[scene];
        if (!run.started() || page.prepared[scene] >= page.sceneEnd[scene]) {
            ++page.preparing;
            continue;
        }
        run.stateTouched();   // the state is another run's or the live show's
        const long to = std::min(page.sceneEnd[scene], page.prepared[scene] + ShowRun::SNAPSHOT_FRAMES);
        const long reached = run.playTo(to, false);
        page.prepared[scene] = reached < to ? page.sceneEnd[scene] : reached;   // a run that ended has no more
    }
}

bool allPrepared()
{
    return page.preparing > LAST_SCENE;
}

// While the show plays: snapshots on in the background, the live state kept.
void prepareBehindTheShow()
{
    if (allPrepared())
        return;
    const ShowSnapshot live = takeShowSnapshot(pathPlayer, camera, -1);
    prepareSome(PLAYING_BUDGET_MS);
    restoreShowSnapshot(pathPlayer, camera, live);
}

// The show to `seconds` of the track: the state the capture has at the
// frame at or after that time, the music there, held if paused.
long seekTo(double seconds)
{
    if (page.phase != PLAYING && page.phase != ENDED)
        return -1;
    const double fraction = std::clamp(seconds / std::max(trackSeconds(), 1e-9), 0.0, 1.0);
    const long frame = std::clamp(page.clock.firstAtOrAfter(fraction), 0L, page.lastFrame);
    ShowRun& run = page.sceneRuns[sceneAtFraction(fraction, pathPlayer.paths.pathDurations)];
    run.stateTouched();
    const long at = run.playTo(frame);
    page.sought = at;
    pathPlayer.playing = true;
    quitRequested = false;
    if (musicPosition(0) < 0.0f)
        playTrack(0);   // the track had played out: it starts again
    seekMusic(0, page.clock.fraction(at));
    pauseMusic(0, page.paused);
    page.phase = PLAYING;
    page.drawOnce = true;
    return at;
}

// --- Phases ------------------------------------------------------------------------------

void startDecoding()
{
    page.decoderOpen = page.decoder.open(MUSIC_TRACK_FILE, page.decodeError);
}

// True once the whole track is decoded (or refused) and adopted.
bool decodeSome()
{
    if (page.decoderOpen) {
        const double until = emscripten_get_now() + DECODE_BUDGET_MS;
        bool done = false;
        while (!done && emscripten_get_now() < until)
            done = page.decoder.step(8);
        const int percent = int(page.decoder.progress() * 100.0);
        if (percent != page.shownPercent) {
            page.shownPercent = percent;
            const std::string text = "Loading the music: " + std::to_string(percent) + " %";
            webPageStatus(text.c_str());
        }
        if (!done)
            return false;
    }
    std::vector<int16_t> stereo;
    std::string note;
    if (page.decoderOpen && !page.decoder.finish(stereo, page.decodeError, &note))
        stereo.clear();
    if (!page.decodeError.empty()) {
        musicClock.sample = nullptr;   // the page says the show cannot play, with the reason
        musicClock.lengthSamples = 0.0f;
        return true;
    }
    adoptTrack(MUSIC_TRACK_FILE, std::move(stereo), page.decodeError, note, 0);
    const std::string tooShort = trackTooShort(trackSeconds(), pathPlayer.paths.pathDurations);
    if (musicClock.sample && !tooShort.empty())
        reportLine("The music track %s %s.\n", MUSIC_TRACK_FILE, tooShort.c_str());
    return true;
}

// The show (or the asked-for scene) from the click on, as runDemo starts it.
void startPlaying()
{
    restoreShowSnapshot(pathPlayer, camera, page.initial);   // the snapshots' work is undone
    seedShowRandom(static_cast<unsigned>(std::time(nullptr)));
    initSound();
    setSoundVolume(appSettings.soundVolume);
    setMusicVolume(appSettings.musicVolume);
    playTrack(0);
    startTicks = SDL_GetTicks();
    const int scene = page.request.kind == WebRequest::SCENE ? page.request.scene : FIRST_SCENE;
    startPath(pathPlayer, scene);
    if (page.request.kind == WebRequest::SCENE)
        seekMusic(0, startPositionSum(scene, pathPlayer.paths.pathDurations));
    page.loop.report = page.timings ? &page.report : nullptr;
    webPageStatus("");
    page.phase = PLAYING;
}

// FRAME: the capture program's set-up on its virtual clock (seed, assets,
// the scene holding the fraction started from its beginning).
void startFrame()
{
    if (trackSeconds() <= 0.0) {
        webPageCannotPlay("No frame: the music track did not load");
        page.phase = DONE;
        return;
    }
    VirtualClock clock;
    clock.framesInTrack = FRAME_FPS * trackSeconds();
    page.target = clock.firstAtOrAfter(page.request.fraction);
    const int scene = sceneAtFraction(page.request.fraction, pathPlayer.paths.pathDurations);
    quitRequested = false;
    renderFlags = (renderFlags & ~0xFF) | RENDER_FLAGS_START_LOW_BYTE;
    framesPerSecond = static_cast<float>(FRAME_FPS);
    loadAssets(false);
    page.run.begin(pathPlayer, camera, takeShowSnapshot(pathPlayer, camera, -1), clock, scene, FRAME_SEED);
    page.phase = PREROLL;
}

// FRAME: a few updates of the virtual clock; at the target, the frame.
void prerollSome()
{
    const long step = std::min(page.target, page.run.frame() + PREROLL_PER_FRAME);
    const long at = page.run.playTo(step, step == page.target);
    if (at < page.target && pathPlayer.playing) {
        const std::string text = "Preparing the frame: " + std::to_string(at) + " / " + std::to_string(page.target);
        webPageStatus(text.c_str());
        return;
    }
    renderShowFrame();
    const std::vector<uint8_t> rgb = readBackBufferRows(appSettings.screenWidth, appSettings.screenHeight);
    webPageStatus("");
    webPageFrameReady(rgb.data(), appSettings.screenWidth, appSettings.screenHeight, page.target);
    page.phase = DONE;
}

void endShow()
{
    endFrameLoop(page.loop);
    if (page.timings)
        std::fputs(page.report.format("vortalune", "swap").c_str(), stdout);   // the page's quiet panel
    std::fflush(stdout);
    page.phase = ENDED;
    webPageEnded();
}

// One animation frame of the page.
void pageFrame()
{
    switch (page.phase) {
    case DECODING:
        if (!decodeSome())
            return;
        if (page.request.kind == WebRequest::FRAME) {
            startFrame();
        } else if (!musicClock.sample) {
            webPageCannotPlay(("The show cannot play: the music track " + std::string(MUSIC_TRACK_FILE) +
                               " could not be loaded" + (page.decodeError.empty() ? "" : " (" + page.decodeError + ")"))
                                  .c_str());
            page.phase = DONE;
        } else {
            beginRuns();
            page.phase = WAITING;
            webPageAskForClick();
        }
        return;
    case WAITING:
        if (page.clicked)
            startPlaying();
        else
            prepareSome(PREPARE_BUDGET_MS);
        return;
    case PLAYING:
        if (page.paused) {
            if (page.drawOnce) {
                renderShowFrame();
                swapWindowBuffers();
                page.drawOnce = false;
            }
            return;
        }
        page.drawOnce = false;
        runFrame(page.loop);
        if (quitRequested)
            endShow();
        else if (!page.timings)
            prepareBehindTheShow();
        return;
    case ENDED:
        if (page.drawOnce) {
            renderShowFrame();
            swapWindowBuffers();
            page.drawOnce = false;
        }
        return;
    case PREROLL:
        prerollSome();
        return;
    case DONE:
        emscripten_cancel_main_loop();
        return;
    }
}

} // namespace

// --- The viewer's controls ---------------------------------------------------------------

extern "C" {

// The page's "Click to start": the audio context may now run.
EMSCRIPTEN_KEEPALIVE void webStartClicked()
{
    page.clicked = true;
}

// `m` on the page: the caption line with the frame rate.
EMSCRIPTEN_KEEPALIVE void webToggleCaption()
{
    renderFlags ^= FLAG_CAPTION;
    page.drawOnce = true;
}

// `b`: the music position of a beat, on the page's quiet panel.
EMSCRIPTEN_KEEPALIVE void webMarkBeat()
{
    std::printf("Beat at: %f\n", static_cast<double>(musicPosition(0)));
    std::fflush(stdout);
}

// Space: picture and music stop together, or go on. Returns 1 while paused.
EMSCRIPTEN_KEEPALIVE int webTogglePause()
{
    if (page.phase != PLAYING)
        return 0;
    page.paused = !page.paused;
    pauseMusic(0, page.paused);
    if (!page.paused)
        startTicks = SDL_GetTicks();
    return page.paused ? 1 : 0;
}

// A seek to `seconds` of the track; returns the frame it landed on (-1 when
// the show does not play yet).
EMSCRIPTEN_KEEPALIVE long webSeek(double seconds)
{
    return seekTo(seconds);
}

// The start of scene `scene` (1..10).
EMSCRIPTEN_KEEPALIVE long webSeekScene(int scene)
{
    if (scene < FIRST_SCENE || scene > LAST_SCENE)
        return -1;
    return seekTo(double(startPositionSum(scene, pathPlayer.paths.pathDurations)) * trackSeconds());
}

// Home, and replay after the end: from the show's start (a scene asked
// for: that scene's), playing.
EMSCRIPTEN_KEEPALIVE long webRestart()
{
    page.paused = false;
    const int scene = page.request.kind == WebRequest::SCENE ? page.request.scene : FIRST_SCENE;
    return seekTo(double(startPositionSum(scene, pathPlayer.paths.pathDurations)) * trackSeconds());
}

// `u`: the music silent, or heard again. Returns 1 while muted.
EMSCRIPTEN_KEEPALIVE int webToggleMute()
{
    page.muted = !page.muted;
    setMusicVolume(page.muted ? 0.0f : appSettings.musicVolume);
    setSoundVolume(page.muted ? 0.0f : appSettings.soundVolume);
    return page.muted ? 1 : 0;
}

// The drawing's size, from the page's fit of the canvas.
EMSCRIPTEN_KEEPALIVE void webResize(int width, int height)
{
    resizeDrawing(width, height);
}

// What the show reads as its clock now, in seconds of the track (-1 while
// the track does not play), the track's length, and the scene playing (0
// before the first): for the page's position line and its tests.
EMSCRIPTEN_KEEPALIVE double webMusicSeconds()
{
    const float t = musicPosition(0);
    return t < 0.0f ? -1.0 : double(t) * trackSeconds();
}

EMSCRIPTEN_KEEPALIVE double webTrackSeconds()
{
    return trackSeconds();
}

EMSCRIPTEN_KEEPALIVE int webScene()
{
    // Before the click the state is whichever snapshot was being made.
    const bool shown = (page.phase == PLAYING && pathPlayer.playing) || page.phase == ENDED;
    return shown ? pathPlayer.pathIndex : 0;
}

// The scene holding `seconds` of the track (for the page's position line:
// at a scene's first frame the player still stands in the scene before it).
EMSCRIPTEN_KEEPALIVE int webSceneAt(double seconds)
{
    return trackSeconds() > 0.0 ? sceneAtFraction(seconds / trackSeconds(), pathPlayer.paths.pathDurations) : 0;
}

// 0 loading, 1 waiting for the click, 2 playing, 3 paused, 4 ended, 5 done
// (a frame handed over, or the show cannot play).
EMSCRIPTEN_KEEPALIVE int webPhase()
{
    switch (page.phase) {
    case DECODING: return 0;
    case WAITING:  return 1;
    case PLAYING:  return page.paused ? 3 : 2;
    case ENDED:    return 4;
    default:       return 5;
    }
}

// How far the snapshots reach (a track fraction), for the page's tests.
EMSCRIPTEN_KEEPALIVE double webPrepared()
{
    long done = 0;
    for (int scene = FIRST_SCENE; scene <= LAST_SCENE; ++scene)
        done += page.prepared[scene] - (page.sceneRuns[scene].firstFrame() - 1);
    return page.lastFrame > 0 ? double(done) / double(page.lastFrame + 1) : 0.0;
}

// The frame shown now, read back for the page (as a FRAME request's).
EMSCRIPTEN_KEEPALIVE void webReadFrame()
{
    renderShowFrame();
    const std::vector<uint8_t> rgb = readBackBufferRows(appSettings.screenWidth, appSettings.screenHeight);
    webPageFrameReady(rgb.data(), appSettings.screenWidth, appSettings.screenHeight, page.sought);
}

} // extern "C"

// --- Entry -------------------------------------------------------------------------------

int runWebShow(int argc, char** argv)
{
    page.request = parseWebRequest(argc, argv);
    for (int i = 1; i < argc; ++i)
        page.timings = page.timings || std::strcmp(argv[i], "--timings") == 0;
    if (page.request.problem) {
        reportLine("vortalune: %s\n", page.request.problem);
        return EXIT_USAGE;
    }
    // The show's mode at the drawing's size, in the page instead of full
    // screen; a scene asked for ends the show with it.
    applyCommandLineMode(1, appSettings);
    appSettings.fullscreen = false;
    appSettings.screenWidth = page.request.width;
    appSettings.screenHeight = page.request.height;
    appSettings.centerX = page.request.width / 2;
    appSettings.centerY = page.request.height / 2;
    appSettings.inverseWidth = 1.0f / float(page.request.width);
    pathPlayer.oneScene = page.request.kind == WebRequest::SCENE;
    printStartupMessages();
    seedShowRandom(static_cast<unsigned>(std::time(nullptr)));
    quitRequested = false;
    renderFlags = (renderFlags & ~0xFF) | RENDER_FLAGS_START_LOW_BYTE;

    openWindow(false);   // sound starts with the click
    setupGlState();
    if (page.request.kind != WebRequest::FRAME)
        loadAssets(false);   // the track is decoded in steps below
    startDecoding();
    emscripten_set_main_loop(pageFrame, 0, false);
    return 0;
}
