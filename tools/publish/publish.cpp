#include "tools/publish/publish.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>

#include "client/updater/files.h"
#include "client/updater/manifest.h"
#include "client/updater/sha1.h"
#include "common/error.h"
#include "common/paths.h"
#include "common/text.h"

namespace tovi::publish {

namespace {

// Folders of a release nest at most this deep: a link that leads back up would otherwise be
// followed for ever.
constexpr int kMaxDepth = 32;

std::string join(const std::string& folder, const std::string& relative) {
    std::string out = folder;
    if (!out.empty() && out.back() != '/' && out.back() != pathSeparator()) out += pathSeparator();
    for (const char c : relative) out += c == '/' ? pathSeparator() : c;
    return out;
}

// The regular files under folder, as "/"-separated paths relative to it. A folder that cannot be
// read fails the run: a release published without some of its files would look complete.
void collectFiles(const std::string& folder, const std::string& relative, int depth, std::vector<std::string>& out) {
    if (depth > kMaxDepth) throw ioError("folders nested too deep: " + folder);
    const auto names = folderNames(folder);
    if (!names) throw ioError("cannot read folder: " + folder);
    for (const std::string& name : *names) {
        const std::string path = join(folder, name);
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        switch (fileKind(path)) {
            case FileKind::Directory: collectFiles(path, rel, depth + 1, out); break;
            case FileKind::Regular: out.push_back(rel); break;
            default: break;
        }
    }
}

// Whether the existing folder inner is outer or lies inside it.
bool isWithin(const std::string& inner, const std::string& outer) {
    auto a = absolutePath(inner);
    auto b = absolutePath(outer);
    if (!a || !b) return false;
#ifdef _WIN32
    *a = asciiUpper(*a);  // Windows file names ignore case
    *b = asciiUpper(*b);
#endif
    if (!b->empty() && (b->back() == '/' || b->back() == pathSeparator())) b->pop_back();
    return a->starts_with(*b) && (a->size() == b->size() || (*a)[b->size()] == '/' || (*a)[b->size()] == pathSeparator());
}

// Copies from to a temporary name beside to and moves it into place; returns the SHA-1 digest and
// adds the bytes copied to size.
std::string copyInPlace(const updater::OpenSsl& ssl, const std::string& from, const std::string& to,
                        unsigned long long* size) {
    updater::InputFile in(from);
    const std::string temp = to + "." + updater::randomTag() + std::string(updater::kTempSuffix);
    updater::OutputFile out(temp);
    updater::Sha1 digest(ssl.crypto);
    std::vector<char> buf(256 * 1024);
    while (const std::size_t n = in.read(buf.data(), buf.size())) {
        const std::string_view piece(buf.data(), n);
        out.write(piece);
        digest.update(piece);
        *size += n;
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
    if (fileKind(releaseFolder) != FileKind::Directory) throw ioError("not a folder: " + releaseFolder);
    if (!createFolders(updateFolder)) throw ioError("cannot create folder: " + updateFolder);
    if (isWithin(updateFolder, releaseFolder) || isWithin(releaseFolder, updateFolder))
        throw valueError("the release folder and the update folder must not contain each other");

    std::vector<std::string> sources;
    collectFiles(releaseFolder, "", 0, sources);
    std::vector<PublishedFile> files;
    for (const auto& path : sources) {
        const auto slash = path.rfind('/');
        if (updater::isTempName(slash == std::string::npos ? path : path.substr(slash + 1))) continue;  // a leftover of an interrupted copy
        files.push_back({path, "", 0});
    }
    std::sort(files.begin(), files.end(), [](const PublishedFile& a, const PublishedFile& b) { return a.path < b.path; });
    // Check every name before writing anything.
    (void)manifestText(version, files);

    for (auto& f : files) {
        const std::string to = join(updateFolder, f.path + ".txt");
        const auto slash = f.path.rfind('/');
        if (slash != std::string::npos) createFolders(join(updateFolder, f.path.substr(0, slash)));
        f.sha1 = copyInPlace(ssl, join(releaseFolder, f.path), to, &f.size);
    }
    writeInPlace(manifestText(version, files), join(updateFolder, "list.txt"));
    return files;
}

int publishMain(const std::vector<std::string>& args) {
    if (args.size() != 4) {
        std::fputs("usage: publish <release folder> <version> <update folder>\n"
                   "Copies every file of the release folder to the update folder as <path>.txt and writes list.txt last.\n",
                   stderr);
        return 2;
    }
    try {
        const updater::OpenSsl ssl = updater::loadOpenSsl();
        const auto files = publish(ssl, args[1], args[2], args[3]);
        unsigned long long total = 0;
        for (const auto& f : files) {
            std::printf("%s  %s\n", f.sha1.c_str(), f.path.c_str());
            total += f.size;
        }
        std::printf("published %zu files (%llu bytes), version %s\n", files.size(), total, args[2].c_str());
        return 0;
    } catch (const std::exception&) {
        std::fputs(unhandledErrorText(std::current_exception()).c_str(), stderr);
        return 1;
    }
}

}  // namespace tovi::publish
