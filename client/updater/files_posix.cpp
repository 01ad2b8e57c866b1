#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "client/updater/files.h"
#include "common/error.h"

namespace tovi::updater {

InputFile::InputFile(const std::string& path) : path_(path), h_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (h_ < 0) throw ioError("cannot read: " + path);
}

InputFile::~InputFile() {
    if (h_ >= 0) ::close(static_cast<int>(h_));
}

std::size_t InputFile::read(char* buf, std::size_t size) {
    while (true) {
        const ssize_t n = ::read(static_cast<int>(h_), buf, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw ioError("cannot read: " + path_);
    }
}

OutputFile::OutputFile(const std::string& path)
    : path_(path), h_(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) {
    if (h_ < 0) throw ioError("Unable to open file");
}

OutputFile::~OutputFile() {
    close();
    if (!keep_) ::unlink(path_.c_str());
}

void OutputFile::close() {
    if (h_ >= 0) ::close(static_cast<int>(h_));
    h_ = -1;
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
        const ssize_t n = ::write(static_cast<int>(h_), data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ioError("cannot write: " + path_);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void OutputFile::commit() {
    flushBuffer();
    // A run keeps every committed file until all are moved in: it must not keep their buffers.
    std::string().swap(buffer_);
    if (::fsync(static_cast<int>(h_)) != 0) throw ioError("cannot write: " + path_);
    const int fd = static_cast<int>(h_);
    h_ = -1;
    if (::close(fd) != 0) throw ioError("cannot write: " + path_);
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    // Make the new name durable too: flush the folder that holds it.
    const auto slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    const int d = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return true;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

EntryKind entryKind(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return EntryKind::Missing;
    if (S_ISLNK(st.st_mode)) return EntryKind::Link;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    if (S_ISREG(st.st_mode)) return EntryKind::File;
    return EntryKind::Other;
}

bool makeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0; }

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    return names;
}

std::string randomTag() {
    static thread_local std::mt19937 gen{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(gen()));
    return buf;
}

}  // namespace tovi::updater
