// config.ini: the client's settings, opened by both programs by its bare name in the shared current
// folder (the client reads it at start and the check rewrites it; the support program rewrites it
// when it puts a previous release back). Every key lives in the one section "base".
#pragma once

namespace tovi::config {

inline constexpr const char* kFile = "config.ini";
inline constexpr const char* kSection = "base";

// The client's start.
inline constexpr const char* kUrl = "url";                        // the start page
inline constexpr const char* kTrustedOrigins = "trustedOrigins";  // more origins the page's functions answer
inline constexpr const char* kOfflineStart = "offlineStart";      // "true": a failed check starts all the same

// The update check.
inline constexpr const char* kUpdateUrl = "updateUrl";  // the update folder, ending in "/"
inline constexpr const char* kVersion = "version";      // the installed release
inline constexpr const char* kSerial = "serial";        // of the installed signed list
inline constexpr const char* kTillId = "tillId";        // the till's own identity for staged rollouts

// The release that was rolled back, never installed again while it is offered: signed lists by
// their serial, unsigned ones by version and the SHA-1 of list.txt (update/release_store.h).
inline constexpr const char* kFailedSerial = "failedSerial";
inline constexpr const char* kFailedVersion = "failedVersion";
inline constexpr const char* kFailedList = "failedList";

}  // namespace tovi::config
