// sound/SoundSlots.h: what the two outputs (SDL in sound/SoundOutput.cpp, Web
// Audio in sound/SoundOutputWeb.cpp) share, so they behave alike: the sample
// record, the slots that own the samples, and the channel a sample plays on.
// An empty sample starts its channel as any other does; the channel has
// ended by the next look at it. No SDL, no GL.
#pragma once

#include "sound/SoundLimits.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

struct SoundSample {
    std::vector<int16_t> pcm;      // interleaved stereo at SOUND_RATE
    uint32_t             frames = 0;
    int                  id = 0;   // what the output made of it (the page's audio buffer); 0: nothing
};

class SampleSlots {
public:
    // A sample of `stereo` (cut to whole frames) in slot `index`; the sample
    // it replaces is handed to `release` first (its channels stop, what the
    // output made of it goes), then freed. Null for an index out of range.
    template <typename Release>
    SoundSample* store(int index, std::vector<int16_t> stereo, Release release)
    {
        if (index < 0 || index >= SOUND_SAMPLE_SLOTS)
            return nullptr;
        auto sample = std::make_unique<SoundSample>();
        const size_t frames = std::min<size_t>(stereo.size() / 2, UINT32_MAX);
        stereo.resize(frames * 2);
        sample->pcm = std::move(stereo);
        sample->frames = static_cast<uint32_t>(frames);
        if (samples_[index])
            release(*samples_[index]);
        samples_[index] = std::move(sample);
        return samples_[index].get();
    }

    // Every sample handed to `release`, then freed.
    template <typename Release>
    void clear(Release release)
    {
        for (auto& s : samples_) {
            if (s)
                release(*s);
            s.reset();
        }
    }

private:
    std::unique_ptr<SoundSample> samples_[SOUND_SAMPLE_SLOTS];
};

// The channel playSample takes: `channel` itself, or for SOUND_FREE_CHANNEL
// the first for which `playing(i)` is false. -1 when it is out of range or
// every channel plays.
template <typename Playing>
int chooseChannel(int channel, Playing playing)
{
    if (channel == SOUND_FREE_CHANNEL) {
        for (int i = 0; i < SOUND_MIX_CHANNELS; ++i)
            if (!playing(i))
                return i;
        return -1;
    }
    return channel >= 0 && channel < SOUND_MIX_CHANNELS ? channel : -1;
}
