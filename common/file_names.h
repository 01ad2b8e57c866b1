// Rules for the names of files that we create from names given to us (a manifest's paths, the
// paths a previous release recorded): what Windows would take for something else, or refuse.
#pragma once

#include <string_view>

namespace tovi {

// ASCII letters folded to lower case: how Windows compares file names for the names we care about.
bool sameFileName(std::string_view a, std::string_view b);

// Names that Windows takes for a device in any folder, with or without an extension: CON, PRN,
// AUX, NUL, COM1-9, LPT1-9 (any letter case; blanks before the extension do not matter).
bool isDeviceName(std::string_view component);

// Why one component of a path (not empty, not "." or "..") cannot be a file name of ours: it ends
// in a dot or a blank, names a device, or holds a character that file names cannot hold (a control
// character, < > " | ? *). Null when it can.
const char* fileNameProblem(std::string_view component);

}  // namespace tovi
