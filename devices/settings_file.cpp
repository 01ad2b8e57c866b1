#include <cstdio>
#include <exception>

#include "common/paths.h"
#include "devices/devio.h"

namespace tovi::devices {

DeviceSettings loadDeviceSettings(const char* who) {
    const std::string folder = libraryFolder();
    const std::string path = resolvePath(folder, kSettingsFileName, kNativePathStyle);
    if (folder.empty() || fileKind(path) != EntryKind::File) return DeviceSettings{};
    std::string text;
    try {
        text = readFile(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s; using the built-in settings\n", who, e.what());
        return DeviceSettings{};
    }
    std::string warnings;
    DeviceSettings s = parseDeviceSettings(text, folder, kNativePathStyle, &warnings);
    if (!warnings.empty()) std::fprintf(stderr, "%s: %s", who, warnings.c_str());
    return s;
}

}  // namespace tovi::devices
