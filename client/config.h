// config.ini as the client's start reads it (update/config_ini.h names the file, section and keys).
// Read afresh by each reader.
#pragma once

#include <string>

#include "common/ini.h"
#include "update/config_ini.h"

namespace tovi::client {

// "https://" + the maker's host + "/tovimis/pos2.html".
std::string defaultStartUrl();

// The start page address of a parsed config.ini: (base, url) or the default.
std::string startUrl(const IniFile& config);

// Whether (base, offlineStart) is exactly "true": a failed update check then starts the installed
// release instead of ending the client.
bool offlineStart(const IniFile& config);

// The further origins that the page's functions answer: (base, trustedOrigins), blank-separated,
// or empty.
std::string trustedOriginsList(const IniFile& config);

// Loads config.ini from the current folder; IOError "cannot open: config.ini" when it cannot.
IniFile loadConfig();

}  // namespace tovi::client
