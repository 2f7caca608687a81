// app/Shell.cpp: globals, command line, mode choice and frame clock.
#include "app/Shell.h"

#include "app/Settings.h"
#include "base/Show.h"

#include <cstdio>
#include <cstring>

bool    quitRequested   = false;
int32_t renderFlags     = 0;
float   framesPerSecond = 0.0f;

const char* const VORTALUNE_USAGE =
    "usage: vortalune [--timings] [SCENE]\n";

const char* const VORTALUNE_HELP =
    "  (no argument)  the show: 1024x768 full-screen from the start of the track;\n"
    "                 it ends with the show or on Escape\n"
    "  SCENE          the authoring tool: 800x600 windowed; scene SCENE (0..10) plays\n"
    "                 with the music moved to its start, then the free camera takes over\n"
    "                 (scene 0 has no flight: straight to the free camera)\n"
    "  --timings      at exit, a table of frame times per scene on stderr (frames,\n"
    "                 rate, median, 99th percentile, worst, and the mean split into\n"
    "                 update, draw, swap and other); before or after SCENE. The loop\n"
    "                 then waits for GL after the draw and after the swap\n"
    "  -h, --help     print this and exit\n"
    "Run it from the project folder: it reads data/ and settings.ini there.\n";

namespace {

bool isHelpOption(const char* text)
{
    return std::strcmp(text, "--help") == 0 || std::strcmp(text, "-h") == 0;
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        if (isHelpOption(argv[i])) {
            line.request = COMMAND_LINE_HELP;
            return line;
        }
    }
    // --timings may stand before or after the scene; what is left is the
    // show (nothing) or one scene number.
    std::vector<const char*> rest;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], TIMINGS_OPTION) == 0) {
            if (line.timings) {
                line.request = COMMAND_LINE_BAD;
                line.reason = std::string(TIMINGS_OPTION) + " is given twice";
                return line;
            }
            line.timings = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (rest.empty())
        return line;   // the show
    line.request = COMMAND_LINE_BAD;
    if (rest.size() > 1) {
        line.reason = "takes at most one argument (a scene number 0.." + std::to_string(SCENE_ENTRIES - 1) +
                      ") besides " + TIMINGS_OPTION + ", got " + std::to_string(rest.size());
        return line;
    }
    const char* text = rest[0];
    if (text[0] == '-' && !(text[1] >= '0' && text[1] <= '9')) {
        line.reason = std::string("unknown option '") + text + "'";
        return line;
    }
    // Digits only, and stop counting once past the last scene so a long
    // number cannot overflow.
    int scene = 0;
    bool digits = text[0] != '\0';
    for (const char* c = text; *c && digits; ++c) {
        digits = *c >= '0' && *c <= '9';
        if (digits && scene < SCENE_ENTRIES)
            scene = scene * 10 + (*c - '0');
    }
    if (!digits || scene >= SCENE_ENTRIES) {
        line.reason = std::string("the scene must be a whole number 0..") + std::to_string(SCENE_ENTRIES - 1) +
                      ", not '" + text + "'";
        return line;
    }
    line.request = COMMAND_LINE_SCENE;
    line.scene = scene;
    return line;
}

void applyCommandLineMode(int argc, AppSettings& settings)
{
    setDefaults(settings);
    if (argc < 2) {
        settings.screenWidth = 1024;
        settings.screenHeight = 768;
        settings.fullscreen = true;
        settings.centerX = 512;
        settings.centerY = 384;
        settings.inverseWidth = 0.0009765625f;
        settings.freeRoamAllowed = false;
    } else {
        settings.screenWidth = 800;
        settings.screenHeight = 600;
        settings.fullscreen = false;
        settings.centerX = 400;
        settings.centerY = 300;
        settings.inverseWidth = 0.00125f;
        settings.freeRoamAllowed = true;
    }
}

int32_t nextPowerOfTwo(int32_t n)
{
    int32_t p = 1;
    while (p < n && p < (1 << 30))
        p <<= 1;
    return p;
}

float advanceFrameClock(FrameClock& clock, uint32_t elapsed, float& fps)
{
    // Unsigned difference: never negative, so it always becomes lastStep.
    const uint32_t deltaMs = elapsed - clock.previousElapsed;
    const float step = static_cast<float>(deltaMs * 0.001);
    clock.lastStep = step;

    if (elapsed > clock.nextFpsUpdate) {
        // A zero step (two frames in the same millisecond) has no finite rate;
        // keep the previous sample rather than show infinity.
        if (step > 0.0f)
            fps = 1.0f / step;
        clock.nextFpsUpdate += 1000;
    }
    clock.previousElapsed = elapsed;
    return step;
}
