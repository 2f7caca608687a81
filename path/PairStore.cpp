// path/PairStore.cpp: scene locks, side copies, the all-or-nothing pair save
// and its recovery at start.
//
// Sections:
//   --- Locks ---
//   --- Pair saves ---
//   --- Recovery ---
#include "path/PairStore.h"

#include "base/Report.h"
#include "path/KeysFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// --- Locks -------------------------------------------------------------------------------

std::string lockFileName(const std::string& folder)
{
    return folder + "/.vortalune.lock";
}

SceneLock::SceneLock(SceneLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), scene_(std::exchange(other.scene_, -1)), folder_(std::move(other.folder_))
{
}

SceneLock& SceneLock::operator=(SceneLock&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        scene_ = std::exchange(other.scene_, -1);
        folder_ = std::move(other.folder_);
    }
    return *this;
}

SceneLock::Result SceneLock::acquire(const std::string& folder, int scene, std::string* why)
{
    if (holds(folder, scene))
        return TAKEN;
    release();
    const std::string name = lockFileName(folder);
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (why)
            *why = name + ": " + errnoText(errno);
        return UNAVAILABLE;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = scene;
    lock.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EAGAIN || error == EACCES)
            return BUSY;
        if (why)
            *why = name + ": " + errnoText(error);
        return UNAVAILABLE;
    }
    fd_ = fd;
    scene_ = scene;
    folder_ = folder;
    return TAKEN;
}

void SceneLock::release()
{
    if (fd_ >= 0)
        ::close(fd_);   // closing the description drops its lock
    fd_ = -1;
    scene_ = -1;
    folder_.clear();
}

bool SceneLock::holds(const std::string& folder, int scene) const
{
    return fd_ >= 0 && scene_ == scene && folder_ == folder;
}

// --- Pair saves --------------------------------------------------------------------------

namespace {

const char* const COMMIT_HEADER = "vortalune pair commit";

std::string commitRecordName(const std::string& folder, int scene)
{
    return positionPathName(folder, scene) + ".commit";
}

// The document's files, in this order: the pair, then the keys file when
// the save has one.
const char* const SIDE_PREFIXES[PAIR_FILES] = { "pos_path", "rot_path", "keys_path" };

using Texts = std::vector<std::string>;   // what each file of a save holds (2 or 3 files)

std::string sideCopyName(const std::string& folder, const char* prefix, int scene, int k)
{
    return folder + "/" + prefix + std::to_string(scene) + ".copy" + std::to_string(k) + ".txt";
}

// Why a resolved target may not be replaced; empty when it may.
std::string refusalOf(const std::string& name, const struct stat* st)
{
    if (!st)
        return std::string();
    if (!S_ISREG(st->st_mode))
        return name + ": not a regular file; it was not replaced";
    if ((st->st_mode & 0222) == 0 || ::access(name.c_str(), W_OK) != 0)
        return name + ": read-only; it was not replaced";
    return std::string();
}

struct Target {
    std::string name;       // the name in the folder
    std::string resolved;   // where it leads
    bool        exists = false;
    struct stat st {};
};

bool resolveTarget(const std::string& name, Target& target, std::string& why)
{
    target.name = name;
    if (!resolveLinks(name, target.resolved)) {
        why = name + ": " + errnoText(errno);
        return false;
    }
    target.exists = ::stat(target.resolved.c_str(), &target.st) == 0;
    return true;
}

// Steps 4 to 6 for the resolved targets of `texts`. On failure nothing has
// replaced anything and `why` holds the file and the reason.
bool commitPair(const std::string& recordName, const Target* targets, const Texts& texts, std::string& why)
{
    const int files = int(texts.size());
    std::string temporaries[PAIR_FILES];
    for (int i = 0; i < files; ++i) {
        if (!writeTemporary(targets[i].resolved, targets[i].exists ? &targets[i].st : nullptr, texts[size_t(i)],
                            temporaries[i], why)) {
            for (int j = 0; j < i; ++j)
                ::unlink(temporaries[j].c_str());
            return false;
        }
    }
    std::string record = std::string(COMMIT_HEADER) + "\n";
    for (int i = 0; i < files; ++i)
        record += temporaries[i] + "\n" + targets[i].resolved + "\n";
    std::string recordWhy;
    const bool recorded = writeFileAtomically(recordName, record, &recordWhy);
    if (!recorded) {
        why = recordWhy;
        for (int i = 0; i < files; ++i)
            ::unlink(temporaries[i].c_str());
        return false;
    }
    // From here the save counts as made: a crash is finished at the next start.
    bool renamed = true;
    for (int i = 0; i < files; ++i) {
        if (renameFile(temporaries[i], targets[i].resolved) != 0) {
            why = targets[i].name + ": " + errnoText(errno);
            renamed = false;
            break;
        }
    }
    for (int i = 0; i < files; ++i)
        syncDirectory(directoryOf(targets[i].resolved));
    if (!renamed)
        return false;   // the commit record stays for the next start to finish
    ::unlink(recordName.c_str());
    syncDirectory(directoryOf(recordName));
    return true;
}

// The keys of a path text (its lines after the count).
std::string keyLines(const std::string& text)
{
    const size_t end = text.find('\n');
    return end == std::string::npos ? std::string() : text.substr(end + 1);
}

// True when the side copy this editor wrote last may take `texts`: its
// files still hold exactly what was written there, and the new keys keep
// every one of those keys in order (they only add to them).
bool sideCopyExtends(const std::string& folder, int scene, const PairDiskState& state, const Texts& texts)
{
    if (state.sideCopy <= 0 || state.sideCopyFiles != int(texts.size()))
        return false;
    for (size_t i = 0; i < texts.size(); ++i) {
        std::string onDisk, why;
        if (!readSmallFile(sideCopyName(folder, SIDE_PREFIXES[i], scene, state.sideCopy), onDisk,
                           std::max(MAX_PATH_FILE_BYTES, MAX_KEYS_FILE_BYTES), why) ||
            onDisk != state.sideCopyText[i])
            return false;
        const std::string old = keyLines(onDisk);
        if (keyLines(texts[i]).compare(0, old.size(), old) != 0)
            return false;
    }
    return true;
}

// "<folder>/<prefix><n>.aside.<pid>.tmp": the temporaries of a new side copy.
std::string asideTemporaryName(const std::string& folder, const char* prefix, int scene, long pid)
{
    return folder + "/" + prefix + std::to_string(scene) + ".aside." + std::to_string(pid) + ".tmp";
}

// The highest k a side copy may have; the claim gives up after it.
constexpr int SIDE_COPY_MAX = 99999;

// Gives whole, synced temporaries (the first `files` of them) the names of
// the first free side copy: each is linked to its final name, the position
// file first, and a link fails on a name that exists, so two editors
// claiming at once never share a side copy (the one that loses moves on to
// the next k). Once every name exists the temporaries go. `k` comes back as
// the copy's number; false with the reason in `why` (nothing of the claim is
// left under a final name).
bool claimSideCopy(const std::string& folder, int scene, const std::string* temporaries, int files, int& k,
                   std::string& why)
{
    for (k = 1; k <= SIDE_COPY_MAX; ++k) {
        int linked = 0;
        int error = 0;
        for (; linked < files; ++linked) {
            const std::string name = sideCopyName(folder, SIDE_PREFIXES[linked], scene, k);
            if (linkFile(temporaries[linked], name) != 0) {
                error = errno;
                why = name + ": " + errnoText(error);
                break;
            }
        }
        if (linked == files) {
            syncDirectory(folder);
            for (int i = 0; i < files; ++i)
                ::unlink(temporaries[i].c_str());
            syncDirectory(folder);
            why.clear();
            return true;
        }
        for (int i = 0; i < linked; ++i)
            ::unlink(sideCopyName(folder, SIDE_PREFIXES[i], scene, k).c_str());   // our own links, made just now
        if (error != EEXIST)
            return false;
    }
    why = "no free side copy number up to " + std::to_string(SIDE_COPY_MAX);
    return false;
}

// Writes `texts` as a new side copy of scene `scene`: every temporary in
// full, then the claim. False with the reason; nothing is left behind.
bool writeNewSideCopy(const std::string& folder, int scene, const Texts& texts, int& k, std::string& why)
{
    const int files = int(texts.size());
    std::string temporaries[PAIR_FILES];
    for (int i = 0; i < files; ++i) {
        temporaries[i] = asideTemporaryName(folder, SIDE_PREFIXES[i], scene, ::getpid());
        ::unlink(temporaries[i].c_str());   // our own pid: a leftover of an earlier run with the same pid
        if (!createSyncedFile(temporaries[i], texts[size_t(i)], why)) {
            for (int j = 0; j < i; ++j)
                ::unlink(temporaries[j].c_str());
            return false;
        }
    }
    if (claimSideCopy(folder, scene, temporaries, files, k, why))
        return true;
    for (int i = 0; i < files; ++i)
        ::unlink(temporaries[i].c_str());
    return false;
}

// "A, B and C": the names of a side copy's files, as a line names them.
std::string sideCopyNames(const std::string& folder, int scene, int k, int files)
{
    std::string names;
    for (int i = 0; i < files; ++i)
        names += (i == 0 ? "" : i + 1 == files ? " and " : ", ") + sideCopyName(folder, SIDE_PREFIXES[i], scene, k);
    return names;
}

PairSaveOutcome saveAside(const std::string& folder, int scene, const Texts& texts, PairDiskState& state,
                          const std::string& reason)
{
    std::string why;
    int k = state.sideCopy;
    bool ok = false;
    if (sideCopyExtends(folder, scene, state, texts)) {
        // The copy this editor wrote last, grown: replaced as the pair is.
        Target targets[PAIR_FILES];
        ok = true;
        for (size_t i = 0; ok && i < texts.size(); ++i)
            ok = resolveTarget(sideCopyName(folder, SIDE_PREFIXES[i], scene, k), targets[i], why);
        if (ok)
            ok = commitPair(sideCopyName(folder, SIDE_PREFIXES[0], scene, k) + ".commit", targets, texts, why);
    } else {
        ok = writeNewSideCopy(folder, scene, texts, k, why);
    }
    if (!ok) {
        reportLine("%s; the side copy could not be written either (%s); the keys of scene %d are only in memory\n",
                   reason.c_str(), why.c_str(), scene);
        return PairSaveOutcome::FAILED;
    }
    state.sideCopy = k;
    state.sideCopyFiles = int(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        state.sideCopyText[i] = texts[i];
    reportLine("%s; the keys of scene %d were saved to %s\n", reason.c_str(), scene,
               sideCopyNames(folder, scene, k, int(texts.size())).c_str());
    return PairSaveOutcome::SAVED_ASIDE;
}

} // namespace

PairSaveOutcome savePairSafely(const CameraPath& position, const CameraPath& rotation, const std::string* keysText,
                               const std::string& folder, int scene, PairDiskState& state, const SceneLock* lock)
{
    Texts texts = { formatPathText(position), formatPathText(rotation) };
    if (keysText)
        texts.push_back(*keysText);
    const int files = int(texts.size());
    const std::string names[PAIR_FILES] = { positionPathName(folder, scene), rotationPathName(folder, scene),
                                            keysPathName(folder, scene) };
    const bool keepOthers = state.othersKeys && state.keepOthersKeys;   // asked for this save only
    state.keepOthersKeys = false;

    // The scene's lock: held by this editor, or taken for this save.
    SceneLock temporaryLock;
    if (!lock || !lock->holds(folder, scene)) {
        std::string why;
        switch (temporaryLock.acquire(folder, scene, &why)) {
        case SceneLock::TAKEN:
            break;
        case SceneLock::BUSY:
            return saveAside(folder, scene, texts, state,
                             names[0] + ", " + names[1] + ": another vortalune is recording scene " +
                                 std::to_string(scene) + " in this folder; its files were not replaced");
        case SceneLock::UNAVAILABLE:
            break;   // no lock file (say, no folder): the save itself tells what is wrong
        }
    }

    Target targets[PAIR_FILES];
    for (int i = 0; i < files; ++i) {
        std::string why;
        if (!resolveTarget(names[i], targets[i], why)) {
            reportLine("Could not save the camera path files of scene %d (%s); the keys stay in memory\n",
                       scene, why.c_str());
            return PairSaveOutcome::FAILED;
        }
        const std::string refusal = refusalOf(targets[i].resolved, targets[i].exists ? &targets[i].st : nullptr);
        if (!refusal.empty())
            return saveAside(folder, scene, texts, state, refusal);
        if (stampOf(targets[i].resolved) != state.stamp[i])
            return saveAside(folder, scene, texts, state,
                             names[i] + ": changed on disk since it was read; it was not replaced");
    }

    // Files that were not read whole keep their original beside them.
    for (int i = 0; i < files; ++i) {
        const PathReadReport& read = state.read[i];
        if (read.whole || !read.opened || state.backedUp[i] || !targets[i].exists || targets[i].st.st_size == 0)
            continue;
        std::string why;
        const std::string backup = backupFile(targets[i].resolved, why);
        if (backup.empty()) {
            reportLine("%s was not read whole and could not be backed up (%s); not saved, the keys stay in memory\n",
                       names[i].c_str(), why.c_str());
            return PairSaveOutcome::FAILED;
        }
        state.backedUp[i] = true;
        reportLine("%s was not read whole (%s); its original was kept as %s before saving over it\n",
                   names[i].c_str(), readProblem(read).c_str(), backup.c_str());
    }

    // An undo back past a reload drops keys another writer saved: they are
    // kept beside the pair first.
    if (keepOthers) {
        std::string kept[PAIR_FILES], why;
        for (int i = 0; i < 2 && why.empty(); ++i)
            if (targets[i].exists)
                kept[i] = backupFile(targets[i].resolved, why);
        if (!why.empty()) {
            reportLine("%s, %s hold keys another writer saved, which could not be copied aside (%s); not saved, "
                       "the keys of scene %d stay in memory\n",
                       names[0].c_str(), names[1].c_str(), why.c_str(), scene);
            return PairSaveOutcome::FAILED;
        }
        reportLine("%s, %s held keys another writer saved; they were kept as %s and %s before saving over them\n",
                   names[0].c_str(), names[1].c_str(), kept[0].empty() ? "(no file)" : kept[0].c_str(),
                   kept[1].empty() ? "(no file)" : kept[1].c_str());
    }

    std::string why;
    if (!commitPair(commitRecordName(folder, scene), targets, texts, why)) {
        reportLine("Could not save the camera path files of scene %d (%s); the keys stay in memory\n", scene,
                   why.c_str());
        return PairSaveOutcome::FAILED;
    }
    for (int i = 0; i < files; ++i)
        state.stamp[i] = stampOf(targets[i].resolved);
    state.othersKeys = false;
    return PairSaveOutcome::SAVED;
}

bool keepUnsavedKeys(const CameraPath& position, const CameraPath& rotation, int scene,
                     const std::vector<std::string>& folders)
{
    const std::string texts[2] = { formatPathText(position), formatPathText(rotation) };
    const std::string count = std::to_string(position.points.size()) +
                              (position.points.size() == 1 ? " key" : " keys");
    std::string reasons;
    for (const std::string& folder : folders) {
        std::string names[2], why;
        bool ok = true;
        for (int i = 0; ok && i < 2; ++i) {
            names[i] = folder + "/" + SIDE_PREFIXES[i] + std::to_string(scene) + ".unsaved." +
                       std::to_string(static_cast<long>(::getpid())) + ".txt";
            ok = createSyncedFile(names[i], texts[i], why);
            if (!ok && i == 1)
                ::unlink(names[0].c_str());
        }
        if (ok) {
            syncDirectory(folder);
            reportLine("Scene %d: %s were never saved (the last save failed); they were kept in %s and %s\n", scene,
                       count.c_str(), names[0].c_str(), names[1].c_str());
            return true;
        }
        reasons += (reasons.empty() ? "" : "; ") + why;
    }
    reportLine("Scene %d: %s were never saved (the last save failed) and could not be kept anywhere (%s); they are "
               "lost\n",
               scene, count.c_str(), reasons.c_str());
    return false;
}

std::vector<std::string> unsavedKeyFolders(const std::string& folder)
{
    std::vector<std::string> folders = { folder };
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp && folder != tmp)
        folders.emplace_back(tmp);
    if (folder != "/tmp" && !(tmp && std::string(tmp) == "/tmp"))
        folders.emplace_back("/tmp");
    return folders;
}

// --- Recovery --------------------------------------------------------------------------

namespace {

// "<prefix><digits>.tmp" after `base`: the pid of a temporary of `base`, or -1.
long temporaryPid(const std::string& name, const std::string& base)
{
    if (name.size() <= base.size() + 5 || name.compare(0, base.size(), base) != 0 || name[base.size()] != '.')
        return -1;
    if (name.compare(name.size() - 4, 4, ".tmp") != 0)
        return -1;
    const std::string digits = name.substr(base.size() + 1, name.size() - base.size() - 5);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::atol(digits.c_str());
}

// The pid of a temporary "<base>.<pid>.tmp" with `base` set, or -1.
long temporaryPidOf(const std::string& name, std::string& base)
{
    const size_t dot = name.size() > 5 ? name.rfind('.', name.size() - 5) : std::string::npos;
    if (dot == std::string::npos)
        return -1;
    base = name.substr(0, dot);
    return temporaryPid(name, base);
}

// Removes the temporaries `names` (in `folder`) of saves that never
// committed: one line per save (the temporaries of one process), naming
// them. Returns the number of saves.
int removeLeftovers(const std::string& folder, std::vector<std::string> names, const char* consequence)
{
    std::sort(names.begin(), names.end());
    std::vector<std::pair<long, std::string>> byPid;   // pid, the names it left
    for (const std::string& name : names) {
        std::string base;
        const long pid = temporaryPidOf(name, base);
        const std::string full = folder + "/" + name;
        if (::unlink(full.c_str()) != 0)
            continue;   // a finished commit has renamed it already
        auto it = std::find_if(byPid.begin(), byPid.end(), [&](const auto& p) { return p.first == pid; });
        if (it == byPid.end())
            byPid.emplace_back(pid, full);
        else
            it->second += ", " + full;
    }
    for (const auto& [pid, files] : byPid)
        reportLine("%s: removed the %s of an interrupted save; %s\n", files.c_str(),
                   files.find(", ") == std::string::npos ? "leftover" : "leftovers", consequence);
    if (!byPid.empty())
        syncDirectory(folder);
    return static_cast<int>(byPid.size());
}

// Finishes the renames of a commit record; false when it cannot be read.
bool finishCommit(const std::string& recordName, std::string& summary)
{
    std::string text, why;
    if (!readSmallFile(recordName, text, 1 << 16, why))
        return false;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos)
            return false;   // records are written whole: a line without its end is not one of ours
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if ((lines.size() != 5 && lines.size() != 7) || lines[0] != COMMIT_HEADER)
        return false;
    for (int i = 0; i < int(lines.size() / 2); ++i) {
        const std::string& temporary = lines[static_cast<size_t>(1 + 2 * i)];
        const std::string& target = lines[static_cast<size_t>(2 + 2 * i)];
        if (stampOf(temporary).exists && renameFile(temporary, target) == 0)
            syncDirectory(directoryOf(target));
        summary += (i ? ", " : "") + target;
    }
    return true;
}

// The pids named by a commit record's temporaries ("<file>.<pid>.tmp").
bool recordWriterRuns(const std::string& recordName)
{
    std::string text, why;
    if (!readSmallFile(recordName, text, 1 << 16, why))
        return false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string base;
        const long pid = temporaryPidOf(baseOf(text.substr(start, end - start)), base);
        if (pid > 0 && pid != ::getpid() && processRuns(pid))
            return true;
        start = end + 1;
    }
    return false;
}

// The k of "<prefix><n>.copy<k>.txt" (and its ".commit" when `suffix` says so), or 0.
int sideCopyNumberOf(const std::string& name, const std::string& prefix, const char* suffix)
{
    const std::string tail = std::string(".txt") + suffix;
    if (name.size() <= prefix.size() + tail.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - tail.size());
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::atoi(digits.c_str());
}

bool sameInode(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The temporaries hold whole files: two path files with the same number of
// keys, and the keys file when there is one.
bool wholeTwins(const std::string* temporaries, int files)
{
    PathReadReport reports[PAIR_FILES];
    for (int i = 0; i < 2; ++i) {
        CameraPath path;
        if (!loadPathFile(path, temporaries[i], reports[i]) || !reports[i].whole)
            return false;
    }
    std::vector<TimedKey> keys;
    if (files == PAIR_FILES && (!loadKeysFile(temporaries[2], keys, reports[2]) || !reports[2].whole))
        return false;
    return reports[0].keysRead == reports[1].keysRead;
}

// One interrupted new side copy of a process that is gone, from its
// temporaries: claimed already (the position file has its name), it is
// finished; not claimed, its keys are claimed now when its files are whole
// (they are the only copy of them), else the pieces go. One line.
void recoverAsideTemporaries(const std::string& folder, int scene, long pid, const std::vector<int>& copies)
{
    std::string temporaries[PAIR_FILES];
    bool have[PAIR_FILES];
    for (int i = 0; i < PAIR_FILES; ++i) {
        temporaries[i] = asideTemporaryName(folder, SIDE_PREFIXES[i], scene, pid);
        have[i] = stampOf(temporaries[i]).exists;
    }
    const int files = have[2] ? PAIR_FILES : 2;
    int claimed = 0;
    for (int k : copies)
        if (have[0] && sameInode(temporaries[0], sideCopyName(folder, SIDE_PREFIXES[0], scene, k)))
            claimed = k;
    std::string why;
    if (claimed > 0 && have[1]) {
        bool finished = true;
        for (int i = 1; i < files && finished; ++i) {
            const std::string name = sideCopyName(folder, SIDE_PREFIXES[i], scene, claimed);
            finished = sameInode(temporaries[i], name) || linkFile(temporaries[i], name) == 0;
        }
        if (finished) {
            reportLine("%s: finished an interrupted side copy of scene %d (%s)\n", temporaries[1].c_str(), scene,
                       sideCopyNames(folder, scene, claimed, files).c_str());
        } else {
            // A name was taken meanwhile: the files move on together.
            for (int i = 0; i < files; ++i) {
                const std::string name = sideCopyName(folder, SIDE_PREFIXES[i], scene, claimed);
                if (sameInode(temporaries[i], name))
                    ::unlink(name.c_str());
            }
            claimed = 0;
        }
    }
    if (claimed == 0) {
        int k = 0;
        if (have[0] && have[1] && wholeTwins(temporaries, files) &&
            claimSideCopy(folder, scene, temporaries, files, k, why))
            reportLine("%s: the keys of an interrupted side copy save of scene %d were kept as %s\n",
                       temporaries[0].c_str(), scene, sideCopyNames(folder, scene, k, files).c_str());
        else
            reportLine("%s: removed the leftover of a side copy save of scene %d that was cut while it was "
                       "written%s%s\n",
                       (have[0] ? temporaries[0] : have[1] ? temporaries[1] : temporaries[2]).c_str(), scene,
                       why.empty() ? "" : " and ", why.empty() ? "" : ("could not be kept: " + why).c_str());
    }
    for (const std::string& t : temporaries)
        ::unlink(t.c_str());
    syncDirectory(folder);
}

// Side copies left half done by processes that are gone: a replaced side
// copy whose commit record is on disk is finished, a new one is finished or
// kept (recoverAsideTemporaries). Needs no lock: side copies are written by
// editors that do not hold it, and nothing of a running process is touched.
int recoverSideCopies(const std::string& folder, int scene)
{
    const std::string posPrefix = std::string(SIDE_PREFIXES[0]) + std::to_string(scene) + ".copy";
    std::string asideBases[PAIR_FILES], copyPrefixes[PAIR_FILES];
    for (int i = 0; i < PAIR_FILES; ++i) {
        asideBases[i] = std::string(SIDE_PREFIXES[i]) + std::to_string(scene) + ".aside";
        copyPrefixes[i] = std::string(SIDE_PREFIXES[i]) + std::to_string(scene) + ".copy";
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<int> copies, records;
    std::vector<long> pids;
    std::vector<std::string> leftovers;   // temporaries of replaced side copies
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        std::string base;
        const long pid = temporaryPidOf(name, base);
        bool ofCopy = sideCopyNumberOf(base, posPrefix, ".commit") != 0;
        for (const std::string& prefix : copyPrefixes)
            ofCopy = ofCopy || sideCopyNumberOf(base, prefix, "") != 0;
        if (ofCopy && pid > 0 && (pid == ::getpid() || !processRuns(pid)))
            leftovers.push_back(name);
        if (const int k = sideCopyNumberOf(name, posPrefix, ""))
            copies.push_back(k);
        if (const int k = sideCopyNumberOf(name, posPrefix, ".commit"))
            records.push_back(k);
        for (const std::string& base : asideBases) {
            const long pid = temporaryPid(name, base);
            if (pid > 0 && (pid == ::getpid() || !processRuns(pid)) &&
                std::find(pids.begin(), pids.end(), pid) == pids.end())
                pids.push_back(pid);
        }
    }
    ::closedir(dir);

    int repairs = 0;
    for (int k : records) {
        const std::string record = sideCopyName(folder, SIDE_PREFIXES[0], scene, k) + ".commit";
        if (recordWriterRuns(record))
            continue;
        std::string summary;
        if (finishCommit(record, summary))
            reportLine("%s: finished an interrupted save of a side copy of scene %d (%s)\n", record.c_str(), scene,
                       summary.c_str());
        else
            reportLine("%s: not a complete commit record; removed, the side copy keeps its keys\n", record.c_str());
        ::unlink(record.c_str());
        ++repairs;
    }
    repairs += removeLeftovers(folder, leftovers, "the side copy it was for is unchanged");
    for (long pid : pids) {
        recoverAsideTemporaries(folder, scene, pid, copies);
        ++repairs;
    }
    if (repairs > 0)
        syncDirectory(folder);
    return repairs;
}

} // namespace

int recoverPairFiles(const std::string& folder, int scene)
{
    int repairs = recoverSideCopies(folder, scene);
    SceneLock lock;
    if (lock.acquire(folder, scene) != SceneLock::TAKEN)
        return repairs;   // another editor is at work on this scene, or the folder cannot be locked

    const std::string record = commitRecordName(folder, scene);
    if (stampOf(record).exists) {
        std::string summary;
        if (finishCommit(record, summary))
            reportLine("%s: finished an interrupted save of scene %d (%s)\n", record.c_str(), scene,
                       summary.c_str());
        else
            reportLine("%s: not a complete commit record; removed, the old files of scene %d stay\n",
                       record.c_str(), scene);
        ::unlink(record.c_str());
        ++repairs;
    }

    // Temporaries of saves that never committed, from processes that are gone.
    const std::string bases[4] = { baseOf(positionPathName(folder, scene)), baseOf(rotationPathName(folder, scene)),
                                   baseOf(keysPathName(folder, scene)), baseOf(record) };
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return repairs;
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        for (const std::string& base : bases) {
            const long pid = temporaryPid(name, base);
            if (pid > 0 && (pid == ::getpid() || !processRuns(pid)))
                leftovers.push_back(name);
        }
    }
    ::closedir(dir);
    repairs += removeLeftovers(folder, leftovers, "the files it was for are unchanged");
    return repairs;
}
