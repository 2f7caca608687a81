// capture/FrameSink.cpp: the three outputs of a capture.
//
// Sections:
//   --- PNG frames ---
//   --- Video ---
//   --- Contact sheet ---
//   --- Choice ---
#include "capture/FrameSink.h"

#include "base/Report.h"
#include "capture/CaptureOptions.h"
#include "capture/ContactSheet.h"
#include "capture/FramePipeline.h"
#include "gfx/PngFile.h"
#include "sound/OggDecode.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

void putLe(std::vector<uint8_t>& b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The track's samples from fraction `from` to `to`, as a WAV file.
bool writeTrackStretch(const std::string& path, const std::vector<int16_t>& track, double from, double to)
{
    const size_t trackFrames = track.size() / SOUND_OUT_CHANNELS;
    const size_t wavFrom = std::min(trackFrames, static_cast<size_t>(std::floor(from * trackFrames)));
    const size_t wavTo = std::min(trackFrames, static_cast<size_t>(std::floor(to * trackFrames)));
    if (!writeWav(path, track.data() + wavFrom * 2, wavTo - wavFrom)) {
        reportLine("vortalune-capture: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// The frames a stride of `every` takes from the range.
long strideCount(const CaptureFrames& frames, int every)
{
    return (frames.end - frames.first + every - 1) / every;
}

// The frames a stride of `every` takes from the range, handed to a pipeline
// that the output sets up in open(). Each output resets the pipeline first
// in its destructor: the pipeline's threads call into the output.
class PipelinedSink : public FrameSink {
public:
    PipelinedSink(const CaptureOptions& o, const CaptureFrames& f, const std::vector<int16_t>& track)
        : o_(o), f_(f), track_(track) {}

    bool wants(long k) const override { return (k - f_.first) % o_.every == 0; }
    bool take(long k, int scene, std::vector<uint8_t>& pixels) override
    {
        PipelineFrame frame;
        frame.index = k;
        frame.scene = scene;
        frame.pixels = std::move(pixels);
        return pipeline_->submit(std::move(frame));
    }
    long done() const override { return pipeline_ ? pipeline_->written() : 0; }
    long total() const override { return strideCount(f_, o_.every); }

protected:
    const CaptureOptions&          o_;
    const CaptureFrames&           f_;
    const std::vector<int16_t>&    track_;
    std::unique_ptr<FramePipeline> pipeline_;
};

// --- PNG frames ----------------------------------------------------------------------

// frame_NNNNNN.png per frame (its number in the show), frames.txt listing
// each with its frame, fraction and scene, and audio.wav of the range. The
// frames are encoded on the pipeline's threads while the next ones draw and
// written in order; a frame is listed once its file is written, so after a
// failed write neither files nor lines follow.
class PngFrames final : public PipelinedSink {
public:
    using PipelinedSink::PipelinedSink;
    ~PngFrames() override
    {
        pipeline_.reset();
        if (manifest_)
            std::fclose(manifest_);
    }

    bool open() override
    {
        std::error_code ignored;
        fs::create_directories(o_.out, ignored);
        manifest_ = std::fopen((fs::path(o_.out) / "frames.txt").c_str(), "w");
        if (!manifest_) {
            reportLine("vortalune-capture: cannot write into %s\n", o_.out.c_str());
            return false;
        }
        if (!writeTrackStretch((fs::path(o_.out) / "audio.wav").string(), track_, f_.from, f_.to))
            return false;
        const int encoders = captureEncoderThreads();
        pipeline_ = std::make_unique<FramePipeline>(
            encoders, captureCapacity(encoders), [this](PipelineFrame& frame) { return encode(frame); },
            [this](PipelineFrame& frame) { return write(frame); });
        return true;
    }
    bool close() override
    {
        const bool written = !pipeline_ || pipeline_->finish();
        bool closed = true;
        if (manifest_)
            closed = std::fclose(manifest_) == 0;
        manifest_ = nullptr;
        if (written && !closed)
            reportLine("vortalune-capture: cannot write %s\n", (fs::path(o_.out) / "frames.txt").c_str());
        return written && closed;
    }

private:
    static std::string nameOf(long k)
    {
        char name[64];
        std::snprintf(name, sizeof name, "frame_%06ld.png", k);
        return name;
    }
    bool encode(PipelineFrame& frame) const
    {
        if (encodePng(frame.encoded, o_.width, o_.height, 3, frame.pixels.data(), PngEffort::FAST)) {
            std::vector<uint8_t>().swap(frame.pixels);   // only the file's bytes wait for the writer
            return true;
        }
        reportLine("\nvortalune-capture: cannot encode %s\n", (fs::path(o_.out) / nameOf(frame.index)).c_str());
        return false;
    }
    bool write(PipelineFrame& frame)
    {
        const std::string name = nameOf(frame.index);
        const std::string path = (fs::path(o_.out) / name).string();
        std::string why;
        if (!writeWholeFile(path, frame.encoded, why)) {
            reportLine("\nvortalune-capture: cannot write %s (%s)\n", path.c_str(), why.c_str());
            return false;
        }
        std::fprintf(manifest_, "%s %ld %.9g %d\n", name.c_str(), frame.index,
                     static_cast<double>(f_.clock.fraction(frame.index)), frame.scene);
        return true;
    }

    FILE* manifest_ = nullptr;
};

// --- Video ---------------------------------------------------------------------------

// Raw RGB frames piped to ffmpeg, which muxes them with the range's audio
// (a WAV beside the video while it runs) into an H.264/AAC MP4.
class Video final : public PipelinedSink {
public:
    Video(const CaptureOptions& o, const CaptureFrames& f, const std::vector<int16_t>& track)
        : PipelinedSink(o, f, track), wavPath_(o.video + ".wav") {}
    ~Video() override
    {
        pipeline_.reset();
        if (pipe_)
            pclose(pipe_);
    }

    bool open() override
    {
        if (!writeTrackStretch(wavPath_, track_, f_.from, f_.to))
            return false;
        char command[2048];
        std::snprintf(command, sizeof command,
                      "ffmpeg -y -loglevel error -f rawvideo -pixel_format rgb24 -video_size %dx%d "
                      "-framerate %g -i - -i '%s' -vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2' -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest '%s'",
                      o_.width, o_.height, static_cast<double>(o_.fps) / o_.every, wavPath_.c_str(), o_.video.c_str());
        std::signal(SIGPIPE, SIG_IGN);   // a failing ffmpeg shows as a failed write, not a kill
        pipe_ = popen(command, "w");
        if (!pipe_) {
            reportLine("vortalune-capture: cannot start ffmpeg\n");
            return false;
        }
        // No encoder threads: ffmpeg encodes; the writer thread feeds its pipe
        // while the next frames draw.
        pipeline_ = std::make_unique<FramePipeline>(0, captureCapacity(1), nullptr, [this](PipelineFrame& frame) {
            if (std::fwrite(frame.pixels.data(), 1, frame.pixels.size(), pipe_) == frame.pixels.size())
                return true;
            reportLine("\nvortalune-capture: ffmpeg stopped taking frames\n");
            return false;
        });
        return true;
    }
    bool close() override
    {
        const bool fed = !pipeline_ || pipeline_->finish();
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        std::error_code ignored;
        fs::remove(wavPath_, ignored);
        if (status != 0) {
            reportLine("vortalune-capture: ffmpeg failed (status %d)\n", status);
            return false;
        }
        return fed;
    }

private:
    std::string wavPath_;
    FILE*       pipe_ = nullptr;
};

// --- Contact sheet -------------------------------------------------------------------

// The first frame, the middle of each scene and the last frame the show
// renders (the latest of its last few frames), in twelve labelled cells.
class ContactSheet final : public FrameSink {
public:
    ContactSheet(const CaptureOptions& o, const CaptureFrames& f, const float (&durations)[SCENE_ENTRIES])
        : o_(o), f_(f), cells_(SHEET_CELLS)
    {
        cells_[0].label = "1 start";
        cells_[0].frame = 0;
        for (int s = FIRST_SCENE; s <= LAST_SCENE; ++s) {
            const double middle = startPositionSum(s, durations) + durations[s] * 0.5;
            cells_[s].label = std::to_string(s) + " middle";
            cells_[s].frame = f.clock.firstAtOrAfter(middle);
        }
        cells_[SHEET_CELLS - 1].label = "10 end";
        tailStart_ = std::max(f.first, f.end - std::max(3L, static_cast<long>(o.fps / 4)));
    }

    bool open() override { return true; }
    bool wants(long k) const override
    {
        bool wanted = k >= tailStart_;
        for (const Cell& c : cells_)
            wanted = wanted || c.frame == k;
        return wanted;
    }
    bool take(long k, int, std::vector<uint8_t>& pixels) override
    {
        for (Cell& c : cells_) {
            if (c.frame == k) {
                c.pixels = pixels;
                ++written_;
            }
        }
        if (k >= tailStart_) {
            // Candidates for the last cell: the latest one wins, and the
            // cell counts as done once the run-out is over.
            lastFrame_ = std::move(pixels);
            lastFrameIndex_ = k;
        }
        return true;
    }
    void rangeEnded() override
    {
        if (lastFrameIndex_ >= 0)
            ++written_;   // the last cell
    }
    long done() const override { return written_; }
    long total() const override { return SHEET_CELLS; }
    bool close() override
    {
        if (lastFrameIndex_ >= 0) {
            cells_[SHEET_CELLS - 1].frame = lastFrameIndex_;
            cells_[SHEET_CELLS - 1].pixels = std::move(lastFrame_);
        }
        Sheet sheet(o_.width, o_.height);
        for (int i = 0; i < SHEET_CELLS; ++i) {
            const Cell& c = cells_[static_cast<size_t>(i)];
            if (c.pixels.empty())
                continue;   // the show ended before this frame
            char label[96];
            std::snprintf(label, sizeof label, "%s  f %.3f", c.label.c_str(),
                          static_cast<double>(f_.clock.fraction(c.frame)));
            sheet.place(i, c.pixels, label);
        }
        if (!sheet.save(o_.contactSheet)) {
            reportLine("vortalune-capture: cannot write %s\n", o_.contactSheet.c_str());
            return false;
        }
        return true;
    }

private:
    struct Cell {
        std::string          label;
        long                 frame = -1;    // -1: not captured yet
        std::vector<uint8_t> pixels;
    };

    const CaptureOptions& o_;
    const CaptureFrames&  f_;
    std::vector<Cell>     cells_;
    long                  tailStart_ = 0;
    std::vector<uint8_t>  lastFrame_;
    long                  lastFrameIndex_ = -1;
    long                  written_ = 0;
};

} // namespace

// --- Choice --------------------------------------------------------------------------

std::unique_ptr<FrameSink> makeFrameSink(const CaptureOptions& options, const CaptureFrames& frames,
                                         const std::vector<int16_t>& track,
                                         const float (&durations)[SCENE_ENTRIES])
{
    if (!options.contactSheet.empty())
        return std::make_unique<ContactSheet>(options, frames, durations);
    if (!options.video.empty())
        return std::make_unique<Video>(options, frames, track);
    return std::make_unique<PngFrames>(options, frames, track);
}

bool writeWav(const std::string& path, const int16_t* pcm, size_t frames)
{
    const uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    std::vector<uint8_t> h;
    h.insert(h.end(), { 'R', 'I', 'F', 'F' });
    putLe(h, 36 + dataBytes, 4);
    h.insert(h.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
    putLe(h, 16, 4);
    putLe(h, 1, 2);                        // PCM
    putLe(h, SOUND_OUT_CHANNELS, 2);
    putLe(h, SOUND_RATE, 4);
    putLe(h, SOUND_RATE * 4, 4);           // bytes per second
    putLe(h, 4, 2);                        // bytes per frame
    putLe(h, 16, 2);
    h.insert(h.end(), { 'd', 'a', 't', 'a' });
    putLe(h, dataBytes, 4);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    for (size_t i = 0; ok && i < frames * 2; ++i) {
        const uint16_t s = static_cast<uint16_t>(pcm[i]);
        const uint8_t b[2] = { static_cast<uint8_t>(s & 0xFF), static_cast<uint8_t>(s >> 8) };
        ok = std::fwrite(b, 1, 2, f) == 2;
    }
    return std::fclose(f) == 0 && ok;
}
