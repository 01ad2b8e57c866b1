#include "client/engine.h"

namespace tovi::client {

EngineApi bindEngineApi(const Library& library) {
    EngineApi api;
#define TOVI_BIND(name) api.name = symbolAs<decltype(api.name)>(findOrThrow(library, #name))
    TOVI_BIND(wkeInitialize);
    TOVI_BIND(wkeCreateWebWindow);
    TOVI_BIND(wkeLoadURL);
    TOVI_BIND(wkeSetCspCheckEnable);
    TOVI_BIND(wkeShowWindow);
    TOVI_BIND(wkeSetFocus);
    TOVI_BIND(wkeOnDocumentReady);
    TOVI_BIND(wkeOnTitleChanged);
    TOVI_BIND(wkeGetTitle);
    TOVI_BIND(wkeJsBindFunction);
    TOVI_BIND(wkeDestroyWebWindow);
    TOVI_BIND(wkeResize);
    TOVI_BIND(jsArg);
    TOVI_BIND(jsToString);
#undef TOVI_BIND
    return api;
}

Engine loadEngine() {
    Engine engine{loadOrThrow(kEngineLibrary), {}};
    engine.api = bindEngineApi(engine.library);
    return engine;
}

}  // namespace tovi::client
