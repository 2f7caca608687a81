// tests/authoring_e2e_test.cpp: the authoring tool driven through the real
// program with xdotool: recording, clearing, beat marking, quitting.
#include "path/PairStore.h"
#include "tools/song/Song.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace fs = std::filesystem;

namespace {

// Key names for xdotool, sent to the program's own window one at a time;
// "sleep:N" waits N seconds; "ready" waits until the tool's editor has started
// (keys sent while the scene still plays would stop the scene instead). One
// list per thread, so two tools can be driven at once.
thread_local std::string pendingKeys;
thread_local std::string pendingErrorFile;   // the tool's stderr, as it runs

// The editor starts by reading the beat map, which these folders lack: its
// line says the editor is up.
bool editorStarted(const std::string& errorFile)
{
    return readFile(errorFile).find("The beat map data/vortalune.beats could not be read") != std::string::npos;
}

void sendPendingKeys(int pid)
{
    std::istringstream keys(pendingKeys);
    std::string key;
    while (keys >> key) {
        if (key == "ready") {
            for (int i = 0; i < 600 && !editorStarted(pendingErrorFile); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        if (key.rfind("sleep:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(key.c_str() + 6)));
            continue;
        }
        if (key.rfind("hold:", 0) == 0) {   // "hold:w": the key held down for half a second
            const std::string window = "search --sync --all --pid " + std::to_string(pid) + " --name '^Vortalune$' ";
            xdotool(window + "keydown --window %1 " + key.substr(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            xdotool(window + "keyup --window %1 " + key.substr(5));
            continue;
        }
        sendKeyToProgram(pid, key);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

int leadingCount(const std::string& text)
{
    return std::atoi(text.c_str());
}

// A working folder with the committed camera paths and a settings file; no
// music, so the chosen scene ends at once and the free camera takes over.
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

size_t countBeats(const std::string& errors)
{
    size_t beats = 0;
    for (size_t at = errors.find("Beat at: "); at != std::string::npos; at = errors.find("Beat at: ", at + 1))
        ++beats;
    return beats;
}

ProcessResult runTool(const TempDir& dir, const std::string& keys, const char* scene)
{
    static std::atomic<int> runs{ 0 };
    pendingKeys = keys;
    pendingErrorFile = dir.path() + "/stderr-" + std::to_string(++runs) + ".txt";
    ProcessOptions options;
    options.errorFile = pendingErrorFile;
    options.workDir = dir.path();
    options.env = { "SDL_AUDIODRIVER=dummy" };
    options.delaySeconds = 1.0;
    options.timeoutSeconds = 90.0;
    options.captureOutput = true;
    options.whileRunning = sendPendingKeys;
    return runProcess({ VORTALUNE_BINARY, scene }, options);
}

} // namespace

TEST(AuthoringTool, SpaceAppendsKeysAndClearThenSpaceLeavesOne)
{
    ASSERT_TRUE(haveDisplay()) << "run the tests under Xvfb (scripts/test.sh does)";
    TempDir dir;
    prepareFolder(dir);
    const fs::path pos = fs::path(dir.path()) / "data" / "pos_path3.txt";
    const fs::path rot = fs::path(dir.path()) / "data" / "rot_path3.txt";
    const std::string oldPos = readFile(pos);
    const int oldCount = leadingCount(oldPos);
    ASSERT_GT(oldCount, 0);

    const ProcessResult first = runTool(dir, "ready space space Escape", "3");
    ASSERT_FALSE(first.timedOut) << "Escape in the free camera must quit";
    EXPECT_EQ(first.exitCode, 0) << first.errorOutput;
    const std::string newPos = readFile(pos);
    EXPECT_EQ(leadingCount(newPos), oldCount + 2);
    EXPECT_EQ(leadingCount(readFile(rot)), oldCount + 2);
    // The old keys are still there, line for line, after the count.
    EXPECT_EQ(newPos.substr(newPos.find('\n'), oldPos.size() - oldPos.find('\n')),
              oldPos.substr(oldPos.find('\n')));
    EXPECT_NE(newPos.find('.'), std::string::npos);

    const ProcessResult second = runTool(dir, "ready c space b Escape", "3");
    ASSERT_FALSE(second.timedOut);
    EXPECT_EQ(second.exitCode, 0) << second.errorOutput;
    EXPECT_EQ(leadingCount(readFile(pos)), 1);
    EXPECT_EQ(leadingCount(readFile(rot)), 1);
    EXPECT_EQ(countBeats(second.errorOutput), 1u) << second.errorOutput;

    // The other scenes' files are untouched.
    EXPECT_EQ(readFile(fs::path(dir.path()) / "data" / "pos_path4.txt"),
              readFile(fs::path(VORTALUNE_SOURCE_DIR) / "data" / "pos_path4.txt"));
}


TEST(AuthoringTool, EscapeDuringPlaybackStopsTheSceneAndASecondOneQuits)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    prepareFolder(dir);
    // A 40 s track: scene 5 then lasts 40 / 11 s, long enough to be playing
    // when the keys arrive.
    std::vector<int16_t> pcm(size_t(40 * 44100) * 2);
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(1500.0 * std::sin(double(i) * 0.03));
    std::string message;
    ASSERT_TRUE(song::writeOggVorbis(dir.path() + "/data/vortalune.ogg", pcm.data(), pcm.size() / 2, 2, 44100,
                                     0.4f, message)) << message;

    // During playback `b` is ignored; after the first Escape the free camera
    // hears it; the second Escape quits.
    const ProcessResult r = runTool(dir, "b Escape b Escape", "5");
    ASSERT_FALSE(r.timedOut) << r.errorOutput;
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    EXPECT_EQ(countBeats(r.errorOutput), 1u) << r.errorOutput;
}

// --- Keys are never lost, end to end ---------------------------------------------------

TEST(AuthoringToolKeepsKeys, ATypoInTheFlightIsReportedAndBackedUpBeforeSpaceSavesOverIt)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    prepareFolder(dir);
    const fs::path pos = fs::path(dir.path()) / "data" / "pos_path4.txt";
    std::string original = readFile(pos);
    const int count = leadingCount(original);
    ASSERT_GE(count, 6);
    // Line 6 holds the fifth key; its first value becomes "abc".
    size_t at = 0;
    for (int line = 1; line < 6; ++line)
        at = original.find('\n', at) + 1;
    original.replace(at, original.find(' ', at) - at, "abc");
    std::ofstream(pos, std::ios::binary) << original;

    const ProcessResult r = runTool(dir, "ready space Escape", "4");
    ASSERT_FALSE(r.timedOut) << r.errorOutput;
    EXPECT_EQ(r.exitCode, 0) << r.errorOutput;
    EXPECT_NE(r.errorOutput.find("data/pos_path4.txt: line 6: 'abc' is not a number; 4 of " + std::to_string(count) +
                                 " keys were read"),
              std::string::npos)
        << r.errorOutput;
    EXPECT_NE(r.errorOutput.find("its original was kept as data/pos_path4.txt.bak"), std::string::npos)
        << r.errorOutput;
    EXPECT_EQ(readFile(pos.string() + ".bak"), original);
    EXPECT_EQ(leadingCount(readFile(pos)), 5);
}

namespace {

struct TwoInstances {
    ProcessResult first, second;
};

// Two tools on scene 6 of one folder: the first is started, then the second;
// each records one key, the second quits first.
TwoInstances runTwoInstances(const TempDir& dir)
{
    TwoInstances result;
    std::thread firstRun([&] { result.first = runTool(dir, "ready sleep:8 space Escape", "6"); });
    // The second starts once the first holds the scene.
    const std::string folder = dir.path() + "/data";
    for (int i = 0; i < 300; ++i) {
        SceneLock probe;
        if (probe.acquire(folder, 6) == SceneLock::BUSY)
            break;
        probe.release();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    result.second = runTool(dir, "ready space Escape", "6");
    firstRun.join();
    return result;
}

} // namespace

TEST(AuthoringToolKeepsKeys, ASecondInstanceInTheFolderIsToldAndDoesNotOverwriteTheFirstsKeys)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    prepareFolder(dir);
    const fs::path pos = fs::path(dir.path()) / "data" / "pos_path6.txt";
    const int count = leadingCount(readFile(pos));

    const TwoInstances runs = runTwoInstances(dir);
    ASSERT_FALSE(runs.first.timedOut || runs.second.timedOut)
        << "first:\n" << runs.first.output << runs.first.errorOutput << "second:\n" << runs.second.output
        << runs.second.errorOutput;
    EXPECT_EQ(runs.first.exitCode, 0) << runs.first.errorOutput;
    EXPECT_EQ(runs.second.exitCode, 0) << runs.second.errorOutput;
    EXPECT_NE(runs.second.errorOutput.find("another vortalune is recording scene 6 in this folder"), std::string::npos)
        << runs.second.errorOutput;
    EXPECT_EQ(runs.first.errorOutput.find("another vortalune"), std::string::npos) << runs.first.errorOutput;
    EXPECT_EQ(leadingCount(readFile(pos)), count + 1) << "the first instance's key, and only it";
    EXPECT_EQ(leadingCount(readFile(fs::path(dir.path()) / "data" / "pos_path6.copy1.txt")), count + 1)
        << "the second instance's key is kept beside";
}

namespace {

// Keys handed to one running tool by the test thread, so two tools can be
// driven in a set order: each key is sent once the test pushes it.
class KeyFeed {
public:
    void push(const std::string& key)
    {
        std::lock_guard<std::mutex> hold(mutex_);
        keys_.push_back(key);
        ready_.notify_one();
    }
    void close()
    {
        std::lock_guard<std::mutex> hold(mutex_);
        closed_ = true;
        ready_.notify_one();
    }
    bool pop(std::string& key)
    {
        std::unique_lock<std::mutex> hold(mutex_);
        ready_.wait(hold, [&] { return closed_ || !keys_.empty(); });
        if (keys_.empty())
            return false;
        key = keys_.front();
        keys_.pop_front();
        return true;
    }

private:
    std::mutex              mutex_;
    std::condition_variable ready_;
    std::deque<std::string> keys_;
    bool                    closed_ = false;
};

thread_local KeyFeed* threadFeed = nullptr;

void sendFedKeys(int pid)
{
    std::string key;
    while (threadFeed->pop(key)) {
        pendingKeys = key;
        sendPendingKeys(pid);
    }
}

// `errorFile`, when given, receives the tool's stderr as it runs.
std::thread startFedTool(const TempDir& dir, KeyFeed& feed, const char* scene, ProcessResult& result,
                         const std::string& errorFile)
{
    return std::thread([&dir, &feed, scene, &result, errorFile] {
        threadFeed = &feed;
        pendingErrorFile = errorFile;
        ProcessOptions options;
        options.errorFile = errorFile;
        options.workDir = dir.path();
        options.env = { "SDL_AUDIODRIVER=dummy" };
        options.delaySeconds = 1.0;
        options.timeoutSeconds = 120.0;
        options.captureOutput = true;
        options.whileRunning = sendFedKeys;
        result = runProcess({ VORTALUNE_BINARY, scene }, options);
    });
}

// Waits up to `seconds` for `done`; false when it never came.
template <typename F>
bool waitFor(F done, double seconds)
{
    for (int i = 0; i < seconds * 20; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

} // namespace

// Two tools on scene 4: B saves aside, A saves the pair, B reloads A's files
// and saves again. B's first side copy must still hold its key.
TEST(AuthoringToolKeepsKeys, ASecondEditorsSideCopyIsNeverWrittenOverAfterItReloads)
{
    ASSERT_TRUE(haveDisplay());
    TempDir dir;
    prepareFolder(dir);
    const fs::path data = fs::path(dir.path()) / "data";
    const int count = leadingCount(readFile(data / "pos_path4.txt"));

    KeyFeed feedA, feedB;
    ProcessResult a, b;
    std::thread runA = startFedTool(dir, feedA, "4", a, dir.path() + "/a-stderr.txt");
    ASSERT_TRUE(waitFor([&] {
        SceneLock probe;
        return probe.acquire(data.string(), 4) == SceneLock::BUSY;
    }, 60));
    const std::string errorsOfB = dir.path() + "/b-stderr.txt";
    std::thread runB = startFedTool(dir, feedB, "4", b, errorsOfB);
    feedA.push("ready");
    feedB.push("ready");
    feedB.push("hold:w");   // B1 is not where A's key will be
    feedB.push("space");
    const bool asideOnce = waitFor([&] { return fs::exists(data / "rot_path4.copy1.txt"); }, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string copy1 = readFile(data / "pos_path4.copy1.txt");
    feedA.push("space");
    const bool pairSaved = waitFor([&] { return leadingCount(readFile(data / "pos_path4.txt")) == count + 1; }, 30);
    const bool reloaded = waitFor([&] {   // B's poll reloads A's files
        return readFile(errorsOfB).find("scene 4's flight was reloaded") != std::string::npos;
    }, 30);
    feedB.push("space");
    const bool asideTwice = waitFor([&] { return fs::exists(data / "rot_path4.copy2.txt"); }, 30);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    feedB.push("u");   // undoes B's second key: its flight is A's again, saved aside once more
    std::this_thread::sleep_for(std::chrono::seconds(1));
    feedB.push("Escape");
    feedA.push("Escape");
    feedA.close();
    feedB.close();
    runB.join();
    runA.join();

    ASSERT_TRUE(asideOnce && pairSaved && reloaded && asideTwice)
        << a.output << a.errorOutput << "\n---\n" << b.output << b.errorOutput;
    EXPECT_EQ(b.exitCode, 0) << b.errorOutput;
    EXPECT_NE(b.errorOutput.find("changed on disk; scene 4's flight was reloaded"), std::string::npos)
        << b.errorOutput;
    EXPECT_EQ(leadingCount(copy1), count + 1);
    EXPECT_EQ(readFile(data / "pos_path4.copy1.txt"), copy1) << "B's first key is still where it was saved";
    EXPECT_EQ(leadingCount(readFile(data / "pos_path4.copy2.txt")), count + 2) << "A's keys and B's second";
    EXPECT_NE(b.errorOutput.find("saved to data/pos_path4.copy2.txt"), std::string::npos) << b.errorOutput;
    EXPECT_EQ(leadingCount(readFile(data / "pos_path4.txt")), count + 1) << "the pair holds A's keys";
    for (int k = 1; fs::exists(data / ("pos_path4.copy" + std::to_string(k) + ".txt")); ++k)
        EXPECT_GE(leadingCount(readFile(data / ("pos_path4.copy" + std::to_string(k) + ".txt"))), count + 1) << k;
}
