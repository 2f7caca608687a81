// capture/FrameSink.cpp: the three outputs of a capture.
//
// Sections:
//   --- PNG frames ---
//   --- Video ---
//   --- Contact sheet ---
//   --- Choice ---
#include "capture/FrameSink.h"

#include "base/Report.h"
#include "base/SafeFile.h"
#include "capture/CaptureOptions.h"
#include "capture/ContactSheet.h"
#include "capture/FramePipeline.h"
#include "gfx/PngFile.h"
#include "sound/OggDecode.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
    std::string why;
    if (!writeWav(path, track.data() + wavFrom * 2, wavTo - wavFrom, why)) {
        reportLine("vortalune-capture: cannot write %s (%s)\n", path.c_str(), why.c_str());
        return false;
    }
    return true;
}

// The frames a stride of `every` takes from the range.
long strideCount(const CaptureFrames& frames, int every)
{
    return (frames.end - frames.first + every - 1) / every;
}

// The part of a pipelined output that the pipeline's threads call into.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual bool open() = 0;                           // before the first frame; false: the line said why
    virtual bool encodes() const = 0;                  // frames go through encoder threads first
    virtual bool encode(PipelineFrame& frame) = 0;     // an encoder thread, any frames at once
    virtual bool write(PipelineFrame& frame) = 0;      // the writer thread, one frame at a time, in order
    virtual bool close(bool everyFrameWritten) = 0;    // after the last write; false: the line said why
};

// The frames a stride of `every` takes from the range, handed through a
// pipeline to an output. The output is declared before the pipeline, so the
// pipeline (whose threads call into the output) always stops first, however
// the sink ends.
class PipelinedSink final : public FrameSink {
public:
    PipelinedSink(const CaptureOptions& o, const CaptureFrames& f, std::unique_ptr<FrameOutput> output)
        : o_(o), f_(f), output_(std::move(output)) {}

    bool open() override
    {
        if (!output_->open())
            return false;
        FrameOutput* out = output_.get();
        const int encoders = out->encodes() ? captureEncoderThreads() : 0;
        FramePipeline::Encode encode;
        if (out->encodes())
            encode = [out](PipelineFrame& frame) { return out->encode(frame); };
        pipeline_ = std::make_unique<FramePipeline>(encoders, captureCapacity(std::max(encoders, 1)), encode,
                                                    [out](PipelineFrame& frame) { return out->write(frame); });
        return true;
    }
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
    bool close() override
    {
        const bool written = !pipeline_ || pipeline_->finish();
        return output_->close(written) && written;
    }

private:
    const CaptureOptions&          o_;
    const CaptureFrames&           f_;
    std::unique_ptr<FrameOutput>   output_;
    std::unique_ptr<FramePipeline> pipeline_;   // after output_: destroyed first
};

// --- PNG frames ----------------------------------------------------------------------

// frame_NNNNNN.png per frame (its number in the show), frames.txt listing
// each with its frame, fraction and scene, and audio.wav of the range. The
// frames are encoded on the pipeline's threads while the next ones draw and
// written in order. Every file is written whole under a temporary name and
// renamed into place, and a frame's line is written (and flushed) once its
// file has its name, so after a kill or a failed write every listed frame is
// on disk whole, and nothing follows the failure.
class PngFramesOutput final : public FrameOutput {
public:
    PngFramesOutput(const CaptureOptions& o, const CaptureFrames& f, const std::vector<int16_t>& track)
        : o_(o), f_(f), track_(track) {}
    ~PngFramesOutput() override
    {
        if (manifest_)
            std::fclose(manifest_);
    }

    bool open() override
    {
        std::error_code ignored;
        fs::create_directories(o_.out, ignored);
        manifest_ = std::fopen(manifestPath().c_str(), "w");
        if (!manifest_) {
            reportLine("vortalune-capture: cannot write into %s (%s)\n", o_.out.c_str(), std::strerror(errno));
            return false;
        }
        return writeTrackStretch((fs::path(o_.out) / "audio.wav").string(), track_, f_.from, f_.to);
    }
    bool encodes() const override { return true; }
    bool encode(PipelineFrame& frame) override
    {
        if (encodePng(frame.encoded, o_.width, o_.height, 3, frame.pixels.data(), PngEffort::FAST)) {
            std::vector<uint8_t>().swap(frame.pixels);   // only the file's bytes wait for the writer
            return true;
        }
        reportLine("\nvortalune-capture: cannot encode %s\n", (fs::path(o_.out) / nameOf(frame.index)).c_str());
        return false;
    }
    bool write(PipelineFrame& frame) override
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
        if (std::fflush(manifest_) != 0) {
            reportLine("\nvortalune-capture: cannot write %s (%s)\n", manifestPath().c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }
    bool close(bool everyFrameWritten) override
    {
        const bool closed = std::fclose(manifest_) == 0;
        manifest_ = nullptr;
        if (everyFrameWritten && !closed)
            reportLine("vortalune-capture: cannot write %s (%s)\n", manifestPath().c_str(), std::strerror(errno));
        return closed;
    }

private:
    static std::string nameOf(long k)
    {
        char name[64];
        std::snprintf(name, sizeof name, "frame_%06ld.png", k);
        return name;
    }
    std::string manifestPath() const { return (fs::path(o_.out) / "frames.txt").string(); }

    const CaptureOptions&       o_;
    const CaptureFrames&        f_;
    const std::vector<int16_t>& track_;
    FILE*                       manifest_ = nullptr;
};

// --- Video ---------------------------------------------------------------------------

// Raw RGB frames piped to ffmpeg, which muxes them with the range's audio
// (a WAV beside the video while it runs) into an H.264/AAC MP4. ffmpeg writes
// a temporary beside the video, renamed into place once it has finished, so
// a capture stopped on the way leaves no cut video under the name.
class VideoOutput final : public FrameOutput {
public:
    VideoOutput(const CaptureOptions& o, const CaptureFrames& f, const std::vector<int16_t>& track)
        : o_(o), f_(f), track_(track), wavPath_(o.video + ".wav"), partPath_(temporaryNameFor(o.video)) {}
    ~VideoOutput() override
    {
        if (pipe_)
            pclose(pipe_);
        std::error_code ignored;
        fs::remove(wavPath_, ignored);
        fs::remove(partPath_, ignored);
    }

    bool open() override
    {
        if (!writeTrackStretch(wavPath_, track_, f_.from, f_.to))
            return false;
        char command[2048];
        std::snprintf(command, sizeof command,
                      "ffmpeg -y -loglevel error -f rawvideo -pixel_format rgb24 -video_size %dx%d "
                      "-framerate %g -i - -i '%s' -vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2' -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest -f mp4 '%s'",
                      o_.width, o_.height, static_cast<double>(o_.fps) / o_.every, wavPath_.c_str(),
                      partPath_.c_str());
        std::signal(SIGPIPE, SIG_IGN);   // a failing ffmpeg shows as a failed write, not a kill
        pipe_ = popen(command, "w");
        if (!pipe_) {
            reportLine("vortalune-capture: cannot start ffmpeg (%s)\n", std::strerror(errno));
            return false;
        }
        return true;
    }
    // No encoder threads: ffmpeg encodes; the writer thread feeds its pipe
    // while the next frames draw.
    bool encodes() const override { return false; }
    bool encode(PipelineFrame&) override { return true; }
    bool write(PipelineFrame& frame) override
    {
        if (std::fwrite(frame.pixels.data(), 1, frame.pixels.size(), pipe_) == frame.pixels.size())
            return true;
        reportLine("\nvortalune-capture: ffmpeg stopped taking frames\n");
        return false;
    }
    bool close(bool everyFrameWritten) override
    {
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        if (status != 0) {
            reportLine("vortalune-capture: ffmpeg failed (status %d)\n", status);
            return false;
        }
        if (everyFrameWritten && renameFile(partPath_, o_.video) != 0) {
            reportLine("vortalune-capture: cannot write %s (%s)\n", o_.video.c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }

private:
    const CaptureOptions&       o_;
    const CaptureFrames&        f_;
    const std::vector<int16_t>& track_;
    std::string                 wavPath_;
    std::string                 partPath_;
    FILE*                       pipe_ = nullptr;
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
        std::string why;
        if (!sheet.save(o_.contactSheet, why)) {
            reportLine("vortalune-capture: cannot write %s (%s)\n", o_.contactSheet.c_str(), why.c_str());
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
        return std::make_unique<PipelinedSink>(options, frames, std::make_unique<VideoOutput>(options, frames, track));
    return std::make_unique<PipelinedSink>(options, frames, std::make_unique<PngFramesOutput>(options, frames, track));
}

bool writeWav(const std::string& path, const int16_t* pcm, size_t frames, std::string& why)
{
    const uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    std::vector<uint8_t> h;
    h.reserve(44 + size_t(dataBytes));
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
    for (size_t i = 0; i < frames * 2; ++i)
        putLe(h, static_cast<uint16_t>(pcm[i]), 2);
    return writeBytesAtomically(path, h.data(), h.size(), Durability::WHOLE_NAMES, why);
}
