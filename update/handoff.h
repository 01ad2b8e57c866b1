// What the client does at start, before anything else, about an update that an earlier run left
// unfinished.
#pragma once

#include <string>
#include <string_view>

namespace tovi::updater {

// The new client as the check stores it beside the programs, until the support program moves it
// over the client's file (kClientProgram): "tovipos.exe.txt" on every platform, the name every
// installed support program looks for.
inline constexpr std::string_view kHandOffFile = "tovipos.exe.txt";

// Removes the files that an update renamed aside in the program folder (a library that was loaded
// while it was replaced). Then looks for the hand-off file: a new client that an update stored
// and that was never moved into place (the support program did not start, or was stopped, or the
// power went). Returns true when it is there: the caller starts the hand-off and ends, as after
// an update. A hand-off file with the running client's own bytes is stale and is removed instead,
// so that it cannot start the hand-off over and over.
bool handOffPending(const std::string& programFolder, const std::string& clientPath, char separator);

}  // namespace tovi::updater
