#include "common/library.h"

#include "common/messages.h"

namespace tovi {

std::string couldNotLoadText(const std::string& fileName, bool badFormat) {
    std::string text = "could not load: " + fileName;
    if (badFormat) text += "\n(bad format; library may be wrong architecture)";
    return text;
}

std::string couldNotImportText(const std::string& name) { return "could not import: " + name; }

Library loadOrThrow(const std::string& fileName) {
    Library lib = Library::load(fileName);
    if (!lib) throw BindError(couldNotLoadText(fileName, lib.badFormat()), false);
    return lib;
}

void* findOrThrow(const Library& library, const char* name) {
    void* p = library.find(name);
    if (!p) throw BindError(couldNotImportText(name), true);
    return p;
}

void reportBindError(const BindError& error) {
    if (error.missingFunction()) {
        writeStderrLine(error.what());
        return;
    }
#ifdef _WIN32
    writeStderrLine(error.what());  // Windows shows the box only; standard error for test runs
#endif
    showPlainMessage(error.what());
}

}  // namespace tovi
