// The program's own location and simple file queries.
#pragma once

#include <string>

namespace tovi {

// Full path of the running executable (UTF-8).
std::string programPath();
// Folder of the running executable, without a trailing separator.
std::string programFolder();

// The platform's folder separator: "\" on Windows, "/" elsewhere.
char pathSeparator();

enum class FileKind { Missing, Regular, Directory, Other };
// What exists at path (UTF-8). Windows: from GetFileAttributesW.
FileKind fileKind(const std::string& path);
inline bool fileExists(const std::string& path) { return fileKind(path) != FileKind::Missing; }

// Reads a whole file as bytes; throws IOError "cannot open: " + path when it cannot be opened.
std::string readFile(const std::string& path);

}  // namespace tovi
