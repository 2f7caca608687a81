// app/VirtualClock.h: the music clock of a run that does not listen to the
// sound device: frame k sits at track fraction k / (fps x track seconds).
// The capture program renders on it, and the authoring tool's scrubbing
// replays a scene on it, so both reach the same state at the same frame.
#pragma once

#include <cmath>

struct VirtualClock {
    double framesInTrack = 0.0;   // fps x track seconds

    float fraction(long k) const { return static_cast<float>(static_cast<double>(k) / framesInTrack); }
    // The first frame whose fraction is at or after f.
    long firstAtOrAfter(double f) const
    {
        long k = static_cast<long>(std::ceil(f * framesInTrack));
        while (k > 0 && fraction(k - 1) >= static_cast<float>(f))
            --k;
        while (fraction(k) < static_cast<float>(f))
            ++k;
        return k;
    }
};
