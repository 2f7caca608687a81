// tests/path_safety_test.cpp: an author's keys are never lost. Files that were
// not read whole are reported and backed up, pair saves are all-or-nothing
// (also when the process is killed in the middle), one editor records into a
// scene at a time, and saves respect read-only files, symlinks and modes.
#include "path/CameraPath.h"
#include "path/FlightEdit.h"
#include "path/KeysFile.h"
#include "path/PairStore.h"

#include "base/SafeFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// "n\n" then n lines "i 2i -i" (positions) or "i 0 0" (angles), six decimals.
std::string keyFile(int count, bool angles = false)
{
    std::string text = std::to_string(count) + "\n";
    char line[128];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%f %f %f\n", double(i), angles ? 0.0 : double(2 * i), angles ? 0.0 : double(-i));
        text += line;
    }
    return text;
}

int leadingCount(const std::string& text)
{
    return std::atoi(text.c_str());
}

size_t linesOf(const std::string& text)
{
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

// A scene folder as the tool sees it, loaded into `set` with stderr captured.
std::string loadCaptured(PathSet& set, const std::string& folder)
{
    testing::internal::CaptureStderr();
    loadAllPaths(set, folder);
    return testing::internal::GetCapturedStderr();
}

std::string recordCaptured(PathSet& set, int scene, const Float3& position, bool* saved = nullptr)
{
    testing::internal::CaptureStderr();
    const bool ok = recordKeyPoint(set, scene, position, Float3(1, 2, 3));
    if (saved)
        *saved = ok;
    return testing::internal::GetCapturedStderr();
}

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string pos(const TempDir& dir, int scene) { return positionPathName(dir.path(), scene); }
std::string rot(const TempDir& dir, int scene) { return rotationPathName(dir.path(), scene); }

} // namespace

// --- What was not read is reported and kept ---------------------------------------------

TEST(KeysAreKept, ATypoOnLineSixIsReportedAndTheOriginalIsBackedUpBeforeTheFirstSave)
{
    TempDir dir;
    std::string original = keyFile(16);
    // Line 6 holds key 4 (line 1 is the count): "4.000000 abc -4.000000".
    const size_t at = original.find("4.000000 8.000000");
    original.replace(at + 9, 8, "abc");
    writeFile(pos(dir, 4), original);
    writeFile(rot(dir, 4), keyFile(16, true));

    PathSet set;
    const std::string loadErr = loadCaptured(set, dir.path());
    EXPECT_NE(loadErr.find(pos(dir, 4) + ": line 6: 'abc' is not a number; 4 of 16 keys were read\n"),
              std::string::npos)
        << loadErr;
    EXPECT_EQ(linesOf(loadErr), 11u) << "nine pairs and paths.tms missing, and scene 4's typo\n" << loadErr;
    EXPECT_EQ(set.pairs[4].position.points.size(), 4u) << "playback flies the keys before the typo";

    const std::string saveErr = recordCaptured(set, 4, Float3(100, 0, 0));
    EXPECT_NE(saveErr.find("its original was kept as " + pos(dir, 4) + ".bak"), std::string::npos) << saveErr;
    EXPECT_EQ(readFile(pos(dir, 4) + ".bak"), original) << "the backup holds every key the author wrote";
    EXPECT_EQ(leadingCount(readFile(pos(dir, 4))), 5);
    EXPECT_FALSE(fs::exists(rot(dir, 4) + ".bak")) << "the rotation file was read whole";

    // Once per run: the next save says nothing and makes no second backup.
    EXPECT_EQ(recordCaptured(set, 4, Float3(101, 0, 0)), "");
    EXPECT_FALSE(fs::exists(pos(dir, 4) + ".bak2"));

    // A later run with another broken file never overwrites the first backup.
    writeFile(pos(dir, 4), "3\n1 2 3\n");
    PathSet again;
    loadCaptured(again, dir.path());
    recordCaptured(again, 4, Float3(102, 0, 0));
    EXPECT_EQ(readFile(pos(dir, 4) + ".bak"), original);
    EXPECT_EQ(readFile(pos(dir, 4) + ".bak2"), "3\n1 2 3\n");
}

struct NotWholeCase {
    const char* what;
    std::string text;
    const char* report;   // what the load line says after the file name
    int         keysRead;
};

void PrintTo(const NotWholeCase& c, std::ostream* os)
{
    *os << c.what;
}

class KeysAreKeptNotWhole : public testing::TestWithParam<NotWholeCase> {};

TEST_P(KeysAreKeptNotWhole, IsReportedWithItsLineAndBackedUp)
{
    const NotWholeCase& c = GetParam();
    TempDir dir;
    writeFile(pos(dir, 2), c.text);
    writeFile(rot(dir, 2), keyFile(static_cast<int>(c.keysRead), true));
    PathSet set;
    const std::string err = loadCaptured(set, dir.path());
    EXPECT_NE(err.find(pos(dir, 2) + ": " + c.report + "\n"), std::string::npos) << err;
    EXPECT_EQ(set.pairs[2].position.points.size(), size_t(c.keysRead));
    recordCaptured(set, 2, Float3(5, 5, 5));
    EXPECT_EQ(readFile(pos(dir, 2) + ".bak"), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    KeysAreKept, KeysAreKeptNotWhole,
    testing::Values(
        NotWholeCase{ "CountLargerThanItsData", "5\n1 2 3\n4 5 6\n", "line 4: the file ends early: 2 of 5 keys were read", 2 },
        NotWholeCase{ "DataAfterTheCountedKeys", "1\n1 2 3\n4 5 6\n",
                      "line 3: more data after the 1 keys the count gives; it was not read", 1 },
        NotWholeCase{ "CountThatIsNotANumber", "x\n1 2 3\n", "line 1: 'x' is not a key count", 0 },
        NotWholeCase{ "NotFiniteValue", "2\n1 2 3\ninf -nan inf\n", "line 3: 'inf' is not a number; 1 of 2 keys were read", 1 }),
    [](const testing::TestParamInfo<NotWholeCase>& info) { return std::string(info.param.what); });

TEST(KeysAreKept, DefaultPointsServePlaybackButNeverReachTheAuthorsFile)
{
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(16));   // the rotation file is missing
    PathSet set;
    const std::string err = loadCaptured(set, dir.path());
    EXPECT_NE(err.find(rot(dir, 4) + ": No such file or directory; the scene flies with the default points appended"),
              std::string::npos)
        << err;
    ASSERT_EQ(set.pairs[4].position.points.size(), 18u) << "playback: the keys, then the defaults";
    ASSERT_EQ(set.pairs[4].rotation.points.size(), 2u);

    recordCaptured(set, 4, Float3(7, 7, 7));
    const std::string saved = readFile(pos(dir, 4));
    EXPECT_EQ(saved, keyFile(16).replace(0, 2, "17") + "7.000000 7.000000 7.000000\n");
    EXPECT_EQ(saved.find("1000.000000"), std::string::npos);
    EXPECT_EQ(readFile(rot(dir, 4)), "1\n1.000000 2.000000 3.000000\n");
}

// --- Pair saves are all-or-nothing ------------------------------------------------------

TEST(PairSaves, APartnerThatCannotBeWrittenLeavesBothFilesAndKeepsTheKeysAside)
{
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(3));
    fs::create_directory(rot(dir, 4));   // the partner is a folder
    PathSet set;
    loadCaptured(set, dir.path());
    const FileStamp before = stampOf(pos(dir, 4));

    bool saved = true;
    const std::string err = recordCaptured(set, 4, Float3(9, 9, 9), &saved);
    EXPECT_FALSE(saved);
    EXPECT_NE(err.find(rot(dir, 4) + ": not a regular file; it was not replaced"), std::string::npos) << err;
    EXPECT_EQ(stampOf(pos(dir, 4)), before) << "the position file was not touched";
    EXPECT_EQ(readFile(pos(dir, 4)), keyFile(3));
    const std::string aside = dir.path() + "/pos_path4.copy1.txt";
    EXPECT_NE(err.find(aside), std::string::npos) << err;
    EXPECT_EQ(leadingCount(readFile(aside)), 4) << "the three keys read and the new one";
    EXPECT_EQ(leadingCount(readFile(dir.path() + "/rot_path4.copy1.txt")), 1);

    // The next key goes to the same side copy.
    recordCaptured(set, 4, Float3(10, 9, 9));
    EXPECT_EQ(leadingCount(readFile(aside)), 5);
    EXPECT_FALSE(fs::exists(dir.path() + "/pos_path4.copy2.txt"));
    EXPECT_EQ(stampOf(pos(dir, 4)), before);
}

TEST(PairSaves, AFailedSaveNamesTheFileAndTheReasonAndChangesNothing)
{
    PathSet set;
    TempDir dir;
    loadCaptured(set, dir.path() + "/missing");
    bool saved = true;
    const std::string err = recordCaptured(set, 3, Float3(1, 1, 1), &saved);
    EXPECT_FALSE(saved);
    EXPECT_NE(err.find("Could not save the camera path files of scene 3 (" + dir.path() +
                       "/missing/pos_path3.txt: No such file or directory"),
              std::string::npos)
        << err;
    EXPECT_EQ(linesOf(err), 1u) << err;
    EXPECT_EQ(set.pairs[3].position.points.size(), 1u) << "the key stays in memory";
}

TEST(PairSaves, AFileChangedOnDiskSinceItWasReadIsNotOverwritten)
{
    TempDir dir;
    writeFile(pos(dir, 6), keyFile(2));
    writeFile(rot(dir, 6), keyFile(2, true));
    PathSet set;
    loadCaptured(set, dir.path());
    writeFile(pos(dir, 6), keyFile(9));   // another program wrote the file meanwhile
    const std::string err = recordCaptured(set, 6, Float3(4, 4, 4));
    EXPECT_NE(err.find(pos(dir, 6) + ": changed on disk since it was read; it was not replaced"), std::string::npos)
        << err;
    EXPECT_EQ(readFile(pos(dir, 6)), keyFile(9));
    EXPECT_EQ(leadingCount(readFile(dir.path() + "/pos_path6.copy1.txt")), 3);
}

TEST(PairSaves, TheWriterNeverProducesWhatTheReaderRefuses)
{
    // The biggest path in the writer's widest format reads back whole.
    TempDir dir;
    CameraPath widest;
    widest.points.assign(size_t(MAX_PATH_KEYS), Float3(-FLT_MAX, -FLT_MAX, -FLT_MAX));
    widest.lengths.assign(widest.points.size(), 0.0f);
    const std::string name = dir.path() + "/pos_path1.txt";
    ASSERT_TRUE(savePathFile(widest, name));
    EXPECT_LE(int64_t(fs::file_size(name)), MAX_PATH_FILE_BYTES);
    EXPECT_GT(int64_t(fs::file_size(name)), MAX_PATH_FILE_BYTES - 16) << "the limit is tight, not arbitrary";
    CameraPath back;
    PathReadReport report;
    ASSERT_TRUE(loadPathFile(back, name, report));
    EXPECT_TRUE(report.whole) << report.problem;
    ASSERT_EQ(back.points.size(), size_t(MAX_PATH_KEYS));
    EXPECT_EQ(back.points.back().x, -FLT_MAX);
}

TEST(PairSaves, TwoHundredThousandHandWrittenKeysRoundTripWhole)
{
    TempDir dir;
    std::string text = "200000\n";
    for (int i = 0; i < 200000; ++i)
        text += "1 2 3\n";
    writeFile(pos(dir, 4), text);
    writeFile(rot(dir, 4), text);
    PathSet set;
    EXPECT_EQ(loadCaptured(set, dir.path()).find("path4"), std::string::npos);
    bool saved = false;
    recordCaptured(set, 4, Float3(4, 5, 6), &saved);
    EXPECT_TRUE(saved);
    EXPECT_GT(fs::file_size(pos(dir, 4)), 5u * 1000 * 1000) << "the writer's format is longer than the author's";

    PathSet back;
    EXPECT_EQ(loadCaptured(back, dir.path()).find("path4"), std::string::npos) << "read back whole, silently";
    ASSERT_EQ(back.pairs[4].position.points.size(), 200001u);
    EXPECT_EQ(back.pairs[4].position.points.back().z, 6.0f);
    EXPECT_TRUE(back.disk[4].read[PAIR_POSITION].whole);
}

TEST(PairSaves, RecordingPastTheLimitIsRefusedWithAMessage)
{
    TempDir dir;
    PathSet set;
    loadCaptured(set, dir.path());
    clearPair(set, 5);
    PathPair& pair = set.pairs[5];
    for (int i = 0; i < MAX_PATH_KEYS; ++i) {
        pair.position.points.emplace_back(float(i), 0.0f, 0.0f);
        pair.position.lengths.push_back(float(i));
        pair.rotation.points.emplace_back();
        pair.rotation.lengths.push_back(0.0f);
    }
    bool saved = true;
    const std::string err = recordCaptured(set, 5, Float3(1, 1, 1), &saved);
    EXPECT_FALSE(saved);
    EXPECT_NE(err.find("holds the most keys a path file may hold (262144); the key was not recorded"),
              std::string::npos)
        << err;
    EXPECT_EQ(pair.position.points.size(), size_t(MAX_PATH_KEYS));
    EXPECT_FALSE(fs::exists(pos(dir, 5)));
}

namespace {

// The child of a kill test: records keys into scene 3 of `folder` forever,
// with the keys file beside the pair (key i at time i) when `withKeys`.
[[noreturn]] void saveForever(const std::string& folder, bool withKeys)
{
    // Keep the child's stderr quiet: the parent reads its own.
    std::freopen("/dev/null", "w", stderr);
    PathSet set;
    loadAllPaths(set, folder);
    beginEditing(set, 3);
    set.disk[3].stamp[PAIR_KEYS] = stampOf(keysPathName(folder, 3));   // as the editor reads it
    for (int i = 0;; ++i) {
        PathPair& pair = set.pairs[3];
        appendPoint(pair.position, float(i), 0, 0);
        appendPoint(pair.rotation, 0, float(i), 0);
        std::vector<TimedKey> keys;
        for (size_t k = 0; withKeys && k < pair.position.points.size(); ++k)
            keys.push_back(TimedKey{ double(k), toTriple(pair.position.points[k]), toTriple(pair.rotation.points[k]), false });
        const std::string text = formatKeysText(keys);
        saveScenePair(set, 3, withKeys ? &text : nullptr);
    }
}

} // namespace

class KillPoints : public testing::TestWithParam<bool> {};

TEST_P(KillPoints, AKillInTheMiddleOfSavesLeavesTheFilesWholeAndInStep)
{
    const bool withKeys = GetParam();
    TempDir dir;
    writeFile(pos(dir, 3), keyFile(40));
    writeFile(rot(dir, 3), keyFile(40, true));
    std::mt19937 random(1234);
    int previous = 40;
    int interrupted = 0;
    for (int round = 0; round < 40; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            saveForever(dir.path(), withKeys);
        // Kill points spread over whole saves: a save of ~50 keys takes a few ms.
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 30000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        interrupted += fs::exists(pos(dir, 3) + ".commit") ||
                       fs::exists(pos(dir, 3) + "." + std::to_string(child) + ".tmp") ||
                       fs::exists(rot(dir, 3) + "." + std::to_string(child) + ".tmp");

        PathSet set;
        const std::string err = loadCaptured(set, dir.path());
        const PathPair& pair = set.pairs[3];
        ASSERT_TRUE(set.disk[3].read[0].whole && set.disk[3].read[1].whole) << "round " << round << ": " << err;
        ASSERT_EQ(pair.position.points.size(), pair.rotation.points.size()) << "round " << round;
        ASSERT_GE(int(pair.position.points.size()), previous) << "no saved key is ever lost";
        previous = int(pair.position.points.size());
        std::vector<std::string> expected = { ".vortalune.lock", "pos_path3.txt", "rot_path3.txt" };
        if (withKeys && fs::exists(dir.path() + "/keys_path3.txt")) {
            std::vector<TimedKey> keys;
            PathReadReport report;
            ASSERT_TRUE(loadKeysFile(dir.path() + "/keys_path3.txt", keys, report));
            ASSERT_TRUE(report.whole) << "round " << round << ": " << report.problem;
            ASSERT_EQ(keys.size(), pair.position.points.size()) << "the keys file is in step, round " << round;
            expected.insert(expected.begin() + 1, "keys_path3.txt");
        }
        // Recovery left nothing behind but the files (and the lock file).
        EXPECT_EQ(folderEntries(dir.path()), expected) << "round " << round;
    }
    EXPECT_GT(previous, 40) << "the children saved keys";
    EXPECT_GT(interrupted, 0) << "some kills landed inside a save";
}

INSTANTIATE_TEST_SUITE_P(Saves, KillPoints, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "WithKeys" : "PairAlone"; });

// --- One editor per scene ---------------------------------------------------------------

TEST(OneEditor, ASecondEditorOfTheSceneIsToldAndSavesToASideCopy)
{
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(2));
    writeFile(rot(dir, 4), keyFile(2, true));
    PathSet first, second;
    loadCaptured(first, dir.path());
    loadCaptured(second, dir.path());

    testing::internal::CaptureStderr();
    EXPECT_TRUE(beginEditing(first, 4));
    EXPECT_FALSE(beginEditing(second, 4));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("another vortalune is recording scene 4 in this folder"), std::string::npos) << told;
    EXPECT_TRUE(beginEditing(second, 5)) << "other scenes of the folder are free";

    recordCaptured(first, 4, Float3(10, 0, 0));
    const std::string err = recordCaptured(second, 4, Float3(20, 0, 0));
    EXPECT_NE(err.find("saved to " + dir.path() + "/pos_path4.copy1.txt"), std::string::npos) << err;
    const std::string mine = readFile(pos(dir, 4));
    EXPECT_EQ(leadingCount(mine), 3);
    EXPECT_NE(mine.find("10.000000 0.000000 0.000000"), std::string::npos);
    EXPECT_EQ(mine.find("20.000000"), std::string::npos) << "the second editor did not overwrite the first's keys";
    EXPECT_NE(readFile(dir.path() + "/pos_path4.copy1.txt").find("20.000000 0.000000 0.000000"), std::string::npos);
}

// The second editor of a scene saves aside, reloads what the first one saved,
// then saves again (with an undo of the reload in between, or not): no side
// copy is ever written over with keys that drop what it held.
class SideCopies : public testing::TestWithParam<bool> {};

TEST_P(SideCopies, AreNeverWrittenOverWithKeysThatDropWhatTheyHeld)
{
    const bool undoTheReload = GetParam();
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(2));
    writeFile(rot(dir, 4), keyFile(2, true));
    PathSet a, b;
    loadCaptured(a, dir.path());
    loadCaptured(b, dir.path());
    testing::internal::CaptureStderr();
    beginEditing(a, 4);
    beginEditing(b, 4);
    FlightEditor editorB;
    startFlightEdit(editorB, b, 4);
    ReloadWatch watch;
    std::string message;
    reloadIfChanged(editorB, watch, message);

    appendKey(editorB, Float3(1001, 0, 0), Float3());   // B1 goes aside
    const std::string copy1 = readFile(dir.path() + "/pos_path4.copy1.txt");
    recordKeyPoint(a, 4, Float3(2001, 0, 0), Float3());   // A saves the pair
    for (int poll = 0; poll < 2; ++poll)
        reloadIfChanged(editorB, watch, message);
    EXPECT_EQ(keyCount(editorB), 3) << "B took A's flight: " << message;
    if (undoTheReload)
        undoEdit(editorB);
    appendKey(editorB, Float3(1002, 0, 0), Float3());   // B2
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_NE(copy1.find("1001.000000"), std::string::npos);
    const std::string copy1Now = readFile(dir.path() + "/pos_path4.copy1.txt");
    const std::string copy2 = readFile(dir.path() + "/pos_path4.copy2.txt");
    if (undoTheReload) {
        // B's own flight again, B2 added: the same copy grows.
        EXPECT_EQ(leadingCount(copy1Now), 4) << err;
        EXPECT_EQ(copy1Now.find(copy1.substr(copy1.find('\n'))), 1u) << "copy1 keeps B1 in place";
        EXPECT_NE(copy1Now.find("1002.000000"), std::string::npos);
        EXPECT_TRUE(copy2.empty());
    } else {
        // A's flight plus B2 does not extend copy1: it goes to copy2.
        EXPECT_EQ(copy1Now, copy1) << err;
        EXPECT_EQ(leadingCount(copy2), 4);
        EXPECT_NE(copy2.find("2001.000000"), std::string::npos);
        EXPECT_NE(copy2.find("1002.000000"), std::string::npos);
        EXPECT_NE(err.find("pos_path4.copy2.txt"), std::string::npos) << "the line names the new copy: " << err;
    }
    EXPECT_EQ(leadingCount(readFile(pos(dir, 4))), 3) << "A's pair holds A's keys";
}

INSTANTIATE_TEST_SUITE_P(AfterAReload, SideCopies, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "ThenUndo" : "ThenSave"; });

TEST(OneEditor, TwoProcessesSavingIntoOneFolderKeepEveryKey)
{
    TempDir dir;
    writeFile(pos(dir, 7), keyFile(1));
    writeFile(rot(dir, 7), keyFile(1, true));
    int locked[2], finished[2];
    ASSERT_EQ(pipe(locked), 0);
    ASSERT_EQ(pipe(finished), 0);
    char token = 0;
    const auto record30 = [&](PathSet& set, int base) {
        for (int i = 0; i < 30; ++i)
            recordKeyPoint(set, 7, Float3(float(base + i), 0, 0), Float3());
    };
    pid_t first = fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        // Takes the scene, then saves while the second one saves too, and
        // holds the scene until the second one is done.
        std::freopen("/dev/null", "w", stderr);
        PathSet set;
        loadAllPaths(set, dir.path());
        beginEditing(set, 7);
        (void)!write(locked[1], "g", 1);
        record30(set, 100);
        while (read(finished[0], &token, 1) < 0) {}
        _exit(0);
    }
    pid_t second = fork();
    ASSERT_GE(second, 0);
    if (second == 0) {
        std::freopen("/dev/null", "w", stderr);
        while (read(locked[0], &token, 1) < 0) {}
        PathSet set;
        loadAllPaths(set, dir.path());
        beginEditing(set, 7);
        record30(set, 200);
        (void)!write(finished[1], "d", 1);
        _exit(0);
    }
    waitpid(first, nullptr, 0);
    waitpid(second, nullptr, 0);
    for (int fd : { locked[0], locked[1], finished[0], finished[1] })
        close(fd);

    // Only the lock holder wrote the pair; the other's keys are in its side copy.
    const std::string main = readFile(pos(dir, 7));
    const std::string aside = readFile(dir.path() + "/pos_path7.copy1.txt");
    EXPECT_EQ(leadingCount(main), 31);
    EXPECT_NE(main.find("129.000000"), std::string::npos);
    EXPECT_EQ(main.find("200.000000"), std::string::npos);
    EXPECT_GE(leadingCount(aside), 31);
    EXPECT_NE(aside.find("200.000000"), std::string::npos);
    EXPECT_NE(aside.find("229.000000"), std::string::npos);
    for (const std::string& name : folderEntries(dir.path()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

// --- Durable before it is published ----------------------------------------------------

namespace {

struct SeenStep {
    FileStep    step;
    std::string file, target;
};
std::vector<SeenStep> seenSteps;
void recordStep(FileStep step, const std::string& file, const std::string& target)
{
    seenSteps.push_back({ step, file, target });
}

} // namespace

// A file's data is forced to the disk before the rename (or link) that
// gives it its final name, for every file an author's keys live in: the pair,
// its commit record, side copies old and new, backups; rendered frames are
// only renamed (a kill cannot cut them; a power cut may lose the newest).
TEST(Durability, EveryFileHoldingKeysIsSyncedBeforeItGetsItsName)
{
    TempDir dir;
    writeFile(pos(dir, 4), "4\n1 2 3\n");   // not whole: backed up before the first save
    writeFile(rot(dir, 4), keyFile(1, true));
    PathSet a, b;
    loadCaptured(a, dir.path());
    loadCaptured(b, dir.path());
    seenSteps.clear();
    setFileStepHook(recordStep);
    testing::internal::CaptureStderr();
    beginEditing(a, 4);
    beginEditing(b, 4);
    recordKeyPoint(a, 4, Float3(1, 1, 1), Float3());   // backup, then the pair
    recordKeyPoint(b, 4, Float3(2, 2, 2), Float3());   // a new side copy
    recordKeyPoint(b, 4, Float3(3, 3, 3), Float3());   // the copy grows
    std::string why;
    const std::string frame = dir.path() + "/frame.png";
    ASSERT_TRUE(writeBytesAtomically(frame, "png", 3, Durability::WHOLE_NAMES, why)) << why;
    testing::internal::GetCapturedStderr();
    setFileStepHook(nullptr);

    int published = 0;
    bool backupSynced = false;
    for (size_t i = 0; i < seenSteps.size(); ++i) {
        const SeenStep& s = seenSteps[i];
        if (s.step == FileStep::SYNC && s.file == pos(dir, 4) + ".bak")
            backupSynced = true;
        if (s.step != FileStep::RENAME && s.step != FileStep::LINK)
            continue;
        ++published;
        bool synced = false;
        for (size_t j = 0; j < i; ++j)
            synced = synced || (seenSteps[j].step == FileStep::SYNC && seenSteps[j].file == s.file);
        EXPECT_EQ(synced, s.target != frame) << s.file << " -> " << s.target;
    }
    EXPECT_TRUE(backupSynced);
    EXPECT_EQ(published, 3 + 2 + 3 + 1) << "pair and record, new copy, grown copy and record, frame";
}

// --- Side copies under races and kills --------------------------------------------------

namespace {

// Every side copy of scene `scene` in `folder`: k -> (position text, rotation text).
std::map<int, std::pair<std::string, std::string>> sideCopies(const std::string& folder, int scene)
{
    std::map<int, std::pair<std::string, std::string>> copies;
    for (int k = 1; k < 100; ++k) {
        const std::string posName = folder + "/pos_path" + std::to_string(scene) + ".copy" + std::to_string(k) + ".txt";
        const std::string rotName = folder + "/rot_path" + std::to_string(scene) + ".copy" + std::to_string(k) + ".txt";
        if (fs::exists(posName) || fs::exists(rotName))
            copies[k] = { fs::exists(posName) ? readFile(posName) : "", fs::exists(rotName) ? readFile(rotName) : "" };
    }
    return copies;
}

// A step hook that stops the process at the step numbered STOP_AT (from 1),
// or slows every sync down (STOP_AT 0) to widen any race between two savers.
int STOP_AT = 0;
int stepsSeen = 0;
void stopOrSlow(FileStep step, const std::string&, const std::string&)
{
    if (STOP_AT == 0) {
        if (step == FileStep::SYNC)
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        return;
    }
    if (++stepsSeen == STOP_AT)
        raise(SIGKILL);
}

// A second editor of scene 4 (the test holds the scene's lock) in a child:
// records `keys` keys at x = base, base + 1, ..., each saved aside at once.
pid_t recordAsideInChild(const std::string& folder, int base, int keys, int stopAt, int start = -1)
{
    const pid_t child = fork();
    if (child != 0)
        return child;
    std::freopen("/dev/null", "w", stderr);
    PathSet set;
    loadAllPaths(set, folder);
    beginEditing(set, 4);
    char token;
    if (start >= 0)
        while (read(start, &token, 1) < 0) {}
    STOP_AT = stopAt;
    stepsSeen = 0;
    setFileStepHook(stopOrSlow);
    for (int i = 0; i < keys; ++i)
        recordKeyPoint(set, 4, Float3(float(base + i), 0, 0), Float3(0, float(base + i), 0));
    _exit(0);
}

} // namespace

TEST(SideCopies, TwoEditorsSavingAsideAtTheSameMomentNeverShareACopy)
{
    for (int round = 0; round < 4; ++round) {
        TempDir dir;
        writeFile(pos(dir, 4), keyFile(2));
        writeFile(rot(dir, 4), keyFile(2, true));
        SceneLock held;   // the first editor, which keeps the pair
        ASSERT_EQ(held.acquire(dir.path(), 4), SceneLock::TAKEN);
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        const pid_t b = recordAsideInChild(dir.path(), 1000, 1, 0, go[0]);
        const pid_t c = recordAsideInChild(dir.path(), 2000, 1, 0, go[0]);
        ASSERT_GT(b, 0);
        ASSERT_GT(c, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));   // both wait at the start line
        ASSERT_EQ(write(go[1], "gg", 2), 2);
        waitpid(b, nullptr, 0);
        waitpid(c, nullptr, 0);
        close(go[0]);
        close(go[1]);

        const auto copies = sideCopies(dir.path(), 4);
        ASSERT_EQ(copies.size(), 2u) << "round " << round;
        std::string all;
        for (const auto& [k, texts] : copies) {
            EXPECT_EQ(leadingCount(texts.first), 3) << "copy" << k;
            EXPECT_EQ(texts.first.find(".000000 0.000000 0.000000", 30), texts.first.rfind(".000000 0.000000 0.000000"))
                << "copy" << k << " holds one editor's key:\n" << texts.first;
            all += texts.first;
        }
        EXPECT_NE(all.find("1000.000000"), std::string::npos) << "round " << round;
        EXPECT_NE(all.find("2000.000000"), std::string::npos) << "round " << round;
    }
}

// Kill points of a save aside: the child is stopped at its n-th file step.
// A new side copy (the child's first key) takes six: write and sync each of
// the two temporaries, then link each to its name; a side copy that grows
// (the second key) is replaced as the pair is: write and sync each
// temporary and the commit record, rename the record (the save counts from
// here), then the two files. After the kill the next start finishes or
// keeps what the child wrote, and says so in one line.
struct SideCopyKill {
    int  keys;       // keys the child records (the kill comes in the last one's save)
    int  stopAt;     // the step of the whole run the kill comes at
    int  expected;   // keys the side copy holds after recovery (0: no copy)
};

class SideCopyKills : public testing::TestWithParam<SideCopyKill> {};

TEST_P(SideCopyKills, LeaveWholeCopiesAndNothingElse)
{
    const SideCopyKill c = GetParam();
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(2));
    writeFile(rot(dir, 4), keyFile(2, true));
    SceneLock held;
    ASSERT_EQ(held.acquire(dir.path(), 4), SceneLock::TAKEN);
    const pid_t child = recordAsideInChild(dir.path(), 500, c.keys, c.stopAt);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the kill came inside the save";
    held.release();

    PathSet set;
    const std::string err = loadCaptured(set, dir.path());
    const auto copies = sideCopies(dir.path(), 4);
    if (c.expected == 0) {
        EXPECT_TRUE(copies.empty()) << err;
    } else {
        ASSERT_EQ(copies.size(), 1u) << err;
        const auto& texts = copies.begin()->second;
        EXPECT_EQ(leadingCount(texts.first), c.expected) << err;
        EXPECT_EQ(leadingCount(texts.second), c.expected) << err;
        EXPECT_EQ(linesOf(texts.first), size_t(c.expected) + 1) << "whole:\n" << texts.first;
        EXPECT_EQ(linesOf(texts.second), size_t(c.expected) + 1) << "whole:\n" << texts.second;
    }
    for (const std::string& name : folderEntries(dir.path()))
        EXPECT_TRUE(name.find(".tmp") == std::string::npos && name.find(".commit") == std::string::npos)
            << name << " is left over\n" << err;
    size_t repairLines = 0;
    for (size_t at = err.find("path4."); at != std::string::npos; at = err.find("path4.", err.find('\n', at)))
        ++repairLines;
    EXPECT_EQ(repairLines, 1u) << "the repair is one line:\n" << err;
    EXPECT_EQ(leadingCount(readFile(pos(dir, 4))), 2) << "the pair is not touched";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SideCopyKills,
    testing::Values(SideCopyKill{ 1, 1, 0 }, SideCopyKill{ 1, 2, 0 }, SideCopyKill{ 1, 3, 0 },
                    SideCopyKill{ 1, 4, 3 }, SideCopyKill{ 1, 5, 3 }, SideCopyKill{ 1, 6, 3 },
                    // The second save replaces copy 1: its records, then the renames.
                    SideCopyKill{ 2, 7, 3 }, SideCopyKill{ 2, 10, 3 }, SideCopyKill{ 2, 13, 3 },
                    SideCopyKill{ 2, 14, 4 }, SideCopyKill{ 2, 15, 4 }),
    [](const testing::TestParamInfo<SideCopyKill>& info) {
        return "Key" + std::to_string(info.param.keys) + "Step" + std::to_string(info.param.stopAt);
    });

TEST(SideCopies, ACopyChangedOnDiskIsNotGrownEvenWhenItsKeysStayAPrefix)
{
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(2));
    writeFile(rot(dir, 4), keyFile(2, true));
    SceneLock held;
    ASSERT_EQ(held.acquire(dir.path(), 4), SceneLock::TAKEN);
    PathSet b;
    loadCaptured(b, dir.path());
    testing::internal::CaptureStderr();
    beginEditing(b, 4);
    recordKeyPoint(b, 4, Float3(1001, 0, 0), Float3());   // copy 1: the two keys and B1
    // The author trims copy 1 by hand: its keys are now a prefix of B's.
    const std::string trimmed = keyFile(2);
    writeFile(dir.path() + "/pos_path4.copy1.txt", trimmed);
    writeFile(dir.path() + "/rot_path4.copy1.txt", keyFile(2, true));
    recordKeyPoint(b, 4, Float3(1002, 0, 0), Float3());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(dir.path() + "/pos_path4.copy1.txt"), trimmed) << "the hand edit stays:\n" << err;
    EXPECT_EQ(leadingCount(readFile(dir.path() + "/pos_path4.copy2.txt")), 4) << err;
}

// --- What another writer saved --------------------------------------------------------------

TEST(OthersKeys, AnUndoPastAReloadKeepsWhatTheOtherWriterSavedAndNamesIt)
{
    TempDir dir;
    writeFile(pos(dir, 4), keyFile(2));
    writeFile(rot(dir, 4), keyFile(2, true));
    PathSet a, b;
    loadCaptured(a, dir.path());
    loadCaptured(b, dir.path());
    testing::internal::CaptureStderr();
    beginEditing(a, 4);
    beginEditing(b, 4);
    FlightEditor editorB;
    startFlightEdit(editorB, b, 4);
    ReloadWatch watch;
    std::string message;
    reloadIfChanged(editorB, watch, message);
    recordKeyPoint(a, 4, Float3(2001, 0, 0), Float3());
    recordKeyPoint(a, 4, Float3(2002, 0, 0), Float3());
    const std::string saidByA = readFile(pos(dir, 4));
    a.editLock.release();   // A quits
    for (int poll = 0; poll < 2; ++poll)
        reloadIfChanged(editorB, watch, message);
    ASSERT_EQ(keyCount(editorB), 4) << message;
    EXPECT_TRUE(undoEdit(editorB));   // back to the two keys B had
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(leadingCount(readFile(pos(dir, 4))), 2) << err;
    EXPECT_EQ(readFile(pos(dir, 4) + ".bak"), saidByA) << err;
    EXPECT_EQ(leadingCount(readFile(rot(dir, 4) + ".bak")), 4) << err;
    EXPECT_NE(err.find("held keys another writer saved; they were kept as " + pos(dir, 4) + ".bak and " +
                       rot(dir, 4) + ".bak"),
              std::string::npos)
        << err;
    // B's own edits after that write over B's keys: nothing more is copied.
    testing::internal::CaptureStderr();
    appendKey(editorB, Float3(3, 3, 3), Float3());
    EXPECT_TRUE(redoEdit(editorB) || true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(pos(dir, 4) + ".bak2"));
}

TEST(OthersKeys, KeysOnlyInMemoryAtQuitAreKeptWhereTheyCanBeOrSaidLost)
{
    TempDir dir;
    CameraPath position, rotation;
    for (int i = 0; i < 5; ++i) {
        appendPoint(position, float(i), 2.0f, 3.0f);
        appendPoint(rotation, 0.0f, float(i), 0.0f);
    }
    const std::string missing = dir.path() + "/no/such/folder";
    testing::internal::CaptureStderr();
    EXPECT_TRUE(keepUnsavedKeys(position, rotation, 4, { missing, dir.path() }));
    const std::string kept = testing::internal::GetCapturedStderr();
    const std::string name = dir.path() + "/pos_path4.unsaved." + std::to_string(getpid()) + ".txt";
    EXPECT_EQ(readFile(name), formatPathText(position));
    EXPECT_EQ(readFile(dir.path() + "/rot_path4.unsaved." + std::to_string(getpid()) + ".txt"),
              formatPathText(rotation));
    EXPECT_NE(kept.find("Scene 4: 5 keys were never saved (the last save failed); they were kept in " + name),
              std::string::npos)
        << kept;

    testing::internal::CaptureStderr();
    EXPECT_FALSE(keepUnsavedKeys(position, rotation, 4, { missing, missing + "2" }));
    const std::string lost = testing::internal::GetCapturedStderr();
    EXPECT_NE(lost.find("Scene 4: 5 keys were never saved (the last save failed) and could not be kept anywhere ("),
              std::string::npos)
        << lost;
    EXPECT_NE(lost.find("No such file or directory); they are lost"), std::string::npos) << lost;
    EXPECT_EQ(linesOf(lost), 1u);
}

// --- Saves respect the file system ------------------------------------------------------

TEST(FileSystem, AReadOnlyFileIsNotReplaced)
{
    TempDir dir;
    writeFile(pos(dir, 8), keyFile(2));
    writeFile(rot(dir, 8), keyFile(2, true));
    chmod(pos(dir, 8).c_str(), 0444);
    PathSet set;
    loadCaptured(set, dir.path());
    const FileStamp before = stampOf(pos(dir, 8));
    const std::string err = recordCaptured(set, 8, Float3(1, 1, 1));
    EXPECT_NE(err.find(pos(dir, 8) + ": read-only; it was not replaced"), std::string::npos) << err;
    EXPECT_EQ(stampOf(pos(dir, 8)), before);
    struct stat st;
    ASSERT_EQ(stat(pos(dir, 8).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(leadingCount(readFile(dir.path() + "/pos_path8.copy1.txt")), 3);
}

TEST(FileSystem, ASymlinkIsFollowedAndKeptAndModesSurviveTheSave)
{
    TempDir dir;
    fs::create_directory(dir.path() + "/flights");
    writeFile(dir.path() + "/flights/nine.txt", keyFile(2));
    fs::create_symlink("../flights/nine.txt", dir.path() + "/data_pos_link");
    fs::create_directory(dir.path() + "/data");
    fs::create_symlink("../flights/nine.txt", dir.path() + "/data/pos_path9.txt");
    writeFile(dir.path() + "/data/rot_path9.txt", keyFile(2, true));
    chmod((dir.path() + "/flights/nine.txt").c_str(), 0640);
    chmod((dir.path() + "/data/rot_path9.txt").c_str(), 0600);

    PathSet set;
    loadCaptured(set, dir.path() + "/data");
    bool saved = false;
    recordCaptured(set, 9, Float3(3, 3, 3), &saved);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(fs::is_symlink(dir.path() + "/data/pos_path9.txt")) << "the link is not replaced by a file";
    EXPECT_EQ(leadingCount(readFile(dir.path() + "/flights/nine.txt")), 3) << "its target holds the keys";
    struct stat st;
    ASSERT_EQ(stat((dir.path() + "/flights/nine.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(stat((dir.path() + "/data/rot_path9.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A second save goes through the link again (its stamp is the target's).
    recordCaptured(set, 9, Float3(4, 4, 4), &saved);
    EXPECT_TRUE(saved);
    EXPECT_EQ(leadingCount(readFile(dir.path() + "/flights/nine.txt")), 4);
}

// --- Recovery at start ------------------------------------------------------------------

TEST(Recovery, ACommittedSaveIsFinishedAndStrayTemporariesAreRemoved)
{
    TempDir dir;
    writeFile(pos(dir, 2), keyFile(1));
    writeFile(rot(dir, 2), keyFile(1, true));
    // A save that committed: the position file already renamed, the rotation not.
    const std::string rotTemp = rot(dir, 2) + ".999999.tmp";
    writeFile(rotTemp, keyFile(2, true));
    writeFile(pos(dir, 2), keyFile(2));
    writeFile(pos(dir, 2) + ".commit", "vortalune pair commit\n" + pos(dir, 2) + ".999999.tmp\n" + pos(dir, 2) + "\n" +
                                          rotTemp + "\n" + rot(dir, 2) + "\n");
    // A save of scene 5 that never committed, and a temporary of a live process.
    writeFile(pos(dir, 5), keyFile(1));
    writeFile(pos(dir, 5) + ".999998.tmp", keyFile(7));
    const std::string live = pos(dir, 5) + "." + std::to_string(getppid()) + ".tmp";
    writeFile(live, keyFile(7));

    PathSet set;
    const std::string err = loadCaptured(set, dir.path());
    EXPECT_NE(err.find(pos(dir, 2) + ".commit: finished an interrupted save of scene 2"), std::string::npos) << err;
    EXPECT_NE(err.find(pos(dir, 5) + ".999998.tmp: removed the leftover of an interrupted save"), std::string::npos)
        << err;
    EXPECT_EQ(set.pairs[2].position.points.size(), 2u);
    EXPECT_EQ(set.pairs[2].rotation.points.size(), 2u) << "both new files";
    EXPECT_FALSE(fs::exists(pos(dir, 2) + ".commit"));
    EXPECT_FALSE(fs::exists(rotTemp));
    EXPECT_FALSE(fs::exists(pos(dir, 5) + ".999998.tmp"));
    EXPECT_EQ(readFile(pos(dir, 5)), keyFile(1)) << "an uncommitted save leaves the old file";
    EXPECT_TRUE(fs::exists(live)) << "a running process's temporary is left alone";
}

TEST(Recovery, ABrokenCommitRecordKeepsTheOldFiles)
{
    TempDir dir;
    writeFile(pos(dir, 2), keyFile(1));
    writeFile(rot(dir, 2), keyFile(1, true));
    writeFile(pos(dir, 2) + ".commit", "vortalune pair commit\nhalf a li");
    PathSet set;
    const std::string err = loadCaptured(set, dir.path());
    EXPECT_NE(err.find("not a complete commit record; removed, the old files of scene 2 stay"), std::string::npos)
        << err;
    EXPECT_EQ(readFile(pos(dir, 2)), keyFile(1));
    EXPECT_FALSE(fs::exists(pos(dir, 2) + ".commit"));
}
