#include "client/engine.h"

namespace tovi::client {

EngineApi bindEngineApi(const Library& library) {
    EngineApi api;
    engine::forEachFunction(api, [&](auto& slot, const char* name) { bindSymbol(slot, findOrThrow(library, name)); });
    engine::forEachOptionalFunction(api, [&](auto& slot, const char* name) { bindSymbol(slot, library.find(name)); });
    return api;
}

Engine loadEngine() {
    Engine engine{loadOrThrow(kEngineLibrary), {}};
    engine.api = bindEngineApi(engine.library);
    return engine;
}

}  // namespace tovi::client
