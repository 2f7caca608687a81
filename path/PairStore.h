// path/PairStore.h: a scene's flight on disk, kept safe for the author: its
// two path files and, beside them, its keys file (path/KeysFile.h), saved
// together as one document. Owns the disk side of editing: what an editor
// knows of the files, scene locks, side copies and the all-or-nothing save
// with its recovery, on the safe-file layer (base/SafeFile.h). The formats
// themselves are path/CameraPath.h's and path/KeysFile.h's. POSIX calls, no GL.
//
// How a pair (with its keys file, when the save has one) is saved:
//   1. each target is resolved (symlinks are followed and the link is kept);
//      a target that is not a regular file, or is read-only, is not replaced;
//   2. a file that changed on disk since this editor read it is not replaced;
//   3. a file that was not read whole is first copied to "<file>.bak" (or
//      ".bak2", ".bak3", ... when taken), once per run;
//   4. both new files are written in full as "<file>.<pid>.tmp" and synced,
//      with the old file's permissions;
//   5. "<folder>/pos_path<n>.txt.commit" names the temporaries and their
//      targets; once it is on disk the save counts as made;
//   6. every temporary is renamed over its target, then the commit record is
//      removed.
// A crash before 5 leaves both old files (and temporaries that the next start
// removes); after 5 the next start finishes the renames. When steps 1 or 2
// refuse the pair's own files, or another editor holds the scene's lock, the
// keys go to a side copy, "pos_path<n>.copy<k>.txt" with its "rot_" twin
// (and "keys_" third), so no key is lost; every outcome is one line on stderr. A side copy is never
// written over with different keys: a later save goes to a new k, unless the
// copy this editor wrote last still holds exactly what it wrote and the new
// keys only add to it (that copy is replaced as the pair is, steps 4 to 6).
// A new side copy is written whole as "<prefix><n>.aside.<pid>.tmp" files,
// then claimed: each is hard-linked to its final name, the position file
// first, under the first k whose names are all free. A link never replaces
// a name, so two editors saving aside at once take different copies. Once
// the position file has its name the copy counts as made: the next start
// links the others (or, when the claim never happened, keeps their keys as
// a new copy if they are whole).
#pragma once

#include "base/SafeFile.h"
#include "path/CameraPath.h"

#include <cstdint>
#include <string>
#include <vector>

// --- Per-scene state ------------------------------------------------------------------
enum PairFile { PAIR_POSITION = 0, PAIR_ROTATION = 1, PAIR_KEYS = 2, PAIR_FILES = 3 };

// What an editor knows about one scene's files.
struct PairDiskState {
    PathReadReport read[PAIR_FILES];            // as last read
    FileStamp      stamp[PAIR_FILES];           // on disk after our last read or save
    bool           backedUp[PAIR_FILES] = {};   // a not-whole file has been copied aside
    int32_t        defaultPoints = 0;           // playback defaults after the read keys (0 or 2)
    int32_t        sideCopy = 0;                // k of the side copy this editor wrote last; 0 none
    int32_t        sideCopyFiles = 0;           // its files: 2, or 3 with the keys
    std::string    sideCopyText[PAIR_FILES];    // what it wrote there (position, rotation, keys)
    bool           othersKeys = false;       // the files hold keys another writer saved (reloaded, not saved here)
    bool           keepOthersKeys = false;   // the next save copies those aside before replacing them (an undo)
};

// --- Locks ---------------------------------------------------------------------------
// One editor per scene and folder: an advisory lock on byte <scene> of
// "<folder>/.vortalune.lock" (an open-file lock, so it is released when the
// process ends, however it ends). Move-only.
class SceneLock {
public:
    SceneLock() = default;
    ~SceneLock() { release(); }
    SceneLock(SceneLock&& other) noexcept;
    SceneLock& operator=(SceneLock&& other) noexcept;
    SceneLock(const SceneLock&) = delete;
    SceneLock& operator=(const SceneLock&) = delete;

    enum Result { TAKEN, BUSY, UNAVAILABLE };
    // Takes the lock without waiting. UNAVAILABLE (with errno's reason in
    // `why`) when the lock file cannot be opened, e.g. the folder is missing.
    Result acquire(const std::string& folder, int scene, std::string* why = nullptr);
    void   release();
    bool   holds(const std::string& folder, int scene) const;

private:
    int         fd_ = -1;
    int         scene_ = -1;
    std::string folder_;
};

std::string lockFileName(const std::string& folder);

// --- Saving ---------------------------------------------------------------------------
enum class PairSaveOutcome {
    SAVED,         // the pair's own files now hold the keys
    SAVED_ASIDE,   // the keys went to the side copy named in the message
    FAILED,        // nothing changed on disk; the keys are only in memory
};

// Saves both paths of scene `scene` in `folder`, with the keys file's text
// `keysText` when given (null: the pair alone, the keys file is left as it
// is), as described at the top. A held `lock` for the scene is used;
// otherwise the lock is taken for the save. Prints one line on stderr for
// every refusal, backup and failure.
PairSaveOutcome savePairSafely(const CameraPath& position, const CameraPath& rotation, const std::string* keysText,
                               const std::string& folder, int scene, PairDiskState& state, const SceneLock* lock);

// At quit, for keys that only live in memory (every save failed): writes
// them to "<folder>/pos_path<n>.unsaved.<pid>.txt" and its "rot_" twin in the
// first of `folders` that takes them (new files, synced), and says so in one
// line; or says that they are lost and why. `keys` is the flight's key count.
// True when they were kept.
bool keepUnsavedKeys(const CameraPath& position, const CameraPath& rotation, int scene,
                     const std::vector<std::string>& folders);

// Where keepUnsavedKeys tries, in order: the scene's own folder, $TMPDIR, /tmp.
std::vector<std::string> unsavedKeyFolders(const std::string& folder);

// At start: finishes a save whose commit record is on disk and removes the
// temporaries of saves that never committed (only those of processes that no
// longer run); skipped while another process holds the scene's lock. Side
// copies left half made by processes that are gone are finished or kept
// (see above), lock or not. One line per repair. Returns the number of repairs.
int recoverPairFiles(const std::string& folder, int scene);
