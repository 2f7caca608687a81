// app/Music.cpp: the music clock over the sound layer.
#include "app/Music.h"

#include "base/Report.h"
#include "sound/SoundOutput.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// (int)(v * 255), truncated; values far outside 0..1 (a garbled settings file)
// are held inside int's range first, the sound layer clamps to 0..255.
int volumeLevel(float v)
{
    const float level = v * 255.0f;
    if (!(level > -1.0e6f))
        return 0;   // also NaN
    return static_cast<int>(std::min(level, 1.0e6f));
}

} // namespace

MusicClock musicClock;

void initSound()
{
    if (soundDevice() != SoundDevice::None)
        return;   // already running
    std::string reason;
    const SoundDevice device = startSoundOutput(true, &reason);
    if (device != SoundDevice::Card)
        reportLine("The music is silent (%s): its clock runs in real time on the %s.\n",
                   reason.c_str(), soundDeviceName(device));
}

namespace {

// Between decoded pieces of the track: the window's events keep flowing, and
// closing the window stops the load (the frame loop then sees the close and quits).
bool keepDecoding(void* /*context*/)
{
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return true;
    SDL_PumpEvents();
    SDL_Event event;
    return SDL_PeepEvents(&event, 1, SDL_PEEKEVENT, SDL_QUITMASK) <= 0;
}

} // namespace

void loadTrack(const char* path, int slot)
{
    std::string error;
    std::string note;
    DecodeYield yield;
    yield.keepGoing = keepDecoding;
    std::vector<int16_t> stereo;
    if (!path)
        error = "no file name";
    else if (!decodeOggFile(path, stereo, error, &note, yield))
        stereo.clear();
    if (error == "stopped")
        error = "the window was closed while it decoded";
    adoptTrack(path, std::move(stereo), error, note, slot);
}

void adoptTrack(const char* path, std::vector<int16_t> stereo, const std::string& error, const std::string& note,
                int slot)
{
    musicClock.sample = error.empty() ? storeSoundSample(slot, std::move(stereo)) : nullptr;
    musicClock.lengthSamples = static_cast<float>(sampleLength(musicClock.sample));
    if (!musicClock.sample)
        reportLine("The music track %s could not be loaded (%s): the show has no clock and ends at once.\n",
                   path ? path : "(none)", error.empty() ? "sample index out of range" : error.c_str());
    else if (!note.empty())
        reportLine("The music track %s is damaged: %s.\n", path, note.c_str());
}

void playTrack(int /*slot*/)
{
    playSample(SOUND_FREE_CHANNEL, musicClock.sample);   // the channel is not needed: it is 0
}

void setSoundVolume(float v)
{
    setChannelVolume(SOUND_ALL_CHANNELS, volumeLevel(v));
}

void setMusicVolume(float v)
{
    setModuleMasterVolume(musicClock.module, volumeLevel(v));
}

float musicPosition(int slot)
{
    if (!channelPlaying(slot))
        return -1.0f;
    if (musicClock.lengthSamples < 1.0f)
        return 0.0f;
    const long double position = channelPosition(slot);
    return static_cast<float>(position / static_cast<long double>(musicClock.lengthSamples));
}

void seekMusic(int slot, float f)
{
    // Truncation toward zero to 64 bits, then the low 32 bits: a negative or
    // huge fraction lands past the end and stops the track. NaN counts as 0.
    double exact = static_cast<double>(musicClock.lengthSamples) * f;
    if (!(exact == exact))
        exact = 0.0;
    exact = std::clamp(exact, -9.0e18, 9.0e18);
    const int64_t frames = static_cast<int64_t>(exact);
    setChannelPosition(slot, static_cast<uint32_t>(static_cast<uint64_t>(frames)));
}

void pauseMusic(int slot, bool paused)
{
    setChannelPaused(slot, paused);
}

bool musicPaused(int slot)
{
    return channelPaused(slot);
}

void setMusicRate(int slot, double rate)
{
    setChannelRate(slot, rate);
}

void markBeat()
{
    reportLine("Beat at: %f\n", static_cast<double>(musicPosition(0)));
}

double shortestPlayableTrack(const float (&durations)[SCENE_ENTRIES])
{
    float shortest = 1.0f;
    for (int scene = 1; scene < SCENE_ENTRIES; ++scene)
        if (durations[scene] > 0.0f)
            shortest = std::min(shortest, durations[scene]);
    return 1.0 / (PLAYABLE_FRAMES_PER_SECOND * static_cast<double>(shortest));
}

std::string trackTooShort(double seconds, const float (&durations)[SCENE_ENTRIES])
{
    const double needed = shortestPlayableTrack(durations);
    if (seconds >= needed)
        return std::string();
    char text[200];
    std::snprintf(text, sizeof text,
                  "is %.3f s long, too short to play the show (it needs %.3f s or more: one frame of its "
                  "shortest scene at %.0f frames a second)",
                  seconds, needed, PLAYABLE_FRAMES_PER_SECOND);
    return text;
}
