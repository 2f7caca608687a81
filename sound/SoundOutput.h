// sound/SoundOutput.h: the sound layer under the music clock. Owns the audio
// output (SDL audio, or a real-time stand-in when there is no sound device),
// the decoded samples in their slots and the mixing channels, at the one
// format sound/OggDecode.h decodes to. No GL, no knowledge of the show.
//
// Threads: SDL mixes on its own audio thread. Every function here is called from
// the main thread and takes SDL_LockAudio around what the mixer also touches.
#pragma once

#include "sound/OggDecode.h"
#include "sound/SoundLimits.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// --- Output format -----------------------------------------------------------------
// (the capacities and channel markers: sound/SoundLimits.h)
enum class SoundDevice {
    None,        // output not started (or stopped)
    Card,        // a real sound device plays the mix
    Dummy,       // SDL's dummy driver: mixed in real time, heard nowhere
    TickClock,   // no SDL audio at all: positions follow the millisecond ticks
};

struct SoundSample;   // decoded PCM at SOUND_RATE, stereo
struct SoundModule;   // a tracker module; nothing loads one

// --- Output --------------------------------------------------------------------------
// Starts the output once; later calls return the device already running.
// Tries the default SDL driver (unless `allowDefaultDriver` is false), then SDL's
// dummy driver, then the tick clock. `reason` (optional) says why the music is
// silent when the result is not Card.
SoundDevice startSoundOutput(bool allowDefaultDriver = true, std::string* reason = nullptr);

// Forces the tick clock without touching SDL audio (tests of the fallback).
SoundDevice startTickClockOutput();

// Closes the output, stops every channel and frees every sample. The program
// never calls it (the output lives until exit); tests do.
void stopSoundOutput();

SoundDevice soundDevice();
const char* soundDeviceName(SoundDevice device);

// --- Samples ----------------------------------------------------------------------------
// Decodes `path` into sample slot `index` (0..SOUND_SAMPLE_SLOTS-1), replacing
// (and stopping) what was there. Returns the sample, or null when the file cannot
// be decoded or the index is out of range; `error` gets the reason, `note` what
// decodeOggFile worked around in a damaged file.
SoundSample* loadSoundSample(int index, const char* path, std::string* error = nullptr,
                             std::string* note = nullptr, const DecodeYield& yield = DecodeYield());

// Places ready PCM (interleaved stereo at SOUND_RATE) into a slot; tests use it
// for samples of exact lengths, including empty ones.
SoundSample* storeSoundSample(int index, std::vector<int16_t> stereo);

// Length in frames; 0 for null.
uint32_t sampleLength(const SoundSample* sample);

// The sample's frames, interleaved stereo (sampleLength of them); null for
// null or an empty sample. Valid until the slot is loaded again.
const int16_t* sampleFrames(const SoundSample* sample);

// --- Channels ------------------------------------------------------------------------------
// Plays `sample` once from its start on `channel` (SOUND_FREE_CHANNEL: the first
// channel that is not playing). Returns the channel, or -1 when there is no
// output, no sample or no free channel. The channel takes the volume last set
// for all channels.
int playSample(int channel, const SoundSample* sample);

// True while the channel plays; a channel stops by itself at its sample's end.
bool channelPlaying(int channel);

// Play position in frames from the sample's start; 0 for a channel that never played.
uint32_t channelPosition(int channel);

// Moves a playing channel to `frame`; at or past the end the channel stops.
// A channel that is not playing is left alone.
void setChannelPosition(int channel, uint32_t frame);

// Holds a playing channel where it is (true) or lets it play on from there
// (false). A held channel mixes silence and its position does not move, on the
// tick clock too; setChannelPosition still moves it, and it stays held. A
// channel that does not play is left alone; playSample starts a channel unheld.
void setChannelPaused(int channel, bool paused);
bool channelPaused(int channel);   // true while the channel plays and is held

// Plays a channel at `rate` times its speed, as tape does: slower is lower
// (rate 0.25: a quarter of the frames a second, two octaves down, linearly
// interpolated). The position moves at that rate on every device, the tick
// clock too. Clamped to SOUND_MIN_SPEED .. SOUND_MAX_SPEED; a channel starts at
// 1, which mixes the samples exactly as they are. A channel that does not
// play is left alone.
constexpr double SOUND_MIN_SPEED = 1.0 / 64.0;
constexpr double SOUND_MAX_SPEED = 4.0;
void   setChannelRate(int channel, double rate);
double channelRate(int channel);   // 1 for a channel that does not play

// Volume 0..255 (clamped) of one channel or of SOUND_ALL_CHANNELS; the latter
// also becomes the volume of channels started later.
void setChannelVolume(int channel, int volume);
int  allChannelsVolume();   // the last volume set for all channels (255 at start)

// Master volume of a tracker module's player. No module: no effect, returns false.
bool setModuleMasterVolume(SoundModule* module, int volume);
