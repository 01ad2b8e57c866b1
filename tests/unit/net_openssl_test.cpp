// The binding's names and rules, and SHA-1 through the system's libcrypto loaded at run time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include <dlfcn.h>
#include <unistd.h>

#include "update/sha1.h"
#include "net/tls.h"
#include "common/error.h"
#include "update_testing.h"

using namespace tovi::updater;

TEST(UpdaterOpenSsl, LibraryListText) {
    EXPECT_EQ(libraryListText({"libcrypto-1_1.dll", "libeay32.dll", "libcrypto-3.dll"}), "(libcrypto-1_1|libeay32|libcrypto-3).dll");
    EXPECT_EQ(libraryListText({"libssl-1_1.dll", "ssleay32.dll", "libssl32.dll", "libssl-1_1-x64.dll", "libssl-3.dll", "libssl-3-x64.dll"}),
              "(libssl-1_1|ssleay32|libssl32|libssl-1_1-x64|libssl-3|libssl-3-x64).dll");
    EXPECT_EQ(libraryListText({"libcrypto.so.3", "libcrypto.so.1.1"}), "(libcrypto.so.3|libcrypto.so.1.1)");
    EXPECT_EQ(libraryListText({"node.dll"}), "node.dll");
}

TEST(UpdaterOpenSsl, NamesOnThisPlatform) {
    EXPECT_EQ(cryptoLibraryNames(), (std::vector<std::string>{"libcrypto.so.3", "libcrypto.so.1.1"}));
    EXPECT_EQ(sslLibraryNames(), (std::vector<std::string>{"libssl.so.3", "libssl.so.1.1"}));
}

TEST(UpdaterOpenSsl, LibrariesBesideTheProgramComeBeforeTheSystemSearch) {
    using V = std::vector<std::string>;
    EXPECT_EQ(libraryLoadOrder({"libcrypto-1_1.dll", "libcrypto-3.dll"}, "C:\\app", '\\'),
              (V{"C:\\app\\libcrypto-1_1.dll", "C:\\app\\libcrypto-3.dll", "libcrypto-1_1.dll", "libcrypto-3.dll"}));
    EXPECT_EQ(libraryLoadOrder({"a.so"}, "/", '/'), (V{"/a.so", "a.so"}));

    // The folder holds only the names that come second (as links to the system's libraries, so that
    // they load): they win over the first names, which the system search would find.
    const auto sys = [](const char* name, const char* symbol) {
        const tovi::Library lib = tovi::Library::load(name);
        Dl_info info{};
        EXPECT_NE(dladdr(lib.find(symbol), &info), 0) << name;
        return std::filesystem::canonical(info.dli_fname);
    };
    const auto dir = std::filesystem::temp_directory_path() / ("tovi-libs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(sys("libcrypto.so.3", "OpenSSL_version_num"), dir / "libcrypto.so.1.1");
    std::filesystem::create_symlink(sys("libssl.so.3", "SSL_new"), dir / "libssl.so.1.1");
    {
        const OpenSsl beside = loadOpenSsl(dir.string());
        EXPECT_EQ(beside.crypto.fileName, (dir / "libcrypto.so.1.1").string());
        EXPECT_EQ(beside.ssl.fileName, (dir / "libssl.so.1.1").string());
    }
    std::filesystem::remove_all(dir);
    // Another, empty folder (the loader remembers the names it has opened): the system's libraries.
    const auto empty = dir.string() + "-empty";
    std::filesystem::create_directories(empty);
    {
        const OpenSsl system = loadOpenSsl(empty);
        EXPECT_EQ(system.crypto.fileName, "libcrypto.so.3");
        EXPECT_EQ(system.ssl.fileName, "libssl.so.3");
    }
    std::filesystem::remove_all(empty);
}

TEST(UpdaterOpenSsl, Tls13SuitesRule) {
    const std::pair<unsigned long, bool> cases[] = {
        {0x1000214fUL, false}, {0x10100000UL, false}, {0x10100FFFUL, false}, {0x10101000UL, true},
        {0x1010117fUL, true},  {0x20000000UL, false}, {0x30000140UL, true},  {0x30200000UL, true},
    };
    for (const auto& [v, yes] : cases) EXPECT_EQ(takesTls13Suites(v), yes) << std::hex << v;
}

TEST(UpdaterOpenSsl, CaFileCandidates) {
    const std::set<std::string> files = {"/app/cacert.pem", "/a/cacert.pem", "/b c/cacert.pem", "C:\\w\\cacert.pem", "/q/cacert.pem"};
    auto isFile = [&](const std::string& p) { return files.count(p) > 0; };
    using V = std::vector<std::string>;
    // the program folder's file is the only candidate
    EXPECT_EQ(caFileCandidates("/app", "/a:/b c", ':', '/', isFile), V{"/app/cacert.pem"});
    EXPECT_EQ(caFileCandidates("/none", "/a::/x:\"/b c\":/a/:\"/q\"", ':', '/', isFile),
              (V{"/a/cacert.pem", "/b c/cacert.pem", "/a/cacert.pem", "/q/cacert.pem"}));
    EXPECT_EQ(caFileCandidates("C:\\none", ";C:\\w;\"C:\\w\\\"", ';', '\\', isFile), (V{"C:\\w\\cacert.pem", "C:\\w\\cacert.pem"}));
    EXPECT_EQ(caFileCandidates("/none", "", ':', '/', isFile), V{});
    EXPECT_EQ(caFileCandidates("/none", "\"", ':', '/', isFile), V{});
}

class UpdaterSha1 : public tovi::updater_testing::WithOpenSsl {};

TEST_F(UpdaterSha1, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (const auto& [data, digest] : cases) EXPECT_EQ(sha1Hex(ssl_->crypto, data), digest);
    // piecewise gives the same digest
    Sha1 h(ssl_->crypto);
    for (char c : std::string("abc")) h.update(std::string_view(&c, 1));
    EXPECT_EQ(h.hexDigest(), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST_F(UpdaterSha1, FilesFoldersAndMissing) {
    const auto dir = std::filesystem::temp_directory_path() / ("tovi-sha1-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "folder");
    {
        std::ofstream(dir / "f.bin", std::ios::binary) << std::string(600000, 'a');
    }
    EXPECT_EQ(sha1OfFile(ssl_->crypto, (dir / "f.bin").string()), sha1Hex(ssl_->crypto, std::string(600000, 'a')));
    EXPECT_EQ(sha1OfFile(ssl_->crypto, (dir / "folder").string()), "");
    EXPECT_EQ(sha1OfFile(ssl_->crypto, (dir / "missing").string()), "");
    if (::geteuid() != 0) {  // root reads anything
        std::filesystem::permissions(dir / "f.bin", std::filesystem::perms::none);
        EXPECT_THROW(sha1OfFile(ssl_->crypto, (dir / "f.bin").string()), tovi::Error);
    }
    std::filesystem::remove_all(dir);
}

TEST(UpdaterSha1Compare, IgnoresLetterCase) {
    EXPECT_TRUE(sameDigest("A9993E36", "a9993e36"));
    EXPECT_TRUE(sameDigest("", ""));
    EXPECT_FALSE(sameDigest("A9993E36", "A9993E3"));
    EXPECT_FALSE(sameDigest("", "A"));
}
