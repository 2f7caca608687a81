// base/RuntimeRandom.h: the C runtime's rand() as the desktop's C library
// (glibc) draws it: its additive feedback generator, seeded the same way. The
// show's particles draw from it, on the desktop and in the browser (whose
// runtime draws another sequence), so a seed gives the same particles, frame
// for frame, everywhere; and its state can be kept and put back, so a run of
// the show can be taken up again where it stood (app/ShowRun.h).
#pragma once

#include <cstdint>

// srand(seed) of that generator (seed 0 counts as 1, as there).
void seedRuntimeRandom(unsigned seed);

// The next rand(): 0 .. 2147483647.
int runtimeRandom();

// The generator's whole state: the next draws follow from it alone.
struct RandomState {
    uint32_t r[31] = {};
    int      at = 0;
    bool     seeded = false;
};

RandomState runtimeRandomState();
void        restoreRuntimeRandom(const RandomState& state);
