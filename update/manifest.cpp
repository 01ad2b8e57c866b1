#include "update/manifest.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "common/error.h"
#include "common/file_names.h"
#include "common/process.h"
#include "update/handoff.h"
#include "update/release_store.h"
#include "common/text.h"

namespace tovi::updater {

namespace {

std::string stringOr(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : std::string();
}

const rapidjson::Value* member(const rapidjson::Value& object, const char* name) {
    const auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::string_view trimWhite(std::string_view s) {
    constexpr std::string_view white = " \t\n\r\v\f";
    const auto b = s.find_first_not_of(white);
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(white);
    return s.substr(b, e - b + 1);
}

Manifest parseManifest(std::string_view body) {
    rapidjson::Document doc;
    // Default flags: no UTF-8 validation, so raw GB2312 bytes in strings come through unchanged.
    // Iterative: a list nested a million levels deep fails like any bad list instead of
    // overflowing the stack.
    doc.Parse<rapidjson::kParseIterativeFlag>(body.data(), body.size());
    if (doc.HasParseError()) {
        throw valueError(std::string("list.txt is not valid JSON: ") + rapidjson::GetParseError_En(doc.GetParseError()) +
                         " (at byte " + std::to_string(doc.GetErrorOffset()) + ")");
    }
    if (!doc.IsObject()) throw valueError("list.txt is not a JSON object");
    const rapidjson::Value* version = member(doc, "version");
    if (!version) throw valueError("list.txt has no \"version\"");
    const rapidjson::Value* list = member(doc, "list");
    if (!list) throw valueError("list.txt has no \"list\"");

    Manifest m;
    m.version = stringOr(*version);
    if (const rapidjson::Value* serial = member(doc, "serial")) {
        // An integer in the JSON sense: 7, not 7.0 or "7".
        if (serial->IsUint64() && serial->GetUint64() <= kMaxSerial) m.serial = serial->GetUint64();
        else m.serialError = "list.txt: \"serial\" is not an integer from 0 to " + std::to_string(kMaxSerial);
    } else {
        m.serialError = "list.txt has no \"serial\"";
    }
    if (const rapidjson::Value* rollout = member(doc, "rollout")) {
        if (!rollout->IsInt() || rollout->GetInt() < 1 || rollout->GetInt() > 100)
            throw valueError("list.txt: \"rollout\" is not an integer from 1 to 100");
        m.rollout = rollout->GetInt();
    }
    if (!list->IsArray()) {
        m.listError = "list.txt: \"list\" is not an array";
        return m;
    }
    std::vector<ManifestEntry> entries;
    entries.reserve(list->Size());
    for (rapidjson::SizeType i = 0; i < list->Size(); ++i) {
        const rapidjson::Value& e = (*list)[i];
        const std::string where = "list.txt: entry " + std::to_string(i + 1);
        if (!e.IsObject()) {
            m.listError = where + " is not an object";
            return m;
        }
        const rapidjson::Value* sha1 = member(e, "sha1");
        const rapidjson::Value* path = member(e, "path");
        if (!sha1 || !path) {
            m.listError = where + (sha1 ? " has no \"path\"" : " has no \"sha1\"");
            return m;
        }
        const rapidjson::Value* executable = member(e, "executable");
        if (executable && !executable->IsBool()) {
            m.listError = where + ": \"executable\" is not true or false";
            return m;
        }
        entries.push_back({std::string(trimWhite(stringOr(*sha1))), std::string(trimWhite(stringOr(*path))),
                           executable && executable->GetBool()});
    }
    m.entries = std::move(entries);
    return m;
}

std::string manifestText(const std::string& version, const std::vector<ListedFile>& files,
                         std::optional<std::uint64_t> serial, std::optional<int> rollout) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    w.StartObject();
    w.Key("version");
    w.String(version.data(), static_cast<rapidjson::SizeType>(version.size()));
    if (serial) {
        w.Key("serial");
        w.Uint64(*serial);
    }
    if (rollout) {
        w.Key("rollout");
        w.Int(*rollout);
    }
    w.Key("list");
    w.StartArray();
    for (const auto& f : files) {
        const std::string name = f.path + std::string(kServedSuffix);
        const std::string gb = utf8ToGb2312(name);
        if (gb2312ToUtf8(gb) != name) throw valueError("path cannot be written in GB2312: " + f.path);
        w.StartObject();
        w.Key("sha1");
        w.String(f.sha1.data(), static_cast<rapidjson::SizeType>(f.sha1.size()));
        w.Key("path");
        // GB2312 bytes go out as they are: the writer does not validate or escape bytes >= 0x80,
        // and no GB2312 byte of a two-byte character is a quote or a backslash.
        w.String(gb.data(), static_cast<rapidjson::SizeType>(gb.size()));
        if (f.executable) {
            w.Key("executable");
            w.Bool(true);
        }
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::uint64_t manifestSerial(const Manifest& m) {
    if (!m.serial) throw valueError(m.serialError);
    return *m.serial;
}

const std::vector<ManifestEntry>& manifestEntries(const Manifest& m) {
    if (!m.entries) throw valueError(m.listError);
    return *m.entries;
}

std::string dropLastChars(std::string_view utf8, std::size_t n) {
    std::size_t end = utf8.size();
    while (n > 0 && end > 0) {
        --end;
        // Step back over continuation bytes to the start of the character.
        while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
        --n;
    }
    if (n > 0) return {};
    return std::string(utf8.substr(0, end));
}

namespace {

constexpr const char* kLeavesFolder = "path leaves the program folder";
// The client as every list may name it: the hand-off file without its suffix ("tovipos.exe").
constexpr std::string_view kListedClient = kHandOffFile.substr(0, kHandOffFile.size() - kServedSuffix.size());

std::vector<std::string> splitAt(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (true) {
        const auto next = text.find(separator, i);
        parts.emplace_back(text.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i));
        if (next == std::string_view::npos) return parts;
        i = next + 1;
    }
}

std::string joined(const std::vector<std::string>& parts, char separator) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += separator;
        out += p;
    }
    return out;
}

bool isNameOrSuffixed(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size() + 9 || name.substr(name.size() - suffix.size()) != suffix) return false;
    const std::string_view tag = name.substr(name.size() - suffix.size() - 9, 9);
    if (tag[0] != '.') return false;
    for (std::size_t i = 1; i < 9; ++i) {
        if (!isHex(tag[i])) return false;
    }
    return true;
}

}  // namespace

RelativePath relativePathOf(std::string_view utf8Path) {
    RelativePath out;
    auto refuse = [&out](const char* why) {
        out.parts.clear();
        out.problem = why;
        return out;
    };
    if (utf8Path.empty() || utf8Path.front() == '/' || utf8Path.front() == '\\') return refuse(kLeavesFolder);  // absolute
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < utf8Path.size()) {
        const auto next = utf8Path.find_first_of("/\\", i);
        const std::string_view part = utf8Path.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i);
        if (part.find(':') != std::string_view::npos) return refuse(kLeavesFolder);  // a drive ("C:"), or a stream name
        if (part == "..") {
            if (parts.empty()) return refuse(kLeavesFolder);  // past the program folder
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        if (next == std::string_view::npos) break;
        i = next + 1;
    }
    // The last four characters go after the join; what is left must still name a file in the folder.
    const std::string rel = dropLastChars(joined(parts, '/'), 4);
    if (rel.empty() || rel.back() == '/') return refuse(kLeavesFolder);
    out.parts = splitAt(rel, '/');
    if (out.parts.back() == "." || out.parts.back() == "..") return refuse(kLeavesFolder);
    for (const auto& part : out.parts) {
        if (const char* problem = fileNameProblem(part)) return refuse(problem);
    }
    return out;
}

std::string localPathOf(std::string_view utf8Path, const std::string& programFolder, char separator) {
    const RelativePath rel = relativePathOf(utf8Path);
    if (!rel.problem.empty()) return {};
    std::string folder = programFolder;
    if (folder.empty() || folder.back() != separator) folder += separator;
    return folder + joined(rel.parts, separator);
}

bool isTempName(std::string_view name) { return isNameOrSuffixed(name, kTempSuffix) || isNameOrSuffixed(name, kAsideSuffix); }

bool isAsideName(std::string_view name) { return isNameOrSuffixed(name, kAsideSuffix); }

EntryNames entryNames(const ManifestEntry& entry, const std::string& updateUrl, const std::string& programFolder, char separator) {
    EntryNames n;
    n.utf8Path = gb2312ToUtf8(entry.path);
    n.url = updateUrl + n.utf8Path;
    n.displayName = dropLastChars(n.utf8Path, 4);
    const RelativePath rel = relativePathOf(n.utf8Path);
    if (!rel.problem.empty()) throw valueError("list.txt: " + rel.problem + ": " + n.utf8Path);
    const std::string& name = rel.parts.back();
    if (isTempName(name)) throw valueError("list.txt: path has the form of a temporary file: " + n.utf8Path);
    // Where an install keeps the release it replaced (and its lock): never written by a release itself.
    if (sameFileName(rel.parts.front(), release::kStoreFolder) || (rel.parts.size() == 1 && sameFileName(name, release::kLockFile)))
        throw valueError("list.txt: path names the previous release's store: " + n.utf8Path);
    const bool topLevel = rel.parts.size() == 1;
    // Written by the update, moved by the hand-off: never a file of the release itself.
    if (topLevel && sameFileName(name, kHandOffFile)) throw valueError("list.txt: path names the hand-off file: " + n.utf8Path);
    // File names on Windows ignore letter case, so "TOVIPOS.EXE.txt" and "x/../tovipos.exe.txt"
    // replace the running client just as "tovipos.exe.txt" does.
    // The client as this platform names it too (Linux: "tovipos"): every new client goes through the
    // hand-off, which gives it execute permission and watches it.
    n.selfUpdate = topLevel && (sameFileName(name, kListedClient) || sameFileName(name, kClientProgram));
    std::string folder = programFolder;
    if (folder.empty() || folder.back() != separator) folder += separator;
    n.localPath = folder + (n.selfUpdate ? std::string(kClientProgram) : joined(rel.parts, separator));
    n.target = n.selfUpdate ? folder + std::string(kHandOffFile) : n.localPath;
    std::string inner = programFolder;
    for (std::size_t i = 0; i + 1 < rel.parts.size(); ++i) {
        if (inner.empty() || inner.back() != separator) inner += separator;
        inner += rel.parts[i];
        n.folders.push_back(inner);
    }
    return n;
}

}  // namespace tovi::updater
