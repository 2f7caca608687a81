// app/FrameReport.h: the frame-time report of --timings. Collects one sample
// per frame (its scene row, its length and the time spent in its update, draw
// and swap parts), computes per-row statistics and formats the table printed
// at exit. Owns only numbers: no GL, no SDL. The frame loops (app/Demo.cpp,
// app/capture_main.cpp) take the times and wait for GL at the part boundaries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// --- Clock ---------------------------------------------------------------------------
// Nanoseconds on a steady clock, from an arbitrary origin. Every time in the
// report is a whole number of nanoseconds, so the parts of a frame and its
// remainder add up to the frame time exactly.
int64_t frameReportNow();

// --- Samples -------------------------------------------------------------------------
// The measured parts of a frame. "other" is not measured: it is the frame time
// less the three parts (events, the editor's per-frame work, the loop itself).
enum FramePart {
    FRAME_UPDATE,   // player, particles, isosurface (updatePlayer / updateFrame)
    FRAME_DRAW,     // the render passes up to the swap, GL finished
    FRAME_SWAP,     // the buffer swap, GL finished (the capture: read-back and writing)
    FRAME_PARTS     // count
};

// A row of the table: a scene as the player's pathIndex, and in the authoring
// tool whether the free camera ran the frame ("6 free") and how the tool's
// frame differed from its usual one, when it names that ("6 free no strip":
// a static name, or null). The table's first column widens for long labels.
struct FrameRowKey {
    int         scene      = 0;
    bool        freeCamera = false;
    const char* toolLayer  = nullptr;
    bool operator==(const FrameRowKey& o) const
    {
        return scene == o.scene && freeCamera == o.freeCamera &&
               std::string(toolLayer ? toolLayer : "") == std::string(o.toolLayer ? o.toolLayer : "");
    }
};

// One row's statistics; times in milliseconds.
struct FrameRowStats {
    std::string label;             // "3", "6 free", "6 free no strip" or "total"
    long        frames   = 0;
    double      totalMs  = 0.0;    // sum of the frame times
    double      rate     = 0.0;    // frames / (totalMs / 1000); 0 without frames
    double      medianMs = 0.0;    // middle frame time; mean of the two middle ones for an even count
    double      p99Ms    = 0.0;    // nearest rank: the ceil(0.99 n)-th smallest frame time
    double      worstMs  = 0.0;    // longest frame time
    double      meanMs   = 0.0;    // totalMs / frames
    double      partMs[FRAME_PARTS] = {};   // mean of each measured part
    double      otherMs  = 0.0;    // meanMs less the parts: the four add up to meanMs
};

// --- Report --------------------------------------------------------------------------
class FrameReport {
public:
    // The frame loop's side. A frame starts at beginFrame and lasts until the
    // next beginFrame or endFrame; parts are added to the open frame.
    void beginFrame(int64_t now, FrameRowKey key);   // ends the open frame, if any, at `now`
    void addPart(FramePart part, int64_t nanoseconds);   // ignored without an open frame
    void dropFrame();                                    // forgets the open frame (it did no work)
    void endFrame(int64_t now);                          // ends the open frame, if any, at `now`

    // A whole frame at once. The parts must not exceed the frame time.
    void addFrame(FrameRowKey key, int64_t frameNs, int64_t updateNs, int64_t drawNs, int64_t swapNs);

    long frameCount() const;                  // frames ended so far, all rows
    std::vector<FrameRowStats> rows() const;  // one per key that had frames, in the order first played
    FrameRowStats total() const;              // every frame of every row, labelled "total"

    // The table, lines ending in '\n': a title line naming `title`, a header
    // (the swap column named `swapColumn`), one line per row, the total line.
    std::string format(const char* title, const char* swapColumn) const;

private:
    struct Row {
        FrameRowKey          key;
        std::vector<int64_t> frameNs;                  // one per frame, in order
        int64_t              partNs[FRAME_PARTS] = {};  // sums
    };
    static FrameRowStats statsOf(const std::string& label, std::vector<int64_t> frameNs,
                                 const int64_t (&partNs)[FRAME_PARTS]);

    std::vector<Row> rows_;
    bool             open_ = false;
    FrameRowKey      openKey_;
    int64_t          openStart_ = 0;
    int64_t          openParts_[FRAME_PARTS] = {};
};

// "3" or "6 free".
std::string frameRowLabel(const FrameRowKey& key);
