// The web engine node.dll, bound by name at start-up through the table of engines/engine_table.h.
#pragma once

#include "common/library.h"
#include "engines/engine_table.h"

namespace tovi::client {

#ifdef _WIN32
inline constexpr const char* kEngineLibrary = "node.dll";
#else
inline constexpr const char* kEngineLibrary = "libtovi_webengine.so";
#endif

using EngineApi = engine::EngineApi;

// The loaded library and its table; the library stays loaded as long as this lives.
struct Engine {
    Library library;
    EngineApi api;
};

// Looks the 14 functions up in library, in the table's order; throws BindError
// "could not import: " + name for the first one missing. An optional function that is missing
// stays null.
EngineApi bindEngineApi(const Library& library);

// Loads node.dll (BindError "could not load: node.dll" when it cannot) and binds it.
Engine loadEngine();

}  // namespace tovi::client
