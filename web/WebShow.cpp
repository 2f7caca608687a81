// web/WebShow.cpp: the page's frame loop: decode, wait for the click, play;
// or one frame on the virtual clock.
//
// Sections:
//   --- The page ---
//   --- Request ---
//   --- Phases ---
//   --- Entry ---
#include "web/WebShow.h"

#include "app/Demo.h"
#include "app/FrameReport.h"
#include "app/Music.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/ShowRun.h"
#include "base/Report.h"
#include "base/RuntimeRandom.h"
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

// The "Click to start" overlay, shown while the page waits for the click.
EM_JS(void, webPageAskForClick, (), {
    if (Module.vortalunePage)
        Module.vortalunePage.askForClick();
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

// What the page's click and keys set (the browser calls the exports below).
bool clicked = false;

} // namespace

extern "C" {

// The page's "Click to start": the audio context may now run.
EMSCRIPTEN_KEEPALIVE void webStartClicked()
{
    clicked = true;
}

// `m` on the page: the caption line with the frame rate.
EMSCRIPTEN_KEEPALIVE void webToggleCaption()
{
    renderFlags ^= FLAG_CAPTION;
}

// What the show reads as its clock now, in seconds of the track (-1 while
// the track does not play), and the scene playing (0 before the first): for
// the page's tests and anyone watching the console.
EMSCRIPTEN_KEEPALIVE double webMusicSeconds()
{
    const float t = musicPosition(0);
    return t < 0.0f ? -1.0 : double(t) * double(musicClock.lengthSamples) / SOUND_RATE;
}

EMSCRIPTEN_KEEPALIVE int webScene()
{
    return pathPlayer.playing ? pathPlayer.pathIndex : 0;
}

} // extern "C"

// --- Request -----------------------------------------------------------------------------

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
        } else if (a != "--timings") {
            r.problem = "the page was asked for something it does not know";
            return r;
        }
    }
    return r;
}

// --- Phases ------------------------------------------------------------------------------

namespace {

constexpr double DECODE_BUDGET_MS = 20.0;   // decoding per animation frame: the page stays responsive
constexpr int    PREROLL_PER_FRAME = 30;    // virtual-clock updates per animation frame before a FRAME
constexpr int    FRAME_FPS = 60;            // the capture program's default clock
constexpr unsigned FRAME_SEED = 1;          // and its default seed

enum Phase { DECODING, WAITING, PLAYING, PREROLL, DONE };

struct Page {
    WebRequest           request;
    Phase                phase = DECODING;
    OggDecoder           decoder;
    bool                 decoderOpen = false;
    std::string          decodeError;
    double               startedAt = 0.0;    // ms, the page's main
    int                  shownPercent = -1;
    FrameReport          report;
    bool                 timings = false;
    FrameLoop            loop;
    // FRAME: the run on the virtual clock, and the frame it goes to.
    ShowRun              run;
    long                 target = 0;
};

Page page;

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
    adoptTrack(MUSIC_TRACK_FILE, std::move(stereo), page.decodeError, note, 0);
    const std::string tooShort =
        trackTooShort(static_cast<double>(musicClock.lengthSamples) / SOUND_RATE, pathPlayer.paths.pathDurations);
    if (musicClock.sample && !tooShort.empty())
        reportLine("The music track %s %s.\n", MUSIC_TRACK_FILE, tooShort.c_str());
    char text[96];
    std::snprintf(text, sizeof text, "Ready in %.1f s", (emscripten_get_now() - page.startedAt) / 1000.0);
    std::printf("%s\n", text);
    webPageStatus(text);
    return true;
}

// The show (or the asked-for scene) from the click on, as runDemo starts it.
void startPlaying()
{
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
    const size_t trackFrames = size_t(musicClock.lengthSamples);
    if (trackFrames == 0) {
        webPageStatus("No frame: the music track did not load");
        page.phase = DONE;
        return;
    }
    VirtualClock clock;
    clock.framesInTrack = FRAME_FPS * (static_cast<double>(trackFrames) / SOUND_RATE);
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
        reportText(page.report.format("vortalune", "swap").c_str());
    releaseAssets();
    stopSoundOutput();
    page.phase = DONE;
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
        } else {
            page.phase = WAITING;
            webPageAskForClick();
        }
        return;
    case WAITING:
        if (clicked)
            startPlaying();
        return;
    case PLAYING:
        runFrame(page.loop);
        if (quitRequested)
            endShow();
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

// --- Entry -------------------------------------------------------------------------------

int runWebShow(int argc, char** argv)
{
    page.startedAt = emscripten_get_now();
    page.request = parseWebRequest(argc, argv);
    for (int i = 1; i < argc; ++i)
        page.timings = page.timings || std::strcmp(argv[i], "--timings") == 0;
    if (page.request.problem) {
        reportLine("vortalune: %s\n", page.request.problem);
        return EXIT_USAGE;
    }
    // The show's mode at the window's size, in the page instead of full screen;
    // a scene asked for ends the show with it.
    applyCommandLineMode(1, appSettings);
    appSettings.fullscreen = false;
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
