// base/SafeFile.cpp: stamps, bounded reads, synced and atomic writes, backups.
//
// Sections:
//   --- Names and errors ---
//   --- Stamps ---
//   --- Reading ---
//   --- Writing and backups ---
#include "base/SafeFile.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

FileStepHook& stepHook()
{
    static FileStepHook hook = nullptr;
    return hook;
}

void announce(FileStep step, const std::string& file, const std::string& target = std::string())
{
    if (FileStepHook hook = stepHook())
        hook(step, file, target);
}

// Writes all of `size` bytes; false with errno set on failure.
bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// Creates `name` exclusively with `mode` and writes `text`, synced. False with
// errno's reason in `why`; a partly written file is removed.
bool createSynced(const std::string& name, const std::string& text, mode_t mode, std::string& why, int* openError = nullptr)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        if (openError)
            *openError = errno;
        why = name + ": " + errnoText(errno);
        return false;
    }
    announce(FileStep::WRITE, name);
    bool ok = writeAll(fd, text.data(), text.size()) && syncFile(fd, name) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        why = name + ": " + errnoText(error);
        ::unlink(name.c_str());
    }
    return ok;
}

// The mode a replacement gets: the old file's, or the usual one for a new file.
mode_t modeFor(const struct stat* old)
{
    return old ? (old->st_mode & 07777) : 0666;
}

FileStamp stampFromStat(const struct stat& st)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    stamp.size = static_cast<int64_t>(st.st_size);
    stamp.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return stamp;
}

} // namespace

// --- Names and errors ----------------------------------------------------------------

std::string errnoText(int error)
{
    return std::strerror(error);
}

std::string directoryOf(const std::string& name)
{
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

std::string baseOf(const std::string& name)
{
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Syncs a folder so that renames and removals in it survive a power cut.
void syncDirectory(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file a name finally leads to: symlinks are followed (relative targets
// against the link's folder), so a save replaces the target and keeps the
// link. A name that is not a link comes back unchanged. False on a loop.
bool resolveLinks(const std::string& name, std::string& target)
{
    target = name;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        std::vector<char> buffer(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t got = ::readlink(target.c_str(), buffer.data(), buffer.size() - 1);
        if (got < 0)
            return true;   // gone meanwhile: treat the name as the target
        const std::string link(buffer.data(), static_cast<size_t>(got));
        target = !link.empty() && link[0] == '/' ? link : directoryOf(target) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// --- Steps -----------------------------------------------------------------------------

void setFileStepHook(FileStepHook hook)
{
    stepHook() = hook;
}

int renameFile(const std::string& from, const std::string& to)
{
    announce(FileStep::RENAME, from, to);
    return ::rename(from.c_str(), to.c_str());
}

int syncFile(int fd, const std::string& name)
{
    announce(FileStep::SYNC, name);
    return ::fsync(fd);
}

int linkFile(const std::string& existing, const std::string& name)
{
    announce(FileStep::LINK, existing, name);
    return ::link(existing.c_str(), name.c_str());
}

bool processRuns(long pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// --- Stamps --------------------------------------------------------------------------

bool operator==(const FileStamp& a, const FileStamp& b)
{
    if (a.exists != b.exists)
        return false;
    if (!a.exists)
        return true;
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs;
}

FileStamp stampOf(const std::string& name)
{
    struct stat st;
    if (::stat(name.c_str(), &st) != 0)
        return FileStamp();
    return stampFromStat(st);
}

FileStamp stampOfOpenFile(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return FileStamp();
    return stampFromStat(st);
}

// --- Reading -------------------------------------------------------------------------

int openForReading(const char* name)
{
    return ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

int openRegularFile(const char* name, struct stat& st, std::string& why)
{
    const int fd = openForReading(name);
    if (fd < 0) {
        why = errnoText(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        why = errnoText(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "a directory, not a file" : "not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readBoundedFile(const std::string& filename, int64_t limit, std::string& text, bool& truncated,
                     FileStamp& stamp, std::string& why)
{
    truncated = false;
    text.clear();
    const int fd = openForReading(filename.c_str());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Stamped even when refused, so a watcher knows which version it refused.
    stamp = stampOfOpenFile(fd);
    if (!S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        ::close(fd);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0)
            break;
        const int64_t room = limit - static_cast<int64_t>(text.size());
        if (got > room) {
            text.append(buffer, static_cast<size_t>(room));
            truncated = true;
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

bool readSmallFile(const std::string& name, std::string& text, int64_t limit, std::string& why)
{
    // Non-blocking, so a named pipe cannot hold the open; it is refused below.
    const int fd = openForReading(name.c_str());
    if (fd < 0) {
        why = name + ": " + errnoText(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit) {
        why = name + ": " + (S_ISREG(st.st_mode) ? "too large to copy" : "not a regular file");
        ::close(fd);
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = name + ": " + errnoText(errno);
            ::close(fd);
            return false;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (static_cast<int64_t>(text.size()) > limit) {
            why = name + ": too large to copy";
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

// --- Writing and backups -------------------------------------------------------------

bool createSyncedFile(const std::string& name, const std::string& text, std::string& why)
{
    return createSynced(name, text, modeFor(nullptr), why);
}

std::string temporaryNameFor(const std::string& target)
{
    return target + "." + std::to_string(static_cast<long>(::getpid())) + ".tmp";
}

// Writes `text` into a fresh temporary beside `target`, with the old file's
// permissions (and owner, when allowed). The temporary's name on success.
bool writeTemporary(const std::string& target, const struct stat* old, const std::string& text, std::string& temporary,
                    std::string& why)
{
    temporary = temporaryNameFor(target);
    ::unlink(temporary.c_str());   // our own pid: a leftover of an earlier run with the same pid
    if (!createSynced(temporary, text, old ? 0600 : modeFor(nullptr), why)) {
        why = target + ": " + why.substr(why.rfind(": ") + 2) + " (writing " + baseOf(temporary) + ")";
        return false;
    }
    if (old) {
        // Owner first (it may clear set-id bits), then the exact permissions.
        if (::geteuid() == 0)
            (void)::chown(temporary.c_str(), old->st_uid, old->st_gid);
        if (::chmod(temporary.c_str(), modeFor(old)) != 0) {
            why = temporary + ": " + errnoText(errno);
            ::unlink(temporary.c_str());
            return false;
        }
    }
    return true;
}

std::string backupFile(const std::string& file, std::string& why)
{
    const int in = openForReading(file.c_str());
    struct stat st;
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = file + ": " + (in < 0 ? errnoText(errno) : std::string("not a regular file"));
        if (in >= 0)
            ::close(in);
        return std::string();
    }
    std::string name;
    int out = -1;
    for (int k = 1; k < 1000 && out < 0; ++k) {
        name = file + (k == 1 ? ".bak" : ".bak" + std::to_string(k));
        out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, (st.st_mode & 0777) | S_IRUSR | S_IWUSR);
        if (out < 0 && errno != EEXIST)
            break;
    }
    if (out < 0) {
        why = name + ": " + errnoText(errno);
        ::close(in);
        return std::string();
    }
    // Copied in pieces: a file of any size costs one buffer.
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (!writeAll(out, buffer, static_cast<size_t>(got))) {
            ok = false;
            break;
        }
    }
    const int error = errno;
    ok = syncFile(out, name) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok) {
        why = name + ": " + errnoText(error);
        ::unlink(name.c_str());
        return std::string();
    }
    syncDirectory(directoryOf(name));
    return name;
}

bool writeFileAtomically(const std::string& filename, const std::string& text, std::string* why)
{
    std::string target, reason;
    if (!resolveLinks(filename, target)) {
        if (why)
            *why = filename + ": " + errnoText(errno);
        return false;
    }
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (why)
            *why = filename + ": not a regular file";
        return false;
    }
    std::string temporary;
    if (!writeTemporary(target, exists ? &st : nullptr, text, temporary, reason)) {
        if (why)
            *why = reason;
        return false;
    }
    if (renameFile(temporary, target) != 0) {
        if (why)
            *why = filename + ": " + errnoText(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(directoryOf(target));
    return true;
}

bool writeBytesAtomically(const std::string& filename, const void* data, size_t size, Durability durability,
                          std::string& why)
{
    const std::string temporary = temporaryNameFor(filename);
    ::unlink(temporary.c_str());   // our own pid: a leftover of an earlier run with the same pid
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = errnoText(errno);
        return false;
    }
    announce(FileStep::WRITE, temporary);
    bool ok = writeAll(fd, static_cast<const char*>(data), size);
    if (ok && durability == Durability::SYNCED)
        ok = syncFile(fd, temporary) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && renameFile(temporary, filename) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        why = errnoText(error);
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    if (durability == Durability::SYNCED)
        syncDirectory(directoryOf(filename));
    return true;
}

