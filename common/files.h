// The file operations that the standard library does not do reliably on both platforms: exclusive
// creation, flushing to the disk, replacing a file in one step. The updater and the publishing tool
// write through them. Paths are UTF-8.
// The portable part (buffering, the write loop, error texts) is files.cpp; files_posix.cpp and
// files_win32.cpp hold only the primitives below.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/handle.h"
#include "common/paths.h"

namespace tovi {

#ifdef _WIN32
using UniqueFile = UniqueWin32File;
#else
using UniqueFile = UniqueFd;
#endif

// Reading a file from the start; throws IOError "cannot read: " + path.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    // 0 at the end.
    std::size_t read(char* buf, std::size_t size);

private:
    std::string path_;
    UniqueFile file_;
};

// A new file, created exclusively (never an existing one), written and then committed (flushed to
// the disk and closed). Removed again when destroyed uncommitted. Creation throws IOError
// "Unable to open file"; a failed write or flush throws IOError "cannot write: " + path.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    // Takes over a file that the caller has just created exclusively at path (for other access
    // rights than createNew gives).
    OutputFile(std::string path, UniqueFile file);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(std::string_view data);
    void commit();
    static constexpr std::size_t kBufferSize = 1 << 20;
    // After commit: the caller now owns the file on disk (it is not removed on destruction).
    void release() { keep_ = true; }
    const std::string& path() const { return path_; }

private:
    void flushBuffer();
    void writeNow(std::string_view data);
    std::string path_;
    UniqueFile file_;
    bool keep_ = false;
    // Small pieces (a TLS record is at most 16 KiB) are gathered into fewer, larger writes.
    std::string buffer_;
};

// Suffixes of our temporary names: a file being written ("<target>.<8 hex digits>.tovi-part") and a
// replaced file kept aside until it can be removed ("<target>.<8 hex digits>.tovi-old"; a loaded
// library cannot be deleted on Windows, but it can be renamed).
inline constexpr std::string_view kTempSuffix = ".tovi-part";
inline constexpr std::string_view kAsideSuffix = ".tovi-old";

// path + "." + randomTag() + suffix: a fresh name beside path.
std::string temporaryNameFor(const std::string& path, std::string_view suffix = kTempSuffix);

// Writes text to path in one step: into a temporary name beside it, flushed, then moved over path,
// so that a reader (or a start after a power cut) sees the old content or the new, never a part.
// Throws IOError.
void replaceFileContent(const std::string& path, std::string_view text);

// Moves from over to, replacing to in one step (rename / MoveFileExW with REPLACE_EXISTING), so a
// reader sees the old file or the new one, never a part. Returns false on failure.
bool replaceFile(const std::string& from, const std::string& to);

bool removeFile(const std::string& path);
// Gives to the permissions of from (POSIX: the mode bits, execute included; Windows: nothing to do).
bool copyPermissions(const std::string& from, const std::string& to);
// Gives execute permission to whoever may read the file (POSIX; Windows: nothing to do).
bool addExecutePermission(const std::string& path);
// Whether anyone may execute the file (POSIX; Windows has no such permission: false).
bool hasExecutePermission(const std::string& path);
// Removes an empty folder; false when that failed.
bool removeFolder(const std::string& path);

// What is at a path, without following a final link (Windows: any reparse point counts as a link).
EntryKind entryKind(const std::string& path);

// A lock that one process at a time holds under a file name, taken (or not) at once. It goes with
// the object, or with the process however it ends (a kill, a power cut); the file at path exists
// only while it is held.
class NamedLock {
public:
    explicit NamedLock(std::string path);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;
    bool held() const { return static_cast<bool>(file_); }

private:
    std::string path_;
    UniqueFile file_;
};

// A fresh random text of 8 hexadecimal digits for temporary names.
std::string randomTag();

// The primitives, one per platform. They never throw: failure is an empty handle, nullopt or false.
namespace fileio {

UniqueFile openForReading(const std::string& path);
// Fails when something exists at path already.
UniqueFile createNew(const std::string& path);

// Up to size bytes (fewer is no error); 0 at the end.
std::optional<std::size_t> readSome(UniqueFile::type file, char* buf, std::size_t size);
// Writes the first part of data (not empty); how many bytes, 0 on failure.
std::size_t writeSome(UniqueFile::type file, std::string_view data);
bool flushToDisk(UniqueFile::type file);
// Closes the file (empty afterwards); false when the close reported a failure (a late write error).
bool closeReporting(UniqueFile& file);
// Seed material for randomTag that differs between processes started in the same instant.
unsigned tagSeed();

}  // namespace fileio

}  // namespace tovi
