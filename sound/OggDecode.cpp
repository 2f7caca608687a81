// sound/OggDecode.cpp: Ogg Vorbis decoded whole into the output format, with
// damaged pages as silence of their length and the limits checked first.
#include "sound/OggDecode.h"

#include "base/SafeFile.h"

#include <SDL_endian.h>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const int fd = openForReading(path);   // never waits on a pipe; refused below
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

// --- The decoder in steps -------------------------------------------------------------

struct OggDecoder::State {
    std::vector<unsigned char> bytes;
    StreamExtent               extent;
    uint64_t                   trailingBytes = 0;
    MemoryView                 view;
    OggVorbis_File             vf;
    bool                       vfOpen = false;
    long                       rate = 0;
    uint64_t                   maxFrames = 0;
    ogg_int64_t                stated = 0;
    std::vector<int16_t>       sourceStereo;   // stereo at the stream's own rate
    uint64_t                   silentFrames = 0;
    std::vector<char>          buffer = std::vector<char>(16384);
    int                        link = 0;
    long                       holes = 0;
    bool                       done = false;

    ~State()
    {
        if (vfOpen)
            ov_clear(&vf);
    }
};

OggDecoder::OggDecoder() = default;
OggDecoder::~OggDecoder() = default;

bool OggDecoder::open(const char* path, std::string& error)
{
    state_ = std::make_unique<State>();
    State& d = *state_;
    if (!path) {
        error = "no file name";
        return fail();
    }
    uint64_t fileSize = 0;
    if (!readTrackBytes(path, d.bytes, fileSize, error))
        return fail();
    if (d.bytes.empty()) {
        error = "the file is empty";
        return fail();
    }
    d.extent = findStreamExtent(d.bytes);
    if (d.extent.end == 0) {
        error = "not an Ogg file (no intact page)";
        return fail();
    }
    if (fileSize > d.bytes.size() && !d.extent.closed) {
        error = "the file is " + formatMegabytes(fileSize) + " and its stream has not ended within the limit of " +
                std::to_string(SOUND_MAX_FILE_BYTES >> 20) + " MiB";
        return fail();
    }
    d.trailingBytes = fileSize - d.extent.end;

    d.view.data = d.bytes.data();
    d.view.size = d.extent.end;
    const ov_callbacks callbacks = { viewRead, viewSeek, nullptr, viewTell };
    const int opened = ov_open_callbacks(&d.view, &d.vf, nullptr, 0, callbacks);
    if (opened < 0) {
        // A stream without its last page that cannot even be opened was cut in its headers.
        const bool cutInHeaders = !d.extent.closed && (opened == OV_ENOTVORBIS || opened == OV_EBADHEADER);
        error = cutInHeaders ? "the file is cut inside its Vorbis headers" : openFailure(opened);
        return fail();
    }
    d.vfOpen = true;
    const vorbis_info* info = ov_info(&d.vf, -1);
    if (!info || info->channels < 1 || info->rate < SOUND_MIN_RATE || info->rate > SOUND_MAX_RATE) {
        error = "unusable channel count or sample rate";
        return fail();
    }
    d.rate = info->rate;
    d.maxFrames = uint64_t(SOUND_MAX_SECONDS) * uint64_t(d.rate);
    // The length the stream states: from its last page's position.
    d.stated = ov_pcm_total(&d.vf, -1);
    if (d.stated == 0) {
        error = d.extent.closed ? "it holds no audio" : "the file is cut before its first page of audio";
        return fail();
    }
    if (d.stated > 0 && uint64_t(d.stated) > d.maxFrames) {
        error = "it states " + formatSeconds(double(d.stated) / double(d.rate)) + ", over the limit of " +
                std::to_string(SOUND_MAX_SECONDS / 60) + " minutes";
        return fail();
    }
    d.sourceStereo.reserve(
        size_t(d.stated > 0 ? uint64_t(d.stated) : std::min<uint64_t>(d.maxFrames, uint64_t(d.rate) * 60)) * 2);
    return true;
}

bool OggDecoder::fail()
{
    state_.reset();
    return false;
}

bool OggDecoder::step(int pieces)
{
    if (!state_ || state_->done)
        return true;
    State& d = *state_;
    // Every chain link is reduced to stereo as it arrives, at the first link's
    // rate. Each piece goes where the decoder says it belongs in the stream
    // (ov_pcm_tell): after pages that did not decode, the gap is filled with
    // silence, so what follows keeps its time.
    const int bigEndian = SDL_BYTEORDER == SDL_BIG_ENDIAN ? 1 : 0;
    for (int piece = 0; piece < pieces && !d.done; ++piece) {
        const long got = ov_read(&d.vf, d.buffer.data(), int(d.buffer.size()), bigEndian, 2, 1, &d.link);
        if (got == OV_HOLE) {
            // A page that did not decode: the next position shows the gap. So
            // many cannot happen within the file limit; a guard all the same.
            d.done = ++d.holes > (1L << 20);
            continue;
        }
        if (got <= 0) {
            d.done = true;   // the end of the stream, or damage beyond repair (silence in finish)
            break;
        }
        const vorbis_info* li = ov_info(&d.vf, d.link);
        const int ch = li && li->channels > 0 ? li->channels : 1;
        const size_t frames = size_t(got) / (sizeof(int16_t) * size_t(ch));
        const int16_t* pcm = reinterpret_cast<const int16_t*>(d.buffer.data());

        size_t have = d.sourceStereo.size() / 2;
        const ogg_int64_t after = ov_pcm_tell(&d.vf);
        size_t skip = 0;
        if (after >= ogg_int64_t(frames)) {
            const uint64_t start = std::min<uint64_t>(uint64_t(after) - frames, d.maxFrames);
            if (start > have) {
                d.silentFrames += start - have;
                d.sourceStereo.resize(size_t(start) * 2, 0);
                have = size_t(start);
            } else if (start < have) {
                skip = std::min<size_t>(have - size_t(start), frames);   // already placed: keep the first
            }
        }
        for (size_t i = skip; i < frames && have < d.maxFrames; ++i, ++have) {
            d.sourceStereo.push_back(pcm[i * ch]);
            d.sourceStereo.push_back(ch > 1 ? pcm[i * ch + 1] : pcm[i * ch]);
        }
        d.done = have >= d.maxFrames;   // at the length limit
    }
    return d.done;
}

double OggDecoder::progress() const
{
    if (!state_ || state_->stated <= 0)
        return 0.0;
    return std::min(1.0, double(state_->sourceStereo.size() / 2) / double(state_->stated));
}

bool OggDecoder::finish(std::vector<int16_t>& stereo, std::string& error, std::string* note)
{
    stereo.clear();
    if (note)
        note->clear();
    if (!state_) {
        error = "nothing was opened";
        return false;
    }
    State& d = *state_;
    ov_clear(&d.vf);
    d.vfOpen = false;

    // A stream that decodes short keeps the length it states.
    const uint64_t decoded = d.sourceStereo.size() / 2 - std::min<uint64_t>(d.silentFrames, d.sourceStereo.size() / 2);
    if (d.stated > 0 && d.sourceStereo.size() / 2 < uint64_t(d.stated)) {
        d.silentFrames += uint64_t(d.stated) - d.sourceStereo.size() / 2;
        d.sourceStereo.resize(size_t(d.stated) * 2, 0);
    }
    if (decoded == 0) {
        error = "no audio could be decoded";
        state_.reset();
        return false;
    }

    if (note) {
        std::string text;
        const double seconds = double(d.sourceStereo.size() / 2) / double(d.rate);
        if (d.silentFrames > 0)
            text = formatSeconds(double(d.silentFrames) / double(d.rate)) + " of its " + formatSeconds(seconds) +
                   " could not be decoded and play as silence in place, so every scene keeps its time";
        if (!d.extent.closed) {
            text += text.empty() ? "" : "; ";
            text += "it ends without its last page (the file is cut) and plays the " + formatSeconds(seconds) +
                    " it holds";
        }
        if (d.trailingBytes > 0 && d.extent.closed) {
            text += text.empty() ? "" : "; ";
            text += formatMegabytes(d.trailingBytes) + " after the end of its stream are ignored";
        }
        *note = text;
    }

    if (d.rate == SOUND_RATE)
        stereo = std::move(d.sourceStereo);
    else
        stereo = convertToOutputFormat(d.sourceStereo.data(), d.sourceStereo.size() / 2, 2, d.rate);
    state_.reset();
    return true;
}

bool decodeOggFile(const char* path, std::vector<int16_t>& stereo, std::string& error, std::string* note,
                   const DecodeYield& yield)
{
    stereo.clear();
    if (note)
        note->clear();
    OggDecoder decoder;
    if (!decoder.open(path, error))
        return false;
    // Between every eight pieces the caller's events may flow (or stop the decode).
    for (;;) {
        if (yield.keepGoing && !yield.keepGoing(yield.context)) {
            error = "stopped";
            return false;
        }
        if (decoder.step(8))
            break;
    }
    return decoder.finish(stereo, error, note);
}
