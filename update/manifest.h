// The update list "list.txt", read (by the check) and written (by publish) here, and the names
// derived for each of its entries.
//
// The list is one JSON object: "version" (a string; opaque, compared byte for byte) and "list"
// (an array of objects with "sha1" and "path"). Paths are GB2312 bytes written raw inside the JSON
// strings, so the parser keeps bytes as they are (no UTF-8 validation).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_names.h"
#include "common/files.h"

namespace tovi::updater {

// The update folder: the list, its signature (signed lists), and every file of a release under its
// path plus kServedSuffix. A reader drops the last four characters of a listed path, whatever they
// are; a writer appends kServedSuffix.
inline constexpr std::string_view kListFile = "list.txt";
inline constexpr std::string_view kSignatureFile = "list.txt.sig";
inline constexpr std::string_view kServedSuffix = ".txt";

struct ManifestEntry {
    std::string sha1;  // trimmed
    std::string path;  // trimmed, GB2312 bytes as sent
    // "executable": true: a program (POSIX). A new file gets execute permission; a replaced one
    // keeps the permissions it had in any case.
    bool executable = false;
};

struct Manifest {
    std::string version;  // as received (not trimmed); empty when not a string
    // The list, checked only when the walk needs it: with equal versions a "list" that is not an
    // array of proper entries does not matter.
    std::optional<std::vector<ManifestEntry>> entries;
    std::string listError;  // why entries is empty, for the walk's error
    // "serial", which only signed lists must carry: checked when asked for (manifestSerial).
    std::optional<std::uint64_t> serial;
    std::string serialError;  // why serial is empty
    // "rollout": the percentage of tills that take this release, 1 to 100 (100 when missing).
    int rollout = 100;
};

// The largest serial: 2^53 - 1, the largest integer every JSON reader holds exactly.
inline constexpr std::uint64_t kMaxSerial = (std::uint64_t{1} << 53) - 1;

// Parses the body of "list.txt". Throws ValueError for text that is not JSON, a top level that is
// not an object, a missing "version" or "list", or a "rollout" that is not an integer from 1 to 100.
Manifest parseManifest(std::string_view body);

// One file of a release as publish lists it.
struct ListedFile {
    std::string path;  // relative, "/"-separated, UTF-8, without kServedSuffix
    std::string sha1;
    bool executable = false;  // a program (POSIX execute permission): "executable": true
};

// The text of list.txt for these files (paths in GB2312, kServedSuffix appended), with "serial" and
// "rollout" when given. Throws ValueError for a path that GB2312 cannot write.
std::string manifestText(const std::string& version, const std::vector<ListedFile>& files,
                         std::optional<std::uint64_t> serial = std::nullopt, std::optional<int> rollout = std::nullopt);

// "serial", or ValueError when it is missing or not an integer from 0 to kMaxSerial.
std::uint64_t manifestSerial(const Manifest& m);

// The entries, or ValueError with the reason the list is unusable.
const std::vector<ManifestEntry>& manifestEntries(const Manifest& m);

// Blank, tab, LF, CR, VT and FF removed from both ends.
std::string_view trimWhite(std::string_view s);

// Temporary names: kTempSuffix and kAsideSuffix of common/files.h.
using tovi::kAsideSuffix;
using tovi::kTempSuffix;

// Names of one entry.
struct EntryNames {
    std::string utf8Path;     // "path" converted from GB2312
    std::string url;          // updateUrl + utf8Path
    std::string localPath;    // inside the program folder, the last four characters removed
    std::string displayName;  // utf8Path without its last four characters (empty if it has <= 4)
    std::string target;       // where the download is stored (the self-update keeps ".txt")
    // The folders between the program folder and the target, outermost first (full paths).
    std::vector<std::string> folders;
    bool selfUpdate = false;
};

// Builds the names of an entry. Throws ValueError naming the path when the local path would not be
// a file strictly inside the program folder (an absolute path, a drive, ".." past the program
// folder, or nothing left once the four characters are gone), when a component ends in a dot or a
// blank or is a Windows device name, or when it names the hand-off file or one of our temporary
// files. Every alias of the client's executable (letter case, "./", "x/..", and on Linux "tovipos" as
// well as "tovipos.exe") is the self-update; its local path is the client's file as this platform
// names it (kClientProgram), its target the hand-off file.
// separator is "\" on Windows.
EntryNames entryNames(const ManifestEntry& entry, const std::string& updateUrl, const std::string& programFolder, char separator);

// The components of a manifest path (UTF-8) relative to the program folder: "/" and "\" both
// separate, runs of separators count as one, "." is dropped, ".." removes the component before it;
// then the last four characters are removed. On refusal, problem says why and parts is empty.
struct RelativePath {
    std::vector<std::string> parts;
    std::string problem;
};
RelativePath relativePathOf(std::string_view utf8Path);

// programFolder joined with relativePathOf(utf8Path); empty when that is refused.
std::string localPathOf(std::string_view utf8Path, const std::string& programFolder, char separator);

using tovi::isDeviceName;  // common/file_names.h

// The text without its last n characters (UTF-8 code points); empty when it has n or fewer.
std::string dropLastChars(std::string_view utf8, std::size_t n);

// Whether a file name is one of our temporary names: a download ("x.dll.0A1B2C3D.tovi-part") or a
// replaced file kept aside ("x.dll.0A1B2C3D.tovi-old").
bool isTempName(std::string_view name);
bool isAsideName(std::string_view name);

using tovi::sameFileName;

}  // namespace tovi::updater
