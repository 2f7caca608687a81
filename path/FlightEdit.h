// path/FlightEdit.h: editing one scene's flight key by key, with undo and
// redo. No GL, no window: the authoring tool binds these to keys
// (editor/Editor.h), and tests drive them directly.
//
// A flight with a time (a scene with a length on the track, FlightTiming)
// is edited as timed keys: poses at times in the scene that the flight
// passes through (path/FlightSolve.h). Every edit of a key solves the pair's
// control points through the keys again, and saves the pair with the keys
// file beside it (path/KeysFile.h) as one document. Space in the recording
// flow (appendKey) adds a control point, as a flight is recorded point by
// point; its keys are then the poses the flight passes at its points' times.
// Without a time (scene 0, no track) the keys are the pair's points themselves.
//
// In the pair, key i of an untimed flight is position point i and rotation
// point i. The two files are normally the same length; when a hand edit
// made them differ, every operation applies to each list as far as it
// reaches (an index past a list's end appends to it or leaves it alone), so
// neither list loses a key.
//
// Every edit first drops the playback defaults start-up appended to a pair
// whose files were missing (keepAuthoredKeysOnly), then remembers the flight
// as it was, so one undo brings it back. Undo and redo move whole flights
// between two stacks; a new edit drops the redo stack. The history keeps at
// most HISTORY_MAX_LEVELS flights and HISTORY_MAX_BYTES of keys; beyond that
// the oldest levels go first.
#pragma once

#include "math/Math.h"
#include "path/FlightSolve.h"
#include "path/PairStore.h"
#include "path/PathSet.h"

#include <cstddef>
#include <string>
#include <vector>

// One flight as the history keeps it: the pair's points, the timed keys
// (empty without a time) and the key that was selected.
struct FlightKeys {
    std::vector<Float3>   positions;
    std::vector<Float3>   rotations;
    int                   selected = -1;
    std::vector<TimedKey> keys;
};

bool operator==(const FlightKeys& a, const FlightKeys& b);

constexpr size_t HISTORY_MAX_LEVELS = 4096;
constexpr size_t HISTORY_MAX_BYTES  = size_t(512) << 20;

struct FlightHistory {
    std::vector<FlightKeys> undo;   // oldest first; back() is the flight before the last edit
    std::vector<FlightKeys> redo;   // back() is the flight the next redo brings back
    size_t                  bytes = 0;   // keys held by both stacks
    size_t                  maxLevels = HISTORY_MAX_LEVELS;
    size_t                  maxBytes = HISTORY_MAX_BYTES;
};

// The scene's time: its length on the track (s = time / sceneSeconds), the
// time of its last frame and of one frame. Keys stay inside [0, lastTime]
// and at least one frame apart.
struct FlightTiming {
    double sceneSeconds = 0.0;   // 0: no time (the keys are the pair's points)
    double lastTime = 0.0;
    double frameSeconds = 1.0 / 60.0;
};

// The editor's hold on one scene of a path set.
struct FlightEditor {
    PathSet*              set = nullptr;
    int                   scene = 0;
    int                   selected = -1;   // -1: no key selected
    FlightTiming          timing;
    std::vector<TimedKey> keys;            // with a time: the flight's keys, in time order
    FlightHistory         history;
    std::string           lastMessage;     // what the last operation did, as the tool shows it
    PairSaveOutcome       lastSave = PairSaveOutcome::SAVED;
};

// Starts editing scene `scene` of `set` with an empty history. With a time,
// the keys come from the scene's keys file when it reads whole and belongs
// to the pair beside it (keysBelongToPair); otherwise they are the poses the
// flight passes at its points' times, nothing is written until an edit, and
// one line on stderr says so (a keys file that does not belong is then kept
// aside as "<file>.bak" before the first save over it).
void startFlightEdit(FlightEditor& editor, PathSet& set, int scene, const FlightTiming& timing = FlightTiming());

// True with a time: the keys are poses at times.
bool timedFlight(const FlightEditor& editor);

// True when `keys` are the keys of `pair`: the flight solved through them is
// the pair, or the pair's own keys are them (within what the files' six
// decimals keep).
bool keysBelongToPair(const std::vector<TimedKey>& keys, const PathPair& pair, double sceneSeconds);

// The scene's keys now (selection included).
FlightKeys currentKeys(const FlightEditor& editor);

// Puts `keys` into the scene's pair and the editor (lengths, splines, cursors rebuilt).
void applyKeys(FlightEditor& editor, const FlightKeys& keys);

// Number of keys of the flight.
int keyCount(const FlightEditor& editor);

// --- Edits: each remembers the flight for undo and saves the files ---------------
// They return false when nothing changed (no key selected for replace, no key
// to delete, the key limit reached, a time outside the scene); the reason is
// in lastMessage.

// Space in the recording flow: the pose becomes the pair's next point, as
// recordKeyPoint does, and the keys are the poses the flight then passes at
// its points' times. On a flight whose keys have times of their own, the
// pose becomes a key at the scene's last frame (the keys keep their times;
// a key already there moves back halfway to the one before it, and the line
// says so).
bool appendKey(FlightEditor& editor, const Float3& position, const Float3& angles);
// Space at a scrub time, and `i`: the pose as a key at `time` (seconds in the
// scene), in time order; a key at that frame already takes the new pose.
bool recordKeyAt(FlightEditor& editor, double time, const Float3& position, const Float3& angles);
// `c`: empties the flight in memory (the files keep their keys until the next save).
bool clearKeys(FlightEditor& editor);
// The selected key becomes the pose (at its time).
bool replaceKey(FlightEditor& editor, const Float3& position, const Float3& angles);
// Without a time: a point after the selected one (after the last when none
// is selected); it becomes selected. With a time: recordKeyAt `time`.
bool insertKey(FlightEditor& editor, const Float3& position, const Float3& angles, double time = 0.0);
// Deletes the selected key (the last when none is selected). The selection
// stays on the same index, now the following key, or the new last one.
bool deleteKey(FlightEditor& editor);
// The selected key to `time`, kept a frame from its neighbours and inside the scene.
bool moveKey(FlightEditor& editor, double time);
// Evens the pace between `from` and `to` (seconds): the keys strictly
// between the first and the last key inside that stretch move in time (to
// the nearest frame) so that the camera's distance along the flight grows in
// proportion to time; the first and last keep their times.
bool evenPace(FlightEditor& editor, double from, double to);
// The selected key eased (the camera stands still at its time), or no longer.
bool easeKey(FlightEditor& editor);
// The flight's points become keys at their own times, and the flight is
// solved through them: a flight recorded point by point then passes through
// every pose that was recorded.
bool passThroughPoints(FlightEditor& editor);

// Back to the flight before the last edit (false when there is none), and
// forward again. Both save like an edit.
bool undoEdit(FlightEditor& editor);
bool redoEdit(FlightEditor& editor);

// Replaces the flight with one read from disk: remembered for undo like an
// edit, but not saved (the files already hold it).
void adoptFlight(FlightEditor& editor, const FlightKeys& keys);

// --- Selection ---------------------------------------------------------------------
// Moves the selection by `delta` keys, clamped to the flight; from no
// selection, +1 selects the first key and -1 the last. False with no keys.
bool selectKey(FlightEditor& editor, int delta);

// Key i's pose; false when i is outside the keys.
bool keyPose(const FlightEditor& editor, int i, Float3& position, Float3& angles);
// Key i's time in the scene (seconds); -1 when i is outside the keys or the
// flight has no time.
double keyTime(const FlightEditor& editor, int i);

// --- Reload from disk ----------------------------------------------------------------
// Watches the scene's files between polls. A change made by another
// program is read once it has held still for one poll and no save of another
// editor is half done (its commit record is on disk). The pair must read
// whole: then the flight is adopted (undo brings the old one back), with the
// keys file's keys when it belongs to the new pair, else the new pair's own.
// Otherwise the flight in memory stays, and the broken file counts as not
// read whole, so the next save keeps a copy of it first.
struct ReloadWatch {
    FileStamp seen[PAIR_FILES];      // stamps at the last poll
    FileStamp refused[PAIR_FILES];   // versions already refused (said once)
};

enum class ReloadResult {
    UNCHANGED,   // the files are what the editor last read or saved
    WAITING,     // they changed and are settling, or another save is half done
    RELOADED,    // the flight now holds the new files' keys
    KEPT,        // the new files are broken or missing; the flight stayed
};

// One poll. `message` gets the stderr line for RELOADED and KEPT (the caller prints it).
ReloadResult reloadIfChanged(FlightEditor& editor, ReloadWatch& watch, std::string& message);
