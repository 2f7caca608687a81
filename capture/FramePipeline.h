// capture/FramePipeline.h: a capture's frames on their way from the read-back
// to their output while the next frames draw. Encoder threads work on several
// frames at once, in any order; one writer thread hands them on strictly in
// the order they came (a PNG file and its line in frames.txt, or the pipe to
// ffmpeg). No GL.
//
// Memory is bounded: at most `capacity` frames are held at any time (waiting,
// encoding or waiting to be written), and submit waits while that many are.
// Once a write fails, nothing after it is written and submit says so.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct PipelineFrame {
    long                 index = 0;   // the frame's number in the show
    int                  scene = 0;
    std::vector<uint8_t> pixels;      // RGB rows, top first, as read back
    std::vector<uint8_t> encoded;     // what the encoder made of them
};

class FramePipeline {
public:
    // Runs on an encoder thread, any frames at once; false: the frame failed
    // (it said why) and the pipeline stops writing.
    using Encode = std::function<bool(PipelineFrame&)>;
    // Runs on the writer thread, one frame at a time in submission order;
    // false: the write failed (it said why) and the pipeline stops writing.
    using Write = std::function<bool(PipelineFrame&)>;
    // `encode` null: frames go to the writer as they are (no encoder threads).
    FramePipeline(int encoders, int capacity, Encode encode, Write write);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // Hands a frame on; waits while `capacity` frames are held. False once a
    // write has failed: the frame is dropped.
    bool submit(PipelineFrame frame);
    // Waits until every frame is written (or dropped after a failure) and
    // stops the threads. True when every write succeeded.
    bool finish();

    long written() const;     // frames whose write succeeded
    int  mostHeld() const;    // the most frames held at once so far
    int  capacity() const { return capacity_; }

private:
    enum class State { WAITING, ENCODING, ENCODED, FAILED };
    struct Slot {
        PipelineFrame frame;
        State         state = State::WAITING;
    };

    void encodeLoop();
    void writeLoop();

    const int     capacity_;
    const Encode  encode_;
    const Write   write_;
    mutable std::mutex                 mutex_;
    std::condition_variable            changed_;
    std::deque<std::shared_ptr<Slot>>  held_;   // in submission order
    bool                               stopping_ = false;
    bool                               failed_ = false;
    long                               written_ = 0;
    int                                mostHeld_ = 0;
    std::vector<std::thread>           encoders_;
    std::thread                        writer_;
};

// The encoder threads and the bound a capture uses on this machine: one
// encoder per core, and twice as many frames held plus two (so each encoder
// has one waiting while the writer and the drawing hold one each).
int captureEncoderThreads();
int captureCapacity(int encoders);
