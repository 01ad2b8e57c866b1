#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/files.h"

namespace tovi {

namespace fileio {

UniqueFile openForReading(const std::string& path) { return UniqueFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

UniqueFile createNew(const std::string& path) {
    return UniqueFile(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
}

std::optional<std::size_t> readSome(UniqueFile::type file, char* buf, std::size_t size) {
    while (true) {
        const ssize_t n = ::read(file, buf, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return std::nullopt;
    }
}

std::size_t writeSome(UniqueFile::type file, std::string_view data) {
    while (true) {
        const ssize_t n = ::write(file, data.data(), data.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return 0;
    }
}

bool flushToDisk(UniqueFile::type file) { return ::fsync(file) == 0; }

// The descriptor is gone whatever close reports; only the report is kept.
bool closeReporting(UniqueFile& file) { return ::close(file.release()) == 0; }

unsigned tagSeed() { return static_cast<unsigned>(::getpid()); }

}  // namespace fileio

bool replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    // Make the new name durable too: flush the folder that holds it.
    const auto slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
    const UniqueFd d(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d) ::fsync(d.get());
    return true;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool removeFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool copyPermissions(const std::string& from, const std::string& to) {
    struct stat st {};
    return ::stat(from.c_str(), &st) == 0 && ::chmod(to.c_str(), st.st_mode & 07777) == 0;
}

bool addExecutePermission(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && ::chmod(path.c_str(), (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2)) == 0;
}

bool hasExecutePermission(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

NamedLock::NamedLock(std::string path) : path_(std::move(path)) {
    for (int tries = 0; tries < 8; ++tries) {
        // Read-only: another user of the program folder's group can lock a file that one user made.
        file_.reset(::open(path_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
        if (!file_ || ::flock(file_.get(), LOCK_EX | LOCK_NB) != 0) break;
        // Its holder removed it between our open and our lock: the name now is another file's.
        struct stat held {}, named {};
        if (::fstat(file_.get(), &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return;
    }
    file_.reset();
}

NamedLock::~NamedLock() {
    // Removed while still held: whoever opens the name next makes a new file.
    if (file_) ::unlink(path_.c_str());
}

EntryKind entryKind(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return EntryKind::Missing;
    if (S_ISLNK(st.st_mode)) return EntryKind::Link;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    if (S_ISREG(st.st_mode)) return EntryKind::File;
    return EntryKind::Other;
}

}  // namespace tovi
