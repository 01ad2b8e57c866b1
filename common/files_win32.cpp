#include <windows.h>

#include "common/files.h"
#include "common/text.h"

namespace tovi {

namespace fileio {

namespace {
// ReadFile and WriteFile count in a DWORD: larger requests go in parts.
constexpr std::size_t kMaxPart = 0x40000000;
DWORD partSize(std::size_t size) { return static_cast<DWORD>(size > kMaxPart ? kMaxPart : size); }
}  // namespace

UniqueFile openForReading(const std::string& path) {
    return UniqueFile(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

UniqueFile createNew(const std::string& path) {
    return UniqueFile(CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::optional<std::size_t> readSome(UniqueFile::type file, char* buf, std::size_t size) {
    DWORD n = 0;
    if (!ReadFile(file, buf, partSize(size), &n, nullptr)) return std::nullopt;
    return n;
}

std::size_t writeSome(UniqueFile::type file, std::string_view data) {
    DWORD n = 0;
    if (!WriteFile(file, data.data(), partSize(data.size()), &n, nullptr)) return 0;
    return n;
}

bool flushToDisk(UniqueFile::type file) { return FlushFileBuffers(file) != 0; }

bool closeReporting(UniqueFile& file) { return CloseHandle(file.release()) != 0; }

unsigned tagSeed() { return static_cast<unsigned>(GetCurrentProcessId()) ^ static_cast<unsigned>(GetTickCount()); }

}  // namespace fileio

bool replaceFile(const std::string& from, const std::string& to) {
    const std::wstring src = widen(from);
    const std::wstring dst = widen(to);
    // A target that another process holds open, even only to read it (the support program reading
    // a state file while the client rewrites it), cannot be replaced: access denied. Such a read
    // takes a moment; a file held for good (a loaded library) fails after the last try.
    for (int tries = 0;; ++tries) {
        if (MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || tries == 25) return false;
        Sleep(20);
    }
}

bool removeFile(const std::string& path) { return DeleteFileW(widen(path).c_str()) != 0; }

bool removeFolder(const std::string& path) { return RemoveDirectoryW(widen(path).c_str()) != 0; }

bool copyPermissions(const std::string&, const std::string&) { return true; }

bool addExecutePermission(const std::string&) { return true; }

bool hasExecutePermission(const std::string&) { return false; }

NamedLock::NamedLock(std::string path) : path_(std::move(path)) {
    // No sharing: a second open fails until this handle is closed, which also removes the file.
    file_.reset(CreateFileW(widen(path_).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

NamedLock::~NamedLock() = default;

EntryKind entryKind(const std::string& path) {
    const DWORD a = GetFileAttributesW(widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    // Symbolic links and junctions alike.
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
    return EntryKind::File;
}

}  // namespace tovi
