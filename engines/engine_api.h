// C interface of the web engine library "node.dll", as the client uses it: 14 functions and two
// optional ones, all with the C calling convention (callbacks too). The client binds them by name
// at start-up and takes every pointer type from these declarations; our scripted test engine
// implements the same header.
//
// A view is an opaque handle, an execution state an opaque pointer, a JavaScript value a 64-bit
// integer. Texts handed out by the engine are NUL-terminated UTF-8 owned by the engine: copy them
// at once, they may change on the next call.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define TOVI_ENGINE_CALL __cdecl
#else
#define TOVI_ENGINE_CALL
#endif

#if defined(TOVI_ENGINE_BUILD)
#if defined(_WIN32)
#define TOVI_ENGINE_EXPORT __declspec(dllexport)
#else
#define TOVI_ENGINE_EXPORT __attribute__((visibility("default")))
#endif
#else
#define TOVI_ENGINE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct toviEngineView* wkeWebView;
typedef void* jsExecState;
typedef int64_t jsValue;
// The engine's own title object: the client never looks into it (it reads wkeGetTitle instead).
typedef const struct toviEngineString* wkeString;

// Window kind of wkeCreateWebWindow: a child control window inside parent.
enum { WKE_WINDOW_TYPE_CONTROL = 2 };

typedef void(TOVI_ENGINE_CALL* wkeDocumentReadyCallback)(wkeWebView view, void* context);
typedef void(TOVI_ENGINE_CALL* wkeTitleChangedCallback)(wkeWebView view, void* context, wkeString title);
// A function offered to the page's scripts; its result goes back to the calling script.
typedef jsValue(TOVI_ENGINE_CALL* jsNativeFunction)(jsExecState state, void* context);

// Lookup order of the client's binding.
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeInitialize(void);
TOVI_ENGINE_EXPORT wkeWebView TOVI_ENGINE_CALL wkeCreateWebWindow(int type, void* parent, int x, int y, int width,
                                                                  int height);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeLoadURL(wkeWebView view, const char* url);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeSetCspCheckEnable(wkeWebView view, int enable);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeShowWindow(wkeWebView view, int show);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeSetFocus(wkeWebView view);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeOnDocumentReady(wkeWebView view, wkeDocumentReadyCallback handler,
                                                            void* context);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeOnTitleChanged(wkeWebView view, wkeTitleChangedCallback handler,
                                                           void* context);
TOVI_ENGINE_EXPORT const char* TOVI_ENGINE_CALL wkeGetTitle(wkeWebView view);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeJsBindFunction(const char* name, jsNativeFunction function,
                                                           void* context, unsigned int argumentCount);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeDestroyWebWindow(wkeWebView view);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeResize(wkeWebView view, int width, int height);
TOVI_ENGINE_EXPORT jsValue TOVI_ENGINE_CALL jsArg(jsExecState state, int index);
TOVI_ENGINE_EXPORT const char* TOVI_ENGINE_CALL jsToString(jsExecState state, jsValue value);

// Optional: an engine that knows which document made a call exports these. The client binds each
// one that is there; without jsCallerOrigin every frame of every site reaches the bound functions.
// Origins are serialised as browsers do: scheme "://" host [":" port] in lower case, default ports
// left out ("https://shop.example", "http://127.0.0.1:8080"), "file://" for local files, "null"
// for an opaque origin (a sandboxed frame, a data: document).
//
// The origin of the document whose script made the call now being served: of the calling frame
// itself, at any depth of frames, never of the page around it; taken where the page's scripts
// cannot change it. NUL-terminated UTF-8 owned by the engine, valid until the call returns.
TOVI_ENGINE_EXPORT const char* TOVI_ENGINE_CALL jsCallerOrigin(jsExecState state);
// The origin of the document that the view's first load (its first wkeLoadURL) committed in the
// main frame, after the HTTP redirects of that load and nothing else (a script's or a refresh's
// navigation is another load); null until that document has committed. Owned by the engine.
TOVI_ENGINE_EXPORT const char* TOVI_ENGINE_CALL wkeGetStartOrigin(wkeWebView view);

#ifdef __cplusplus
}
#endif
