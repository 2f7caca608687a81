// sound/OggDecode.h: a whole Ogg Vorbis track decoded into memory at the one
// format the sound layer mixes: interleaved signed 16-bit stereo at
// SOUND_RATE. Checks the file's size, rate and length before it decodes, and
// keeps a damaged track's timing. No SDL, no GL, no knowledge of the show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// --- Output format -----------------------------------------------------------------
constexpr int SOUND_RATE          = 44100;   // frames per second, output and decoded samples
constexpr int SOUND_OUT_CHANNELS  = 2;       // interleaved stereo, signed 16-bit

// --- Track limits --------------------------------------------------------------------
// A track decodes whole into memory before the show starts, so its size bounds
// both the memory (10 minutes are 106 MB of stereo at 44.1 kHz) and the time
// the window waits (about 0.3 s per two minutes of audio on a 2-core machine).
constexpr int      SOUND_MAX_SECONDS    = 10 * 60;                  // longer tracks are refused
constexpr uint64_t SOUND_MAX_FILE_BYTES = uint64_t(32) << 20;       // Ogg data before the stream's end
constexpr long     SOUND_MIN_RATE       = 8000;                     // source rates accepted, Hz
constexpr long     SOUND_MAX_RATE       = 96000;

// --- Decoding --------------------------------------------------------------------------
// Called between decoded pieces of a track (about every 0.2 s of audio):
// keeps the window's events flowing while a track decodes. Returning false
// stops the decode, which then fails with the reason "stopped".
struct DecodeYield {
    bool (*keepGoing)(void* context) = nullptr;
    void* context = nullptr;
};

// Decodes a whole Ogg Vorbis file into interleaved stereo frames at SOUND_RATE
// (other rates are resampled linearly, mono is doubled, channels past the
// second are dropped).
//
// Refused, with a one-line reason in `error`: a missing file, a directory or
// other non-regular file, a file that is not Ogg Vorbis or whose headers are
// cut or damaged, a rate outside SOUND_MIN_RATE..SOUND_MAX_RATE, a stream
// that states more than SOUND_MAX_SECONDS, a file whose stream has not ended
// within SOUND_MAX_FILE_BYTES, and a stream with no audio.
//
// Accepted with damage, and then `note` (if given) gets one line saying what
// was done, empty for a clean file: pages that do not decode become silence
// of their length in place, and a stream that decodes short is padded with
// silence to the length its last page states, so every position keeps its
// time in the track; bytes after the stream's last page are ignored; a
// stream without its end-of-stream page (a cut file) plays what it holds.
// Work is bounded by the file limit: the bytes are read once, each page's
// checksum is checked once, and nothing after the stream's end is scanned.
bool decodeOggFile(const char* path, std::vector<int16_t>& stereo, std::string& error,
                   std::string* note = nullptr, const DecodeYield& yield = DecodeYield());

// The same decode in steps, for a caller with frames to draw meanwhile (the
// browser): open checks and reads the file, each step decodes a few pieces
// (about 4096 frames each), finish gives what decodeOggFile gives. Steps of
// 8 pieces make exactly decodeOggFile's result.
class OggDecoder {
public:
    OggDecoder();
    ~OggDecoder();
    OggDecoder(const OggDecoder&) = delete;
    OggDecoder& operator=(const OggDecoder&) = delete;

    // False with decodeOggFile's reason for a refused file; nothing to step then.
    bool open(const char* path, std::string& error);
    // Decodes up to `pieces` pieces; true once the stream is done.
    bool step(int pieces);
    // How much of the length the stream states has been decoded, 0..1.
    double progress() const;
    // After the last step: the track, or false with the reason.
    bool finish(std::vector<int16_t>& stereo, std::string& error, std::string* note = nullptr);

private:
    struct State;
    bool fail();
    std::unique_ptr<State> state_;
};

// Converts interleaved PCM of `channels` channels at `rate` Hz into interleaved
// stereo at SOUND_RATE. Output frame count: floor(frames * SOUND_RATE / rate).
// channels < 1 or rate < 1 give an empty result.
std::vector<int16_t> convertToOutputFormat(const int16_t* pcm, size_t frames, int channels, long rate);
