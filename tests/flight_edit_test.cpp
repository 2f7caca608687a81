// tests/flight_edit_test.cpp: the key-by-key flight editor as a pure model:
// insert, replace and delete at every position of empty, one-key and
// many-key flights; undo and redo (past a clear, redo dropped by a new edit);
// every step's files byte-identical to a fresh save of the same keys; and the
// reload of files changed on disk, which never takes a half or broken flight.
#include "path/CameraPath.h"
#include "path/FlightEdit.h"
#include "path/KeysFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

Float3 P(int i) { return Float3(float(i), float(2 * i), float(-i)); }
Float3 R(int i) { return Float3(float(i) * 0.5f, float(i), 0.0f); }

// A folder with scene 6's pair holding `count` keys P(i) / R(i), loaded and
// opened for editing.
struct Bench {
    TempDir      dir;
    PathSet      set;
    FlightEditor editor;

    explicit Bench(int count, int scene = 6)
    {
        CameraPath pos, rot;
        for (int i = 0; i < count; ++i) {
            appendPoint(pos, P(i).x, P(i).y, P(i).z);
            appendPoint(rot, R(i).x, R(i).y, R(i).z);
        }
        if (count >= 0) {
            EXPECT_TRUE(savePathFile(pos, positionPathName(dir.path(), scene)));
            EXPECT_TRUE(savePathFile(rot, rotationPathName(dir.path(), scene)));
        }
        testing::internal::CaptureStderr();
        loadAllPaths(set, dir.path());
        beginEditing(set, scene);
        testing::internal::GetCapturedStderr();
        startFlightEdit(editor, set, scene);
    }

    std::vector<Float3> positions() const { return set.pairs[editor.scene].position.points; }

    // Both files hold exactly what a fresh save of the flight in memory writes.
    void expectFilesMatchMemory() const
    {
        const PathPair& pair = set.pairs[editor.scene];
        EXPECT_EQ(readFile(positionPathName(dir.path(), editor.scene)), formatPathText(pair.position));
        EXPECT_EQ(readFile(rotationPathName(dir.path(), editor.scene)), formatPathText(pair.rotation));
        // And reading them back gives the same flight.
        PathPair fresh;
        EXPECT_TRUE(loadPathPair(fresh, editor.scene, dir.path()));
        FlightKeys a{ fresh.position.points, fresh.rotation.points, -1, {} };
        FlightKeys b{ pair.position.points, pair.rotation.points, -1, {} };
        EXPECT_TRUE(a == b);
    }
};

std::vector<Float3> list(std::initializer_list<int> ids)
{
    std::vector<Float3> out;
    for (int i : ids)
        out.push_back(P(i));
    return out;
}

bool samePoints(const std::vector<Float3>& a, const std::vector<Float3>& b)
{
    return FlightKeys{ a, {}, -1, {} } == FlightKeys{ b, {}, -1, {} };
}

} // namespace

// --- Edits at every position -----------------------------------------------------------

TEST(FlightEdits, InsertGoesAfterTheSelectionOrAtTheEndAndSelectsTheNewKey)
{
    for (int count : { 0, 1, 5 }) {
        for (int selected = -1; selected < count; ++selected) {
            SCOPED_TRACE("count " + std::to_string(count) + " selected " + std::to_string(selected));
            Bench b(count);
            b.editor.selected = selected;
            ASSERT_TRUE(insertKey(b.editor, P(99), R(99)));
            std::vector<Float3> want = b.positions();
            const int at = selected < 0 ? count : selected + 1;
            EXPECT_EQ(b.editor.selected, at);
            ASSERT_EQ(int(b.positions().size()), count + 1);
            for (int i = 0, j = 0; i <= count; ++i)
                EXPECT_TRUE(samePoints({ b.positions()[size_t(i)] }, { i == at ? P(99) : P(j++) }));
            EXPECT_TRUE(samePoints({ b.set.pairs[6].rotation.points[size_t(at)] }, { R(99) }));
            b.expectFilesMatchMemory();
        }
    }
}

TEST(FlightEdits, ReplaceChangesOnlyTheSelectedKeyAndNeedsASelection)
{
    for (int count : { 0, 1, 5 }) {
        Bench b(count);
        b.editor.selected = -1;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(replaceKey(b.editor, P(99), R(99)));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(int(b.positions().size()), count);
        for (int selected = 0; selected < count; ++selected) {
            SCOPED_TRACE("count " + std::to_string(count) + " selected " + std::to_string(selected));
            Bench c(count);
            c.editor.selected = selected;
            ASSERT_TRUE(replaceKey(c.editor, P(50 + selected), R(50 + selected)));
            for (int i = 0; i < count; ++i) {
                const int id = i == selected ? 50 + selected : i;
                EXPECT_TRUE(samePoints({ c.positions()[size_t(i)] }, { P(id) }));
                EXPECT_TRUE(samePoints({ c.set.pairs[6].rotation.points[size_t(i)] }, { R(id) }));
            }
            EXPECT_EQ(c.editor.selected, selected);
            c.expectFilesMatchMemory();
        }
    }
}

TEST(FlightEdits, DeleteTakesTheSelectedKeyOrTheLastAndKeepsTheSelectionInRange)
{
    {
        Bench b(0);
        EXPECT_FALSE(deleteKey(b.editor));
        EXPECT_TRUE(b.editor.history.undo.empty());   // a refused edit is no undo level
    }
    {
        Bench b(1);
        ASSERT_TRUE(deleteKey(b.editor));
        EXPECT_TRUE(b.positions().empty());
        EXPECT_EQ(b.editor.selected, -1);
        b.expectFilesMatchMemory();
    }
    {
        Bench b(5);
        ASSERT_TRUE(deleteKey(b.editor));   // none selected: the last goes
        EXPECT_TRUE(samePoints(b.positions(), list({ 0, 1, 2, 3 })));
        b.editor.selected = 0;
        ASSERT_TRUE(deleteKey(b.editor));   // the first
        EXPECT_TRUE(samePoints(b.positions(), list({ 1, 2, 3 })));
        EXPECT_EQ(b.editor.selected, 0);    // now on the key that followed
        b.editor.selected = 1;
        ASSERT_TRUE(deleteKey(b.editor));   // the middle
        EXPECT_TRUE(samePoints(b.positions(), list({ 1, 3 })));
        EXPECT_EQ(b.editor.selected, 1);
        ASSERT_TRUE(deleteKey(b.editor));   // the selected last: selection moves back
        EXPECT_TRUE(samePoints(b.positions(), list({ 1 })));
        EXPECT_EQ(b.editor.selected, 0);
        EXPECT_EQ(b.set.pairs[6].rotation.points.size(), 1u);
        b.expectFilesMatchMemory();
    }
}

TEST(FlightEdits, SelectionClampsAndStartsFromEitherEnd)
{
    Bench b(3);
    EXPECT_TRUE(selectKey(b.editor, +1));
    EXPECT_EQ(b.editor.selected, 0);
    EXPECT_TRUE(selectKey(b.editor, -1));
    EXPECT_EQ(b.editor.selected, 0);
    selectKey(b.editor, +1);
    selectKey(b.editor, +1);
    selectKey(b.editor, +1);
    EXPECT_EQ(b.editor.selected, 2);
    b.editor.selected = -1;
    selectKey(b.editor, -1);
    EXPECT_EQ(b.editor.selected, 2);
    Float3 p, r;
    ASSERT_TRUE(keyPose(b.editor, 2, p, r));
    EXPECT_TRUE(samePoints({ p, r }, { P(2), R(2) }));
    EXPECT_FALSE(keyPose(b.editor, 3, p, r));
    Bench empty(0);
    EXPECT_FALSE(selectKey(empty.editor, +1));
    EXPECT_EQ(empty.editor.selected, -1);
}

TEST(FlightEdits, FilesOfDifferentLengthsLoseNoKey)
{
    Bench b(3);
    // A hand edit left the rotation file two keys longer.
    CameraPath rot = b.set.pairs[6].rotation;
    appendPoint(rot, 7, 7, 7);
    appendPoint(rot, 8, 8, 8);
    b.set.pairs[6].rotation = rot;
    b.editor.selected = 1;
    ASSERT_TRUE(insertKey(b.editor, P(9), R(9)));
    EXPECT_EQ(b.positions().size(), 4u);
    EXPECT_EQ(b.set.pairs[6].rotation.points.size(), 6u);
    ASSERT_TRUE(deleteKey(b.editor));   // the inserted key, in both lists
    EXPECT_TRUE(samePoints(b.positions(), list({ 0, 1, 2 })));
    EXPECT_EQ(b.set.pairs[6].rotation.points.size(), 5u);
}

// --- Undo and redo -----------------------------------------------------------------------

TEST(FlightHistoryTest, UndoAndRedoWalkEveryEditAndEachStepIsSaved)
{
    Bench b(2);
    b.editor.selected = 0;
    std::vector<FlightKeys> states{ currentKeys(b.editor) };
    appendKey(b.editor, P(10), R(10));          states.push_back(currentKeys(b.editor));
    replaceKey(b.editor, P(11), R(11));         states.push_back(currentKeys(b.editor));
    insertKey(b.editor, P(12), R(12));          states.push_back(currentKeys(b.editor));
    deleteKey(b.editor);                        states.push_back(currentKeys(b.editor));
    clearKeys(b.editor);                        states.push_back(currentKeys(b.editor));
    EXPECT_TRUE(b.positions().empty());

    for (size_t k = states.size() - 1; k > 0; --k) {
        ASSERT_TRUE(undoEdit(b.editor));
        EXPECT_TRUE(currentKeys(b.editor) == states[k - 1]) << "undo to state " << k - 1;
        b.expectFilesMatchMemory();
    }
    EXPECT_FALSE(undoEdit(b.editor));
    EXPECT_TRUE(currentKeys(b.editor) == states[0]);
    for (size_t k = 1; k < states.size(); ++k) {
        ASSERT_TRUE(redoEdit(b.editor));
        EXPECT_TRUE(currentKeys(b.editor) == states[k]) << "redo to state " << k;
    }
    EXPECT_FALSE(redoEdit(b.editor));
}

TEST(FlightHistoryTest, AClearByMistakeIsOneUndoAwayAndIsSavedBack)
{
    Bench b(16);
    const std::string before = readFile(positionPathName(b.dir.path(), 6));
    clearKeys(b.editor);
    appendKey(b.editor, P(1), R(1));   // the next Space saves the one key over the 16
    EXPECT_NE(readFile(positionPathName(b.dir.path(), 6)), before);
    undoEdit(b.editor);
    undoEdit(b.editor);
    EXPECT_EQ(b.positions().size(), 16u);
    EXPECT_EQ(readFile(positionPathName(b.dir.path(), 6)), before);
}

TEST(FlightHistoryTest, ANewEditDropsTheRedoLevels)
{
    Bench b(3);
    appendKey(b.editor, P(7), R(7));
    appendKey(b.editor, P(8), R(8));
    undoEdit(b.editor);
    ASSERT_EQ(b.editor.history.redo.size(), 1u);
    deleteKey(b.editor);
    EXPECT_TRUE(b.editor.history.redo.empty());
    EXPECT_FALSE(redoEdit(b.editor));
    EXPECT_TRUE(samePoints(b.positions(), list({ 0, 1, 2 })));
}

TEST(FlightHistoryTest, PlaybackDefaultsNeverEnterTheHistoryOrTheFiles)
{
    Bench b(-1);   // no files: start-up appended the two default keys
    ASSERT_EQ(b.positions().size(), 2u);
    appendKey(b.editor, P(1), R(1));
    EXPECT_EQ(b.positions().size(), 1u);
    ASSERT_TRUE(undoEdit(b.editor));
    EXPECT_TRUE(b.positions().empty());
    EXPECT_EQ(readFile(positionPathName(b.dir.path(), 6)), "0\n");
}

TEST(FlightHistoryTest, TheOldestLevelsGoPastEitherLimit)
{
    Bench b(0);
    b.editor.history.maxLevels = 3;
    for (int i = 0; i < 6; ++i)
        appendKey(b.editor, P(i), R(i));
    EXPECT_EQ(b.editor.history.undo.size(), 3u);
    while (undoEdit(b.editor)) {
    }
    EXPECT_TRUE(samePoints(b.positions(), list({ 0, 1, 2 })));   // the three oldest levels are gone

    // A byte limit of the last two flights (22 and 23 keys) keeps two levels.
    Bench c(20);
    c.editor.history.maxBytes = (44 + 46) * sizeof(Float3) + 2 * sizeof(FlightKeys);
    for (int i = 0; i < 4; ++i)
        appendKey(c.editor, P(i), R(i));
    EXPECT_EQ(c.editor.history.undo.size(), 2u);
    EXPECT_LE(c.editor.history.bytes, c.editor.history.maxBytes);
}

TEST(FlightHistoryTest, AFailedSaveKeepsTheKeysAndSaysSo)
{
    Bench b(2);
    fs::remove(rotationPathName(b.dir.path(), 6));
    fs::create_directory(rotationPathName(b.dir.path(), 6));   // cannot be replaced
    const std::string before = readFile(positionPathName(b.dir.path(), 6));
    testing::internal::CaptureStderr();
    appendKey(b.editor, P(5), R(5));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(b.editor.lastSave, PairSaveOutcome::SAVED);
    EXPECT_NE(err.find("rot_path6.txt"), std::string::npos) << err;
    EXPECT_EQ(b.positions().size(), 3u);
    EXPECT_EQ(readFile(positionPathName(b.dir.path(), 6)), before);
}

// --- Reload from disk --------------------------------------------------------------------

namespace {

// Polls until the result is not WAITING (at most a few polls).
ReloadResult pollSettled(FlightEditor& editor, ReloadWatch& watch, std::string& message)
{
    ReloadResult r = ReloadResult::WAITING;
    for (int i = 0; i < 4 && r == ReloadResult::WAITING; ++i)
        r = reloadIfChanged(editor, watch, message);
    return r;
}

void writeFlight(const std::string& folder, int scene, int count, int base)
{
    CameraPath pos, rot;
    for (int i = 0; i < count; ++i) {
        appendPoint(pos, P(base + i).x, P(base + i).y, P(base + i).z);
        appendPoint(rot, R(base + i).x, R(base + i).y, R(base + i).z);
    }
    writeFile(positionPathName(folder, scene) + ".new", formatPathText(pos));
    writeFile(rotationPathName(folder, scene) + ".new", formatPathText(rot));
    fs::rename(positionPathName(folder, scene) + ".new", positionPathName(folder, scene));
    fs::rename(rotationPathName(folder, scene) + ".new", rotationPathName(folder, scene));
}

} // namespace

TEST(FlightReload, OwnSavesAreNotChangesAndAnotherProgramsAreAdoptedOnce)
{
    Bench b(4);
    ReloadWatch watch;
    std::string message;
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::UNCHANGED);
    appendKey(b.editor, P(9), R(9));
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::UNCHANGED);

    writeFlight(b.dir.path(), 6, 7, 100);
    EXPECT_EQ(reloadIfChanged(b.editor, watch, message), ReloadResult::WAITING);   // settles for one poll
    EXPECT_EQ(reloadIfChanged(b.editor, watch, message), ReloadResult::RELOADED);
    EXPECT_NE(message.find("pos_path6.txt"), std::string::npos);
    EXPECT_NE(message.find("7 keys"), std::string::npos);
    EXPECT_EQ(b.positions().size(), 7u);
    EXPECT_TRUE(samePoints({ b.positions()[0] }, { P(100) }));
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::UNCHANGED);

    // The reloaded files are ours now: the next edit saves over them.
    appendKey(b.editor, P(1), R(1));
    EXPECT_EQ(b.editor.lastSave, PairSaveOutcome::SAVED);
    b.expectFilesMatchMemory();
    // And the flight before the reload is one undo away.
    undoEdit(b.editor);
    undoEdit(b.editor);
    EXPECT_EQ(b.positions().size(), 5u);
}

TEST(FlightReload, ABrokenOrMissingFileKeepsTheFlightAndIsKeptAsACopyOnTheNextSave)
{
    Bench b(16);
    ReloadWatch watch;
    std::string message;
    const std::string pos = positionPathName(b.dir.path(), 6);
    std::string text = readFile(pos);
    const std::string broken = text.substr(0, text.size() / 2);   // truncated in the middle of a line
    writeFile(pos, broken);
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::KEPT);
    EXPECT_NE(message.find("pos_path6.txt"), std::string::npos) << message;
    EXPECT_EQ(b.positions().size(), 16u);
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::UNCHANGED);   // said once

    testing::internal::CaptureStderr();
    appendKey(b.editor, P(40), R(40));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(".bak"), std::string::npos) << err;
    EXPECT_EQ(readFile(pos + ".bak"), broken);
    b.expectFilesMatchMemory();

    fs::remove(rotationPathName(b.dir.path(), 6));
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::KEPT);
    EXPECT_EQ(b.positions().size(), 17u);

    // A file replaced by a folder is said at the poll that sees it.
    fs::remove(pos);
    fs::create_directory(pos);
    EXPECT_EQ(pollSettled(b.editor, watch, message), ReloadResult::KEPT);
    EXPECT_NE(message.find(pos + ": Is a directory"), std::string::npos) << message;
    EXPECT_EQ(b.positions().size(), 17u);
}

TEST(FlightReload, AFlightRewrittenWhileItIsReadIsNeverTakenHalf)
{
    Bench b(4);
    const std::string folder = b.dir.path();
    std::atomic<bool> done{ false };
    // Versions of 10..40 keys whose every key belongs to the version: key i of
    // version v is P(1000 * v + i). Half of them are written in place (a
    // reader can see them half done), half are renamed over the old file.
    // Every 40 versions the writer rests a few milliseconds, so that polls
    // also see files that held still and take them.
    std::thread writer([&] {
        for (int v = 1; v <= 2000; ++v) {
            if (v % 40 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            const int count = 10 + v % 31;
            if (v % 2) {
                writeFlight(folder, 6, count, 1000 * v);
            } else {
                CameraPath pos, rot;
                for (int i = 0; i < count; ++i) {
                    appendPoint(pos, P(1000 * v + i).x, P(1000 * v + i).y, P(1000 * v + i).z);
                    appendPoint(rot, R(1000 * v + i).x, R(1000 * v + i).y, R(1000 * v + i).z);
                }
                writeFile(positionPathName(folder, 6), formatPathText(pos));
                writeFile(rotationPathName(folder, 6), formatPathText(rot));
            }
        }
        done = true;
    });
    ReloadWatch watch;
    std::string message;
    int reloaded = 0;
    testing::internal::CaptureStderr();
    while (!done) {
        if (reloadIfChanged(b.editor, watch, message) != ReloadResult::RELOADED)
            continue;
        ++reloaded;
        const std::vector<Float3> keys = b.positions();
        const std::vector<Float3> turns = b.set.pairs[6].rotation.points;
        // Each file is one whole version. The two files are written one
        // after the other by the other program, so they may be of two versions.
        ASSERT_FALSE(keys.empty());
        ASSERT_FALSE(turns.empty());
        const int version = int(keys[0].x) / 1000;
        ASSERT_EQ(int(keys.size()), 10 + version % 31) << "a half flight was taken";
        for (size_t i = 0; i < keys.size(); ++i)
            ASSERT_TRUE(samePoints({ keys[i] }, { P(1000 * version + int(i)) }));
        const int turnVersion = int(turns[0].y) / 1000;
        ASSERT_EQ(int(turns.size()), turnVersion == 0 ? 4 : 10 + turnVersion % 31) << "a half rotation flight";
        for (size_t i = 0; i < turns.size(); ++i)
            ASSERT_TRUE(samePoints({ turns[i] }, { R(1000 * turnVersion + int(i)) }));
    }
    writer.join();
    testing::internal::GetCapturedStderr();
    EXPECT_GT(reloaded, 0) << "flights were taken while the other program wrote, and each was checked";
    // Once the writer stops, the last version is taken.
    std::string last;
    ReloadResult r = ReloadResult::WAITING;
    for (int i = 0; i < 4 && r != ReloadResult::RELOADED && r != ReloadResult::UNCHANGED; ++i)
        r = reloadIfChanged(b.editor, watch, last);
    PathPair fresh;
    ASSERT_TRUE(loadPathPair(fresh, 6, folder));
    EXPECT_TRUE(samePoints(b.positions(), fresh.position.points));
}

// --- Timed keys ----------------------------------------------------------------------------

namespace {

constexpr double SCENE_SECONDS = 10.97;
constexpr FlightTiming TIMING{ SCENE_SECONDS, 10.95, 1.0 / 60.0 };

// Scene 4's pair holding `count` points on a circle, opened with a time.
struct TimedBench {
    TempDir      dir;
    PathSet      set;
    FlightEditor editor;
    std::string  opened;   // what opening said on stderr

    explicit TimedBench(int count = 12, const std::string& keysFile = "")
    {
        CameraPath pos, rot;
        for (int i = 0; i < count; ++i) {
            const double a = 0.5 * i;
            appendPoint(pos, float(32 + 60 * std::cos(a)), float(40 + 3 * i), float(32 + 60 * std::sin(a)));
            appendPoint(rot, float(-10 - i), float(-28.6 * a), 0.0f);
        }
        EXPECT_TRUE(savePathFile(pos, positionPathName(dir.path(), 4)));
        EXPECT_TRUE(savePathFile(rot, rotationPathName(dir.path(), 4)));
        if (!keysFile.empty())
            writeFile(keysPathName(dir.path(), 4), keysFile);
        testing::internal::CaptureStderr();
        loadAllPaths(set, dir.path());
        beginEditing(set, 4);
        testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        startFlightEdit(editor, set, 4, TIMING);
        opened = testing::internal::GetCapturedStderr();
    }

    PathPair& pair() { return set.pairs[4]; }
    std::string keysOnDisk() const { return readFile(keysPathName(dir.path(), 4)); }

    // The largest miss of the flight at its keys, as the show samples it
    // (units, degrees), and the three files in step: the keys file's keys
    // are the editor's, and they belong to the pair on disk.
    void expectThroughEveryKey(double eps = 0.01)
    {
        for (const TimedKey& k : editor.keys) {
            Float3 p, a;
            samplePair(pair(), float(k.time / SCENE_SECONDS), p, a);
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(p[c], k.position[size_t(c)], eps) << "key at " << k.time;
                EXPECT_NEAR(a[c], k.angles[size_t(c)], eps) << "key at " << k.time;
            }
        }
        EXPECT_EQ(keysOnDisk(), formatKeysText(editor.keys));
        PathPair onDisk;
        ASSERT_TRUE(loadPathPair(onDisk, 4, dir.path()));
        std::vector<TimedKey> read;
        PathReadReport report;
        parseKeysText(keysOnDisk(), read, report);
        EXPECT_TRUE(report.whole) << report.problem;
        EXPECT_TRUE(keysBelongToPair(read, onDisk, SCENE_SECONDS));
    }
};

double speedSpread(PathPair& pair, double from, double to)
{
    std::vector<double> speeds;
    for (int i = 0; i <= 400; ++i)
        speeds.push_back(pathRate(pair.position, (from + (to - from) * i / 400.0) / SCENE_SECONDS, SCENE_SECONDS));
    std::vector<double> sorted = speeds;
    std::sort(sorted.begin(), sorted.end());
    return sorted.back() / sorted[sorted.size() / 2];
}

} // namespace

TEST(TimedKeys, AFlightOpensWithItsKeysFileOnlyWhenTheFileBelongsToItsPair)
{
    TimedBench missing;
    EXPECT_EQ(missing.editor.keys.size(), 12u);
    EXPECT_TRUE(keysAtSites(missing.editor.keys, SCENE_SECONDS));
    EXPECT_NE(missing.opened.find("keys_path4.txt: No such file or directory; the flight opens with keys at the "
                                  "times it reaches its 12 points (nothing is written until an edit)"),
              std::string::npos)
        << missing.opened;
    EXPECT_FALSE(fs::exists(keysPathName(missing.dir.path(), 4))) << "nothing is written on opening";

    // Saved by an edit, the keys file belongs to its pair: the next opening
    // takes it as it is, and says nothing.
    ASSERT_TRUE(recordKeyAt(missing.editor, 5.0, Float3(1, 2, 3), Float3(4, 5, 6)));
    PathSet again;
    testing::internal::CaptureStderr();
    loadAllPaths(again, missing.dir.path());
    testing::internal::GetCapturedStderr();   // the other scenes' missing files
    testing::internal::CaptureStderr();
    FlightEditor reopened;
    startFlightEdit(reopened, again, 4, TIMING);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a keys file that belongs says nothing";
    EXPECT_EQ(formatKeysText(reopened.keys), formatKeysText(missing.editor.keys));
    EXPECT_EQ(reopened.keys.size(), 13u);

    // A pair edited by hand beside a keys file: the file is not trusted, and
    // is kept aside before the first save over it.
    const std::string foreign = formatKeysText(missing.editor.keys);
    TimedBench edited(12, foreign);
    EXPECT_NE(edited.opened.find("keys_path4.txt: does not belong to the pair beside it"), std::string::npos)
        << edited.opened;
    EXPECT_TRUE(keysAtSites(edited.editor.keys, SCENE_SECONDS)) << "the pair's own keys";
    testing::internal::CaptureStderr();
    ASSERT_TRUE(replaceKey((edited.editor.selected = 3, edited.editor), Float3(0, 0, 0), Float3()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(keysPathName(edited.dir.path(), 4) + ".bak"), foreign) << err;
    edited.expectThroughEveryKey();
}

TEST(TimedKeys, RecordedMovedAndDeletedKeysArePassedThroughAtTheirTimes)
{
    TimedBench b;
    ASSERT_TRUE(recordKeyAt(b.editor, 4.25, Float3(10, 80, 10), Float3(-30, 45, 5)));
    EXPECT_EQ(b.editor.keys.size(), 13u);
    EXPECT_EQ(b.editor.keys[size_t(b.editor.selected)].time, 4.25);
    b.expectThroughEveryKey();

    // The same frame again takes the new pose; outside the scene is refused.
    ASSERT_TRUE(recordKeyAt(b.editor, 4.25 + 0.004, Float3(11, 81, 11), Float3(-31, 46, 5)));
    EXPECT_EQ(b.editor.keys.size(), 13u);
    EXPECT_FALSE(recordKeyAt(b.editor, 11.5, Float3(), Float3()));
    EXPECT_FALSE(recordKeyAt(b.editor, -0.5, Float3(), Float3()));

    // A key moves inside its neighbours, a frame from each, and the scene.
    const int k = b.editor.selected;
    const double before = b.editor.keys[size_t(k - 1)].time, after = b.editor.keys[size_t(k + 1)].time;
    constexpr double WRITTEN = 5e-7;   // times are kept at the keys file's six decimals
    ASSERT_TRUE(moveKey(b.editor, 0.0));
    EXPECT_NEAR(b.editor.keys[size_t(k)].time, before + TIMING.frameSeconds, WRITTEN);
    ASSERT_TRUE(moveKey(b.editor, 99.0));
    EXPECT_NEAR(b.editor.keys[size_t(k)].time, after - TIMING.frameSeconds, WRITTEN);
    EXPECT_FALSE(moveKey(b.editor, 99.0)) << "already as far as it goes";
    b.editor.selected = int(b.editor.keys.size()) - 1;
    ASSERT_TRUE(moveKey(b.editor, 1e6));
    EXPECT_EQ(b.editor.keys.back().time, TIMING.lastTime);
    b.expectThroughEveryKey();

    ASSERT_TRUE(deleteKey(b.editor));
    EXPECT_EQ(b.editor.keys.size(), 12u);
    b.expectThroughEveryKey();
    for (size_t i = 1; i < b.editor.keys.size(); ++i)
        EXPECT_GE(b.editor.keys[i].time - b.editor.keys[i - 1].time, TIMING.frameSeconds - 1e-6);
}

TEST(TimedKeys, SpaceInTheRecordingFlowAddsAPointAndOnTimedKeysAKeyAtTheEnd)
{
    TimedBench b;
    const std::vector<Float3> points = b.pair().position.points;
    ASSERT_TRUE(appendKey(b.editor, Float3(5, 6, 7), Float3(1, 2, 3)));
    ASSERT_EQ(b.pair().position.points.size(), 13u);
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_EQ(b.pair().position.points[i].x, points[i].x) << "the points recorded before stay as they were";
    EXPECT_TRUE(keysAtSites(b.editor.keys, SCENE_SECONDS)) << "the keys are the poses at the points' times";

    // Once a key has a time of its own, Space puts the pose at the scene's
    // end; a key standing there moves back halfway to make room.
    ASSERT_TRUE(moveKey((b.editor.selected = 5, b.editor), b.editor.keys[5].time + 0.2));
    ASSERT_FALSE(keysAtSites(b.editor.keys, SCENE_SECONDS));
    // (The last key, at the last point's time, lies at the scene's very end.)
    const double last = b.editor.keys.back().time, beforeLast = b.editor.keys[b.editor.keys.size() - 2].time;
    ASSERT_GE(last, TIMING.lastTime);
    ASSERT_TRUE(appendKey(b.editor, Float3(9, 9, 9), Float3()));
    EXPECT_EQ(b.editor.keys.back().time, TIMING.lastTime);
    EXPECT_NEAR(b.editor.keys[b.editor.keys.size() - 2].time, 0.5 * (beforeLast + last), 5e-7);
    EXPECT_NE(b.editor.lastMessage.find("moved back to"), std::string::npos) << b.editor.lastMessage;
    b.expectThroughEveryKey();
}

// A flight recorded point by point misses its interior poses (the points
// pull the spline, it does not pass them); made to pass through them, it
// meets every one at its time.
TEST(TimedKeys, ARecordedFlightCanBeMadeToPassThroughEveryRecordedPose)
{
    TimedBench b(8);
    const std::vector<Float3> recorded = b.pair().position.points;
    const std::vector<double> sites = splineSites(8);
    const auto worstMiss = [&] {
        double worst = 0.0;
        for (size_t i = 0; i < recorded.size(); ++i) {
            int32_t cursor = 0;
            const Float3 at = samplePath(b.pair().position, float(sites[i]), cursor);
            Float3 d;
            subtract(at, recorded[i], d);
            worst = std::max(worst, double(vectorLength(d)));
        }
        return worst;
    };
    const double before = worstMiss();
    EXPECT_GT(before, 5.0);
    ASSERT_TRUE(passThroughPoints(b.editor));
    const double after = worstMiss();
    RecordProperty("miss", std::to_string(before) + " units before, " + std::to_string(after) + " after");
    EXPECT_LT(after, 0.01);
    b.expectThroughEveryKey();
    ASSERT_TRUE(undoEdit(b.editor));
    EXPECT_NEAR(worstMiss(), before, 1e-6) << "one edit, undone";
}

// A zigzag recorded at uneven times (its corners turn by 53 degrees): evened
// over a loop, the distance along the flight grows with time, and the speed
// there stays within a tenth of its median; the keys outside the loop and
// its first and last keep their times.
TEST(TimedKeys, EvenPaceHoldsTheSpeedWithinATenthOverALoop)
{
    TimedBench b(2);
    ASSERT_TRUE(clearKeys(b.editor));
    const double times[] = { 0.0, 0.9, 2.9, 3.3, 5.6, 6.0, 7.9, 8.4, 9.5, 10.95 };
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(recordKeyAt(b.editor, times[i], Float3(float(20 * i), i % 2 ? 5.0f : -5.0f, 0.0f),
                                Float3(0.0f, float(10 * i), 0.0f)));
    const double from = 0.9, to = 9.5;
    const double before = speedSpread(b.pair(), from, to);
    ASSERT_TRUE(evenPace(b.editor, from, to));
    const double after = speedSpread(b.pair(), from, to);
    RecordProperty("speed max/median", std::to_string(before) + " before, " + std::to_string(after) + " after");
    EXPECT_GT(before, 2.0);
    EXPECT_LE(after, 1.10);
    EXPECT_EQ(b.editor.keys[0].time, 0.0);
    EXPECT_EQ(b.editor.keys[1].time, from);
    EXPECT_EQ(b.editor.keys[8].time, to);
    EXPECT_EQ(b.editor.keys[9].time, 10.95);
    b.expectThroughEveryKey();
    EXPECT_FALSE(evenPace(b.editor, 3.0, 4.0)) << "one key in the stretch: nothing to even";
}

TEST(TimedKeys, AnEasedKeyIsSavedStandsStillAndIsOneUndoAway)
{
    TimedBench b;
    const std::string files[2] = { readFile(positionPathName(b.dir.path(), 4)), b.keysOnDisk() };
    ASSERT_TRUE(recordKeyAt(b.editor, 3.0, Float3(50, 50, 50), Float3()));
    const std::string keysBefore = b.keysOnDisk();
    ASSERT_TRUE(easeKey(b.editor));
    EXPECT_NE(b.keysOnDisk().find(" eased\n"), std::string::npos);
    EXPECT_LT(pathRate(b.pair().position, 3.0 / SCENE_SECONDS, SCENE_SECONDS), 0.01);
    b.expectThroughEveryKey();
    ASSERT_TRUE(undoEdit(b.editor));
    EXPECT_EQ(b.keysOnDisk(), keysBefore);
    ASSERT_TRUE(undoEdit(b.editor));
    EXPECT_EQ(readFile(positionPathName(b.dir.path(), 4)), files[0]) << "back to the file it opened with";
}

// --- The keys file -------------------------------------------------------------------------

TEST(KeysFile, ReadsBackWhatItWritesAndNamesTheLineWhereReadingStops)
{
    std::vector<TimedKey> keys = { TimedKey{ 0.0, { 1, 2, 3 }, { -10, 20, 0 }, false },
                                   TimedKey{ 1.371429, { 4.5, -6, 7 }, { -12.5, 400, 3 }, true } };
    const std::string text = formatKeysText(keys);
    EXPECT_EQ(text, "2\n0.000000 1.000000 2.000000 3.000000 -10.000000 20.000000 0.000000\n"
                    "1.371429 4.500000 -6.000000 7.000000 -12.500000 400.000000 3.000000 eased\n");
    std::vector<TimedKey> read;
    PathReadReport report;
    parseKeysText(text, read, report);
    ASSERT_TRUE(report.whole) << report.problem;
    EXPECT_EQ(formatKeysText(read), text);

    struct Case {
        const char* text;
        int32_t     keys;
        int32_t     line;
        const char* problem;
    };
    const Case cases[] = {
        { "", 0, 1, "the file is empty: no key count" },
        { "x\n", 0, 1, "'x' is not a key count" },
        { "3\n0 1 2 3 4 5 6\n", 1, 2, "the file ends early: 1 of 3 keys were read" },
        { "1\n0 1 2 3 4 5\n", 0, 2, "6 fields where a key has 7" },
        { "1\n0 1 2 nan 4 5 6\n", 0, 2, "'nan' is not a number" },
        { "1\n0 1 2 3 4 5 6 slow\n", 0, 2, "'slow' where only 'eased' may follow a key" },
        { "2\n1 1 2 3 4 5 6\n1 1 2 3 4 5 6\n", 1, 3, "a key out of time order" },
        { "1\n-1 1 2 3 4 5 6\n", 0, 2, "a key out of time order" },
        { "1\n0 1 2 3 4 5 6\n0 1 2 3 4 5 6\n", 1, 3, "more data after the 1 keys the count gives" },
    };
    for (const Case& c : cases) {
        parseKeysText(c.text, read, report);
        EXPECT_FALSE(report.whole) << c.text;
        EXPECT_EQ(report.keysRead, c.keys) << c.text;
        EXPECT_EQ(report.line, c.line) << c.text;
        EXPECT_NE(report.problem.find(c.problem), std::string::npos) << c.text << ": " << report.problem;
    }
}
