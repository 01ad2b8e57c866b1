#include <gtest/gtest.h>

#include "update/manifest.h"
#include "common/error.h"
#include "common/process.h"
#include "update_testing.h"

using namespace tovi::updater;
using tovi::updater_testing::errorOf;

TEST(UpdaterManifest, ReadsVersionAndEntries) {
    const Manifest m = parseManifest(
        "{\"version\": \" 1.2 \", \"extra\": 1, \"list\": ["
        "{\"sha1\": \" ABC\\t\", \"path\": \"\\n a/b.dll.txt \\u000b\\f\\r\", \"size\": 3, \"executable\": true},"
        "{\"sha1\": 5, \"path\": null},"
        "{\"sha1\": \"\", \"path\": \"\xD7\xD6\xCC\xE5.txt\"}]}");
    EXPECT_EQ(m.version, " 1.2 ");  // the version is not trimmed
    const auto& e = manifestEntries(m);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].sha1, "ABC");
    EXPECT_EQ(e[0].path, "a/b.dll.txt");
    EXPECT_EQ(std::make_pair(e[0].executable, e[2].executable), std::make_pair(true, false));
    EXPECT_EQ(e[1].sha1, "");  // not a string: empty text
    EXPECT_EQ(e[1].path, "");
    EXPECT_EQ(e[2].path, "\xD7\xD6\xCC\xE5.txt");  // raw GB2312 bytes survive
}

TEST(UpdaterManifest, NonStringVersionIsEmpty) {
    EXPECT_EQ(parseManifest("{\"version\": 3, \"list\": []}").version, "");
    EXPECT_EQ(parseManifest("{\"version\": \"a\\u0000b\", \"list\": []}").version, std::string("a\0b", 3));
}

constexpr const char* kBadRollout = "list.txt: \"rollout\" is not an integer from 1 to 100 [ValueError]";

TEST(UpdaterManifest, Errors) {
    struct Case {
        const char* body;
        const char* parseError;  // thrown by parseManifest
        const char* listError;   // thrown by manifestEntries
    };
    const Case cases[] = {
        {"", "list.txt is not valid JSON: The document is empty. (at byte 0) [ValueError]", ""},
        {"{\"version\": \"1\", \"list\": []", "list.txt is not valid JSON: Missing a comma or '}' after an object member. (at byte 27) [ValueError]", ""},
        {"\"text\"", "list.txt is not a JSON object [ValueError]", ""},
        {"{\"list\": []}", "list.txt has no \"version\" [ValueError]", ""},
        {"{\"version\": \"1\"}", "list.txt has no \"list\" [ValueError]", ""},
        {"{\"version\": \"1\", \"list\": \"x\"}", "", "list.txt: \"list\" is not an array [ValueError]"},
        {"{\"version\": \"1\", \"list\": [[]]}", "", "list.txt: entry 1 is not an object [ValueError]"},
        {"{\"version\": \"1\", \"list\": [{\"sha1\":\"\",\"path\":\"\"},{\"path\":\"\"}]}", "", "list.txt: entry 2 has no \"sha1\" [ValueError]"},
        {"{\"version\": \"1\", \"list\": [{\"sha1\":\"\"}]}", "", "list.txt: entry 1 has no \"path\" [ValueError]"},
        // "rollout": a percentage of the tills, 1 to 100; anything else makes the list malformed.
        {"{\"version\": \"1\", \"list\": [], \"rollout\": 1}", "", ""},
        {"{\"version\": \"1\", \"list\": [], \"rollout\": 100}", "", ""},
        {"{\"version\": \"1\", \"list\": [], \"rollout\": 0}", kBadRollout, ""},
        {"{\"version\": \"1\", \"list\": [], \"rollout\": 101}", kBadRollout, ""},
        {"{\"version\": \"1\", \"list\": [], \"rollout\": 50.0}", kBadRollout, ""},
        {"{\"version\": \"1\", \"list\": [], \"rollout\": \"50\"}", kBadRollout, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(errorOf([&] { parseManifest(c.body); }), c.parseError);
        if (*c.parseError == 0) {
            EXPECT_EQ(errorOf([&] { manifestEntries(parseManifest(c.body)); }), c.listError);
        }
    }
}

TEST(UpdaterManifest, Serial) {
    const std::string noSerial = "list.txt has no \"serial\" [ValueError]";
    const std::string badSerial = "list.txt: \"serial\" is not an integer from 0 to 9007199254740991 [ValueError]";
    const std::pair<const char*, std::string> cases[] = {
        {"0", "0"},
        {"1733650000", "1733650000"},
        {"9007199254740991", "9007199254740991"},  // 2^53 - 1
        {"9007199254740992", badSerial},
        {"18446744073709551615", badSerial},
        {"-1", badSerial},
        {"7.0", badSerial},
        {"7e0", badSerial},
        {"\"7\"", badSerial},
        {"null", badSerial},
        {nullptr, noSerial},
    };
    for (const auto& [serial, expected] : cases) {
        const std::string body = std::string("{\"version\": \"1\", \"list\": []") +
                                 (serial ? std::string(", \"serial\": ") + serial : std::string()) + "}";
        SCOPED_TRACE(body);
        const Manifest m = parseManifest(body);  // only a signed list needs the serial: no error here
        std::string got;
        try {
            got = std::to_string(manifestSerial(m));
        } catch (const tovi::Error& e) {
            got = std::string(e.what()) + " [" + e.kind() + "]";
        }
        EXPECT_EQ(got, expected);
    }
}

TEST(UpdaterManifest, LocalPaths) {
    struct Case {
        const char* path;
        const char* windows;  // "" = refused
        const char* posix;
    };
    const Case cases[] = {
        {"a.dll.txt", "C:\\app\\a.dll", "/opt/app/a.dll"},
        {"a/b/c.dll.txt", "C:\\app\\a\\b\\c.dll", "/opt/app/a/b/c.dll"},
        {"a\\b//c.dll.txt", "C:\\app\\a\\b\\c.dll", "/opt/app/a/b/c.dll"},
        {"./a/./b.txt", "C:\\app\\a\\b", "/opt/app/a/b"},
        {"a/../b.dll.txt", "C:\\app\\b.dll", "/opt/app/b.dll"},
        {"a/b/../../c.dll.txt", "C:\\app\\c.dll", "/opt/app/c.dll"},
        {"a.dllxxxx", "C:\\app\\a.dll", "/opt/app/a.dll"},  // the last four go, whatever they are
        {"\xE5\xAD\x97\xE4\xBD\x93.txt", "C:\\app\\\xE5\xAD\x97\xE4\xBD\x93", "/opt/app/\xE5\xAD\x97\xE4\xBD\x93"},
        {"ab\xE5\xAD\x97\xE4\xBD\x93\xE5\xAD\x97\xE4\xBD\x93", "C:\\app\\ab", "/opt/app/ab"},  // characters, not bytes
        {"a/b.txt/", "C:\\app\\a\\b", "/opt/app/a/b"},
        {"../b.dll.txt", "", ""},
        {"a/../../b.dll.txt", "", ""},
        {"/etc/passwd.txt", "", ""},
        {"\\windows\\x.dll.txt", "", ""},
        {"C:/x.dll.txt", "", ""},
        {"c:x.dll.txt", "", ""},
        {"a/b:stream.txt", "", ""},
        {"", "", ""},
        {"abc", "", ""},
        {"abcd", "", ""},
        {"a/.txt", "", ""},
        {"x.dll.txt/..", "", ""},
        {"a/...txt", "", ""},  // "a\..." less four characters leaves "a\" + nothing
        {"..txt", "", ""},
        // Windows would write these under another name, or open a device
        {"a.dll..txt", "", ""},
        {"a.dll .txt", "", ""},
        {"sub./a.dll.txt", "", ""},
        {"sub /a.dll.txt", "", ""},
        {"con.txt", "", ""},
        {"NUL.dll.txt", "", ""},
        {"sub/Aux .log.txt", "", ""},
        {"com1/a.dll.txt", "", ""},
        {"lpt9.txt", "", ""},
        {"COM\xC2\xB9.txt", "", ""},
        {"conout$.txt", "", ""},
        {"a<b.txt", "", ""},
        {"a*.dll.txt", "", ""},
        {"a\x01.dll.txt", "", ""},
        // near misses that are ordinary names
        {"com10.txt", "C:\\app\\com10", "/opt/app/com10"},
        {"com0.txt", "C:\\app\\com0", "/opt/app/com0"},
        {"console.dll.txt", "C:\\app\\console.dll", "/opt/app/console.dll"},
        {"nul/../a.dll.txt", "C:\\app\\a.dll", "/opt/app/a.dll"},
        {".hidden.txt", "C:\\app\\.hidden", "/opt/app/.hidden"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(localPathOf(c.path, "C:\\app", '\\'), c.windows);
        EXPECT_EQ(localPathOf(c.path, "/opt/app", '/'), c.posix);
    }
    EXPECT_EQ(localPathOf("a.dll.txt", "C:\\app\\", '\\'), "C:\\app\\a.dll");
    EXPECT_EQ(localPathOf("a.dll.txt", "/", '/'), "/a.dll");
}

TEST(UpdaterManifest, EntryNames) {
    const std::string url = "https://h/u/";
    {
        const EntryNames n = entryNames({"X", "\xD7\xD6\xCC\xE5/\xCB\xCE.ttf.txt"}, url, "/app", '/');
        EXPECT_EQ(n.utf8Path, "\xE5\xAD\x97\xE4\xBD\x93/\xE5\xAE\x8B.ttf.txt");
        EXPECT_EQ(n.url, url + n.utf8Path);
        EXPECT_EQ(n.displayName, "\xE5\xAD\x97\xE4\xBD\x93/\xE5\xAE\x8B.ttf");
        EXPECT_EQ(n.localPath, "/app/\xE5\xAD\x97\xE4\xBD\x93/\xE5\xAE\x8B.ttf");
        EXPECT_EQ(n.target, n.localPath);
        EXPECT_FALSE(n.selfUpdate);
    }
    {
        const EntryNames n = entryNames({"X", "tovipos.exe.txt"}, url, "C:\\app", '\\');
        EXPECT_TRUE(n.selfUpdate);
        EXPECT_EQ(n.localPath, "C:\\app\\" + std::string(tovi::kClientProgram));  // the client's file on this platform
        EXPECT_EQ(n.target, "C:\\app\\tovipos.exe.txt");
        EXPECT_EQ(n.displayName, "tovipos.exe");
    }
    // Aliases name the same file on Windows: each is the client, stored for the hand-off (also Linux's own name).
    const std::string platformName = std::string(tovi::kClientProgram) + ".txt";
    for (const char* alias : {"Tovipos.exe.txt", "TOVIPOS.EXE.txt", "./tovipos.exe.txt", "x/../tovipos.exe.txt",
                              "tovipos.exe.TXT", ".\\tovipos.exe.txt", platformName.c_str()}) {
        const EntryNames n = entryNames({"X", alias}, url, "C:\\app", '\\');
        EXPECT_TRUE(n.selfUpdate) << alias;
        EXPECT_EQ(n.target, "C:\\app\\tovipos.exe.txt") << alias;
        EXPECT_EQ(n.localPath, "C:\\app\\" + std::string(tovi::kClientProgram)) << alias;
    }
    EXPECT_FALSE(entryNames({"X", "bin/tovipos.exe.txt"}, url, "/app", '/').selfUpdate);
    EXPECT_EQ(entryNames({"X", "a/b/c.dll.txt"}, url, "/app", '/').folders, (std::vector<std::string>{"/app/a", "/app/a/b"}));
    EXPECT_EQ(entryNames({"X", "a/../c.dll.txt"}, url, "C:\\app\\", '\\').folders, std::vector<std::string>{});
    const struct {
        const char* path;
        const char* error;
    } refused[] = {
        {"../up.dll.txt", "list.txt: path leaves the program folder: ../up.dll.txt [ValueError]"},
        {"x.0123ABCD.tovi-part.txt", "list.txt: path has the form of a temporary file: x.0123ABCD.tovi-part.txt [ValueError]"},
        {"node.dll.0123ABCD.tovi-old.txt", "list.txt: path has the form of a temporary file: node.dll.0123ABCD.tovi-old.txt [ValueError]"},
        {"Tovipos.exe.txt.txt", "list.txt: path names the hand-off file: Tovipos.exe.txt.txt [ValueError]"},
        {"TOVIPOS.previous/release.json.txt",
         "list.txt: path names the previous release's store: TOVIPOS.previous/release.json.txt [ValueError]"},
        {"tovipos.previous.LOCK.txt", "list.txt: path names the previous release's store: tovipos.previous.LOCK.txt [ValueError]"},
        {"tovipos.exe..txt", "list.txt: path has a name ending in a dot or a blank: tovipos.exe..txt [ValueError]"},
        {"drivers/PRN.sys.txt", "list.txt: path names a Windows device: drivers/PRN.sys.txt [ValueError]"},
        {"a|b.txt", "list.txt: path has a character that file names cannot hold: a|b.txt [ValueError]"},
    };
    for (const auto& r : refused) EXPECT_EQ(errorOf([&] { entryNames({"", r.path}, url, "/app", '/'); }), r.error);
}

TEST(UpdaterManifest, DisplayNamesAndCharacterCounting) {
    EXPECT_EQ(dropLastChars("abcd", 4), "");
    EXPECT_EQ(dropLastChars("abc", 4), "");
    EXPECT_EQ(dropLastChars("abcde", 4), "a");
    EXPECT_EQ(dropLastChars("\xE5\xAD\x97.txt", 4), "\xE5\xAD\x97");
    EXPECT_EQ(dropLastChars("a\xE5\xAD\x97\xE5\xAD\x97\xE5\xAD\x97\xE5\xAD\x97", 4), "a");
}

TEST(UpdaterManifest, TrimsTheSixWhiteSpaceCharacters) {
    EXPECT_EQ(trimWhite(" \t\n\r\v\fx y\f\v\r\n\t "), "x y");
    EXPECT_EQ(trimWhite(" \t "), "");
    EXPECT_EQ(trimWhite("\xA1\xA1x"), "\xA1\xA1x");  // a GB2312 ideographic blank is not white space here
}

TEST(UpdaterManifest, TemporaryNames) {
    for (const char* yes : {"a.dll.0123ABCD.tovi-part", ".00000000.tovi-part", "x.abcdef12.tovi-part"}) {
        EXPECT_TRUE(isTempName(yes)) << yes;
        EXPECT_FALSE(isAsideName(yes)) << yes;  // only replaced files are removed at start
    }
    EXPECT_TRUE(isTempName("node.dll.0123ABCD.tovi-old"));
    EXPECT_TRUE(isAsideName("node.dll.0123ABCD.tovi-old"));
    EXPECT_FALSE(isAsideName("node.dll.0123ABCD.tovi-old.txt"));
    for (const char* no : {"a.dll", "a.dll.tovi-part", "a.0123ABC.tovi-part", "a.0123ABCG.tovi-part", "a_0123ABCD.tovi-part",
                           "a.0123ABCD.tovi-part.txt"})
        EXPECT_FALSE(isTempName(no)) << no;
}
