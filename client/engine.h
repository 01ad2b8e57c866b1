// The web engine node.dll, bound by name at start-up: one table of its 14 functions, typed from the
// declarations in engines/engine_api.h.
#pragma once

#include "common/library.h"
#include "engines/engine_api.h"

namespace tovi::client {

#ifdef _WIN32
inline constexpr const char* kEngineLibrary = "node.dll";
#else
inline constexpr const char* kEngineLibrary = "libtovi_webengine.so";
#endif

struct EngineApi {
    decltype(&::wkeInitialize) wkeInitialize = nullptr;
    decltype(&::wkeCreateWebWindow) wkeCreateWebWindow = nullptr;
    decltype(&::wkeLoadURL) wkeLoadURL = nullptr;
    decltype(&::wkeSetCspCheckEnable) wkeSetCspCheckEnable = nullptr;
    decltype(&::wkeShowWindow) wkeShowWindow = nullptr;
    decltype(&::wkeSetFocus) wkeSetFocus = nullptr;
    decltype(&::wkeOnDocumentReady) wkeOnDocumentReady = nullptr;
    decltype(&::wkeOnTitleChanged) wkeOnTitleChanged = nullptr;
    decltype(&::wkeGetTitle) wkeGetTitle = nullptr;
    decltype(&::wkeJsBindFunction) wkeJsBindFunction = nullptr;
    decltype(&::wkeDestroyWebWindow) wkeDestroyWebWindow = nullptr;
    decltype(&::wkeResize) wkeResize = nullptr;
    decltype(&::jsArg) jsArg = nullptr;
    decltype(&::jsToString) jsToString = nullptr;
};

// The loaded library and its table; the library stays loaded as long as this lives.
struct Engine {
    Library library;
    EngineApi api;
};

// Looks the 14 functions up in library, in the order of the table above; throws BindError
// "could not import: " + name for the first one missing.
EngineApi bindEngineApi(const Library& library);

// Loads node.dll (BindError "could not load: node.dll" when it cannot) and binds it.
Engine loadEngine();

}  // namespace tovi::client
