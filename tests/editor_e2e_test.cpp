// tests/editor_e2e_test.cpp: the path editor driven through the real tool
// with xdotool under Xvfb: key edits with undo and redo checked in both files
// after every step, screenshots equal to what the window shows, the wireframe
// and flight overlay toggles, and a scrubbed frame equal to the capture
// program's frame at the same time.
#include "editor/Editor.h"
#include "editor/Timeline.h"
#include "path/CameraPath.h"
#include "path/KeysFile.h"
#include "path/PathPlayer.h"
#include "tools/song/Song.h"

#include "PngFixture.h"
#include "SendPointer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::function<void(int)> driver;
void runDriver(int pid) { driver(pid); }

std::string windowOf(int pid)
{
    const std::string out = xdotool("search --sync --all --pid " + std::to_string(pid) + " --name '^Vortalune$'");
    return out.substr(0, out.find('\n'));
}

void pause(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Keys one at a time, each given time to act (a frame at 800 x 600 in software GL).
void keys(const std::string& window, const std::string& names)
{
    std::istringstream list(names);
    std::string name;
    while (list >> name) {
        xdotool("key --window " + window + " " + name);
        pause(0.35);
    }
}

void hold(const std::string& window, const std::string& name, double seconds)
{
    xdotool("keydown --window " + window + " " + name);
    pause(seconds);
    xdotool("keyup --window " + window + " " + name);
    pause(0.2);
}

void prepareFolder(const TempDir& dir)
{
    fs::create_directories(fs::path(dir.path()) / "data");
    const fs::path source = fs::path(VORTALUNE_SOURCE_DIR) / "data";
    for (const auto& entry : fs::directory_iterator(source)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".txt" || ext == ".tms")
            fs::copy_file(entry.path(), fs::path(dir.path()) / "data" / entry.path().filename());
    }
    fs::copy_file(fs::path(VORTALUNE_SOURCE_DIR) / "settings.ini", fs::path(dir.path()) / "settings.ini");
}

ProcessResult runTool(const TempDir& dir, const char* scene, std::function<void(const std::string&)> steps)
{
    driver = [steps](int pid) {
        // The display's one pointer on the windows' centre (every tool's window
        // is at the top left): a window another test opens or closes over this
        // one sends it an enter event there, and at the centre that moves its
        // free camera's cursor by nothing, so the view never turns by itself.
        xdotool("mousemove 400 300");
        pause(1.0);
        const std::string window = windowOf(pid);
        steps(window);
        keys(window, "Escape");
    };
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.delaySeconds = 0.5;
    options.timeoutSeconds = 120.0;
    options.whileRunning = runDriver;
    options.captureOutput = true;
    return runProcess({ VORTALUNE_BINARY, scene }, options);
}

std::vector<Float3> keysIn(const fs::path& file)
{
    CameraPath path;
    loadPathFile(path, file.string());
    return path.points;
}

bool same(const Float3& a, const Float3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// The flight in both files, as lists of (position, rotation).
struct Flight {
    std::vector<Float3> pos, rot;
};

Flight flightIn(const TempDir& dir, int scene)
{
    const std::string folder = dir.path() + "/data";
    return Flight{ keysIn(positionPathName(folder, scene)), keysIn(rotationPathName(folder, scene)) };
}

// "a b c" for the keys of `f` picked by index from `reference` flights.
std::string describe(const Flight& f)
{
    std::string text = std::to_string(f.pos.size()) + "/" + std::to_string(f.rot.size()) + " keys";
    return text;
}

bool sameFlight(const Flight& a, const Flight& b)
{
    if (a.pos.size() != b.pos.size() || a.rot.size() != b.rot.size())
        return false;
    for (size_t i = 0; i < a.pos.size(); ++i)
        if (!same(a.pos[i], b.pos[i]))
            return false;
    for (size_t i = 0; i < a.rot.size(); ++i)
        if (!same(a.rot[i], b.rot[i]))
            return false;
    return true;
}

Flight pick(const std::vector<std::pair<Float3, Float3>>& keys, std::initializer_list<int> order)
{
    Flight f;
    for (int i : order) {
        f.pos.push_back(keys[size_t(i)].first);
        f.rot.push_back(keys[size_t(i)].second);
    }
    return f;
}

// The window's pixels as RGB rows, top first, read from the X server.
struct Grab {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

uint32_t be32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | uint32_t(b[at + 3]);
}

Grab grabWindow(const std::string& window, const std::string& file)
{
    Grab g;
    runShell("xwd -silent -id " + window + " -out " + file);
    const std::vector<uint8_t> b = readFileBytes(file);
    if (b.size() < 100)
        return g;
    const uint32_t headerSize = be32(b, 0), width = be32(b, 16), height = be32(b, 20);
    const uint32_t byteOrder = be32(b, 28), bitsPerPixel = be32(b, 44), bytesPerLine = be32(b, 48);
    const uint32_t colours = be32(b, 76);
    const size_t data = size_t(headerSize) + size_t(colours) * 12;
    if (bitsPerPixel != 32 || data + size_t(bytesPerLine) * height > b.size())
        return g;
    g.width = int(width);
    g.height = int(height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const size_t p = data + size_t(y) * bytesPerLine + size_t(x) * 4;
            // 0x00RRGGBB in the file's byte order.
            const uint32_t v = byteOrder ? be32(b, p)
                                         : uint32_t(b[p]) | uint32_t(b[p + 1]) << 8 | uint32_t(b[p + 2]) << 16 |
                                               uint32_t(b[p + 3]) << 24;
            g.rgb.push_back(uint8_t(v >> 16));
            g.rgb.push_back(uint8_t(v >> 8));
            g.rgb.push_back(uint8_t(v));
        }
    return g;
}

size_t differingPixels(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size())
        return SIZE_MAX;
    size_t n = 0;
    for (size_t i = 0; i + 2 < a.size(); i += 3)
        n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    return n;
}

// Thirty seconds of a quiet tone stand in for the demo's track.
void writeTrack(const TempDir& dir)
{
    std::vector<int16_t> pcm(size_t(30 * 44100) * 2);
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(3000.0 * std::sin(double(i) * 0.0627));
    std::string error;
    ASSERT_TRUE(song::writeOggVorbis(dir.path() + "/data/vortalune.ogg", pcm.data(), pcm.size() / 2, 2, 44100, 0.4f,
                                     error)) << error;
}

// The last scrub the tool printed ("frame N at track fraction F"), and its
// screenshot shots/vortalune-0001.png against the capture program's frame N
// at 800 x 600: the same pixels.
// The scrub the screenshot was taken at: the last one printed, or the
// `nth` (from 0) when later scrubs followed it.
void expectScrubbedFrameIsCaptured(const TempDir& dir, const std::string& output, long& frame, int nth = -1)
{
    const std::regex at("frame ([0-9]+) at track fraction ([0-9.]+)");
    std::smatch last;
    int seen = 0;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), at); it != std::sregex_iterator(); ++it)
        if (nth < 0 || seen++ <= nth)
            last = *it;
    ASSERT_FALSE(last.empty()) << output;
    frame = std::stol(last[1].str());
    const PngInfo tool = readPng(dir.path() + "/shots/vortalune-0001.png");
    ASSERT_TRUE(tool.ok) << output;

    const std::string out = dir.path() + "/capture";
    char range[128];
    std::snprintf(range, sizeof range, "%.9f", double(frame + 1) / (60.0 * 30.0));
    ProcessOptions options;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.timeoutSeconds = 120.0;
    const ProcessResult c = runProcess({ VORTALUNE_CAPTURE_BINARY, "--fps", "60", "--size", "800x600", "--from",
                                         last[2].str(), "--to", range, "--out", out },
                                       options);
    ASSERT_EQ(c.exitCode, 0) << c.errorOutput;
    char name[64];
    std::snprintf(name, sizeof name, "/frame_%06ld.png", frame);
    const PngInfo captured = readPng(out + name);
    ASSERT_TRUE(captured.ok) << out + name << "\n" << c.errorOutput;
    ASSERT_EQ(captured.width, tool.width);
    ASSERT_EQ(captured.height, tool.height);
    EXPECT_EQ(differingPixels(captured.rgb, tool.rgb), 0u) << "frame " << frame;
}

void requireDisplay()
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
}

} // namespace

TEST(PathEditorTool, RecordSelectReplaceDeleteUndoRedoWithBothFilesCheckedAfterEveryStep)
{
    requireDisplay();
    TempDir dir;
    prepareFolder(dir);
    std::vector<std::pair<Float3, Float3>> recorded;   // keys 0..3, then the replacement as 4
    std::vector<std::string> failures;
    auto expect = [&](bool ok, const std::string& what, const Flight& f) {
        if (!ok)
            failures.push_back(what + ": the files hold " + describe(f));
    };

    const ProcessResult r = runTool(dir, "6", [&](const std::string& w) {
        keys(w, "c");
        for (int i = 0; i < 4; ++i) {
            hold(w, "w", 0.3);
            hold(w, "Left", 0.15);
            keys(w, "space");
        }
        Flight f = flightIn(dir, 6);
        expect(f.pos.size() == 4 && f.rot.size() == 4, "four keys recorded", f);
        if (f.pos.size() != 4 || f.rot.size() != 4)
            return;
        for (int i = 0; i < 4; ++i)
            recorded.emplace_back(f.pos[size_t(i)], f.rot[size_t(i)]);
        expect(!same(recorded[0].first, recorded[3].first), "the camera moved between the keys", f);

        keys(w, "period period");   // the second key; the camera jumps to it
        hold(w, "w", 0.3);
        hold(w, "Right", 0.15);
        keys(w, "r");
        f = flightIn(dir, 6);
        if (f.pos.size() == 4 && f.rot.size() == 4)
            recorded.emplace_back(f.pos[1], f.rot[1]);
        expect(recorded.size() == 5 && !same(recorded[4].first, recorded[1].first) &&
                   !same(recorded[4].second, recorded[1].second) && sameFlight(f, pick(recorded, { 0, 4, 2, 3 })),
               "the second key replaced", f);
        if (recorded.size() != 5)
            return;

        keys(w, "period Delete");   // the third key
        expect(sameFlight(flightIn(dir, 6), pick(recorded, { 0, 4, 3 })), "the third key deleted", flightIn(dir, 6));
        keys(w, "u");
        expect(sameFlight(flightIn(dir, 6), pick(recorded, { 0, 4, 2, 3 })), "first undo", flightIn(dir, 6));
        keys(w, "u");
        expect(sameFlight(flightIn(dir, 6), pick(recorded, { 0, 1, 2, 3 })), "second undo", flightIn(dir, 6));
        keys(w, "y");
        expect(sameFlight(flightIn(dir, 6), pick(recorded, { 0, 4, 2, 3 })), "redo", flightIn(dir, 6));
    });
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    ASSERT_EQ(recorded.size(), 5u) << r.output << r.errorOutput;
    for (const std::string& f : failures)
        ADD_FAILURE() << f;
    EXPECT_NE(r.output.find("Scene 6: key 2 replaced (4 keys, saved)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Scene 6: redone"), std::string::npos) << r.output;
}

TEST(PathEditorTool, ScreenshotsEqualTheWindowAndTheWireframeAndOverlayTogglesComeBack)
{
    requireDisplay();
    TempDir dir;
    prepareFolder(dir);
    writeTrack(dir);
    Grab shown;
    const ProcessResult r = runTool(dir, "6", [&](const std::string& w) {
        // The scene held at its third beat, the camera backed off and up from
        // the flight's first key so the flight is in view, the status line
        // (with its changing frame times) off: every frame is the same.
        keys(w, "Escape l Home bracketright bracketright period");
        hold(w, "s", 1.5);
        hold(w, "f", 1.0);
        pause(0.5);
        keys(w, "x");
        // The grab reads the screen: the window goes on top of other tests' first.
        // Now and then xwd cannot read the window, or another test's window
        // opens over it, while other tests' windows come and go; the frame
        // stands still, so it may look again.
        const std::string shot = dir.path() + "/shots/vortalune-0001.png";
        for (int wait = 0; wait < 50 && !fs::exists(shot); ++wait)
            pause(0.1);
        const PngInfo written = readPng(shot);
        for (int attempt = 0; attempt < 4; ++attempt) {
            xdotool("windowraise " + w);
            pause(0.3);
            shown = grabWindow(w, dir.path() + "/window.xwd");
            if (shown.width > 0 && (!written.ok || differingPixels(shown.rgb, written.rgb) == 0))
                break;
        }
        keys(w, "e x e x o x o x");
    });
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;

    std::vector<PngInfo> shots;
    for (int i = 1; i <= 5; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/shots/vortalune-%04d.png", i);
        shots.push_back(readPng(dir.path() + name));
        ASSERT_TRUE(shots.back().ok) << name << "\n" << r.output << r.errorOutput;
        EXPECT_NE(r.output.find(std::string(name).substr(1)), std::string::npos) << "the message names the file";
    }
    ASSERT_EQ(shown.width, int(shots[0].width));
    ASSERT_EQ(shown.height, int(shots[0].height));
    EXPECT_EQ(differingPixels(shown.rgb, shots[0].rgb), 0u) << "the screenshot is the frame the window shows";

    EXPECT_GT(differingPixels(shots[0].rgb, shots[1].rgb), 500u) << "wireframe on";
    EXPECT_EQ(differingPixels(shots[0].rgb, shots[2].rgb), 0u) << "wireframe off again";
    EXPECT_GT(differingPixels(shots[0].rgb, shots[3].rgb), 50u) << "flight overlay off";
    EXPECT_EQ(differingPixels(shots[0].rgb, shots[4].rgb), 0u) << "flight overlay on again";
}

TEST(PathEditorTool, AScrubbedFrameIsTheCaptureProgramsFrameAtTheSameTime)
{
    requireDisplay();
    TempDir dir;
    prepareFolder(dir);
    writeTrack(dir);

    const ProcessResult r = runTool(dir, "6", [&](const std::string& w) {
        // Out of the scene's playback, flight overlay, status line and strip off,
        // camera on the flight, then to the scene's start and three beats on.
        keys(w, "Escape l o t k Home bracketright bracketright bracketright");
        pause(0.5);
        keys(w, "x");
    });
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    long frame = -1;
    expectScrubbedFrameIsCaptured(dir, r.output, frame);
}

TEST(PathEditorTool, AClickInTheStripScrubsToTheNearestFrameAndAClickOnAKeyMarkerSelectsIt)
{
    requireDisplay();
    TempDir dir;
    prepareFolder(dir);
    writeTrack(dir);

    // The strip over scene 6 as the tool lays it out at 800 x 600: the scene's
    // first frame at the left edge, its last at the right.
    PathPlayer player;
    testing::internal::CaptureStderr();
    constructPathPlayer(player, (dir.path() + "/data").c_str());
    testing::internal::GetCapturedStderr();
    const SceneFrames f = sceneFrames(6, player.paths.pathDurations, 30.0);
    ASSERT_LT(f.first, f.last);
    const TimelineSpan span{ f.clock.fraction(f.first), f.clock.fraction(f.last), 800 };
    const TimelineLayout l = timelineLayout(800);
    constexpr int CLICK_X = 300;
    const double wanted = span.first + (span.last - span.first) * (CLICK_X + 0.5) / 800.0;
    long expected = f.clock.firstAtOrAfter(wanted);
    if (wanted - f.clock.fraction(expected - 1) < f.clock.fraction(expected) - wanted)
        --expected;
    const CameraPath& flight = player.paths.pairs[6].position;
    ASSERT_GE(flight.points.size(), 2u);
    const int keyX = int(spanX(span, keyFraction(flight, 1, span.first, player.paths.pathDurations[6])));

    // The free camera's cursor moves by each motion's offset from the window's
    // centre (400, 300), to which the pointer then goes back; it starts at the
    // centre. Rows count from the bottom (the cursor's y is the row + 1).
    int cursorX = 400, cursorY = 300;
    auto moveCursor = [&](const std::string& w, int x, int row) {
        sendPointer(w, 400 + (x - cursorX), 300 - (row + 1 - cursorY), false);
        cursorX = x;
        cursorY = row + 1;
        pause(0.4);
    };
    auto clickAt = [&](const std::string& w, int x, int row) {
        moveCursor(w, x, row);
        sendPointer(w, x, 599 - row, true);
        pause(0.6);
    };
    const ProcessResult r = runTool(dir, "6", [&](const std::string& w) {
        keys(w, "Escape l o k");
        clickAt(w, CLICK_X, (l.statusTop + l.waveTop) / 2);   // in the wave
        moveCursor(w, 400, 299);                               // back to the centre: the view does not turn
        keys(w, "t");                                          // the strip off for the screenshot
        pause(0.3);
        keys(w, "x t");
        clickAt(w, keyX, (l.waveTop + l.height) / 2);         // on the second key's marker
    });
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    long frame = -1;
    expectScrubbedFrameIsCaptured(dir, r.output, frame, 0);
    EXPECT_EQ(frame, expected) << "the column's frame";
    EXPECT_NE(r.output.find("Scene 6: key 2 of " + std::to_string(flight.points.size()) + " selected"),
              std::string::npos)
        << r.output;
    // Selecting the key took the scene to the key's time.
    const long keyFrame = f.clock.firstAtOrAfter(keyFraction(flight, 1, span.first, player.paths.pathDurations[6]));
    EXPECT_NE(r.output.find("Scene 6: frame " + std::to_string(keyFrame) + " at track fraction"), std::string::npos)
        << r.output;
}

// Space at a scrub time records the camera's pose as a key at that time: the
// keys file holds it there, and the flight the show reads passes through it.
TEST(PathEditorTool, AKeyRecordedAtAScrubTimeLandsAtThatTimeAndTheFlightPassesThroughIt)
{
    requireDisplay();
    TempDir dir;
    prepareFolder(dir);
    writeTrack(dir);
    const ProcessResult r = runTool(dir, "6", [&](const std::string& w) {
        keys(w, "Escape Home bracketright bracketright bracketright");
        hold(w, "w", 0.3);   // the camera leaves the flight
        keys(w, "space");
    });
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    const std::regex scrub("scene time ([0-9.]+) s");
    std::smatch last;
    for (auto it = std::sregex_iterator(r.output.begin(), r.output.end(), scrub); it != std::sregex_iterator(); ++it)
        last = *it;
    ASSERT_FALSE(last.empty()) << r.output;
    const double time = std::stod(last[1].str());
    EXPECT_NE(r.output.find("Scene 6: key "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" recorded at " + last[1].str() + " s"), std::string::npos) << r.output;

    std::vector<TimedKey> keys;
    PathReadReport report;
    ASSERT_TRUE(loadKeysFile(dir.path() + "/data/keys_path6.txt", keys, report)) << report.problem;
    ASSERT_TRUE(report.whole) << report.problem;
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const TimedKey& k) { return std::fabs(k.time - time) < 1e-3; });
    ASSERT_NE(key, keys.end()) << "a key at " << time << " s";
    PathPlayer player;
    testing::internal::CaptureStderr();
    constructPathPlayer(player, (dir.path() + "/data").c_str());
    testing::internal::GetCapturedStderr();
    const double sceneSeconds = player.paths.pathDurations[6] * 30.0;
    Float3 position, angles;
    samplePair(player.paths.pairs[6], float(key->time / sceneSeconds), position, angles);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(position[c], key->position[size_t(c)], 0.01);
        EXPECT_NEAR(angles[c], key->angles[size_t(c)], 0.01);
    }
}
