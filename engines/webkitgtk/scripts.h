// The page-side halves of the bridge: scripts injected into every document at its start.
//
// Two script worlds take part. The page's own world (the main world) gets the bound functions and
// nothing else: each one fires a DOM event, kCallEvent, at its own document. Our isolated world,
// kBridgeWorld, holds the only way to the native side, the script message handler kBridgeHandler,
// which is registered in that world alone; the page's scripts, of whatever frame, can neither see
// it nor change what that world's scripts read. There a listener on each document takes the event,
// adds the origin of that document, read in the isolated world when the document started (so a page
// that redefines self.origin in its own world changes nothing), and posts the call.
#pragma once

#include <string>
#include <string_view>

namespace tovi::webengine {

inline constexpr const char* kBridgeHandler = "toviNative";
inline constexpr const char* kBridgeWorld = "toviBridge";
inline constexpr const char* kCallEvent = "toviCall";

// text as a JavaScript string literal in double quotes. The text must be valid UTF-8; it is kept
// as it is except for the characters that would end or break the literal.
std::string jsStringLiteral(std::string_view text);

// Main world: defines window[name] as a function that fires kCallEvent at the document it was
// defined for, with the text of {fn: name, args: [...]} (the first argumentCount arguments, each
// as String(argument)) as the event's detail, and returns 0 to the page.
std::string bindingScript(std::string_view name, unsigned argumentCount);

// Isolated world, every frame: posts {kind: "call", fn, args, origin} for each kCallEvent fired at
// this document; origin is the document's serialised origin ("null" when opaque). The top frame's
// calls made while its document is still loading are posted after its DOMContentLoaded, behind the
// ready message of readyScript, so that the client knows which document made them (or, when the
// document goes before it is ready, as it goes).
std::string callListenerScript();

// Main world: runs script if the document is the one whose ready message carried document (see
// readyScript) and its origin is origin. The value: true when it ran (one that threw included);
// null while the document is loading or is another one (a reload whose ready message is still on
// its way); else the document's origin.
std::string runScriptIn(std::string_view origin, std::string_view document, std::string_view script);

// Isolated world, top frame: posts {kind: "ready", document} when the document's DOMContentLoaded
// event fires (at once when the document is past loading already). document tells this document
// from the frame's others: the time its navigation started (performance.timeOrigin, in ms with
// fractions), which no two documents of a frame share.
std::string readyScript();

}  // namespace tovi::webengine
