// sound/SoundOutputWeb.cpp: the sound layer in the browser, over Web Audio.
// The same interface as the desktop's SDL mixer (sound/SoundOutput.h), but a
// playing channel is one AudioBufferSourceNode started at a known time of its
// AudioContext, so a channel's position is the context's own clock: what the
// listener hears, with no lead of queued buffers. Without an AudioContext
// (or once it fails) the channels run on the millisecond tick clock, silent,
// as the desktop's does without a sound device.
//
// Sections:
//   --- Web Audio ---
//   --- State ---
//   --- Output ---
//   --- Samples and channels ---
#include "sound/SoundOutput.h"

#include "sound/SoundSlots.h"

#include <SDL.h>
#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <memory>

struct SoundModule {
    int masterVolume = 255;
};

// --- Web Audio -------------------------------------------------------------------------

// One AudioContext for the page (made here, or earlier by the page after the
// click that lets sound start); buffers and sources by number.
EM_JS(int, webAudioOpen, (), {
    try {
        var Context = window.AudioContext || window.webkitAudioContext;
        if (!Context)
            return 0;
        if (!Module.vortaluneAudio)
            Module.vortaluneAudio = { context: Module.audioContext || new Context(), buffers: {}, sources: {}, gains: {} };
        var audio = Module.vortaluneAudio;
        if (audio.context.state === 'suspended')
            audio.context.resume();
        return audio.context.state === 'closed' ? 0 : 1;
    } catch (e) {
        Module.vortaluneAudioError = String(e);
        return 0;
    }
});

EM_JS(double, webAudioTime, (), {
    var audio = Module.vortaluneAudio;
    return audio ? audio.context.currentTime : 0;
});

EM_JS(int, webAudioRunning, (), {
    var audio = Module.vortaluneAudio;
    return audio && audio.context.state === 'running' ? 1 : 0;
});

// Interleaved 16-bit stereo at `rate` into an AudioBuffer of two channels.
EM_JS(void, webAudioBuffer, (int id, const int16_t* pcm, int frames, int rate), {
    var audio = Module.vortaluneAudio;
    if (!audio || frames <= 0)
        return;
    var buffer = audio.context.createBuffer(2, frames, rate);
    var left = buffer.getChannelData(0), right = buffer.getChannelData(1);
    var base = pcm >> 1;
    for (var i = 0; i < frames; ++i) {
        left[i] = HEAP16[base + 2 * i] / 32768;
        right[i] = HEAP16[base + 2 * i + 1] / 32768;
    }
    audio.buffers[id] = buffer;
});

// Starts buffer `id` on channel `channel` at context time `when`, `offset`
// seconds into the buffer, at `gain`.
EM_JS(void, webAudioPlay, (int channel, int id, double when, double offset, double gain, double rate), {
    var audio = Module.vortaluneAudio;
    if (!audio || !audio.buffers[id])
        return;
    if (audio.sources[channel]) {
        try { audio.sources[channel].stop(); } catch (e) {}
        try { audio.sources[channel].disconnect(); } catch (e) {}
    }
    if (audio.gains[channel]) {
        try { audio.gains[channel].disconnect(); } catch (e) {}
    }
    var source = audio.context.createBufferSource();
    source.buffer = audio.buffers[id];
    source.playbackRate.value = rate;
    var gainNode = audio.context.createGain();
    gainNode.gain.value = gain;
    source.connect(gainNode);
    gainNode.connect(audio.context.destination);
    source.start(when, offset);
    audio.sources[channel] = source;
    audio.gains[channel] = gainNode;
});

// Stops channel `channel` and lets its nodes go.
EM_JS(void, webAudioStop, (int channel), {
    var audio = Module.vortaluneAudio;
    if (!audio)
        return;
    if (audio.sources[channel]) {
        try { audio.sources[channel].stop(); } catch (e) {}
        try { audio.sources[channel].disconnect(); } catch (e) {}
        audio.sources[channel] = null;
    }
    if (audio.gains[channel]) {
        try { audio.gains[channel].disconnect(); } catch (e) {}
        audio.gains[channel] = null;
    }
});

// Lets buffer `id` go (its sample was replaced or the output stopped).
EM_JS(void, webAudioFree, (int id), {
    var audio = Module.vortaluneAudio;
    if (audio)
        delete audio.buffers[id];
});

EM_JS(void, webAudioGain, (int channel, double gain), {
    var audio = Module.vortaluneAudio;
    if (audio && audio.gains[channel])
        audio.gains[channel].gain.value = gain;
});

namespace {

// Sources start this far ahead of the context's clock, so the start time set
// is the one heard (an earlier one would be rounded up by the browser).
constexpr double START_LEAD_SECONDS = 0.02;

// --- State ---------------------------------------------------------------------------

struct Channel {
    const SoundSample* sample = nullptr;
    bool               playing = false;
    bool               paused = false;
    uint32_t           startFrame = 0;    // the position at startTime
    double             startTime = 0.0;   // context seconds (ms for the tick clock) the position left startFrame
    uint32_t           heldAt = 0;        // the position while paused
    int                volume = 255;
    double             rate = 1.0;        // frames per frame of the output
};

struct Output {
    SoundDevice                  device = SoundDevice::None;
    Channel                      channels[SOUND_MIX_CHANNELS];
    SampleSlots                  samples;
    int                          allVolume = 255;
    int                          nextBufferId = 1;
};

Output output;

bool validChannel(int channel)
{
    return channel >= 0 && channel < SOUND_MIX_CHANNELS;
}

// Now on the clock the channels run on: the context's seconds, or the ticks'.
double clockNow()
{
    return output.device == SoundDevice::Card ? webAudioTime() : double(SDL_GetTicks()) / 1000.0;
}

// The channel's position now, in frames; stops it at its sample's end.
uint32_t positionOf(Channel& ch)
{
    if (!ch.playing || !ch.sample)
        return 0;
    if (ch.paused)
        return ch.heldAt;
    const double elapsed = std::max(0.0, clockNow() - ch.startTime);
    const double frame = double(ch.startFrame) + elapsed * SOUND_RATE * ch.rate;
    if (frame >= double(ch.sample->frames)) {
        ch.playing = false;
        webAudioStop(int(&ch - output.channels));
        return ch.sample->frames;
    }
    return uint32_t(frame);
}

// (Re)starts the channel's sound at `frame` of its sample, from now.
void startAt(Channel& ch, uint32_t frame)
{
    const int index = int(&ch - output.channels);
    ch.startFrame = frame;
    if (output.device != SoundDevice::Card) {
        ch.startTime = clockNow();
        return;
    }
    SoundSample& sample = *const_cast<SoundSample*>(ch.sample);
    if (sample.id == 0 && sample.frames > 0) {
        sample.id = output.nextBufferId++;
        webAudioBuffer(sample.id, sample.pcm.data(), int(sample.frames), SOUND_RATE);
    }
    ch.startTime = webAudioTime() + START_LEAD_SECONDS;
    webAudioPlay(index, sample.id, ch.startTime, double(frame) / SOUND_RATE, ch.volume / 255.0, ch.rate);
}

} // namespace

// --- Output --------------------------------------------------------------------------

SoundDevice startSoundOutput(bool allowDefaultDriver, std::string* reason)
{
    if (output.device != SoundDevice::None)
        return output.device;
    std::string why;
    if (allowDefaultDriver && webAudioOpen()) {
        output.device = SoundDevice::Card;
    } else {
        why = allowDefaultDriver ? "the browser gave no audio context" : "the default audio driver was not tried";
        SDL_InitSubSystem(0);   // the tick clock needs SDL's millisecond counter
        output.device = SoundDevice::TickClock;
    }
    if (reason)
        *reason = why;
    return output.device;
}

SoundDevice startTickClockOutput()
{
    if (output.device == SoundDevice::None) {
        SDL_InitSubSystem(0);
        output.device = SoundDevice::TickClock;
    }
    return output.device;
}

void stopSoundOutput()
{
    for (int i = 0; i < SOUND_MIX_CHANNELS; ++i) {
        webAudioStop(i);
        output.channels[i] = Channel();
    }
    output.samples.clear([](SoundSample& s) {
        if (s.id)
            webAudioFree(s.id);
    });
    output.device = SoundDevice::None;
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
    case SoundDevice::Card:      return "browser's audio";
    case SoundDevice::Dummy:     return "dummy driver";
    case SoundDevice::TickClock: return "tick clock";
    }
    return "?";
}

// --- Samples and channels -------------------------------------------------------------

SoundSample* storeSoundSample(int index, std::vector<int16_t> stereo)
{
    return output.samples.store(index, std::move(stereo), [](SoundSample& old) {
        for (int i = 0; i < SOUND_MIX_CHANNELS; ++i) {
            if (output.channels[i].sample == &old) {
                webAudioStop(i);
                output.channels[i].playing = false;
                output.channels[i].sample = nullptr;
            }
        }
        if (old.id)
            webAudioFree(old.id);
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
    channel = chooseChannel(channel, [](int i) {
        positionOf(output.channels[i]);
        return output.channels[i].playing;
    });
    if (channel < 0)
        return -1;
    Channel& ch = output.channels[channel];
    ch.sample = sample;
    ch.volume = output.allVolume;
    ch.paused = false;
    ch.rate = 1.0;
    ch.playing = true;   // an empty sample too: it has ended by the next look at it
    startAt(ch, 0);
    return channel;
}

bool channelPlaying(int channel)
{
    if (!validChannel(channel))
        return false;
    positionOf(output.channels[channel]);
    return output.channels[channel].playing;
}

uint32_t channelPosition(int channel)
{
    return validChannel(channel) ? positionOf(output.channels[channel]) : 0;
}

void setChannelPosition(int channel, uint32_t frame)
{
    if (!validChannel(channel))
        return;
    Channel& ch = output.channels[channel];
    positionOf(ch);
    if (!ch.playing || !ch.sample)
        return;
    if (frame >= ch.sample->frames) {
        ch.playing = false;
        webAudioStop(channel);
        return;
    }
    if (ch.paused)
        ch.heldAt = frame;
    else
        startAt(ch, frame);
}

void setChannelPaused(int channel, bool paused)
{
    if (!validChannel(channel))
        return;
    Channel& ch = output.channels[channel];
    const uint32_t now = positionOf(ch);
    if (!ch.playing || ch.paused == paused)
        return;
    if (paused) {
        ch.heldAt = now;
        ch.paused = true;
        webAudioStop(channel);
    } else {
        ch.paused = false;
        startAt(ch, ch.heldAt);
    }
}

bool channelPaused(int channel)
{
    return channelPlaying(channel) && output.channels[channel].paused;
}

void setChannelRate(int channel, double rate)
{
    if (!validChannel(channel))
        return;
    if (!(rate == rate))
        rate = 1.0;
    rate = std::clamp(rate, SOUND_MIN_SPEED, SOUND_MAX_SPEED);
    Channel& ch = output.channels[channel];
    const uint32_t now = positionOf(ch);
    if (!ch.playing)
        return;
    ch.rate = rate;
    if (!ch.paused)
        startAt(ch, now);   // on from here at the new rate
}

double channelRate(int channel)
{
    return channelPlaying(channel) ? output.channels[channel].rate : 1.0;
}

void setChannelVolume(int channel, int volume)
{
    volume = std::clamp(volume, 0, 255);
    if (channel == SOUND_ALL_CHANNELS) {
        output.allVolume = volume;
        for (int i = 0; i < SOUND_MIX_CHANNELS; ++i) {
            output.channels[i].volume = volume;
            webAudioGain(i, volume / 255.0);
        }
    } else if (validChannel(channel)) {
        output.channels[channel].volume = volume;
        webAudioGain(channel, volume / 255.0);
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
