// capture/FramePipeline.cpp: encoder threads and the in-order writer.
#include "capture/FramePipeline.h"

#include <algorithm>

FramePipeline::FramePipeline(int encoders, int capacity, Encode encode, Write write)
    : capacity_(std::max(capacity, 1)), encode_(std::move(encode)), write_(std::move(write))
{
    if (encode_) {
        for (int i = 0; i < std::max(encoders, 1); ++i)
            encoders_.emplace_back([this] { encodeLoop(); });
    }
    writer_ = std::thread([this] { writeLoop(); });
}

FramePipeline::~FramePipeline()
{
    finish();
}

bool FramePipeline::submit(PipelineFrame frame)
{
    auto slot = std::make_shared<Slot>();
    slot->frame = std::move(frame);
    if (!encode_)
        slot->state = State::ENCODED;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || stopping_ || int(held_.size()) < capacity_; });
    if (failed_ || stopping_)
        return false;
    held_.push_back(std::move(slot));
    mostHeld_ = std::max(mostHeld_, int(held_.size()));
    changed_.notify_all();
    return true;
}

bool FramePipeline::finish()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!stopping_) {
            changed_.wait(lock, [&] { return held_.empty(); });
            stopping_ = true;
            changed_.notify_all();
        }
    }
    for (std::thread& t : encoders_)
        if (t.joinable())
            t.join();
    if (writer_.joinable())
        writer_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

long FramePipeline::written() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

int FramePipeline::mostHeld() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return mostHeld_;
}

void FramePipeline::encodeLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::shared_ptr<Slot> next;
        changed_.wait(lock, [&] {
            for (const auto& s : held_)
                if (s->state == State::WAITING) {
                    next = s;
                    return true;
                }
            return stopping_;
        });
        if (!next)
            return;
        next->state = State::ENCODING;
        const bool skip = failed_;   // after a failure nothing more is worth encoding
        lock.unlock();
        const bool ok = !skip && encode_(next->frame);
        lock.lock();
        next->state = ok ? State::ENCODED : State::FAILED;
        changed_.notify_all();
    }
}

void FramePipeline::writeLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            if (held_.empty())
                return stopping_;
            const State front = held_.front()->state;
            return front == State::ENCODED || front == State::FAILED || (failed_ && front == State::WAITING);
        });
        if (held_.empty())
            return;
        std::shared_ptr<Slot> front = held_.front();
        if (front->state == State::ENCODED && !failed_) {
            lock.unlock();
            const bool ok = write_(front->frame);
            lock.lock();
            if (ok)
                ++written_;
            else
                failed_ = true;
        } else {
            failed_ = true;   // an encoder failed (it said why), or an earlier write did
        }
        held_.pop_front();
        changed_.notify_all();
    }
}

int captureEncoderThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, 8u));
}

int captureCapacity(int encoders)
{
    return 2 * std::max(encoders, 1) + 2;
}
