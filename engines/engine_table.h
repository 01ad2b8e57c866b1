// The client's table of the engine library's 14 functions and its optional ones, typed from
// engine_api.h: one slot per function, in the order the client looks them up. The client and the
// engine tests bind through it, so a function added to the interface is added here once.
#pragma once

#include "engines/engine_api.h"

// X(name) for each function, in lookup order.
#define TOVI_ENGINE_FUNCTIONS(X)                                                                         \
    X(wkeInitialize)                                                                                     \
    X(wkeCreateWebWindow)                                                                                \
    X(wkeLoadURL)                                                                                        \
    X(wkeSetCspCheckEnable)                                                                              \
    X(wkeShowWindow)                                                                                     \
    X(wkeSetFocus)                                                                                       \
    X(wkeOnDocumentReady)                                                                                \
    X(wkeOnTitleChanged)                                                                                 \
    X(wkeGetTitle)                                                                                       \
    X(wkeJsBindFunction)                                                                                 \
    X(wkeDestroyWebWindow)                                                                               \
    X(wkeResize)                                                                                         \
    X(jsArg)                                                                                             \
    X(jsToString)

// X(name) for each optional function: bound when the library has it, null otherwise.
#define TOVI_ENGINE_OPTIONAL_FUNCTIONS(X)                                                                \
    X(jsCallerOrigin)                                                                                    \
    X(wkeGetStartOrigin)                                                                                 \
    X(wkeRunScript)                                                                                      \
    X(wkeOnScriptDone)

namespace tovi::engine {

struct EngineApi {
#define TOVI_ENGINE_SLOT(name) decltype(&::name) name = nullptr;
    TOVI_ENGINE_FUNCTIONS(TOVI_ENGINE_SLOT)
    TOVI_ENGINE_OPTIONAL_FUNCTIONS(TOVI_ENGINE_SLOT)
#undef TOVI_ENGINE_SLOT
};

// Calls visit(slot, "name") for every function of the table, in lookup order.
template <typename Visit>
void forEachFunction(EngineApi& api, Visit&& visit) {
#define TOVI_ENGINE_VISIT(name) visit(api.name, #name);
    TOVI_ENGINE_FUNCTIONS(TOVI_ENGINE_VISIT)
#undef TOVI_ENGINE_VISIT
}

// The same for the optional functions.
template <typename Visit>
void forEachOptionalFunction(EngineApi& api, Visit&& visit) {
#define TOVI_ENGINE_VISIT(name) visit(api.name, #name);
    TOVI_ENGINE_OPTIONAL_FUNCTIONS(TOVI_ENGINE_VISIT)
#undef TOVI_ENGINE_VISIT
}

}  // namespace tovi::engine
