// app/Shell.cpp: globals, consistency check, mode choice and frame clock.
#include "app/Shell.h"

#include "app/Settings.h"

#include <cstdio>

bool    quitRequested   = false;
int32_t renderFlags     = 0;
float   framesPerSecond = 0.0f;

uint8_t assertCheck(int condition, const char* details, int line, const char* file)
{
    const uint8_t low = static_cast<uint8_t>(condition & 0xFF);
    if (low == 0)
        std::fprintf(stderr, "ASSERT FAILED.  File: %s. Line: %d. Details: %s\n", file, line, details);
    return low;
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

float startPositionSum(int scene, const float (&durations)[SCENE_ENTRIES])
{
    const int end = scene < 1 ? 0 : (scene > SCENE_ENTRIES ? SCENE_ENTRIES : scene);
    float sum = 0.0f;
    for (int i = 0; i < end; ++i)
        sum += durations[i];
    return sum;
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
