// Binding a shared library by file name at run time.
#pragma once

#include <string>

#include "common/error.h"
#include "common/handle.h"

namespace tovi {

class Library {
public:
    // Loads fileName. Windows: the system's search order (program folder first). Linux: the
    // program's own folder first, then the dynamic loader's usual search.
    // On failure the library is empty and badFormat() tells whether the file was found but is not
    // a library for this architecture.
    static Library load(const std::string& fileName);

    explicit operator bool() const noexcept { return static_cast<bool>(handle_); }
    bool badFormat() const noexcept { return badFormat_; }

    // Address of an exported symbol, or null.
    void* find(const char* name) const;

private:
    UniqueLibrary handle_;
    bool badFormat_ = false;
};

// "could not load: " + fileName, and for a library of the wrong format the line
// "\n(bad format; library may be wrong architecture)".
std::string couldNotLoadText(const std::string& fileName, bool badFormat);

// "could not import: " + name.
std::string couldNotImportText(const std::string& name);

// A library that cannot be loaded, or a function missing from it. Entry points report it
// (a load failure in a message box and on standard error, a missing function on standard error
// only) and end the program with status 1.
class BindError : public Error {
public:
    BindError(const std::string& text, bool missingFunction)
        : Error(text, missingFunction ? "ImportError" : "LoadError"), missingFunction_(missingFunction) {}
    bool missingFunction() const noexcept { return missingFunction_; }

private:
    bool missingFunction_;
};

// Loads fileName or throws BindError with couldNotLoadText.
Library loadOrThrow(const std::string& fileName);
// Finds name or throws BindError with couldNotImportText.
void* findOrThrow(const Library& library, const char* name);

// Reports a BindError the way both programs do: a load failure as a plain message box (and on
// standard error), a missing function on standard error only.
void reportBindError(const BindError& error);

// Casts a symbol's address to the function type of its declaration. Binders use bindSymbol.
template <typename Fn>
Fn symbolAs(void* address) {
    // Object-to-function pointer casts are conditionally supported; both our ABIs support them.
    Fn fn;
    static_assert(sizeof(fn) == sizeof(address));
    __builtin_memcpy(&fn, &address, sizeof fn);
    return fn;
}

// The one way a library's function is bound: slot, a pointer typed from the function's
// declaration, takes the address found for it (null stays null), e.g.
//   bindSymbol(table.winPrint, findOrThrow(lib, "winPrint"));
template <typename Fn>
void bindSymbol(Fn& slot, void* address) {
    slot = symbolAs<Fn>(address);
}

}  // namespace tovi
