#include "client/config.h"

#ifndef TOVI_DEFAULT_HOST
#error "TOVI_DEFAULT_HOST must name the host of the default addresses"
#endif

namespace tovi::client {

std::string defaultStartUrl() { return std::string("https://") + TOVI_DEFAULT_HOST + "/tovimis/pos2.html"; }

std::string startUrl(const IniFile& config) { return config.get(kConfigSection, "url", defaultStartUrl()); }

bool offlineStart(const IniFile& config) { return config.get(kConfigSection, "offlineStart", "") == "true"; }

std::string trustedOriginsList(const IniFile& config) { return config.get(kConfigSection, "trustedOrigins", ""); }

IniFile loadConfig() { return IniFile::load(kConfigFile); }

}  // namespace tovi::client
