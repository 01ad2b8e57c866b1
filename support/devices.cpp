#include "support/devices.h"

namespace tovi::support {

std::vector<std::string> exportNames(const std::string& name) {
    std::vector<std::string> names;
    names.reserve(52);
    names.push_back(name);
    for (int k = 0; k <= 200; k += 4) names.push_back("_" + name + "@" + std::to_string(k));
    return names;
}

void* findOptionalExport(const std::function<void*(const char*)>& lookup, const std::string& name) {
    for (const std::string& candidate : exportNames(name)) {
        if (void* p = lookup(candidate.c_str())) return p;
    }
    return nullptr;
}

void* findExport(const std::function<void*(const char*)>& lookup, const std::string& name) {
    if (void* p = findOptionalExport(lookup, name)) return p;
    throw BindError(couldNotImportText(name), true);
}

void* findExport(const Library& library, const std::string& name) {
    return findExport([&](const char* candidate) { return library.find(candidate); }, name);
}

BoundDevices BoundDevices::bind(const std::string& printLibrary, const std::string& serialLibrary) {
    BoundDevices d;
    d.print_ = loadOrThrow(printLibrary);
    bindSymbol(d.table_.winPrint, findExport(d.print_, "winPrint"));
    bindSymbol(d.table_.winWriteFile, findExport(d.print_, "winWriteFile"));
    const auto inPrint = [&](const char* candidate) { return d.print_.find(candidate); };
    bindSymbol(d.table_.winPrintBytes, findOptionalExport(inPrint, "winPrintBytes"));
    bindSymbol(d.table_.winPrinterStatus, findOptionalExport(inPrint, "winPrinterStatus"));
    d.serial_ = loadOrThrow(serialLibrary);
    bindSymbol(d.table_.comInit, findExport(d.serial_, "com_init"));
    bindSymbol(d.table_.comSend, findExport(d.serial_, "com_send"));
    bindSymbol(d.table_.comRest, findExport(d.serial_, "com_rest"));
    return d;
}

}  // namespace tovi::support
