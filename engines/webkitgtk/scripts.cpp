#include "engines/webkitgtk/scripts.h"

#include <cstdio>

namespace tovi::webengine {

std::string jsStringLiteral(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                            static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                    // U+2028 and U+2029 end a line inside older engines' string literals.
                    out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string bindingScript(std::string_view name, unsigned argumentCount) {
    // What the page may replace later is taken now; only the page's own calls would suffer.
    return "(function () {\n"
           "  var doc = document, dispatch = EventTarget.prototype.dispatchEvent;\n"
           "  var CallEvent = CustomEvent, stringify = JSON.stringify;\n"
           "  var name = " +
           jsStringLiteral(name) + ", count = " + std::to_string(argumentCount) +
           ";\n"
           "  window[name] = function () {\n"
           "    var args = [];\n"
           "    for (var i = 0; i < count && i < arguments.length; i++) args.push(String(arguments[i]));\n"
           "    dispatch.call(doc, new CallEvent(\"" +
           kCallEvent +
           "\", {detail: stringify({fn: name, args: args})}));\n"
           "    return 0;\n"
           "  };\n"
           "})();\n";
}

std::string callListenerScript() {
    // The listener belongs to the document it started with: a function kept from an earlier
    // document of the frame fires at that earlier document, whose listener names that document's
    // origin, never the origin of what the frame shows now.
    return "(function () {\n"
           "  var handler = window.webkit.messageHandlers." +
           std::string(kBridgeHandler) +
           ";\n"
           "  var origin = String(self.origin), parse = JSON.parse, isArray = Array.isArray;\n"
           "  var early = window === top && document.readyState === 'loading' ? [] : null;\n"
           "  function post(message) { if (early) early.push(message); else handler.postMessage(message); }\n"
           "  function flush() {\n"
           "    var calls = early || [];\n"
           "    early = null;\n"
           "    for (var i = 0; i < calls.length; i++) handler.postMessage(calls[i]);\n"
           "  }\n"
           "  if (early) document.addEventListener('DOMContentLoaded', flush, {once: true});\n"
           "  if (early) addEventListener('pagehide', flush, {once: true});\n"
           "  document.addEventListener(\"" +
           kCallEvent +
           "\", function (event) {\n"
           "    if (typeof event.detail !== 'string') return;\n"
           "    var call;\n"
           "    try { call = parse(event.detail); } catch (e) { return; }\n"
           "    if (!call || typeof call.fn !== 'string' || !isArray(call.args)) return;\n"
           "    post({kind: 'call', fn: call.fn, args: call.args, origin: origin});\n"
           "  });\n"
           "})();\n";
}

std::string runScriptIn(std::string_view origin, std::string_view document, std::string_view script) {
    // location and its origin are unforgeable: a page cannot pass for another origin here. A page
    // of the trusted origin that replaces its own performance object only keeps its own results
    // from itself.
    return "(function () {\n"
           "  if (document.readyState === 'loading') return null;\n"
           "  if (String(performance.timeOrigin) !== " +
           jsStringLiteral(document) +
           ") return null;\n"
           "  var origin = location.origin;\n"
           "  if (origin !== " +
           jsStringLiteral(origin) +
           ") return origin;\n"
           "  try {\n" +
           std::string(script) +
           "\n  } catch (e) {}\n"
           "  return true;\n"
           "})();\n";
}

std::string readyScript() {
    return "(function () {\n"
           "  var handler = window.webkit.messageHandlers." +
           std::string(kBridgeHandler) +
           ";\n"
           "  function ready() { handler.postMessage({kind: 'ready', document: String(performance.timeOrigin)}); }\n"
           "  if (document.readyState === 'loading') {\n"
           "    document.addEventListener('DOMContentLoaded', ready, {once: true});\n"
           "  } else {\n"
           "    ready();\n"
           "  }\n"
           "})();\n";
}

}  // namespace tovi::webengine
