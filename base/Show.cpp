// base/Show.cpp: where scenes start in the track.
#include "base/Show.h"

float startPositionSum(int scene, const float (&durations)[SCENE_ENTRIES])
{
    const int end = scene < 1 ? 0 : (scene > SCENE_ENTRIES ? SCENE_ENTRIES : scene);
    float sum = 0.0f;
    for (int i = 0; i < end; ++i)
        sum += durations[i];
    return sum;
}

float sceneLength(int scene, const float (&durations)[SCENE_ENTRIES], float start)
{
    if (scene == LAST_SCENE)
        return 1.0f - start;
    return scene >= 0 && scene < SCENE_ENTRIES ? durations[scene] : 0.0f;
}

int sceneAtFraction(double f, const float (&durations)[SCENE_ENTRIES])
{
    int scene = FIRST_SCENE;
    for (int s = FIRST_SCENE; s <= LAST_SCENE; ++s)
        if (startPositionSum(s, durations) <= static_cast<float>(f))
            scene = s;
    return scene;
}
