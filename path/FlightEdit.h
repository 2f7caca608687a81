// path/FlightEdit.h: editing one scene's flight (its position and rotation
// keys) key by key, with undo and redo. No GL, no window: the authoring tool
// binds these to keys (app/Editor.h), and tests drive them directly.
//
// Key i of a flight is position key i and rotation key i. The two files are
// normally the same length; when a hand edit made them differ, every
// operation applies to each list as far as it reaches (an index past a list's
// end appends to it or leaves it alone), so neither list loses a key.
//
// Every edit first drops the playback defaults start-up appended to a pair
// whose files were missing (keepAuthoredKeysOnly), then remembers the flight
// as it was, so one undo brings it back. Undo and redo move whole flights
// between two stacks; a new edit drops the redo stack. The history keeps at
// most HISTORY_MAX_LEVELS flights and HISTORY_MAX_BYTES of keys; beyond that
// the oldest levels go first.
#pragma once

#include "math/Math.h"
#include "path/PairStore.h"
#include "path/PathSet.h"

#include <cstddef>
#include <string>
#include <vector>

// One flight as the history keeps it, with the key that was selected.
struct FlightKeys {
    std::vector<Float3> positions;
    std::vector<Float3> rotations;
    int                 selected = -1;
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

// The editor's hold on one scene of a path set.
struct FlightEditor {
    PathSet*      set = nullptr;
    int           scene = 0;
    int           selected = -1;   // -1: no key selected
    FlightHistory history;
    std::string   lastMessage;     // what the last operation did, as the tool shows it
    PairSaveOutcome lastSave = PairSaveOutcome::SAVED;
};

// Starts editing scene `scene` of `set` with an empty history.
void startFlightEdit(FlightEditor& editor, PathSet& set, int scene);

// The scene's keys now (selection included).
FlightKeys currentKeys(const FlightEditor& editor);

// Puts `keys` into the scene's pair (lengths, splines, cursors rebuilt).
void applyKeys(FlightEditor& editor, const FlightKeys& keys);

// Number of keys of the flight (the position list's length).
int keyCount(const FlightEditor& editor);

// --- Edits: each remembers the flight for undo and saves both files ---------------
// They return false when nothing changed (no key selected for replace, no key
// to delete, the key limit reached); the reason is in lastMessage.

// Space: appends the pose after the last key, as recordKeyPoint does.
bool appendKey(FlightEditor& editor, const Float3& position, const Float3& angles);
// `c`: empties the flight in memory (the files keep their keys until the next save).
bool clearKeys(FlightEditor& editor);
// The selected key becomes the pose.
bool replaceKey(FlightEditor& editor, const Float3& position, const Float3& angles);
// A key after the selected one (after the last when none is selected); it becomes selected.
bool insertKey(FlightEditor& editor, const Float3& position, const Float3& angles);
// Deletes the selected key (the last when none is selected). The selection
// stays on the same index, now the following key, or the new last one.
bool deleteKey(FlightEditor& editor);

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

// Key i's pose; false when i is outside either list.
bool keyPose(const FlightEditor& editor, int i, Float3& position, Float3& angles);

// --- Reload from disk ----------------------------------------------------------------
// Watches the scene's two files between polls. A change made by another
// program is read once it has held still for one poll and no save of another
// editor is half done (its commit record is on disk). Both files must read
// whole: then the flight is adopted (undo brings the old one back). Otherwise
// the flight in memory stays, and the broken file counts as not read whole,
// so the next save keeps a copy of it first.
struct ReloadWatch {
    FileStamp seen[2];      // stamps at the last poll
    FileStamp refused[2];   // versions already refused (said once)
};

enum class ReloadResult {
    UNCHANGED,   // the files are what the editor last read or saved
    WAITING,     // they changed and are settling, or another save is half done
    RELOADED,    // the flight now holds the new files' keys
    KEPT,        // the new files are broken or missing; the flight stayed
};

// One poll. `message` gets the stderr line for RELOADED and KEPT (the caller prints it).
ReloadResult reloadIfChanged(FlightEditor& editor, ReloadWatch& watch, std::string& message);
