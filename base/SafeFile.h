// base/SafeFile.h: the file layer an author's work is kept safe by: which
// version of a file was seen (stamps), bounded reads that never wait on a
// pipe, synced writes through a temporary that is renamed over the target,
// and backups beside a file. POSIX calls, no knowledge of any file format.
#pragma once

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
