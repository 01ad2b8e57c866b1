#include "client/config.h"

#ifndef TOVI_DEFAULT_HOST
#error "TOVI_DEFAULT_HOST must name the host of the default addresses"
#endif

namespace tovi::client {

std::string defaultStartUrl() { return std::string("https://") + TOVI_DEFAULT_HOST + "/tovimis/pos2.html"; }

std::string startUrl(const IniFile& config) { return config.get(config::kSection, config::kUrl, defaultStartUrl()); }

bool offlineStart(const IniFile& config) { return config.get(config::kSection, config::kOfflineStart, "") == "true"; }

std::string trustedOriginsList(const IniFile& config) { return config.get(config::kSection, config::kTrustedOrigins, ""); }

IniFile loadConfig() { return IniFile::load(config::kFile); }

}  // namespace tovi::client
