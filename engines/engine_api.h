// C interface of the web engine library "node.dll", as the client uses it: 14 functions and four
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
// What became of a script given to wkeRunScript (see there).
typedef void(TOVI_ENGINE_CALL* wkeScriptDoneCallback)(wkeWebView view, void* context, int ran, const char* origin);

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

// Optional, a pair: an engine that can run the client's scripts in the page exports both, and the
// client binds them together (with only one of them it runs none).
//
// wkeRunScript runs script (UTF-8) in the view's main frame, later on the message-loop thread, if
// and only if the main frame's document then has that origin and is the document whose
// document-ready the engine reported last (so its scripts can listen, and the client knows which
// document it is): a document that navigated meanwhile, is still loading, or is ready but not yet
// reported gets nothing. Both texts are copied at once. Each call is answered exactly once, in the
// order of the calls, on the message-loop thread, through the handler that wkeOnScriptDone set for
// the view: ran is 1 when the script ran (one that threw included), 0 when it was dropped; origin
// is the origin of the main frame's ready document at that moment, null while none is ready or the
// ready one is not reported yet, so that a dropped script can be given again to the document that
// is there. Owned by the engine, valid until the handler returns.
//
// For the client to know which document made a call: calls that a main-frame document's scripts
// make before its document-ready reach the client after it.
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeRunScript(wkeWebView view, const char* origin, const char* script);
TOVI_ENGINE_EXPORT void TOVI_ENGINE_CALL wkeOnScriptDone(wkeWebView view, wkeScriptDoneCallback handler,
                                                         void* context);

#ifdef __cplusplus
}
#endif
