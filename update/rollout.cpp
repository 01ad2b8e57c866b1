#include "update/rollout.h"

#include <random>

#include "update/sha1.h"
#include "common/ascii.h"
#include "common/error.h"
#include "common/files.h"
#include "common/ini.h"
#include "update/config_ini.h"

namespace tovi::updater {

bool isTillId(std::string_view text) {
    if (text.size() != 32) return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::string newTillId(const LibCrypto& crypto) {
    unsigned char bytes[16];
    if (!crypto.RAND_bytes || crypto.RAND_bytes(bytes, sizeof bytes) != 1) {
        std::random_device device;
        for (auto& b : bytes) b = static_cast<unsigned char>(device());
    }
    return ascii::hex(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

std::string ensureTillId(const LibCrypto& crypto, const std::string& configPath,
                         const std::function<void(const std::string&)>& note) {
    try {
        IniFile config = IniFile::load(configPath);
        const std::string id = config.get(config::kSection, config::kTillId, "");
        if (isTillId(id)) return id;
        const std::string fresh = newTillId(crypto);
        config.set(config::kSection, config::kTillId, fresh);
        replaceFileContent(configPath, config.text());
        if (!id.empty() && note) note("tillId in config.ini is no till identity (32 hexadecimal digits): replaced by a new one");
        return fresh;
    } catch (const Error&) {
        return {};
    }
}

int rolloutBucket(const LibCrypto& crypto, std::string_view tillId, std::string_view version) {
    const std::string id = ascii::lowered(tillId);
    const std::string digest = sha1Hex(crypto, id + "\n" + std::string(version));
    return static_cast<int>(std::stoull(digest.substr(0, 16), nullptr, 16) % 100);
}

bool takesRelease(const LibCrypto& crypto, std::string_view tillId, std::string_view version, int rollout) {
    if (rollout >= 100) return true;
    return isTillId(tillId) && rolloutBucket(crypto, tillId, version) < rollout;
}

}  // namespace tovi::updater
