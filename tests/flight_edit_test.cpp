// tests/flight_edit_test.cpp: the key-by-key flight editor as a pure model:
// insert, replace and delete at every position of empty, one-key and
// many-key flights; undo and redo (past a clear, redo dropped by a new edit);
// every step's files byte-identical to a fresh save of the same keys; and the
// reload of files changed on disk, which never takes a half or broken flight.
#include "path/CameraPath.h"
#include "path/FlightEdit.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
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
        FlightKeys a{ fresh.position.points, fresh.rotation.points, -1 };
        FlightKeys b{ pair.position.points, pair.rotation.points, -1 };
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
    return FlightKeys{ a, {}, -1 } == FlightKeys{ b, {}, -1 };
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
