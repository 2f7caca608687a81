// capture/FrameSink.h: where a capture's rendered frames go, behind one
// interface so the run loop does not branch per output: numbered PNG frames
// with frames.txt and audio.wav, an MP4 through ffmpeg, or the contact sheet.
// A sink says which frames it wants, takes each rendered one and closes its
// output; every failure is one stderr line naming the file. No GL.
#pragma once

#include "base/Show.h"
#include "base/VirtualClock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CaptureOptions;

// The frames of a capture on its virtual clock: [first, end) are the ones in
// the range; the frames before `first` from the start of its first scene
// only advance the show.
struct CaptureFrames {
    VirtualClock clock;
    long         first = 0;
    long         end = 0;      // exclusive
    double       from = 0.0;   // the range as track fractions
    double       to = 1.0;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;

    // Before the first frame: folders and files created, the track's stretch
    // written. False (the line said why): nothing is captured.
    virtual bool open() = 0;
    // Whether frame k of the range is rendered for this output.
    virtual bool wants(long k) const = 0;
    // Rendered frame k (RGB rows, top first) showing `scene`. False (the line
    // said why): the capture stops.
    virtual bool take(long k, int scene, std::vector<uint8_t>& pixels) = 0;
    // The show reached the end of the range (or its own end).
    virtual void rangeEnded() {}
    // Items written so far (frames, or the sheet's cells) and in all.
    virtual long done() const = 0;
    virtual long total() const = 0;
    // Closes the output; false (the line said why) when it could not be finished.
    virtual bool close() = 0;
};

// The sink the options ask for. `track` is the decoded track (stereo at
// SOUND_RATE), `durations` the scenes' lengths in the track.
std::unique_ptr<FrameSink> makeFrameSink(const CaptureOptions& options, const CaptureFrames& frames,
                                         const std::vector<int16_t>& track,
                                         const float (&durations)[SCENE_ENTRIES]);

// 16-bit stereo PCM at SOUND_RATE as a WAV file, written whole (renamed into
// place); false with the system's reason when it cannot be written.
bool writeWav(const std::string& path, const int16_t* pcm, size_t frames, std::string& why);
