#include "common/files.h"

#include <cstdio>
#include <random>
#include <utility>

#include "common/error.h"

namespace tovi {

InputFile::InputFile(const std::string& path) : path_(path), file_(fileio::openForReading(path)) {
    if (!file_) throw ioError("cannot read: " + path);
}

std::size_t InputFile::read(char* buf, std::size_t size) {
    const auto n = fileio::readSome(file_.get(), buf, size);
    if (!n) throw ioError("cannot read: " + path_);
    return *n;
}

OutputFile::OutputFile(const std::string& path) : OutputFile(path, fileio::createNew(path)) {}

OutputFile::OutputFile(std::string path, UniqueFile file) : path_(std::move(path)), file_(std::move(file)) {
    // Thrown before construction completes: a file that was never ours is not removed.
    if (!file_) throw ioError("Unable to open file");
}

OutputFile::~OutputFile() {
    file_.reset();  // Windows cannot delete an open file
    if (!keep_) removeFile(path_);
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
    writeNow(buffer_);
    buffer_.clear();
}

void OutputFile::writeNow(std::string_view data) {
    while (!data.empty()) {
        // A write that takes nothing would take nothing again: it fails rather than spin.
        const std::size_t n = fileio::writeSome(file_.get(), data);
        if (n == 0) throw ioError("cannot write: " + path_);
        data.remove_prefix(n);
    }
}

void OutputFile::commit() {
    flushBuffer();
    // A run keeps every committed file until all are moved in: it must not keep their buffers.
    std::string().swap(buffer_);
    if (!fileio::flushToDisk(file_.get()) || !fileio::closeReporting(file_)) throw ioError("cannot write: " + path_);
}

std::string randomTag() {
    static thread_local std::mt19937 gen{std::random_device{}() ^ fileio::tagSeed()};
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(gen()));
    return buf;
}

std::string temporaryNameFor(const std::string& path, std::string_view suffix) {
    return path + "." + randomTag() + std::string(suffix);
}

void replaceFileContent(const std::string& path, std::string_view text) {
    OutputFile file(temporaryNameFor(path));
    file.write(text);
    file.commit();
    if (!replaceFile(file.path(), path)) throw ioError("cannot write: " + path);
    file.release();
}

}  // namespace tovi
