// path/PathSet.cpp: start-up loading of every scene's flight, editing
// sessions and key recording.
#include "path/PathSet.h"

#include "base/Report.h"

#include <string>

namespace {

// The default flight of a scene without both files: straight along z with
// fixed angles, sampled through the polyline.
constexpr Float3 DEFAULT_POSITION_START(0.0f, 0.0f, 1000.0f);
constexpr Float3 DEFAULT_POSITION_END(0.0f, 0.0f, 1500.0f);
constexpr Float3 DEFAULT_ANGLES(0.0f, 0.0f, 0.0f);

// Scenes whose pair the editor may record into: 1..10, and 0, which the tool
// can be started with and which is never played.
bool validEditScene(int scene)
{
    return scene >= 0 && scene <= LAST_SCENE;
}

void appendDefaultPoints(PathPair& pair)
{
    appendPoint(pair.position, DEFAULT_POSITION_START.x, DEFAULT_POSITION_START.y, DEFAULT_POSITION_START.z);
    appendPoint(pair.rotation, DEFAULT_ANGLES.x, DEFAULT_ANGLES.y, DEFAULT_ANGLES.z);
    appendPoint(pair.position, DEFAULT_POSITION_END.x, DEFAULT_POSITION_END.y, DEFAULT_POSITION_END.z);
    appendPoint(pair.rotation, DEFAULT_ANGLES.x, DEFAULT_ANGLES.y, DEFAULT_ANGLES.z);
}

// Reads scene n's two files into its pair and disk state, with one line per
// file that was not read whole. True when both files were opened.
// `consequence` follows the line of a file that could not be opened.
bool readScenePair(PathSet& set, int scene, const char* consequence)
{
    PathPair& pair = set.pairs[scene];
    PairDiskState& disk = set.disk[scene];
    disk = PairDiskState();
    const std::string names[2] = { positionPathName(set.folder, scene), rotationPathName(set.folder, scene) };
    CameraPath* paths[2] = { &pair.position, &pair.rotation };
    bool opened = true;
    for (int i = 0; i < 2; ++i) {
        loadPathFile(*paths[i], names[i], disk.read[i]);
        disk.stamp[i] = disk.read[i].stamp;
        opened = opened && disk.read[i].opened;
    }
    // Two files missing for the same reason are one line for the pair.
    if (!disk.read[0].opened && !disk.read[1].opened && disk.read[0].problem == disk.read[1].problem) {
        reportLine("%s, %s: %s%s\n", names[0].c_str(), names[1].c_str(), disk.read[0].problem.c_str(),
                   consequence);
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        const std::string line = describeRead(names[i], disk.read[i]);
        if (!line.empty())
            reportLine("%s%s\n", line.c_str(), disk.read[i].opened ? "" : consequence);
    }
    return opened;
}

// readScenePair, with the default flight for a pair not read whole.
void readSceneWithDefaults(PathSet& set, int scene)
{
    clearPair(set, scene);
    if (!readScenePair(set, scene, "; the scene flies with the default points appended")) {
        appendDefaultPoints(set.pairs[scene]);
        set.disk[scene].defaultPoints = 2;
    }
}

} // namespace

int repairInterruptedSaves(PathSet& set)
{
    int repairs = 0;
    for (int n = FIRST_SCENE; n <= LAST_SCENE; ++n) {
        const int here = recoverPairFiles(set.folder, n);
        if (here > 0)
            readSceneWithDefaults(set, n);
        repairs += here;
    }
    return repairs;
}

void loadAllPaths(PathSet& set, const std::string& folder, bool repair)
{
    set.folder = folder;
    set.editLock.release();
    for (int n = 0; n < SCENE_ENTRIES; ++n) {
        clearPair(set, n);
        set.disk[n] = PairDiskState();
        set.timedPaths[n].clear();
    }

    for (int n = FIRST_SCENE; n <= LAST_SCENE; ++n) {
        if (repair)
            recoverPairFiles(folder, n);
        readSceneWithDefaults(set, n);
    }

    // Every scene gets its own copy of the same file, read and reported once.
    std::vector<CameraPath> timed;
    if (loadTimedPaths(timed, timedPathsName(folder)))
        for (int n = FIRST_SCENE; n <= LAST_SCENE; ++n)
            set.timedPaths[n] = timed;
}

bool beginEditing(PathSet& set, int scene)
{
    if (!validEditScene(scene))
        return false;
    if (scene == 0) {
        // Scene 0 is never played, so start-up leaves its pair alone; the
        // editor reads it so that a first key adds to what is on disk.
        recoverPairFiles(set.folder, 0);
        readScenePair(set, 0, "");
    }
    std::string why;
    switch (set.editLock.acquire(set.folder, scene, &why)) {
    case SceneLock::TAKEN:
        return true;
    case SceneLock::BUSY:
        reportLine("%s, %s: another vortalune is recording scene %d in this folder; keys recorded here are saved "
                   "to a side copy\n",
                   positionPathName(set.folder, scene).c_str(), rotationPathName(set.folder, scene).c_str(), scene);
        return false;
    case SceneLock::UNAVAILABLE:
        reportLine("%s; keys of scene %d are saved without a lock\n", why.c_str(), scene);
        return false;
    }
    return false;
}

void keepAuthoredKeysOnly(PathSet& set, int scene)
{
    if (!validEditScene(scene))
        return;
    PairDiskState& disk = set.disk[scene];
    if (disk.defaultPoints <= 0)
        return;
    PathPair& pair = set.pairs[scene];
    for (CameraPath* path : { &pair.position, &pair.rotation }) {
        const size_t keep = path->points.size() >= size_t(disk.defaultPoints) ? path->points.size() - size_t(disk.defaultPoints) : 0;
        setPathPoints(*path, std::vector<Float3>(path->points.begin(), path->points.begin() + std::ptrdiff_t(keep)));
    }
    pair.posCursor = pair.rotCursor = 0;
    disk.defaultPoints = 0;
}

PairSaveOutcome saveScenePair(PathSet& set, int scene, const std::string* keysText)
{
    if (!validEditScene(scene))
        return PairSaveOutcome::FAILED;
    const PathPair& pair = set.pairs[scene];
    return savePairSafely(pair.position, pair.rotation, keysText, set.folder, scene, set.disk[scene], &set.editLock);
}

bool recordKeyPoint(PathSet& set, int scene, const Float3& position, const Float3& angles)
{
    if (!validEditScene(scene))
        return false;
    PathPair& pair = set.pairs[scene];
    keepAuthoredKeysOnly(set, scene);
    if (pair.position.points.size() >= size_t(MAX_PATH_KEYS) || pair.rotation.points.size() >= size_t(MAX_PATH_KEYS)) {
        reportLine("Scene %d's flight holds the most keys a path file may hold (%d); the key was not recorded\n",
                   scene, static_cast<int>(MAX_PATH_KEYS));
        return false;
    }
    appendPoint(pair.position, position.x, position.y, position.z);
    appendPoint(pair.rotation, angles.x, angles.y, angles.z);
    return saveScenePair(set, scene) == PairSaveOutcome::SAVED;
}

void clearPair(PathSet& set, int scene)
{
    if (scene < 0 || scene >= SCENE_ENTRIES)
        return;
    PathPair& pair = set.pairs[scene];
    clearPath(pair.position);
    clearPath(pair.rotation);
    pair.posCursor = 0;
    pair.rotCursor = 0;
    set.disk[scene].defaultPoints = 0;   // an emptied flight has no playback defaults either
}
