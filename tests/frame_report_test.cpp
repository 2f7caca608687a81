// tests/frame_report_test.cpp: the frame-time report of --timings. The
// statistics and the table on known samples (no window), then the report of
// the real programs on the display (Xvfb in CI): the authoring tool on scene
// 3, the show on a short track, and the capture against the frames it wrote.
// Nothing here asserts how fast anything is: only structure and arithmetic.
#include "app/FrameReport.h"
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int64_t MS = 1000000;            // nanoseconds
constexpr double EXACT_EPS = 1e-9;         // ms; doubles from whole nanoseconds
constexpr double PRINTED_EPS = 0.005;      // ms; one column printed with two decimals
constexpr double SUM_EPS = 5 * PRINTED_EPS;   // mean against the sum of four printed columns

// One parsed line of the table.
struct TableRow {
    std::string label;
    long        frames = -1;
    double      fps = 0, median = 0, p99 = 0, worst = 0, mean = 0, update = 0, draw = 0, swap = 0, other = 0;
};

// The table that follows the line "<program>: frame times in ms" in `text`:
// every row up to and including "total". Empty when there is no table or a
// line does not parse.
std::vector<TableRow> parseTable(const std::string& text, const std::string& program, std::string& header)
{
    std::vector<TableRow> rows;
    const size_t title = text.find(program + ": frame times in ms");
    if (title == std::string::npos)
        return rows;
    std::istringstream in(text.substr(title));
    std::string line;
    std::getline(in, line);   // title
    std::getline(in, header);
    while (std::getline(in, line)) {
        if (line.size() < 9)
            return {};
        TableRow row;
        row.label = line.substr(0, 8);
        row.label.erase(row.label.find_last_not_of(' ') + 1);
        std::istringstream numbers(line.substr(8));
        numbers >> row.frames >> row.fps >> row.median >> row.p99 >> row.worst >> row.mean >> row.update >>
            row.draw >> row.swap >> row.other;
        std::string rest;
        if (!numbers || (numbers >> rest))
            return {};
        rows.push_back(row);
        if (row.label == "total")
            return rows;
    }
    return {};   // no total line
}

// The arithmetic every printed table must satisfy: each row's parts add up to
// its mean, the rate is the inverse of the mean, the order statistics are
// ordered, and the total row holds every frame.
void expectTableAddsUp(const std::vector<TableRow>& rows)
{
    ASSERT_FALSE(rows.empty());
    ASSERT_EQ(rows.back().label, "total");
    long frames = 0;
    double totalMs = 0.0;
    for (const TableRow& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_NEAR(r.update + r.draw + r.swap + r.other, r.mean, SUM_EPS);
        for (const double part : { r.update, r.draw, r.swap, r.other })
            EXPECT_GE(part, 0.0);
        if (r.frames > 0) {
            // fps = 1000 / mean; each printed to within PRINTED_EPS.
            EXPECT_NEAR(r.fps * r.mean / 1000.0, 1.0, PRINTED_EPS * (r.fps + r.mean) / 1000.0 + 1e-6);
            EXPECT_LE(r.median, r.worst + PRINTED_EPS);
            EXPECT_LE(r.p99, r.worst + PRINTED_EPS);
            EXPECT_LE(r.mean, r.worst + PRINTED_EPS);
        }
        if (r.label != "total") {
            EXPECT_GT(r.frames, 0) << "a row only for scenes that had frames";
            frames += r.frames;
            totalMs += r.frames * r.mean;
        }
    }
    const TableRow& total = rows.back();
    EXPECT_EQ(total.frames, frames);
    if (frames > 0) {
        EXPECT_NEAR(total.mean, totalMs / frames, PRINTED_EPS * 2);
    }
}

FrameRowKey scene(int n, bool freeCamera = false)
{
    return FrameRowKey{ n, freeCamera };
}

} // namespace

// --- Statistics on known samples -------------------------------------------------------

TEST(FrameReport, MedianPercentileWorstAndRateOfKnownSamples)
{
    // 10, 20, .. 100 ms, added out of order: an even count.
    FrameReport report;
    for (const int ms : { 70, 10, 100, 40, 20, 90, 30, 60, 50, 80 })
        report.addFrame(scene(2), ms * MS, 0, 0, 0);
    const FrameRowStats s = report.total();
    EXPECT_EQ(s.frames, 10);
    EXPECT_NEAR(s.totalMs, 550.0, EXACT_EPS);
    EXPECT_NEAR(s.medianMs, 55.0, EXACT_EPS) << "mean of the two middle frames";
    EXPECT_NEAR(s.p99Ms, 100.0, EXACT_EPS) << "nearest rank ceil(9.9) = 10";
    EXPECT_NEAR(s.worstMs, 100.0, EXACT_EPS);
    EXPECT_NEAR(s.meanMs, 55.0, EXACT_EPS);
    EXPECT_NEAR(s.rate, 10.0 / 0.55, 1e-9);

    // 1 .. 200 ms backwards: the 99th percentile is the 198th smallest.
    FrameReport many;
    for (int ms = 200; ms >= 1; --ms)
        many.addFrame(scene(4), ms * MS, 0, 0, 0);
    const FrameRowStats m = many.total();
    EXPECT_NEAR(m.medianMs, 100.5, EXACT_EPS);
    EXPECT_NEAR(m.p99Ms, 198.0, EXACT_EPS);
    EXPECT_NEAR(m.worstMs, 200.0, EXACT_EPS);

    // An odd count has a middle frame; one frame is its own everything.
    FrameReport odd;
    for (const int ms : { 5, 1, 3 })
        odd.addFrame(scene(1), ms * MS, 0, 0, 0);
    EXPECT_NEAR(odd.total().medianMs, 3.0, EXACT_EPS);
    FrameReport one;
    one.addFrame(scene(1), 7 * MS, 0, 0, 0);
    EXPECT_NEAR(one.total().medianMs, 7.0, EXACT_EPS);
    EXPECT_NEAR(one.total().p99Ms, 7.0, EXACT_EPS);
    EXPECT_NEAR(one.total().rate, 1000.0 / 7.0, 1e-9);
}

TEST(FrameReport, PartsAndRemainderAddUpToTheFrameTimePerRowAndInTotal)
{
    FrameReport report;
    // frame, update, draw, swap in ns (odd values, so nothing divides evenly).
    report.addFrame(scene(1), 33'333'337, 1'000'003, 20'000'011, 5'000'017);
    report.addFrame(scene(1), 41'000'001, 2'500'007, 30'000'001, 4'000'003);
    report.addFrame(scene(2), 17'000'009, 0, 15'999'999, 1'000'010);   // no remainder at all
    report.addFrame(scene(2), 19'999'999, 3'333'333, 3'333'333, 3'333'333);

    const std::vector<FrameRowStats> rows = report.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NEAR(rows[0].partMs[FRAME_UPDATE], (1'000'003 + 2'500'007) / 2.0 / MS, EXACT_EPS);
    EXPECT_NEAR(rows[0].partMs[FRAME_DRAW], (20'000'011 + 30'000'001) / 2.0 / MS, EXACT_EPS);
    EXPECT_NEAR(rows[0].partMs[FRAME_SWAP], (5'000'017 + 4'000'003) / 2.0 / MS, EXACT_EPS);
    EXPECT_NEAR(rows[0].otherMs, (33'333'337 - 26'000'031 + 41'000'001 - 36'500'011) / 2.0 / MS, EXACT_EPS);
    double parts = 0.0;
    for (const FrameRowStats& s : { rows[0], rows[1], report.total() }) {
        SCOPED_TRACE(s.label);
        EXPECT_NEAR(s.partMs[FRAME_UPDATE] + s.partMs[FRAME_DRAW] + s.partMs[FRAME_SWAP] + s.otherMs, s.meanMs,
                    EXACT_EPS);
        EXPECT_NEAR(s.meanMs * s.frames, s.totalMs, EXACT_EPS);
        if (s.label != "total")
            parts += s.partMs[FRAME_DRAW] * s.frames;
    }
    EXPECT_NEAR(report.total().partMs[FRAME_DRAW] * 4, parts, EXACT_EPS);
    EXPECT_NEAR(rows[1].otherMs, (0 + 19'999'999 - 9'999'999) / 2.0 / MS, EXACT_EPS);
}

TEST(FrameReport, RowsForExactlyTheScenesThatHadFramesInTheOrderPlayed)
{
    FrameReport report;
    EXPECT_TRUE(report.rows().empty());
    EXPECT_EQ(report.total().frames, 0);
    EXPECT_EQ(report.total().rate, 0.0);

    // Scene 5, then 6, then the free camera after 6, then 5 again (the tool's
    // scrubbing can go back): 5 keeps its first place.
    for (const FrameRowKey key : { scene(5), scene(5), scene(6), scene(6, true), scene(5), scene(6, true) })
        report.addFrame(key, 10 * MS, 0, 0, 0);
    const std::vector<FrameRowStats> rows = report.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].label, "5");
    EXPECT_EQ(rows[0].frames, 3);
    EXPECT_EQ(rows[1].label, "6");
    EXPECT_EQ(rows[1].frames, 1);
    EXPECT_EQ(rows[2].label, "6 free");
    EXPECT_EQ(rows[2].frames, 2);
    EXPECT_EQ(report.total().label, "total");
    EXPECT_EQ(report.total().frames, 6);
    EXPECT_EQ(report.frameCount(), 6);
}

TEST(FrameReport, TheFrameLoopSideTimesFromOneStartToTheNext)
{
    FrameReport report;
    report.addPart(FRAME_DRAW, 5 * MS);   // no open frame: ignored
    report.endFrame(1 * MS);              // nothing open: no frame
    EXPECT_EQ(report.frameCount(), 0);

    report.beginFrame(100 * MS, scene(3));
    report.addPart(FRAME_DRAW, 10 * MS);
    report.addPart(FRAME_DRAW, 5 * MS);   // two draw stretches in one frame add up
    report.addPart(FRAME_UPDATE, 2 * MS);
    report.beginFrame(130 * MS, scene(3));   // ends the first at 130
    report.addPart(FRAME_SWAP, 4 * MS);
    report.beginFrame(150 * MS, scene(3, true));
    report.dropFrame();                      // the loop ended without drawing it
    report.endFrame(400 * MS);               // nothing open any more

    const std::vector<FrameRowStats> rows = report.rows();
    ASSERT_EQ(rows.size(), 1u) << "the dropped frame leaves no row";
    EXPECT_EQ(rows[0].frames, 2);
    EXPECT_NEAR(rows[0].totalMs, 50.0, EXACT_EPS);
    EXPECT_NEAR(rows[0].worstMs, 30.0, EXACT_EPS);
    EXPECT_NEAR(rows[0].partMs[FRAME_DRAW], 7.5, EXACT_EPS);
    EXPECT_NEAR(rows[0].partMs[FRAME_UPDATE], 1.0, EXACT_EPS);
    EXPECT_NEAR(rows[0].partMs[FRAME_SWAP], 2.0, EXACT_EPS);
    EXPECT_NEAR(rows[0].otherMs, (30 - 17 + 20 - 4) / 2.0, EXACT_EPS);

    report.beginFrame(500 * MS, scene(4));
    report.endFrame(512 * MS);
    EXPECT_EQ(report.rows().back().label, "4");
    EXPECT_NEAR(report.rows().back().worstMs, 12.0, EXACT_EPS);
}

TEST(FrameReport, TheTablePrintsEveryRowAndTheTotalAsTheStatisticsSay)
{
    FrameReport report;
    report.addFrame(scene(9), 40 * MS, 10 * MS, 20 * MS, 5 * MS);
    report.addFrame(scene(9), 50'123'456, 12 * MS, 25 * MS, 6 * MS);
    report.addFrame(scene(10), 30 * MS, 1 * MS, 2 * MS, 3 * MS);
    report.addFrame(scene(0, true), 16 * MS, 4 * MS, 8 * MS, 2 * MS);

    const std::string text = report.format("vortalune", "swap");
    EXPECT_EQ(text.back(), '\n');
    std::string header;
    const std::vector<TableRow> rows = parseTable(text, "vortalune", header);
    ASSERT_EQ(rows.size(), 4u) << text;
    for (const char* column : { "scene", "frames", "fps", "median", "p99", "worst", "mean", "update", "draw", "swap",
                                "other" })
        EXPECT_NE(header.find(column), std::string::npos) << column;

    std::vector<FrameRowStats> expected = report.rows();
    expected.push_back(report.total());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].label);
        EXPECT_EQ(rows[i].label, expected[i].label);
        EXPECT_EQ(rows[i].frames, expected[i].frames);
        EXPECT_NEAR(rows[i].fps, expected[i].rate, PRINTED_EPS);
        EXPECT_NEAR(rows[i].median, expected[i].medianMs, PRINTED_EPS);
        EXPECT_NEAR(rows[i].p99, expected[i].p99Ms, PRINTED_EPS);
        EXPECT_NEAR(rows[i].worst, expected[i].worstMs, PRINTED_EPS);
        EXPECT_NEAR(rows[i].mean, expected[i].meanMs, PRINTED_EPS);
        EXPECT_NEAR(rows[i].update, expected[i].partMs[FRAME_UPDATE], PRINTED_EPS);
        EXPECT_NEAR(rows[i].draw, expected[i].partMs[FRAME_DRAW], PRINTED_EPS);
        EXPECT_NEAR(rows[i].swap, expected[i].partMs[FRAME_SWAP], PRINTED_EPS);
        EXPECT_NEAR(rows[i].other, expected[i].otherMs, PRINTED_EPS);
    }
    expectTableAddsUp(rows);

    // The capture names its third part after what it does.
    const std::string capture = report.format("vortalune-capture", "write");
    EXPECT_NE(capture.find("update + draw + write + other = mean"), std::string::npos) << capture;
    EXPECT_EQ(parseTable(capture, "vortalune-capture", header).size(), 4u);
    EXPECT_NE(header.find("write"), std::string::npos);

    // Without frames the table still closes with an empty total.
    const std::vector<TableRow> empty = parseTable(FrameReport().format("vortalune", "swap"), "vortalune", header);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].label, "total");
    EXPECT_EQ(empty[0].frames, 0);
}

// --- The programs' reports, end to end ----------------------------------------------------

namespace {

// A working folder with the committed flights and a generated track of
// `seconds` (the images are left out: each missing one is one stderr line).
void prepareFolder(const std::string& dir, double seconds)
{
    fs::create_directories(dir + "/data");
    const fs::path source = fs::path(VORTALUNE_SOURCE_DIR) / "data";
    for (const auto& entry : fs::directory_iterator(source)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".txt" || ext == ".tms")
            fs::copy_file(entry.path(), fs::path(dir) / "data" / entry.path().filename());
    }
    std::vector<int16_t> pcm(size_t(seconds * 44100) * 2);
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(1500.0 * std::sin(double(i) * 0.03));
    std::string message;
    ASSERT_TRUE(song::writeOggVorbis(dir + "/data/vortalune.ogg", pcm.data(), pcm.size() / 2, 2, 44100, 0.4f,
                                     message))
        << message;
}

// Escape to the program's own window (found by its process: tests run in
// parallel on one display), twice: the first stops a playing scene, the
// second quits the free camera. A program that quit on the first is gone.
void sendTwoEscapes(int pid)
{
    for (int i = 0; i < 2; ++i) {
        sendKeyToProgram(pid, "Escape");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

} // namespace

TEST(FrameReportEndToEnd, TheToolOnSceneThreeReportsItsFramesAtExit)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{ { "--timings", "3" }, { "3", "--timings" } }) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        TempDir dir;
        prepareFolder(dir.path(), 40.0);   // scene 3 lasts 40 / 11 s: still playing at the first Escape
        ASSERT_FALSE(HasFatalFailure());
        ProcessOptions options;
        options.workDir = dir.path();
        options.env = { "SDL_AUDIODRIVER=dummy" };
        options.delaySeconds = 1.5;
        options.timeoutSeconds = 90.0;
        options.whileRunning = sendTwoEscapes;
        const ProcessResult r = runProcessOnDisplay({ VORTALUNE_BINARY, args[0], args[1] }, options);
        ASSERT_FALSE(r.timedOut) << r.errorOutput;
        EXPECT_EQ(r.exitCode, 0) << r.errorOutput;

        std::string header;
        const std::vector<TableRow> rows = parseTable(r.errorOutput, "vortalune", header);
        ASSERT_GE(rows.size(), 2u) << r.errorOutput;
        EXPECT_EQ(rows[0].label, "3") << "the first frame plays scene 3";
        EXPECT_GT(rows[0].frames, 0);
        for (size_t i = 1; i + 1 < rows.size(); ++i)
            EXPECT_EQ(rows[i].label, "3 free") << "after scene 3 only its free camera runs";
        EXPECT_NE(header.find("swap"), std::string::npos) << header;
        expectTableAddsUp(rows);
        EXPECT_EQ(r.errorOutput.find("frame times in ms"), r.errorOutput.rfind("frame times in ms"))
            << "one table";
    }
}

TEST(FrameReportEndToEnd, TheShowReportsItsScenesInTheOrderPlayedAndStillEndsByItself)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    prepareFolder(dir.path(), 3.0);
    ASSERT_FALSE(HasFatalFailure());
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 120.0;
    const ProcessResult r = runProcessOnDisplay({ VORTALUNE_BINARY, "--timings" }, options);
    ASSERT_FALSE(r.timedOut) << "--timings alone is the show, which ends by itself";
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;

    std::string header;
    const std::vector<TableRow> rows = parseTable(r.errorOutput, "vortalune", header);
    ASSERT_GE(rows.size(), 2u) << r.errorOutput;
    EXPECT_EQ(rows[0].label, "1");
    // Scenes only go forwards in the show, and it has no free camera; a scene
    // shorter than a frame on a slow machine may have no row.
    int previous = 0;
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const int sceneNumber = std::atoi(rows[i].label.c_str());
        EXPECT_EQ(rows[i].label, std::to_string(sceneNumber)) << "no free camera in the show";
        EXPECT_GT(sceneNumber, previous);
        EXPECT_LE(sceneNumber, 10);
        previous = sceneNumber;
    }
    expectTableAddsUp(rows);
}

TEST(FrameReportEndToEnd, TheCaptureReportsTheFramesItWrote)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    prepareFolder(dir.path(), 30.0);
    ASSERT_FALSE(HasFatalFailure());
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 240.0;
    // Scene 2 into the next: every second frame, so the report's frames also
    // carry the updates of the frames skipped between them.
    const ProcessResult r = runProcessOnDisplay({ VORTALUNE_CAPTURE_BINARY, "--from", "0.12", "--to", "0.24", "--fps",
                                             "10", "--every", "2", "--size", "160x120", "--out", "out", "--timings" },
                                           options);
    ASSERT_FALSE(r.timedOut) << r.errorOutput;
    ASSERT_EQ(r.exitCode, 0) << r.errorOutput;

    // What it wrote: frames.txt names each PNG with the scene it shows.
    std::map<std::string, long> perScene;
    std::vector<std::string> order;
    std::ifstream manifest(dir.path() + "/out/frames.txt");
    std::string file, sceneText;
    long frame = 0;
    double fraction = 0.0;
    long written = 0;
    while (manifest >> file >> frame >> fraction >> sceneText) {
        EXPECT_TRUE(fs::exists(dir.path() + "/out/" + file)) << file;
        if (perScene[sceneText]++ == 0)
            order.push_back(sceneText);
        ++written;
    }
    ASSERT_GT(written, 0) << r.errorOutput;
    EXPECT_NE(r.errorOutput.find("vortalune-capture: " + std::to_string(written) + " frames"), std::string::npos)
        << r.errorOutput;

    std::string header;
    const std::vector<TableRow> rows = parseTable(r.errorOutput, "vortalune-capture", header);
    ASSERT_EQ(rows.size(), order.size() + 1) << r.errorOutput;
    EXPECT_EQ(rows.back().frames, written);
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(rows[i].label, order[i]);
        EXPECT_EQ(rows[i].frames, perScene[order[i]]) << order[i];
    }
    EXPECT_NE(header.find("write"), std::string::npos) << header;
    expectTableAddsUp(rows);
}
