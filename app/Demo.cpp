// app/Demo.cpp: entry point, asset loading, the frame loop and shutdown.
//
// Sections:
//   --- Assets ---
//   --- Frame loop ---
//   --- Entry ---
#include "app/Demo.h"

#include "app/Font.h"
#include "app/FrameReport.h"
#include "app/Input.h"
#include "app/Music.h"
#include "app/Render.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "app/ShowRun.h"
#include "app/Tool.h"
#include "base/Report.h"
#include "base/Show.h"
#include "gfx/Texture.h"
#include "gl/GL.h"
#include "iso/Particles.h"
#include "model/Actors.h"
#include "path/Camera.h"
#include "path/PathPlayer.h"
#include "sound/SoundOutput.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>

uint32_t  startTicks = 0;
ToolHooks toolHooks;

// --- Assets --------------------------------------------------------------------

namespace {

// Where the character (actor 0) starts.
constexpr Float3 CHARACTER_START { 0.0f, 0.0f, 0.0f };

} // namespace

void loadAssets(bool withMusic)
{
    // 1. Release whatever is loaded (actors, particles, font, textures), then
    //    generate the texture names.
    releaseScene(actorScene);
    destroyParticles(particleSystem);
    releaseFont(fontLists);
    textureTable.release();
    textureTable.generate();
    // 2. The character: actor 0 at the origin, texture slot 1.
    loadCharacter(actorScene, 0, LOADER_KIND_CHARACTER, CHARACTER_START, static_cast<float>(appSettings.centerX),
                  static_cast<float>(appSettings.centerY));
    // 3-6. Texture slots: glow target (5), screen copy (8), the PNG images.
    textureTable.createEmpty(256, 256, GL_RGB, SLOT_GLOW);
    textureTable.createEmpty(nextPowerOfTwo(appSettings.screenWidth), nextPowerOfTwo(appSettings.screenHeight),
                             GL_RGB, SLOT_TITLE);
    textureTable.loadPng("data/credits.png", SLOT_CREDITS, 0);
    textureTable.loadPng("data/blue_cross.png", SLOT_SKY, 0);
    textureTable.loadPng("data/pastel.png", SLOT_PASTEL, 0);
    textureTable.loadPng("data/bumpy.png", SLOT_BUMPY, 0);
    textureTable.loadPng("data/vortalune.png", SLOT_TITLE, 0);
    textureTable.loadPngWithMask("data/sprite01_mask.png", "data/sprite01_mask.png", SLOT_SPRITE, 0);
    textureTable.loadPngWithMask("data/font.png", "data/font_mask.png", SLOT_FONT, 0);
    // 7. Light parameters.
    setLightParameters();
    // 8. Font display lists over slot 7.
    buildFont(fontLists, textureTable.nameOf(SLOT_FONT));
    // 9. Particle root.
    createParticleRoot(particleSystem);
    // 10. Camera: far out above the character looking straight down, then
    //     closing in to 300 with smoothing.
    const Float3 character = actorScene.actors[0].position;
    setTarget(camera, Float3(90.0f, 0.0f, 0.0f), character, 2000.0f, CAMERA_HOLD, 1.0f);
    setTarget(camera, Float3(90.0f, 0.0f, 0.0f), character, 300.0f, CAMERA_SMOOTHING, 1.0f);
    // 11. Music: the last step, so the track starts as late as possible.
    if (!withMusic)
        return;
    loadTrack(MUSIC_TRACK_FILE, 0);
    const std::string tooShort =
        trackTooShort(static_cast<double>(musicClock.lengthSamples) / SOUND_RATE, pathPlayer.paths.pathDurations);
    if (musicClock.sample && !tooShort.empty())
        reportLine("The music track %s %s.\n", MUSIC_TRACK_FILE, tooShort.c_str());
    setSoundVolume(appSettings.soundVolume);
    setMusicVolume(appSettings.musicVolume);
    playTrack(0);
}

// --- Frame loop ----------------------------------------------------------------

void renderShowFrame()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1.0f, 1.0f, 1.0f);
    renderFrame(pathPlayer.show);
}

namespace {

// --timings: the start of a timed part (0 without a report).
int64_t partStart(const FrameReport* report)
{
    return report ? frameReportNow() : 0;
}

// --timings: ends a part begun at `start`. With finishGl the part waits for
// GL to finish what it was given, so the work lands in the part that queued
// it rather than in whichever call happens to block next.
void partEnd(FrameReport* report, FramePart part, int64_t start, bool finishGl)
{
    if (!report)
        return;
    if (finishGl)
        glFinish();
    report->addPart(part, frameReportNow() - start);
}

} // namespace

void runFrame(FrameLoop& loop)
{
    FrameReport* const report = loop.report;
    if (report)   // the row: the scene as the frame starts, or the free camera
        report->beginFrame(frameReportNow(), FrameRowKey{ pathPlayer.pathIndex, !pathPlayer.playing,
                                                          toolHooks.frameLayerName ? toolHooks.frameLayerName() : nullptr });
    if (toolHooks.frame)
        toolHooks.frame();   // the authoring tool's editor: reloads, status line, overlay
    const uint32_t elapsed = SDL_GetTicks() - startTicks;
    const float step = advanceFrameClock(loop.clock, elapsed, framesPerSecond);

    if (pathPlayer.playing) {
        // The render comes first; the player's update prepares the next frame.
        int64_t start = partStart(report);
        renderShowFrame();
        partEnd(report, FRAME_DRAW, start, true);
        start = partStart(report);
        if (!(toolHooks.updatePlayer && toolHooks.updatePlayer()))   // the tool's own playback, or
            updatePlayer(pathPlayer, musicPosition(0));              // the music clock's
        partEnd(report, FRAME_UPDATE, start, false);
    } else if (!appSettings.freeRoamAllowed) {
        if (report)
            report->dropFrame();   // nothing is drawn: not a frame
        quitRequested = true;
        return;   // no events, no swap in this iteration
    } else {
        int64_t start = partStart(report);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 1.0f);
        partEnd(report, FRAME_DRAW, start, false);
        if (!(renderFlags & FLAG_PAUSED)) {
            start = partStart(report);
            updateFrame(step);   // the free camera steps the scene
            partEnd(report, FRAME_UPDATE, start, false);
        }
        start = partStart(report);
        renderFrame(pathPlayer.show);
        partEnd(report, FRAME_DRAW, start, true);
    }

    handleEvents();
    const int64_t start = partStart(report);
    swapWindowBuffers();
    partEnd(report, FRAME_SWAP, start, true);
}

void endFrameLoop(FrameLoop& loop)
{
    if (loop.report)
        loop.report->endFrame(frameReportNow());
}

void releaseAssets()
{
    // Release the actors, the particle tree, the font lists and the textures.
    releaseScene(actorScene);
    destroyParticles(particleSystem);
    releaseFont(fontLists);
    textureTable.release();
}

// --- Entry ---------------------------------------------------------------------

int runDemo(int argc, char** argv)
{
    // The command line is checked before anything else, so a refused one
    // opens no window and writes nothing.
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.request == COMMAND_LINE_HELP) {
        std::fputs(VORTALUNE_USAGE, stdout);
        std::fputs(VORTALUNE_HELP, stdout);
        return 0;
    }
    if (line.request == COMMAND_LINE_BAD) {
        reportLine("vortalune: %s\n%s", line.reason.c_str(), VORTALUNE_USAGE);
        return EXIT_USAGE;
    }
    applyCommandLineMode(line.request == COMMAND_LINE_SHOW ? 1 : 2, appSettings);   // --timings chooses no mode
    pathPlayer.oneScene = appSettings.freeRoamAllowed;   // the tool: the free camera takes over after the scene
    printStartupMessages();   // what reading settings.ini and the path files found
    repairInterruptedSaves(pathPlayer.paths);

    seedShowRandom(static_cast<unsigned>(std::time(nullptr)));
    quitRequested = false;
    renderFlags = (renderFlags & ~0xFF) | RENDER_FLAGS_START_LOW_BYTE;

    openWindow();
    setupGlState();
    loadAssets();
    startTicks = SDL_GetTicks();

    if (line.request == COMMAND_LINE_SHOW) {
        startPath(pathPlayer, FIRST_SCENE);   // the music plays from its beginning
    } else {
        // The music moves to the start of the chosen scene.
        // The tool records into this scene's pair: one editor per scene and folder.
        beginEditing(pathPlayer.paths, line.scene);
        if (toolHooks.begin)
            toolHooks.begin(line.scene, static_cast<double>(musicClock.lengthSamples) / SOUND_RATE);
        startPath(pathPlayer, line.scene);
        seekMusic(0, startPositionSum(line.scene, pathPlayer.paths.pathDurations));
    }

    // report: null without --timings; the loop then does exactly what it does
    // untimed (the timing calls return at once, and nothing waits for GL).
    FrameReport report;
    FrameLoop loop;
    loop.report = line.timings ? &report : nullptr;
    while (!quitRequested)
        runFrame(loop);
    endFrameLoop(loop);
    if (toolHooks.end && line.request != COMMAND_LINE_SHOW)
        toolHooks.end();   // the tool: keys only in memory are kept, or said lost
    releaseAssets();
    if (line.timings)
        reportText(report.format("vortalune", "swap").c_str());
    return 0;
}
