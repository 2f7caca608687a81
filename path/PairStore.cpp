// path/PairStore.cpp: scene locks, side copies, the all-or-nothing pair save
// and its recovery at start.
//
// Sections:
//   --- Locks ---
//   --- Pair saves ---
//   --- Recovery ---
#include "path/PairStore.h"

#include "base/Report.h"

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

// Steps 4 to 6 for two resolved targets. On failure nothing has replaced
// anything and `why` holds the file and the reason.
bool commitPair(const std::string& recordName, Target (&targets)[2], const std::string (&texts)[2], std::string& why)
{
    std::string temporaries[2];
    for (int i = 0; i < 2; ++i) {
        if (!writeTemporary(targets[i].resolved, targets[i].exists ? &targets[i].st : nullptr, texts[i],
                            temporaries[i], why)) {
            for (int j = 0; j < i; ++j)
                ::unlink(temporaries[j].c_str());
            return false;
        }
    }
    std::string record = std::string(COMMIT_HEADER) + "\n";
    for (int i = 0; i < 2; ++i)
        record += temporaries[i] + "\n" + targets[i].resolved + "\n";
    std::string recordWhy;
    const bool recorded = writeFileAtomically(recordName, record, &recordWhy);
    if (!recorded) {
        why = recordWhy;
        for (const std::string& t : temporaries)
            ::unlink(t.c_str());
        return false;
    }
    // From here the save counts as made: a crash is finished at the next start.
    bool renamed = true;
    for (int i = 0; i < 2; ++i) {
        if (::rename(temporaries[i].c_str(), targets[i].resolved.c_str()) != 0) {
            why = targets[i].name + ": " + errnoText(errno);
            renamed = false;
            break;
        }
    }
    for (const Target& t : targets)
        syncDirectory(directoryOf(t.resolved));
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

// True when the side copy this editor wrote last may take `texts`: both its
// files still hold exactly what was written there, and the new keys keep
// every one of those keys in order (they only add to them).
bool sideCopyExtends(const std::string& folder, int scene, const PairDiskState& state,
                     const std::string (&texts)[2])
{
    if (state.sideCopy <= 0)
        return false;
    const char* prefixes[2] = { "pos_path", "rot_path" };
    for (int i = 0; i < 2; ++i) {
        std::string onDisk, why;
        if (!readSmallFile(sideCopyName(folder, prefixes[i], scene, state.sideCopy), onDisk, MAX_PATH_FILE_BYTES,
                           why) ||
            onDisk != state.sideCopyText[i])
            return false;
        const std::string old = keyLines(onDisk);
        if (keyLines(texts[i]).compare(0, old.size(), old) != 0)
            return false;
    }
    return true;
}

// The side copy's k: the editor's last one when the new keys extend it, else
// the first k for which neither file exists yet.
int sideCopyNumber(const std::string& folder, int scene, const PairDiskState& state, const std::string (&texts)[2])
{
    if (sideCopyExtends(folder, scene, state, texts))
        return state.sideCopy;
    for (int k = 1; k < 100000; ++k) {
        if (!stampOf(sideCopyName(folder, "pos_path", scene, k)).exists &&
            !stampOf(sideCopyName(folder, "rot_path", scene, k)).exists)
            return k;
    }
    return 0;
}

PairSaveOutcome saveAside(const std::string& folder, int scene, const std::string (&texts)[2], PairDiskState& state,
                          const std::string& reason)
{
    const int k = sideCopyNumber(folder, scene, state, texts);
    Target targets[2];
    std::string why;
    const char* prefixes[2] = { "pos_path", "rot_path" };
    bool ok = k > 0;
    for (int i = 0; ok && i < 2; ++i)
        ok = resolveTarget(sideCopyName(folder, prefixes[i], scene, k), targets[i], why);
    const std::string record = sideCopyName(folder, "pos_path", scene, k) + ".commit";
    if (ok)
        ok = commitPair(record, targets, texts, why);
    if (!ok) {
        reportLine("%s; the side copy could not be written either (%s); the keys of scene %d are only in memory\n",
                   reason.c_str(), k > 0 ? why.c_str() : "no free name", scene);
        return PairSaveOutcome::FAILED;
    }
    state.sideCopy = k;
    state.sideCopyText[0] = texts[0];
    state.sideCopyText[1] = texts[1];
    reportLine("%s; the keys of scene %d were saved to %s and %s\n", reason.c_str(), scene,
               targets[0].name.c_str(), targets[1].name.c_str());
    return PairSaveOutcome::SAVED_ASIDE;
}

} // namespace

PairSaveOutcome savePairSafely(const CameraPath& position, const CameraPath& rotation, const std::string& folder,
                               int scene, PairDiskState& state, const SceneLock* lock)
{
    const std::string texts[2] = { formatPathText(position), formatPathText(rotation) };
    const std::string names[2] = { positionPathName(folder, scene), rotationPathName(folder, scene) };

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

    Target targets[2];
    for (int i = 0; i < 2; ++i) {
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
    for (int i = 0; i < 2; ++i) {
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

    std::string why;
    if (!commitPair(commitRecordName(folder, scene), targets, texts, why)) {
        reportLine("Could not save the camera path files of scene %d (%s); the keys stay in memory\n", scene,
                   why.c_str());
        return PairSaveOutcome::FAILED;
    }
    for (int i = 0; i < 2; ++i)
        state.stamp[i] = stampOf(targets[i].resolved);
    return PairSaveOutcome::SAVED;
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
    if (lines.size() != 5 || lines[0] != COMMIT_HEADER)
        return false;
    for (int i = 0; i < 2; ++i) {
        const std::string& temporary = lines[static_cast<size_t>(1 + 2 * i)];
        const std::string& target = lines[static_cast<size_t>(2 + 2 * i)];
        if (stampOf(temporary).exists && ::rename(temporary.c_str(), target.c_str()) == 0)
            syncDirectory(directoryOf(target));
        summary += (i ? ", " : "") + target;
    }
    return true;
}

} // namespace

int recoverPairFiles(const std::string& folder, int scene)
{
    SceneLock lock;
    if (lock.acquire(folder, scene) != SceneLock::TAKEN)
        return 0;   // another editor is at work on this scene, or the folder cannot be locked

    int repairs = 0;
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
    const std::string bases[3] = { baseOf(positionPathName(folder, scene)), baseOf(rotationPathName(folder, scene)),
                                   baseOf(record) };
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
    for (const std::string& name : leftovers) {
        const std::string full = folder + "/" + name;
        if (::unlink(full.c_str()) == 0) {
            reportLine("%s: removed the leftover of an interrupted save; the files it was for are unchanged\n",
                       full.c_str());
            ++repairs;
        }
    }
    if (!leftovers.empty())
        syncDirectory(folder);
    return repairs;
}
