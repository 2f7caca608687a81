// fuzz/beat_map_fuzz.cpp: libFuzzer entry for the beat map reader. Feeds the
// input as a beat map's text, checks what the parser keeps (ascending, in
// range) and steps over it by beats and bars from positions the input also
// chooses (its first eight bytes as a double, when it has them).
#include "editor/BeatMap.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    BeatMap map;
    std::string problem;
    const int refused = parseBeatMap(text, map, problem);
    if (refused < 0 || (refused > 0) == problem.empty())
        std::abort();   // a count without a reason, or a reason without a count
    for (size_t i = 0; i < map.beats.size(); ++i) {
        const Beat& b = map.beats[i];
        if (!(b.fraction >= 0.0 && b.fraction <= 1.0) || b.bar < 1 || b.beat < 1)
            std::abort();
        if (i > 0 && !(b.fraction > map.beats[i - 1].fraction))
            std::abort();
    }

    double start = 0.5;
    if (size >= sizeof start)
        std::memcpy(&start, data, sizeof start);
    const int counts[] = { 1, -1, 3, -3, 1000000, -1000000, INT32_MAX, INT32_MIN };
    for (double position : { start, 0.0, 1.0, -1.0, 2.0 }) {
        for (int count : counts) {
            const double beat = stepBeats(map, position, count);
            const double bar = stepBars(map, position, count);
            if (!map.beats.empty() && !std::isnan(position) &&
                !(beat >= map.beats.front().fraction && beat <= map.beats.back().fraction))
                std::abort();   // stepping lands on a beat of the map
            (void)bar;
        }
        const Beat* at = beatAt(map, position);
        if (at && (at < map.beats.data() || at >= map.beats.data() + map.beats.size()))
            std::abort();
    }
    return 0;
}
