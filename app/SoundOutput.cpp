// app/SoundOutput.cpp: SDL audio output, Ogg Vorbis decoding, sample slots and
// the channel mixer.
//
// Sections:
//   --- State ---
//   --- Mixer (audio thread) ---
//   --- Output ---
//   --- Decoding ---
//   --- Samples and channels ---
#include "app/SoundOutput.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

struct SoundSample {
    std::vector<int16_t> pcm;      // interleaved stereo at SOUND_RATE
    uint32_t             frames = 0;
};

struct SoundModule {
    int masterVolume = 255;
};

namespace {

// --- State ---------------------------------------------------------------------------

struct Channel {
    const SoundSample* sample      = nullptr;
    uint32_t           position    = 0;      // frames; written by the mixer while playing
    bool               playing     = false;
    bool               paused      = false;  // held: mixes nothing, the position stays
    int                volume      = 255;
    uint32_t           clockTicks  = 0;      // tick clock: SDL_GetTicks() at play or seek
    uint32_t           clockStart  = 0;      // tick clock: position at clockTicks
};

// Shared with the audio thread: `channels` (and the samples they point to) are
// read and written only under SDL_LockAudio while the device is open.
struct Output {
    SoundDevice                  device = SoundDevice::None;
    Channel                      channels[SOUND_MIX_CHANNELS];
    std::unique_ptr<SoundSample> samples[SOUND_SAMPLE_SLOTS];
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
    const uint64_t pos = uint64_t(ch.clockStart) + uint64_t(elapsedMs) * SOUND_RATE / 1000u;
    if (pos >= ch.sample->frames) {
        ch.position = ch.sample->frames;
        ch.playing = false;
    } else {
        ch.position = static_cast<uint32_t>(pos);
    }
}

// --- Mixer (audio thread) ------------------------------------------------------------

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
        const size_t available = ch.position < s.frames ? s.frames - ch.position : 0;
        const size_t count = std::min(frames, available);
        const int16_t* src = s.pcm.data() + size_t(ch.position) * SOUND_OUT_CHANNELS;
        for (size_t i = 0; i < count * SOUND_OUT_CHANNELS; ++i)
            acc[i] += src[i] * ch.volume / 255;
        ch.position += static_cast<uint32_t>(count);
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
    for (auto& s : output.samples)
        s.reset();
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

// --- Decoding ------------------------------------------------------------------------

std::vector<int16_t> convertToOutputFormat(const int16_t* pcm, size_t frames, int channels, long rate)
{
    std::vector<int16_t> stereo;
    if (channels < 1 || rate < 1 || (frames > 0 && !pcm))
        return stereo;

    // Channels first, at the source rate.
    std::vector<int16_t> twoChannel(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const int16_t* f = pcm + i * size_t(channels);
        twoChannel[2 * i] = f[0];
        twoChannel[2 * i + 1] = channels > 1 ? f[1] : f[0];
    }
    if (rate == SOUND_RATE)
        return twoChannel;

    // Linear interpolation between neighbouring source frames. The position of
    // output frame j is j * rate / SOUND_RATE source frames, kept exact as a
    // whole part and a remainder over SOUND_RATE.
    const uint64_t outFrames = uint64_t(frames) * SOUND_RATE / uint64_t(rate);
    stereo.resize(size_t(outFrames) * 2);
    for (uint64_t j = 0; j < outFrames; ++j) {
        const uint64_t num = j * uint64_t(rate);
        const size_t i0 = size_t(num / SOUND_RATE);
        const int64_t frac = int64_t(num % SOUND_RATE);
        const size_t i1 = std::min(i0 + 1, frames - 1);
        for (int c = 0; c < 2; ++c) {
            const int64_t a = twoChannel[2 * i0 + c];
            const int64_t b = twoChannel[2 * i1 + c];
            stereo[2 * j + c] = static_cast<int16_t>(a + (b - a) * frac / SOUND_RATE);
        }
    }
    return stereo;
}

namespace {

// The track file's bytes, read once with their size checked first.
bool readTrackBytes(const char* path, std::vector<unsigned char>& bytes, uint64_t& fileSize, std::string& error)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "a directory, not a file" : "not a regular file";
        close(fd);
        return false;
    }
    fileSize = info.st_size > 0 ? uint64_t(info.st_size) : 0;
    const size_t wanted = size_t(std::min<uint64_t>(fileSize, SOUND_MAX_FILE_BYTES));
    bytes.resize(wanted);
    size_t done = 0;
    while (done < wanted) {
        const ssize_t got = read(fd, bytes.data() + done, wanted - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (got == 0)
            break;   // shorter than fstat said: decode what is there
        done += size_t(got);
    }
    close(fd);
    bytes.resize(done);
    return true;
}

// Where the Ogg stream ends: the end of its last page whose checksum holds,
// and whether that page closes the stream (end-of-stream flag). Damaged pages
// before it are skipped by the decoder; everything after it is not Ogg data.
struct StreamExtent {
    size_t end = 0;
    bool   closed = false;
};

StreamExtent findStreamExtent(const std::vector<unsigned char>& bytes)
{
    StreamExtent extent;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    constexpr size_t PIECE = 65536;
    size_t fed = 0;      // bytes handed to the sync layer
    size_t offset = 0;   // bytes it has consumed (pages and skipped junk)
    for (;;) {
        ogg_page page;
        const long step = ogg_sync_pageseek(&sync, &page);
        if (step > 0) {
            offset += size_t(step);
            extent.end = offset;
            extent.closed = ogg_page_eos(&page) != 0;
        } else if (step < 0) {
            offset += size_t(-step);
        } else {
            if (fed >= bytes.size())
                break;
            const size_t piece = std::min(PIECE, bytes.size() - fed);
            char* buffer = ogg_sync_buffer(&sync, long(piece));
            if (!buffer)
                break;
            std::memcpy(buffer, bytes.data() + fed, piece);
            ogg_sync_wrote(&sync, long(piece));
            fed += piece;
        }
    }
    ogg_sync_clear(&sync);
    return extent;
}

// The decoder reads the stream's bytes from memory, up to the stream's end.
struct MemoryView {
    const unsigned char* data = nullptr;
    size_t               size = 0;
    size_t               at = 0;
};

size_t viewRead(void* into, size_t size, size_t count, void* source)
{
    MemoryView* view = static_cast<MemoryView*>(source);
    if (size == 0)
        return 0;
    const size_t items = std::min(count, (view->size - view->at) / size);
    std::memcpy(into, view->data + view->at, items * size);
    view->at += items * size;
    return items;
}

int viewSeek(void* source, ogg_int64_t offset, int whence)
{
    MemoryView* view = static_cast<MemoryView*>(source);
    ogg_int64_t base = 0;
    if (whence == SEEK_CUR)
        base = ogg_int64_t(view->at);
    else if (whence == SEEK_END)
        base = ogg_int64_t(view->size);
    else if (whence != SEEK_SET)
        return -1;
    const ogg_int64_t target = base + offset;
    if (target < 0 || target > ogg_int64_t(view->size))
        return -1;
    view->at = size_t(target);
    return 0;
}

long viewTell(void* source)
{
    return long(static_cast<MemoryView*>(source)->at);
}

const char* openFailure(int code)
{
    switch (code) {
    case OV_EREAD:      return "the file could not be read";
    case OV_ENOTVORBIS: return "not Ogg Vorbis audio";
    case OV_EVERSION:   return "an unsupported Vorbis version";
    case OV_EBADHEADER: return "its Vorbis headers are cut or damaged";
    default:            return "not an Ogg Vorbis file";
    }
}

std::string formatMegabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1.0e6);
    return text;
}

std::string formatSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

} // namespace

bool decodeOggFile(const char* path, std::vector<int16_t>& stereo, std::string& error, std::string* note,
                   const DecodeYield& yield)
{
    stereo.clear();
    if (note)
        note->clear();
    if (!path) {
        error = "no file name";
        return false;
    }
    std::vector<unsigned char> bytes;
    uint64_t fileSize = 0;
    if (!readTrackBytes(path, bytes, fileSize, error))
        return false;
    if (bytes.empty()) {
        error = "the file is empty";
        return false;
    }
    const StreamExtent extent = findStreamExtent(bytes);
    if (extent.end == 0) {
        error = "not an Ogg file (no intact page)";
        return false;
    }
    if (fileSize > bytes.size() && !extent.closed) {
        error = "the file is " + formatMegabytes(fileSize) + " and its stream has not ended within the limit of " +
                std::to_string(SOUND_MAX_FILE_BYTES >> 20) + " MiB";
        return false;
    }
    const uint64_t trailingBytes = fileSize - extent.end;

    MemoryView view;
    view.data = bytes.data();
    view.size = extent.end;
    const ov_callbacks callbacks = { viewRead, viewSeek, nullptr, viewTell };
    OggVorbis_File vf;
    const int opened = ov_open_callbacks(&view, &vf, nullptr, 0, callbacks);
    if (opened < 0) {
        // A stream without its last page that cannot even be opened was cut in its headers.
        const bool cutInHeaders = !extent.closed && (opened == OV_ENOTVORBIS || opened == OV_EBADHEADER);
        error = cutInHeaders ? "the file is cut inside its Vorbis headers" : openFailure(opened);
        return false;
    }
    const vorbis_info* info = ov_info(&vf, -1);
    if (!info || info->channels < 1 || info->rate < SOUND_MIN_RATE || info->rate > SOUND_MAX_RATE) {
        ov_clear(&vf);
        error = "unusable channel count or sample rate";
        return false;
    }
    const long rate = info->rate;
    const uint64_t maxFrames = uint64_t(SOUND_MAX_SECONDS) * uint64_t(rate);
    // The length the stream states: from its last page's position.
    const ogg_int64_t stated = ov_pcm_total(&vf, -1);
    if (stated == 0) {
        ov_clear(&vf);
        error = extent.closed ? "it holds no audio" : "the file is cut before its first page of audio";
        return false;
    }
    if (stated > 0 && uint64_t(stated) > maxFrames) {
        ov_clear(&vf);
        error = "it states " + formatSeconds(double(stated) / double(rate)) + ", over the limit of " +
                std::to_string(SOUND_MAX_SECONDS / 60) + " minutes";
        return false;
    }

    // Every chain link is reduced to stereo as it arrives, at the first link's
    // rate. Each piece goes where the decoder says it belongs in the stream
    // (ov_pcm_tell): after pages that did not decode, the gap is filled with
    // silence, so what follows keeps its time.
    std::vector<int16_t> sourceStereo;
    sourceStereo.reserve(size_t(stated > 0 ? uint64_t(stated) : std::min<uint64_t>(maxFrames, uint64_t(rate) * 60)) * 2);
    uint64_t silentFrames = 0;
    const int bigEndian = SDL_BYTEORDER == SDL_BIG_ENDIAN ? 1 : 0;
    std::vector<char> buffer(16384);
    int link = 0;
    long holes = 0;
    bool stopped = false;
    for (long pieces = 0;; ++pieces) {
        if (yield.keepGoing && pieces % 8 == 0 && !yield.keepGoing(yield.context)) {
            stopped = true;
            break;
        }
        const long got = ov_read(&vf, buffer.data(), int(buffer.size()), bigEndian, 2, 1, &link);
        if (got == 0)
            break;                       // end of stream
        if (got == OV_HOLE) {
            if (++holes > (1L << 20))    // cannot happen within the file limit; a guard all the same
                break;
            continue;                    // a page that did not decode: the next position shows the gap
        }
        if (got < 0)
            break;                       // beyond repair: the rest is filled with silence below
        const vorbis_info* li = ov_info(&vf, link);
        const int ch = li && li->channels > 0 ? li->channels : 1;
        const size_t frames = size_t(got) / (sizeof(int16_t) * size_t(ch));
        const int16_t* pcm = reinterpret_cast<const int16_t*>(buffer.data());

        size_t have = sourceStereo.size() / 2;
        const ogg_int64_t after = ov_pcm_tell(&vf);
        size_t skip = 0;
        if (after >= ogg_int64_t(frames)) {
            const uint64_t start = std::min<uint64_t>(uint64_t(after) - frames, maxFrames);
            if (start > have) {
                silentFrames += start - have;
                sourceStereo.resize(size_t(start) * 2, 0);
                have = size_t(start);
            } else if (start < have) {
                skip = std::min<size_t>(have - size_t(start), frames);   // already placed: keep the first
            }
        }
        for (size_t i = skip; i < frames && have < maxFrames; ++i, ++have) {
            sourceStereo.push_back(pcm[i * ch]);
            sourceStereo.push_back(ch > 1 ? pcm[i * ch + 1] : pcm[i * ch]);
        }
        if (have >= maxFrames)
            break;                       // at the length limit
    }
    ov_clear(&vf);
    if (stopped) {
        error = "stopped";
        return false;
    }

    // A stream that decodes short keeps the length it states.
    const uint64_t decoded = sourceStereo.size() / 2 - std::min<uint64_t>(silentFrames, sourceStereo.size() / 2);
    if (stated > 0 && sourceStereo.size() / 2 < uint64_t(stated)) {
        silentFrames += uint64_t(stated) - sourceStereo.size() / 2;
        sourceStereo.resize(size_t(stated) * 2, 0);
    }
    if (decoded == 0) {
        error = "no audio could be decoded";
        return false;
    }

    if (note) {
        std::string text;
        const double seconds = double(sourceStereo.size() / 2) / double(rate);
        if (silentFrames > 0)
            text = formatSeconds(double(silentFrames) / double(rate)) + " of its " + formatSeconds(seconds) +
                   " could not be decoded and play as silence in place, so every scene keeps its time";
        if (!extent.closed) {
            text += text.empty() ? "" : "; ";
            text += "it ends without its last page (the file is cut) and plays the " + formatSeconds(seconds) +
                    " it holds";
        }
        if (trailingBytes > 0 && extent.closed) {
            text += text.empty() ? "" : "; ";
            text += formatMegabytes(trailingBytes) + " after the end of its stream are ignored";
        }
        *note = text;
    }

    if (rate == SOUND_RATE)
        stereo = std::move(sourceStereo);
    else
        stereo = convertToOutputFormat(sourceStereo.data(), sourceStereo.size() / 2, 2, rate);
    return true;
}

// --- Samples and channels -------------------------------------------------------------

SoundSample* storeSoundSample(int index, std::vector<int16_t> stereo)
{
    if (index < 0 || index >= SOUND_SAMPLE_SLOTS)
        return nullptr;
    auto sample = std::make_unique<SoundSample>();
    const size_t frames = std::min<size_t>(stereo.size() / 2, UINT32_MAX);
    stereo.resize(frames * 2);
    sample->pcm = std::move(stereo);
    sample->frames = static_cast<uint32_t>(frames);

    AudioLock lock;
    SoundSample* old = output.samples[index].get();
    if (old) {
        for (Channel& ch : output.channels) {
            if (ch.sample == old) {
                ch.playing = false;
                ch.sample = nullptr;
            }
        }
    }
    output.samples[index] = std::move(sample);
    return output.samples[index].get();
}

SoundSample* loadSoundSample(int index, const char* path, std::string* error, std::string* note,
                             const DecodeYield& yield)
{
    if (index < 0 || index >= SOUND_SAMPLE_SLOTS) {
        if (error)
            *error = "sample index out of range";
        return nullptr;
    }
    std::vector<int16_t> stereo;
    std::string why;
    if (!decodeOggFile(path, stereo, why, note, yield)) {
        if (error)
            *error = why;
        return nullptr;
    }
    return storeSoundSample(index, std::move(stereo));
}

uint32_t sampleLength(const SoundSample* sample)
{
    return sample ? sample->frames : 0;
}

int playSample(int channel, const SoundSample* sample)
{
    if (output.device == SoundDevice::None || !sample)
        return -1;
    AudioLock lock;
    if (channel == SOUND_FREE_CHANNEL) {
        for (int i = 0; i < SOUND_MIX_CHANNELS; ++i) {
            advanceTickClock(output.channels[i]);
            if (!output.channels[i].playing) {
                channel = i;
                break;
            }
        }
    }
    if (!validChannel(channel))
        return -1;
    Channel& ch = output.channels[channel];
    ch.sample = sample;
    ch.position = 0;
    ch.volume = output.allVolume;
    ch.clockTicks = SDL_GetTicks();
    ch.clockStart = 0;
    ch.paused = false;
    // An empty sample still starts its channel; it stops at the next mix.
    ch.playing = output.device != SoundDevice::TickClock || sample->frames > 0;
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
