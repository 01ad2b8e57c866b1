#include "common/cmdline.h"

namespace tovi {

namespace {
bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<std::string> splitCommandLine(std::string_view s) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (true) {
        while (i < n && isSeparator(s[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        bool ended = false;
        while (i < n && !ended) {
            const char c = s[i];
            if (c == '\\') {
                std::size_t run = 0;
                while (i < n && s[i] == '\\') {
                    ++run;
                    ++i;
                }
                if (i < n && s[i] == '"') {
                    arg.append(run / 2, '\\');
                    if (run % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                    // With an even run the quote is handled as a quote on the next turn.
                } else {
                    arg.append(run, '\\');
                }
            } else if (c == '"') {
                if (!quoted) {
                    quoted = true;
                    ++i;
                } else if (i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    ++i;
                    ended = true;  // a closing quote ends the argument at once
                }
            } else if ((c == ' ' || c == '\t') && !quoted) {
                ended = true;
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string quoteArgument(std::string_view a) {
    bool plain = !a.empty();
    for (char c : a) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"') plain = false;
    }
    if (plain) return std::string(a);
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Backslashes before a quote are doubled, and the quote itself is written as "".
            out.append(backslashes * 2, '\\');
            out += "\"\"";
        } else {
            out.append(backslashes, '\\');
            out += c;
        }
        backslashes = 0;
    }
    // Backslashes before the closing quote are doubled so that they stay literal.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::string buildCommandLine(const std::vector<std::string>& arguments) {
    std::string out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i) out += ' ';
        out += quoteArgument(arguments[i]);
    }
    return out;
}

}  // namespace tovi
