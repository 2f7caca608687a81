// base/Show.cpp: the start position of a scene.
#include "base/Show.h"

float startPositionSum(int scene, const float (&durations)[SCENE_ENTRIES])
{
    const int end = scene < 1 ? 0 : (scene > SCENE_ENTRIES ? SCENE_ENTRIES : scene);
    float sum = 0.0f;
    for (int i = 0; i < end; ++i)
        sum += durations[i];
    return sum;
}
