// app/FrameReport.cpp: frame samples, per-row statistics and the table.
#include "app/FrameReport.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdio>

int64_t frameReportNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string frameRowLabel(const FrameRowKey& key)
{
    return std::to_string(key.scene) + (key.freeCamera ? " free" : "") +
           (key.toolLayer && *key.toolLayer ? std::string(" ") + key.toolLayer : "");
}

// --- Recording -----------------------------------------------------------------------

void FrameReport::beginFrame(int64_t now, FrameRowKey key)
{
    endFrame(now);
    open_ = true;
    openKey_ = key;
    openStart_ = now;
    std::fill(std::begin(openParts_), std::end(openParts_), 0);
}

void FrameReport::addPart(FramePart part, int64_t nanoseconds)
{
    if (open_ && part >= 0 && part < FRAME_PARTS)
        openParts_[part] += nanoseconds;
}

void FrameReport::dropFrame()
{
    open_ = false;
}

void FrameReport::endFrame(int64_t now)
{
    if (!open_)
        return;
    open_ = false;
    addFrame(openKey_, now - openStart_, openParts_[FRAME_UPDATE], openParts_[FRAME_DRAW], openParts_[FRAME_SWAP]);
}

void FrameReport::addFrame(FrameRowKey key, int64_t frameNs, int64_t updateNs, int64_t drawNs, int64_t swapNs)
{
    // The parts are disjoint stretches of the frame on the same clock.
    assert(updateNs >= 0 && drawNs >= 0 && swapNs >= 0 && updateNs + drawNs + swapNs <= frameNs);
    auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.key == key; });
    if (row == rows_.end()) {
        rows_.push_back(Row{});
        row = rows_.end() - 1;
        row->key = key;
    }
    row->frameNs.push_back(frameNs);
    row->partNs[FRAME_UPDATE] += updateNs;
    row->partNs[FRAME_DRAW] += drawNs;
    row->partNs[FRAME_SWAP] += swapNs;
}

long FrameReport::frameCount() const
{
    long n = 0;
    for (const Row& row : rows_)
        n += static_cast<long>(row.frameNs.size());
    return n;
}

// --- Statistics ----------------------------------------------------------------------

namespace {

constexpr double NS_PER_MS = 1e6;

} // namespace

FrameRowStats FrameReport::statsOf(const std::string& label, std::vector<int64_t> frameNs,
                                   const int64_t (&partNs)[FRAME_PARTS])
{
    FrameRowStats s;
    s.label = label;
    const size_t n = frameNs.size();
    s.frames = static_cast<long>(n);
    if (n == 0)
        return s;
    std::sort(frameNs.begin(), frameNs.end());
    int64_t total = 0;
    for (const int64_t t : frameNs)
        total += t;
    int64_t parts = 0;
    for (const int64_t p : partNs)
        parts += p;

    s.totalMs = total / NS_PER_MS;
    s.rate = total > 0 ? static_cast<double>(n) / (total / 1e9) : 0.0;
    s.medianMs = (n % 2 == 1 ? frameNs[n / 2] : (frameNs[n / 2 - 1] + frameNs[n / 2]) / 2.0) / NS_PER_MS;
    const size_t rank = (99 * n + 99) / 100;   // ceil(0.99 n), 1 .. n
    s.p99Ms = frameNs[rank - 1] / NS_PER_MS;
    s.worstMs = frameNs.back() / NS_PER_MS;
    s.meanMs = s.totalMs / static_cast<double>(n);
    for (int p = 0; p < FRAME_PARTS; ++p)
        s.partMs[p] = partNs[p] / NS_PER_MS / static_cast<double>(n);
    // The remainder in whole nanoseconds first, so the four columns add up
    // to the mean as closely as doubles allow.
    s.otherMs = (total - parts) / NS_PER_MS / static_cast<double>(n);
    return s;
}

std::vector<FrameRowStats> FrameReport::rows() const
{
    std::vector<FrameRowStats> out;
    out.reserve(rows_.size());
    for (const Row& row : rows_)
        out.push_back(statsOf(frameRowLabel(row.key), row.frameNs, row.partNs));
    return out;
}

FrameRowStats FrameReport::total() const
{
    std::vector<int64_t> all;
    int64_t parts[FRAME_PARTS] = {};
    for (const Row& row : rows_) {
        all.insert(all.end(), row.frameNs.begin(), row.frameNs.end());
        for (int p = 0; p < FRAME_PARTS; ++p)
            parts[p] += row.partNs[p];
    }
    return statsOf("total", std::move(all), parts);
}

// --- Table ---------------------------------------------------------------------------

namespace {

// The first column is 8 wide, or as wide as its longest label.
std::string formatRow(const FrameRowStats& s, int labelWidth)
{
    char line[320];
    std::snprintf(line, sizeof line, "%-*s %7ld %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f\n",
                  labelWidth, s.label.c_str(), s.frames, s.rate, s.medianMs, s.p99Ms, s.worstMs, s.meanMs,
                  s.partMs[FRAME_UPDATE], s.partMs[FRAME_DRAW], s.partMs[FRAME_SWAP], s.otherMs);
    return line;
}

} // namespace

std::string FrameReport::format(const char* title, const char* swapColumn) const
{
    char line[256];
    std::string text;
    std::snprintf(line, sizeof line, "%s: frame times in ms; update + draw + %s + other = mean\n", title, swapColumn);
    text += line;
    const std::vector<FrameRowStats> all = rows();
    int width = 8;
    for (const FrameRowStats& row : all)
        width = std::max(width, std::min(static_cast<int>(row.label.size()), 40));
    std::snprintf(line, sizeof line, "%-*s %7s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n", width, "scene", "frames", "fps",
                  "median", "p99", "worst", "mean", "update", "draw", swapColumn, "other");
    text += line;
    for (const FrameRowStats& row : all)
        text += formatRow(row, width);
    text += formatRow(total(), width);
    return text;
}
