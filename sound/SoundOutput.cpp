// sound/SoundOutput.cpp: SDL audio output, sample slots and the channel mixer.
//
// Sections:
//   --- State ---
//   --- Mixer (audio thread) ---
//   --- Output ---
//   --- Samples and channels ---
#include "sound/SoundOutput.h"

#include "sound/SoundSlots.h"

#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

struct SoundModule {
    int masterVolume = 255;
};

namespace {

// --- State ---------------------------------------------------------------------------

constexpr uint32_t RATE_ONE = 1u << 16;   // a channel's step at its own speed

struct Channel {
    const SoundSample* sample      = nullptr;
    uint32_t           position    = 0;      // frames; written by the mixer while playing
    bool               playing     = false;
    bool               paused      = false;  // held: mixes nothing, the position stays
    int                volume      = 255;
    uint32_t           clockTicks  = 0;      // tick clock: SDL_GetTicks() at play or seek
    uint32_t           clockStart  = 0;      // tick clock: position at clockTicks
    uint32_t           step        = RATE_ONE;   // frames per output frame, 16.16 fixed point
    uint32_t           phase       = 0;      // the position's fraction of a frame, 16.16
};

// Shared with the audio thread: `channels` (and the samples they point to) are
// read and written only under SDL_LockAudio while the device is open.
struct Output {
    SoundDevice                  device = SoundDevice::None;
    Channel                      channels[SOUND_MIX_CHANNELS];
    SampleSlots                  samples;
    int                          allVolume = 255;
    std::vector<int32_t>         accumulator;    // mixer scratch, sized at open
};

Output output;

bool audioThreadRuns()
{
    return output.device == SoundDevice::Card || output.device == SoundDevice::Dummy;
}

// Locks the audio thread out for the lifetime of the guard (only when it runs).
class AudioLock {
public:
    AudioLock() : locked_(audioThreadRuns()) { if (locked_) SDL_LockAudio(); }
    ~AudioLock() { if (locked_) SDL_UnlockAudio(); }
    AudioLock(const AudioLock&) = delete;
    AudioLock& operator=(const AudioLock&) = delete;
private:
    bool locked_;
};

bool validChannel(int channel)
{
    return channel >= 0 && channel < SOUND_MIX_CHANNELS;
}

// Tick clock: brings a playing channel's position up to now and stops it at the end.
// A held channel stays where it is (its clock restarts when it plays on).
void advanceTickClock(Channel& ch)
{
    if (output.device != SoundDevice::TickClock || !ch.playing || ch.paused || !ch.sample)
        return;
    const uint32_t elapsedMs = SDL_GetTicks() - ch.clockTicks;
    const uint64_t played = ch.step == RATE_ONE
                                ? uint64_t(elapsedMs) * SOUND_RATE / 1000u
                                : uint64_t(double(elapsedMs) * SOUND_RATE / 1000.0 * ch.step / RATE_ONE);
    const uint64_t pos = uint64_t(ch.clockStart) + played;
    if (pos >= ch.sample->frames) {
        ch.position = ch.sample->frames;
        ch.playing = false;
    } else {
        ch.position = static_cast<uint32_t>(pos);
    }
}

// --- Mixer (audio thread) ------------------------------------------------------------

// A channel at another rate than its own: each output frame between two of
// the sample's frames, linearly, the position stepping by ch.step.
void mixResampled(Channel& ch, int32_t* acc, size_t frames)
{
    const SoundSample& s = *ch.sample;
    for (size_t i = 0; i < frames && ch.position < s.frames; ++i) {
        const int16_t* a = s.pcm.data() + size_t(ch.position) * SOUND_OUT_CHANNELS;
        const int16_t* b = ch.position + 1 < s.frames ? a + SOUND_OUT_CHANNELS : a;
        for (int c = 0; c < SOUND_OUT_CHANNELS; ++c) {
            const int64_t v = (int64_t(a[c]) * (RATE_ONE - ch.phase) + int64_t(b[c]) * ch.phase) >> 16;
            acc[i * SOUND_OUT_CHANNELS + size_t(c)] += int32_t(v * ch.volume / 255);
        }
        const uint32_t phase = ch.phase + ch.step;
        ch.position += phase >> 16;
        ch.phase = phase & (RATE_ONE - 1);
    }
}

void mixInto(int16_t* out, size_t frames)
{
    std::vector<int32_t>& acc = output.accumulator;
    if (acc.size() < frames * SOUND_OUT_CHANNELS)
        acc.resize(frames * SOUND_OUT_CHANNELS);   // only outside the audio thread's steady state
    std::fill(acc.begin(), acc.begin() + frames * SOUND_OUT_CHANNELS, 0);

    for (Channel& ch : output.channels) {
        if (!ch.playing || ch.paused || !ch.sample)
            continue;   // a held channel adds silence and keeps its position
        const SoundSample& s = *ch.sample;
        if (ch.step != RATE_ONE) {
            mixResampled(ch, acc.data(), frames);
        } else {
            const size_t available = ch.position < s.frames ? s.frames - ch.position : 0;
            const size_t count = std::min(frames, available);
            const int16_t* src = s.pcm.data() + size_t(ch.position) * SOUND_OUT_CHANNELS;
            for (size_t i = 0; i < count * SOUND_OUT_CHANNELS; ++i)
                acc[i] += src[i] * ch.volume / 255;
            ch.position += static_cast<uint32_t>(count);
        }
        if (ch.position >= s.frames)
            ch.playing = false;   // played once, no loop
    }
    for (size_t i = 0; i < frames * SOUND_OUT_CHANNELS; ++i)
        out[i] = static_cast<int16_t>(std::clamp(acc[i], -32768, 32767));
}

void audioCallback(void* /*user*/, Uint8* stream, int length)
{
    if (length <= 0)
        return;
    mixInto(reinterpret_cast<int16_t*>(stream), size_t(length) / (sizeof(int16_t) * SOUND_OUT_CHANNELS));
}

// --- Output --------------------------------------------------------------------------

// Opens SDL audio on whatever driver SDL_AUDIODRIVER names (or SDL's default).
// Returns false with SDL's reason when no device opens.
bool openSdlAudio(std::string& reason)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
        reason = SDL_GetError();
        return false;
    }
    SDL_AudioSpec want;
    std::memset(&want, 0, sizeof want);
    want.freq = SOUND_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = SOUND_OUT_CHANNELS;
    want.samples = SOUND_BUFFER_FRAMES;
    want.callback = audioCallback;
    // A null `obtained` makes SDL convert to the device's format for us, so the
    // mixer always sees the fixed format.
    if (SDL_OpenAudio(&want, nullptr) < 0) {
        reason = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

std::string currentDriverName()
{
    char name[32] = {};
    return SDL_AudioDriverName(name, sizeof name) ? std::string(name) : std::string();
}

// Runs `attempt` with stderr sent to /dev/null: sound libraries under SDL print
// pages of diagnostics when there is no card; we print our own single line.
template <typename F>
bool withQuietStderr(F attempt)
{
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = saved >= 0 ? open("/dev/null", O_WRONLY) : -1;
    if (null >= 0) {
        dup2(null, 2);
        close(null);
    }
    const bool ok = attempt();
    if (saved >= 0) {
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
    }
    return ok;
}

} // namespace

SoundDevice startSoundOutput(bool allowDefaultDriver, std::string* reason)
{
    if (output.device != SoundDevice::None)
        return output.device;
    output.accumulator.assign(size_t(SOUND_BUFFER_FRAMES) * SOUND_OUT_CHANNELS * 4, 0);

    std::string why;
    const char* requested = std::getenv("SDL_AUDIODRIVER");
    const bool dummyRequested = requested && std::strcmp(requested, "dummy") == 0;
    bool open = false;
    if (allowDefaultDriver && !dummyRequested)
        open = withQuietStderr([&] { return openSdlAudio(why); });
    if (open) {
        output.device = currentDriverName() == "dummy" ? SoundDevice::Dummy : SoundDevice::Card;
    } else {
        if (dummyRequested)
            why = "the dummy audio driver was asked for";
        else if (!allowDefaultDriver)
            why = "the default audio driver was not tried";
        else if (why.empty())
            why = "no audio device";
        // SDL 1.2 only offers its dummy driver when SDL_AUDIODRIVER names it.
        const std::string previous = requested ? requested : "";
        const bool hadPrevious = requested != nullptr;
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::string dummyWhy;
        open = openSdlAudio(dummyWhy);
        if (hadPrevious)
            setenv("SDL_AUDIODRIVER", previous.c_str(), 1);
        else
            unsetenv("SDL_AUDIODRIVER");
        if (!open)
            SDL_InitSubSystem(0);   // the tick clock needs SDL's millisecond counter
        output.device = open ? SoundDevice::Dummy : SoundDevice::TickClock;
    }
    if (audioThreadRuns())
        SDL_PauseAudio(0);
    if (reason)
        *reason = output.device == SoundDevice::Card ? std::string() : why;
    return output.device;
}

SoundDevice startTickClockOutput()
{
    if (output.device == SoundDevice::None) {
        SDL_InitSubSystem(0);   // starts SDL's millisecond counter
        output.device = SoundDevice::TickClock;
    }
    return output.device;
}

void stopSoundOutput()
{
    if (audioThreadRuns()) {
        SDL_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    output.device = SoundDevice::None;
    for (Channel& ch : output.channels)
        ch = Channel();
    output.samples.clear([](SoundSample&) {});
    output.allVolume = 255;
}

SoundDevice soundDevice()
{
    return output.device;
}

const char* soundDeviceName(SoundDevice device)
{
    switch (device) {
    case SoundDevice::None:      return "none";
    case SoundDevice::Card:      return "sound card";
    case SoundDevice::Dummy:     return "dummy driver";
    case SoundDevice::TickClock: return "tick clock";
    }
    return "?";
}

// --- Samples and channels -------------------------------------------------------------

SoundSample* storeSoundSample(int index, std::vector<int16_t> stereo)
{
    AudioLock lock;
    return output.samples.store(index, std::move(stereo), [](SoundSample& old) {
        for (Channel& ch : output.channels) {
            if (ch.sample == &old) {
                ch.playing = false;
                ch.sample = nullptr;
            }
        }
    });
}

uint32_t sampleLength(const SoundSample* sample)
{
    return sample ? sample->frames : 0;
}

const int16_t* sampleFrames(const SoundSample* sample)
{
    return sample && sample->frames > 0 ? sample->pcm.data() : nullptr;
}

int playSample(int channel, const SoundSample* sample)
{
    if (output.device == SoundDevice::None || !sample)
        return -1;
    AudioLock lock;
    channel = chooseChannel(channel, [](int i) {
        advanceTickClock(output.channels[i]);
        return output.channels[i].playing;
    });
    if (channel < 0)
        return -1;
    Channel& ch = output.channels[channel];
    ch.sample = sample;
    ch.position = 0;
    ch.volume = output.allVolume;
    ch.clockTicks = SDL_GetTicks();
    ch.clockStart = 0;
    ch.step = RATE_ONE;
    ch.phase = 0;
    ch.paused = false;
    // An empty sample starts its channel too: it has ended by the next mix
    // (or, on the tick clock, the next look at it).
    ch.playing = true;
    return channel;
}

bool channelPlaying(int channel)
{
    if (!validChannel(channel))
        return false;
    AudioLock lock;
    advanceTickClock(output.channels[channel]);
    return output.channels[channel].playing;
}

uint32_t channelPosition(int channel)
{
    if (!validChannel(channel))
        return 0;
    AudioLock lock;
    advanceTickClock(output.channels[channel]);
    return output.channels[channel].position;
}

void setChannelPosition(int channel, uint32_t frame)
{
    if (!validChannel(channel))
        return;
    AudioLock lock;
    Channel& ch = output.channels[channel];
    advanceTickClock(ch);
    if (!ch.playing || !ch.sample)
        return;
    ch.position = std::min(frame, ch.sample->frames);
    ch.phase = 0;
    ch.clockTicks = SDL_GetTicks();
    ch.clockStart = ch.position;
    if (ch.position >= ch.sample->frames)
        ch.playing = false;
}

void setChannelPaused(int channel, bool paused)
{
    if (!validChannel(channel))
        return;
    AudioLock lock;
    Channel& ch = output.channels[channel];
    advanceTickClock(ch);   // a channel about to be held first catches up with now
    if (!ch.playing || !ch.sample)
        return;
    if (ch.paused && !paused) {
        ch.clockTicks = SDL_GetTicks();   // the tick clock plays on from the held position
        ch.clockStart = ch.position;
    }
    ch.paused = paused;
}

bool channelPaused(int channel)
{
    if (!validChannel(channel))
        return false;
    AudioLock lock;
    advanceTickClock(output.channels[channel]);
    return output.channels[channel].playing && output.channels[channel].paused;
}

void setChannelRate(int channel, double rate)
{
    if (!validChannel(channel))
        return;
    if (!(rate == rate))
        rate = 1.0;
    rate = std::clamp(rate, SOUND_MIN_SPEED, SOUND_MAX_SPEED);
    AudioLock lock;
    Channel& ch = output.channels[channel];
    advanceTickClock(ch);   // the time so far at the old rate
    if (!ch.playing || !ch.sample)
        return;
    ch.clockTicks = SDL_GetTicks();
    ch.clockStart = ch.position;
    ch.step = static_cast<uint32_t>(std::lround(rate * RATE_ONE));
}

double channelRate(int channel)
{
    if (!validChannel(channel))
        return 1.0;
    AudioLock lock;
    advanceTickClock(output.channels[channel]);
    const Channel& ch = output.channels[channel];
    return ch.playing ? double(ch.step) / RATE_ONE : 1.0;
}

void setChannelVolume(int channel, int volume)
{
    volume = std::clamp(volume, 0, 255);
    AudioLock lock;
    if (channel == SOUND_ALL_CHANNELS) {
        output.allVolume = volume;
        for (Channel& ch : output.channels)
            ch.volume = volume;
    } else if (validChannel(channel)) {
        output.channels[channel].volume = volume;
    }
}

int allChannelsVolume()
{
    return output.allVolume;
}

bool setModuleMasterVolume(SoundModule* module, int volume)
{
    if (!module)
        return false;
    module->masterVolume = std::clamp(volume, 0, 255);
    return true;
}
