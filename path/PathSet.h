// path/PathSet.h: the show's ten flights as the program holds them: every
// scene's path pair, its timed paths and its length in the track, with what
// the editor knows of each pair's files on disk. Start-up loading, and the
// recording of keys into a scene's pair, saved through path/PairStore.h. No GL.
#pragma once

#include "base/Show.h"
#include "math/Math.h"
#include "path/CameraPath.h"
#include "path/PairStore.h"

#include <string>
#include <vector>

struct PathSet {
    PathPair                pairs[SCENE_ENTRIES];        // 1..10; 0 is never loaded
    std::vector<CameraPath> timedPaths[SCENE_ENTRIES];   // 1..10; 0 stays empty
    float                   pathDurations[SCENE_ENTRIES] = {
        DEFAULT_PATH_DURATIONS[0], DEFAULT_PATH_DURATIONS[1], DEFAULT_PATH_DURATIONS[2],
        DEFAULT_PATH_DURATIONS[3], DEFAULT_PATH_DURATIONS[4], DEFAULT_PATH_DURATIONS[5],
        DEFAULT_PATH_DURATIONS[6], DEFAULT_PATH_DURATIONS[7], DEFAULT_PATH_DURATIONS[8],
        DEFAULT_PATH_DURATIONS[9], DEFAULT_PATH_DURATIONS[10],
    };
    std::string             folder = "data";            // where the pair files are read and written
    PairDiskState           disk[SCENE_ENTRIES];         // what was read from each pair's files, and saved
    SceneLock               editLock;                    // held for the scene the tool records into
};

// Start-up loading from `folder`: empties the set, finishes or cleans up
// interrupted saves (unless `repair` is false), loads every scene's pair (a
// pair whose two files were not both read gets the default flight appended:
// position (0, 0, 1000), (0, 0, 1500), rotation (0, 0, 0) twice), then gives
// every scene its own copy of "<folder>/paths.tms". Every file that was not
// read whole is one line on stderr. Durations are not touched.
void loadAllPaths(PathSet& set, const std::string& folder = "data", bool repair = true);

// What static construction leaves for the program to do once its command
// line is accepted (so that --help or a refused command line changes no
// file): finishes or cleans up interrupted saves of every scene, one line
// per repair, and reads again each scene that had one. Returns the repairs.
int repairInterruptedSaves(PathSet& set);

// The editor starts work on scene n (0..10): takes the scene's lock in the
// folder (false, with one line, when another editor holds it: saves then go
// to a side copy). Scene 0, which start-up does not load, is read here.
bool beginEditing(PathSet& set, int scene);

// Drops the playback defaults that start-up appended to scene n's pair, so an
// edit starts from the keys that were read. Called before every edit.
void keepAuthoredKeysOnly(PathSet& set, int scene);

// Saves scene n's pair with savePairSafely (path/PairStore.h), with the
// keys file's text when given.
PairSaveOutcome saveScenePair(PathSet& set, int scene, const std::string* keysText = nullptr);

// Appends a key to scene n's pair (0..10) and saves both of its files at once.
// False when the scene is out of range, the flight already holds
// MAX_PATH_KEYS keys (nothing is added), or the pair's own files could not
// be written (the key stays in memory; the save said why on stderr).
bool recordKeyPoint(PathSet& set, int scene, const Float3& position, const Float3& angles);

// Empties both paths of scene n (0..10) and resets its cursors.
void clearPair(PathSet& set, int scene);
