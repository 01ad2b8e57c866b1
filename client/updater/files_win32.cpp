#include <windows.h>

#include <cstdio>
#include <random>

#include "client/updater/files.h"
#include "common/error.h"
#include "common/text.h"

namespace tovi::updater {

namespace {
HANDLE asHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t fromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }
const std::intptr_t kInvalid = fromHandle(INVALID_HANDLE_VALUE);
}  // namespace

InputFile::InputFile(const std::string& path)
    : path_(path),
      h_(fromHandle(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr))) {
    if (h_ == kInvalid) throw ioError("cannot read: " + path);
}

InputFile::~InputFile() {
    if (h_ != kInvalid) CloseHandle(asHandle(h_));
}

std::size_t InputFile::read(char* buf, std::size_t size) {
    DWORD n = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(asHandle(h_), buf, want, &n, nullptr)) throw ioError("cannot read: " + path_);
    return n;
}

OutputFile::OutputFile(const std::string& path)
    : path_(path),
      h_(fromHandle(CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr))) {
    if (h_ == kInvalid) throw ioError("Unable to open file");
}

OutputFile::~OutputFile() {
    close();
    if (!keep_) DeleteFileW(widen(path_).c_str());
}

void OutputFile::close() {
    if (h_ != kInvalid) CloseHandle(asHandle(h_));
    h_ = kInvalid;
}

void OutputFile::write(std::string_view data) {
    if (buffer_.size() + data.size() <= kBufferSize) {
        if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
        buffer_.append(data);
        return;
    }
    flushBuffer();
    if (data.size() >= kBufferSize) {
        writeNow(data);
    } else {
        buffer_.append(data);
    }
}

void OutputFile::flushBuffer() {
    const std::string_view pending = buffer_;
    writeNow(pending);
    buffer_.clear();
}

void OutputFile::writeNow(std::string_view data) {
    while (!data.empty()) {
        const DWORD want = data.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(data.size());
        DWORD n = 0;
        if (!WriteFile(asHandle(h_), data.data(), want, &n, nullptr)) throw ioError("cannot write: " + path_);
        data.remove_prefix(n);
    }
}

void OutputFile::commit() {
    flushBuffer();
    // A run keeps every committed file until all are moved in: it must not keep their buffers.
    std::string().swap(buffer_);
    if (!FlushFileBuffers(asHandle(h_))) throw ioError("cannot write: " + path_);
    const HANDLE h = asHandle(h_);
    h_ = kInvalid;
    if (!CloseHandle(h)) throw ioError("cannot write: " + path_);
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const std::string& path) { return DeleteFileW(widen(path).c_str()) != 0; }

EntryKind entryKind(const std::string& path) {
    const DWORD a = GetFileAttributesW(widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    // Symbolic links and junctions alike.
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
    return EntryKind::File;
}

bool makeFolder(const std::string& path) { return CreateDirectoryW(widen(path).c_str(), nullptr) != 0; }

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data{};
    const HANDLE h = FindFirstFileW(widen(folder + "\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = narrow(data.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return names;
}

std::string randomTag() {
    static thread_local std::mt19937 gen{std::random_device{}() ^ static_cast<unsigned>(GetCurrentProcessId()) ^
                                         static_cast<unsigned>(GetTickCount())};
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(gen()));
    return buf;
}

}  // namespace tovi::updater
