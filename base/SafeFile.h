// base/SafeFile.h: the file layer an author's work is kept safe by: which
// version of a file was seen (stamps), bounded reads that never wait on a
// pipe, synced writes through a temporary that is renamed over the target,
// and backups beside a file. POSIX calls, no knowledge of any file format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct stat;

// --- Names and errors ----------------------------------------------------------------
std::string errnoText(int error);                  // strerror(error)
std::string directoryOf(const std::string& name);  // "." without a slash, "/" for "/x"
std::string baseOf(const std::string& name);       // the part after the last slash

// Syncs a folder so that renames and removals in it survive a power cut.
void syncDirectory(const std::string& folder);

// The file a name finally leads to: symlinks are followed (relative targets
// against the link's folder), so a save replaces the target and keeps the
// link. A name that is not a link comes back unchanged. False on a loop.
bool resolveLinks(const std::string& name, std::string& target);

// True while process `pid` runs (or exists but is not ours to signal).
bool processRuns(long pid);

// --- Steps -----------------------------------------------------------------------------
// Every step that makes a file's data durable or gives a file its final name
// goes through this seam first: tests see the order of the steps (a file's
// data synced before the rename that publishes it) and can stop a process at
// any one of them. `file` is the file the step works on, `target` the name it
// gets (RENAME, LINK) or empty.
enum class FileStep {
    WRITE,    // the data of `file` is about to be written
    SYNC,     // `file` is about to be synced to the disk
    RENAME,   // `file` is about to be renamed to `target`
    LINK,     // `file` is about to get the second name `target`
};
using FileStepHook = void (*)(FileStep step, const std::string& file, const std::string& target);
void setFileStepHook(FileStepHook hook);   // null: no hook (the default)

// rename(2), fsync(2) and link(2) through the seam.
int renameFile(const std::string& from, const std::string& to);
int syncFile(int fd, const std::string& name);
int linkFile(const std::string& existing, const std::string& name);

// --- Stamps --------------------------------------------------------------------------
// Which version of a file was seen: a rename or any write changes it.
struct FileStamp {
    bool     exists = false;
    uint64_t device = 0;
    uint64_t inode  = 0;
    int64_t  size   = 0;
    int64_t  mtimeNs = 0;
};
bool operator==(const FileStamp& a, const FileStamp& b);
inline bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }

// The stamp of the file a name leads to (symlinks followed); !exists when none.
FileStamp stampOf(const std::string& name);

// The stamp of an open file (the version being read).
FileStamp stampOfOpenFile(int fd);

// --- Reading -------------------------------------------------------------------------
// Opens `name` for reading without ever waiting: a named pipe or a device
// would block an open for reading until a writer comes, so the open does not
// block, and the caller refuses what fstat says is not a regular file (for
// regular files the flag changes nothing). -1 with errno on failure.
int openForReading(const char* name);

// openForReading, then: a regular file, or -1 with `why` ("not a regular
// file", "a directory, not a file" or errno's text). `st` gets its stat.
int openRegularFile(const char* name, struct stat& st, std::string& why);

// Reads a whole regular file of at most `limit` bytes into `text`. A larger
// file gives its first `limit` bytes and sets `truncated`. False (with the
// reason) when it cannot be opened or read, or is not a regular file; FIFOs
// and devices are never waited on. `stamp` is the version opened, also when
// it was refused for not being a regular file.
bool readBoundedFile(const std::string& filename, int64_t limit, std::string& text, bool& truncated,
                     FileStamp& stamp, std::string& why);

// Reads a whole regular file of at most `limit` bytes; false with
// "<name>: <reason>" in `why` otherwise (a larger file is refused).
bool readSmallFile(const std::string& name, std::string& text, int64_t limit, std::string& why);

// --- Writing and backups -------------------------------------------------------------
// "<target>.<pid>.tmp": the temporary a save of `target` writes first.
std::string temporaryNameFor(const std::string& target);

// Creates `name` (it must not exist) holding `text`, synced, mode 0666 less
// the umask. False with "<name>: <reason>" in `why`; a part written is removed.
bool createSyncedFile(const std::string& name, const std::string& text, std::string& why);

// Writes `text` into a fresh temporary beside `target`, synced, with the old
// file's permissions (and owner, when allowed; `old` null: a new file). The
// temporary's name on success; "<target>: <reason>" in `why` on failure.
bool writeTemporary(const std::string& target, const struct stat* old, const std::string& text, std::string& temporary,
                    std::string& why);

// Copies `file` to the first free "<file>.bak", "<file>.bak2", ... and returns
// that name; empty (with the reason in `why`) on failure.
std::string backupFile(const std::string& file, std::string& why);

// Writes `text` to `filename` through "<filename>.<pid>.tmp", synced and
// renamed; the old file stays until the new one is whole. errno-style reason
// in `why` on failure. Used for single files (timed paths, tools).
bool writeFileAtomically(const std::string& filename, const std::string& text, std::string* why = nullptr);

// What a whole-file write promises once it returns.
enum class Durability {
    SYNCED,        // the data and its name survive a power cut
    WHOLE_NAMES,   // a name only ever shows a whole file, also after a kill;
                   // not synced (rendered frames: a power cut may lose the newest)
};

// Writes `size` bytes to `filename` through "<filename>.<pid>.tmp", renamed
// into place, so the name never shows part of a file: a kill leaves the old
// file (or none) and at most the temporary. False with the system's reason
// in `why` (the temporary is removed).
bool writeBytesAtomically(const std::string& filename, const void* data, size_t size, Durability durability,
                          std::string& why);
