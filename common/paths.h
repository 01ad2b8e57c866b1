// The program's own location and simple file queries.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovi {

// Full path of the running executable (UTF-8).
std::string programPath();
// Folder of the running executable, without a trailing separator.
std::string programFolder();

// The platform's folder separator: "\" on Windows, "/" elsewhere.
char pathSeparator();

// What is at a path: entryKind (common/files.h) names a final link as one; fileKind follows it, so
// it never answers Link.
enum class EntryKind { Missing, File, Folder, Link, Other };
// What exists at path (UTF-8), links followed. Windows: from GetFileAttributesW.
EntryKind fileKind(const std::string& path);
inline bool fileExists(const std::string& path) { return fileKind(path) != EntryKind::Missing; }

// Names (not paths) of the entries of a folder, "." and ".." left out; nothing when it cannot be read.
std::optional<std::vector<std::string>> folderNames(const std::string& folder);

// The absolute form of an existing path, with "." and ".." resolved (Linux: links too); nothing
// when it cannot be found.
std::optional<std::string> absolutePath(const std::string& path);

// Creates one folder; false when that failed (it exists already, or the folder above is missing).
bool createFolder(const std::string& folder);
// Creates the folder and every missing folder above it. True when it is a folder afterwards.
bool createFolders(const std::string& folder);

// Reads a whole file as bytes; throws IOError "cannot open: " + path when it cannot be opened,
// "cannot read: " + path when reading fails.
std::string readFile(const std::string& path);

}  // namespace tovi
