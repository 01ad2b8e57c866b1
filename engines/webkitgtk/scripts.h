// The page-side halves of the bridge: scripts injected into every document at its start. They
// post to one script message handler, kBridgeHandler, which the engine registers per view.
#pragma once

#include <string>
#include <string_view>

namespace tovi::webengine {

inline constexpr const char* kBridgeHandler = "toviNative";

// text as a JavaScript string literal in double quotes. The text must be valid UTF-8; it is kept
// as it is except for the characters that would end or break the literal.
std::string jsStringLiteral(std::string_view text);

// Defines window[name] as a function that posts {kind: "call", fn: name, args: [...]} with the
// first argumentCount arguments, each as String(argument), and returns 0 to the page. The handler
// object is captured when the script runs, so a page that replaces window.webkit later cannot cut
// the bridge.
std::string bindingScript(std::string_view name, unsigned argumentCount);

// Posts {kind: "ready"} when the document's DOMContentLoaded event fires (at once when the
// document is past loading already, as when the script is evaluated into a loaded page).
std::string readyScript();

}  // namespace tovi::webengine
