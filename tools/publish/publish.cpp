#include "tools/publish/publish.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "client/updater/files.h"
#include "client/updater/manifest.h"
#include "client/updater/sha1.h"
#include "common/entry.h"
#include "common/error.h"
#include "common/paths.h"
#include "common/text.h"

namespace tovi::publish {

namespace fs = std::filesystem;

namespace {

fs::path fromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

std::string toUtf8(const fs::path& p) {
    const std::u8string u = p.generic_u8string();
    return std::string(u.begin(), u.end());
}

std::string nativeUtf8(const fs::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

bool isInside(const fs::path& inner, const fs::path& outer) {
    const auto rel = fs::weakly_canonical(inner).lexically_relative(fs::weakly_canonical(outer));
    return !rel.empty() && *rel.begin() != "..";
}

// Copies from to a temporary name beside to and moves it into place; returns the SHA-1 digest.
std::string copyInPlace(const updater::OpenSsl& ssl, const std::string& from, const std::string& to) {
    updater::InputFile in(from);
    const std::string temp = to + "." + updater::randomTag() + std::string(updater::kTempSuffix);
    updater::OutputFile out(temp);
    updater::Sha1 digest(ssl.crypto);
    std::vector<char> buf(256 * 1024);
    while (const std::size_t n = in.read(buf.data(), buf.size())) {
        const std::string_view piece(buf.data(), n);
        out.write(piece);
        digest.update(piece);
    }
    out.commit();
    if (!updater::replaceFile(temp, to)) throw ioError("cannot replace " + to);
    out.release();
    return digest.hexDigest();
}

void writeInPlace(const std::string& text, const std::string& to) {
    const std::string temp = to + "." + updater::randomTag() + std::string(updater::kTempSuffix);
    updater::OutputFile out(temp);
    out.write(text);
    out.commit();
    if (!updater::replaceFile(temp, to)) throw ioError("cannot replace " + to);
    out.release();
}

}  // namespace

std::string manifestText(const std::string& version, const std::vector<PublishedFile>& files) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    w.StartObject();
    w.Key("version");
    w.String(version.data(), static_cast<rapidjson::SizeType>(version.size()));
    w.Key("list");
    w.StartArray();
    for (const auto& f : files) {
        const std::string name = f.path + ".txt";
        const std::string gb = utf8ToGb2312(name);
        if (gb2312ToUtf8(gb) != name) throw valueError("path cannot be written in GB2312: " + f.path);
        w.StartObject();
        w.Key("sha1");
        w.String(f.sha1.data(), static_cast<rapidjson::SizeType>(f.sha1.size()));
        w.Key("path");
        // GB2312 bytes go out as they are: the writer does not validate or escape bytes >= 0x80,
        // and no GB2312 byte of a two-byte character is a quote or a backslash.
        w.String(gb.data(), static_cast<rapidjson::SizeType>(gb.size()));
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::vector<PublishedFile> publish(const updater::OpenSsl& ssl, const std::string& releaseFolder, const std::string& version,
                                   const std::string& updateFolder) {
    const fs::path release = fromUtf8(releaseFolder);
    const fs::path update = fromUtf8(updateFolder);
    std::error_code ec;
    if (!fs::is_directory(release, ec)) throw ioError("not a folder: " + releaseFolder);
    fs::create_directories(update, ec);
    if (!fs::is_directory(update, ec)) throw ioError("cannot create folder: " + updateFolder);
    if (isInside(update, release) || isInside(release, update) || fs::equivalent(update, release, ec))
        throw valueError("the release folder and the update folder must not contain each other");

    std::vector<fs::path> sources;
    for (const auto& e : fs::recursive_directory_iterator(release)) {
        if (e.is_regular_file()) sources.push_back(e.path());
    }
    std::vector<PublishedFile> files;
    for (const auto& src : sources) {
        PublishedFile f;
        f.path = toUtf8(src.lexically_relative(release));
        if (updater::isTempName(src.filename().string())) continue;  // a leftover of an interrupted copy
        files.push_back(f);
    }
    std::sort(files.begin(), files.end(), [](const PublishedFile& a, const PublishedFile& b) { return a.path < b.path; });
    // Check every name before writing anything.
    (void)manifestText(version, files);

    for (auto& f : files) {
        const fs::path to = update / fromUtf8(f.path + ".txt");
        fs::create_directories(to.parent_path(), ec);
        f.sha1 = copyInPlace(ssl, nativeUtf8(release / fromUtf8(f.path)), nativeUtf8(to));
        f.size = fs::file_size(to);
    }
    writeInPlace(manifestText(version, files), nativeUtf8(update / "list.txt"));
    return files;
}

int publishMain(const std::vector<std::string>& args) {
    if (args.size() != 4) {
        std::cerr << "usage: publish <release folder> <version> <update folder>\n"
                     "Copies every file of the release folder to the update folder as <path>.txt and writes list.txt last.\n";
        return 2;
    }
    return runReportingErrorsOnConsole([&] {
        const updater::OpenSsl ssl = updater::loadOpenSsl();
        const auto files = publish(ssl, args[1], args[2], args[3]);
        unsigned long long total = 0;
        for (const auto& f : files) {
            std::cout << f.sha1 << "  " << f.path << "\n";
            total += f.size;
        }
        std::cout << "published " << files.size() << " files (" << total << " bytes), version " << args[2] << "\n";
        return 0;
    });
}

}  // namespace tovi::publish
