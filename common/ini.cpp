#include "common/ini.h"

#include "common/error.h"
#include "common/paths.h"

namespace tovi {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Position of the next line break at or after pos (text size if none).
std::size_t lineEnd(std::string_view t, std::size_t pos) {
    while (pos < t.size() && t[pos] != '\n' && t[pos] != '\r') ++pos;
    return pos;
}

// Position after the line break at pos (CR LF counts as one).
std::size_t skipBreak(std::string_view t, std::size_t pos) {
    if (pos < t.size() && t[pos] == '\r') ++pos;
    else if (pos < t.size() && t[pos] == '\n') return pos + 1;
    else return pos;
    if (pos < t.size() && t[pos] == '\n') ++pos;
    return pos;
}

std::string trimRight(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1])) --n;
    return std::string(s.substr(0, n));
}

// One entry's value and where the entry's text ends (before its line break; a """ value may end
// lines later).
struct Value {
    std::string text;
    std::size_t end;
    bool unclosed = false;  // a """ value that runs to the end of the text
};

// Plain: up to a comment, trailing blanks dropped.
std::string plainValue(std::string_view rest) {
    const std::size_t stop = rest.find_first_of("#;");
    return trimRight(rest.substr(0, stop == std::string_view::npos ? rest.size() : stop));
}

// "...": up to the first quote no backslash escapes (\" and \\ stand for " and \); whatever
// follows on the line is ignored.
std::string quotedValue(std::string_view rest) {
    std::string value;
    for (std::size_t k = 1; k < rest.size() && rest[k] != '"'; ++k) {
        if (rest[k] == '\\' && k + 1 < rest.size() && (rest[k + 1] == '"' || rest[k + 1] == '\\')) ++k;
        value += rest[k];
    }
    return value;
}

bool isRawStart(std::string_view s) { return s.size() >= 2 && (s[0] == 'r' || s[0] == 'R') && s[1] == '"'; }

// r"...": the text as it stands, up to a comment, without the quotes; no escapes.
std::string rawValue(std::string_view rest) {
    std::string raw = plainValue(rest).substr(2);
    if (!raw.empty() && raw.back() == '"') raw.pop_back();
    return raw;
}

// """...""" starting at v: runs to the next three quotes, across lines; the rest of the closing
// line is ignored. Unclosed, it runs to the end of the text.
Value tripleQuotedValue(std::string_view t, std::size_t v) {
    const std::size_t close = t.find("\"\"\"", v + 3);
    if (close == std::string_view::npos) return {std::string(t.substr(v + 3)), t.size(), true};
    return {std::string(t.substr(v + 3, close - v - 3)), lineEnd(t, close + 3)};
}

// The value starting at v on the line that ends at end.
Value readValue(std::string_view t, std::size_t v, std::size_t end) {
    const std::string_view rest = t.substr(v, end - v);
    if (rest.substr(0, 3) == "\"\"\"") return tripleQuotedValue(t, v);
    if (!rest.empty() && rest[0] == '"') return {quotedValue(rest), end};
    if (isRawStart(rest)) return {rawValue(rest), end};
    return {plainValue(rest), end};
}

// The line break the file uses most visibly: its first one, CR LF when it has none.
std::string lineBreakOf(std::string_view t) {
    const std::size_t p = t.find_first_of("\r\n");
    if (p == std::string_view::npos) return "\r\n";
    if (t[p] == '\n') return "\n";
    return (p + 1 < t.size() && t[p + 1] == '\n') ? "\r\n" : "\r";
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
    IniFile f;
    f.text_ = std::string(text);
    f.reparse();
    return f;
}

IniFile IniFile::load(const std::string& path) {
    std::string data;
    try {
        data = readFile(path);
    } catch (const Error&) {
        throw ioError("cannot open: " + path);
    }
    return parse(data);
}

void IniFile::reparse() {
    entries_.clear();
    spans_.clear();
    sections_.clear();
    openTriple_ = false;
    sections_.push_back({"", 0});
    const std::string_view t = text_;
    std::string section;
    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t begin = pos;
        const std::size_t end = lineEnd(t, pos);
        std::size_t i = pos;
        while (i < end && isBlank(t[i])) ++i;
        const std::size_t next = skipBreak(t, end);
        if (i == end || t[i] == '#' || t[i] == ';') {
            pos = next;
            continue;
        }
        if (t[i] == '[') {
            const std::size_t close = t.find(']', i + 1);
            if (close != std::string_view::npos && close < end) {
                std::string_view name = t.substr(i + 1, close - i - 1);
                while (!name.empty() && isBlank(name.front())) name.remove_prefix(1);
                section = trimRight(name);
                sections_.push_back({section, next});
                pos = next;
                continue;
            }
        }
        const std::size_t sep = t.substr(i, end - i).find_first_of("=:");
        if (sep == std::string_view::npos) {
            pos = next;  // not an entry: ignored like a comment
            continue;
        }
        Entry e;
        e.section = section;
        e.key = trimRight(t.substr(i, sep));
        std::size_t v = i + sep + 1;
        while (v < end && isBlank(t[v])) ++v;
        Value value = readValue(t, v, end);
        e.value = std::move(value.text);
        openTriple_ = openTriple_ || value.unclosed;
        entries_.push_back(std::move(e));
        spans_.push_back({begin, value.end});
        pos = skipBreak(t, value.end);
    }
}

std::optional<std::string> IniFile::find(std::string_view section, std::string_view key) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->section == section && it->key == key) return it->value;
    }
    return std::nullopt;
}

std::string IniFile::get(std::string_view section, std::string_view key, std::string_view fallback) const {
    auto v = find(section, key);
    return v ? *v : std::string(fallback);
}

std::string IniFile::formatEntry(std::string_view key, std::string_view value) {
    const bool multiLine = value.find_first_of("\r\n") != std::string_view::npos;
    if (multiLine) {
        if (value.find("\"\"\"") != std::string_view::npos || (!value.empty() && value.back() == '"')) {
            throw valueError("value cannot be written to an INI file: " + std::string(value));
        }
        return std::string(key) + "=\"\"\"" + std::string(value) + "\"\"\"";
    }
    const bool needsQuotes = value.find_first_of("#;\"\\") != std::string_view::npos ||
                             (!value.empty() && (isBlank(value.front()) || isBlank(value.back()))) ||
                             isRawStart(value);
    if (!needsQuotes) return std::string(key) + "=" + std::string(value);
    std::string out = std::string(key) + "=\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    // Names that the syntax would read as something else (a comment, a header, another key).
    const bool badKey = key.empty() || key.find_first_of("=:\r\n") != std::string_view::npos ||
                        key.front() == '[' || key.front() == '#' || key.front() == ';' || isBlank(key.front()) ||
                        isBlank(key.back());
    const bool badSection = section.find_first_of("]\r\n") != std::string_view::npos ||
                            (!section.empty() && (isBlank(section.front()) || isBlank(section.back())));
    if (badKey || badSection) {
        throw valueError("cannot be written to an INI file: [" + std::string(section) + "] " + std::string(key));
    }
    const std::string line = formatEntry(key, value);
    for (std::size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].section == section && entries_[i].key == key) {
            text_.replace(spans_[i].begin, spans_[i].end - spans_[i].begin, line);
            reparse();
            return;
        }
    }
    const std::string br = lineBreakOf(text_);
    // Insert after the section's last entry, else right after its (last) header.
    std::optional<std::size_t> at;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].section == section) at = skipBreak(text_, spans_[i].end);
    }
    if (!at) {
        for (const auto& s : sections_) {
            if (s.name == section && (s.headerEnd > 0 || section.empty())) at = s.headerEnd;
        }
    }
    // Whatever is appended to a file that ends inside an unclosed """ value would become part of
    // that value: close it first, which leaves the value as it reads now.
    if ((!at || *at == text_.size()) && openTriple_) {
        const std::string open = entries_.back().value;  // the unclosed value runs to the end: the last entry
        text_ += "\"\"\"";
        reparse();
        if (openTriple_ || entries_.empty() || entries_.back().value != open) {
            // A value that ends in quotes would lose them to the closing quotes.
            text_.resize(text_.size() - 3);
            reparse();
            throw valueError("cannot add " + std::string(key) + ": the file ends inside a \"\"\" value that cannot be closed");
        }
        if (at) at = text_.size();
    }
    if (at) {
        std::string insert = line + br;
        // An entry or header on the file's last line has no break of its own yet.
        if (*at == text_.size() && !text_.empty() && text_.back() != '\n' && text_.back() != '\r') {
            insert = br + line + br;
        }
        text_.insert(*at, insert);
    } else {
        if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') text_ += br;
        text_ += '[';
        text_.append(section);
        text_.append("]").append(br).append(line).append(br);
    }
    reparse();
}

}  // namespace tovi
