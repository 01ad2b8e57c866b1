// The file operations of the updater that the standard library does not do reliably on both
// platforms: exclusive creation, flushing to the disk, replacing a file in one step (files_posix.cpp /
// files_win32.cpp). Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::updater {

// Reading a file from the start; throws IOError "cannot read: " + path.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    // 0 at the end.
    std::size_t read(char* buf, std::size_t size);

private:
    std::string path_;
    std::intptr_t h_;
};

// A new file, created exclusively (never an existing one), written and then committed (flushed to
// the disk and closed). Removed again when destroyed uncommitted. Creation throws IOError
// "Unable to open file"; a failed write or flush throws IOError "cannot write: " + path.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
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
    void close();
    void flushBuffer();
    void writeNow(std::string_view data);
    std::string path_;
    std::intptr_t h_;
    bool keep_ = false;
    // Small pieces (a TLS record is at most 16 KiB) are gathered into fewer, larger writes.
    std::string buffer_;
};

// Moves from over to, replacing to in one step (rename / MoveFileExW with REPLACE_EXISTING), so a
// reader sees the old file or the new one, never a part. Returns false on failure.
bool replaceFile(const std::string& from, const std::string& to);

bool removeFile(const std::string& path);

// What is at a path, without following a final link (Windows: any reparse point counts as a link).
enum class EntryKind { Missing, File, Folder, Link, Other };
EntryKind entryKind(const std::string& path);

// Creates one folder (its parent must exist); false when it cannot be made or already exists.
bool makeFolder(const std::string& path);

// Names (not paths) of the entries of a folder, "." and ".." excluded; empty when it cannot be read.
std::vector<std::string> listFolder(const std::string& folder);

// A fresh random text of 8 hexadecimal digits for temporary names.
std::string randomTag();

}  // namespace tovi::updater
