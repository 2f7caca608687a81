// base/RuntimeRandom.h: the C runtime's rand() as the desktop's C library
// (glibc) draws it: its additive feedback generator, seeded the same way. The
// particles draw from the C runtime; the browser's runtime draws another
// sequence, so there the particles draw from this one instead, and a seed
// gives the same particles, frame for frame, as on the desktop.
#pragma once

// srand(seed) of that generator (seed 0 counts as 1, as there).
void seedRuntimeRandom(unsigned seed);

// The next rand(): 0 .. 2147483647.
int runtimeRandom();
