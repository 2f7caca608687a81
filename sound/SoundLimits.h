// sound/SoundLimits.h: the sound layer's capacities and channel markers,
// which its interface (sound/SoundOutput.h) and the slots both outputs share
// (sound/SoundSlots.h) are built on.
#pragma once

constexpr int SOUND_BUFFER_FRAMES = 1024;    // mixer buffer: ~23 ms, the position's granularity
constexpr int SOUND_MIX_CHANNELS  = 8;       // voices that can play at once
constexpr int SOUND_SAMPLE_SLOTS  = 8;       // sample indices 0..7
constexpr int SOUND_FREE_CHANNEL  = -1;      // playSample: take the first free channel
constexpr int SOUND_ALL_CHANNELS  = -3;      // setChannelVolume: every channel
