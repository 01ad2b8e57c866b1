// The INI form of config.ini and of the device libraries' settings file.
//
// Lines (after leading blanks and tabs): empty; a comment starting with "#" or ";"; a section
// header "[name]"; or an entry key "=" value / key ":" value. Lines before the first header belong
// to the unnamed section "". A value is
//   - unquoted: the rest of the line up to the first "#" or ";", trailing blanks removed;
//   - "quoted": up to the next double quote on the same line; \" and \\ stand for " and \, any
//     other backslash is kept as it is (so "C:\new" keeps its backslash);
//   - r"raw" (or R"raw"): read like an unquoted value, then the r" and a closing quote removed;
//   - """triple""": up to the next three double quotes, line breaks included.
// Lines end with LF, CR LF or CR. A key given twice: the last one counts.
//
// The parsed file keeps the source text. set() rewrites only the entry it changes (or inserts a
// new one), so comments, blank lines, layout and every other entry survive a rewrite untouched.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi {

class IniFile {
public:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };

    static IniFile parse(std::string_view text);

    // Reads and parses a file; throws IOError "cannot open: " + path when it cannot be opened.
    static IniFile load(const std::string& path);

    std::optional<std::string> find(std::string_view section, std::string_view key) const;
    std::string get(std::string_view section, std::string_view key, std::string_view fallback) const;

    // Changes the value of the key, adding the key (and the section) when missing; the value reads
    // back as given and every other entry stays as it was. Throws ValueError for a value that the
    // syntax cannot hold (a line break together with """ or a trailing quote), and for a new key
    // when the file ends inside a """ value that cannot be closed (its text ends with a quote).
    void set(std::string_view section, std::string_view key, std::string_view value);

    // Every entry, in file order.
    const std::vector<Entry>& entries() const { return entries_; }

    // The file's text with the changes made by set().
    const std::string& text() const { return text_; }

    // One "key=value" line that parse() reads back as exactly that key and value.
    static std::string formatEntry(std::string_view key, std::string_view value);

private:
    struct Span {
        std::size_t begin = 0;  // first byte of the entry's line
        std::size_t end = 0;    // one past its last byte, line break excluded
    };
    struct Section {
        std::string name;
        std::size_t headerEnd = 0;  // one past the header line's break (0 for the unnamed section)
    };

    void reparse();

    std::string text_;
    std::vector<Entry> entries_;
    std::vector<Span> spans_;
    std::vector<Section> sections_;
    bool openTriple_ = false;  // the last entry's """ value runs to the end of the text
};

}  // namespace tovi
