#include "client/updater/openssl.h"

#include <utility>

#include "common/paths.h"

namespace tovi::updater {

namespace {

// A series groups the libcrypto and libssl files that belong together: libssl imports its
// libcrypto by name, so a libssl of another series would run against a second libcrypto and our
// error queue and digests would come from the wrong one.
enum class Series { V10, V11, V3 };

struct Candidate {
    const char* name;
    Series series;
};

std::vector<Candidate> cryptoCandidates() {
#ifdef _WIN32
    std::vector<Candidate> c{{"libcrypto-1_1.dll", Series::V11}, {"libeay32.dll", Series::V10}};
#ifdef _WIN64
    c.push_back({"libcrypto-1_1-x64.dll", Series::V11});
#endif
    c.push_back({"libcrypto-3.dll", Series::V3});
#ifdef _WIN64
    c.push_back({"libcrypto-3-x64.dll", Series::V3});
#endif
    return c;
#else
    return {{"libcrypto.so.3", Series::V3}, {"libcrypto.so.1.1", Series::V11}};
#endif
}

std::vector<Candidate> sslCandidates() {
#ifdef _WIN32
    std::vector<Candidate> c{{"libssl-1_1.dll", Series::V11}, {"ssleay32.dll", Series::V10}, {"libssl32.dll", Series::V10}};
#ifdef _WIN64
    c.push_back({"libssl-1_1-x64.dll", Series::V11});
#endif
    c.push_back({"libssl-3.dll", Series::V3});
#ifdef _WIN64
    c.push_back({"libssl-3-x64.dll", Series::V3});
#endif
    return c;
#else
    return {{"libssl.so.3", Series::V3}, {"libssl.so.1.1", Series::V11}};
#endif
}

// The candidates in load order: every name in the program folder, then every name bare.
struct Located {
    std::string file;
    Series series;
};

std::vector<Located> located(const std::vector<Candidate>& candidates, const std::string& programFolder) {
    std::vector<std::string> names;
    for (const auto& c : candidates) names.emplace_back(c.name);
    const std::vector<std::string> order = libraryLoadOrder(names, programFolder, pathSeparator());
    std::vector<Located> out;
    for (std::size_t i = 0; i < order.size(); ++i) out.push_back({order[i], candidates[i % candidates.size()].series});
    return out;
}

std::vector<std::string> namesOf(const std::vector<Candidate>& candidates) {
    std::vector<std::string> names;
    for (const auto& c : candidates) names.emplace_back(c.name);
    return names;
}

template <typename Fn>
void bind(const Library& lib, Fn& slot, const char* name) {
    slot = symbolAs<Fn>(findOrThrow(lib, name));
}

// The first of two names that the library exports; the error names the first (current) one.
template <typename Fn>
void bindEither(const Library& lib, Fn& slot, const char* name, const char* oldName) {
    void* p = lib.find(name);
    if (!p) p = lib.find(oldName);
    if (!p) throw BindError(couldNotImportText(name), true);
    slot = symbolAs<Fn>(p);
}

template <typename Fn>
void bindOptional(const Library& lib, Fn& slot, const char* name) {
    slot = symbolAs<Fn>(lib.find(name));
}

void bindCrypto(LibCrypto& c) {
    const Library& l = c.library;
    bindEither(l, c.OpenSSL_version_num, "OpenSSL_version_num", "SSLeay");
    bind(l, c.ERR_get_error, "ERR_get_error");
    bind(l, c.ERR_clear_error, "ERR_clear_error");
    bind(l, c.ERR_error_string_n, "ERR_error_string_n");
    bind(l, c.X509_verify_cert_error_string, "X509_verify_cert_error_string");
    bind(l, c.X509_free, "X509_free");
    bind(l, c.X509_VERIFY_PARAM_set1_ip_asc, "X509_VERIFY_PARAM_set1_ip_asc");
    bindOptional(l, c.X509_VERIFY_PARAM_set1_host, "X509_VERIFY_PARAM_set1_host");
    bindEither(l, c.EVP_MD_CTX_new, "EVP_MD_CTX_new", "EVP_MD_CTX_create");
    bindEither(l, c.EVP_MD_CTX_free, "EVP_MD_CTX_free", "EVP_MD_CTX_destroy");
    bind(l, c.EVP_sha1, "EVP_sha1");
    bind(l, c.EVP_DigestInit_ex, "EVP_DigestInit_ex");
    bind(l, c.EVP_DigestUpdate, "EVP_DigestUpdate");
    bind(l, c.EVP_DigestFinal_ex, "EVP_DigestFinal_ex");
    bindOptional(l, c.EVP_PKEY_new_raw_public_key, "EVP_PKEY_new_raw_public_key");
    bindOptional(l, c.EVP_PKEY_new_raw_private_key, "EVP_PKEY_new_raw_private_key");
    bindOptional(l, c.EVP_PKEY_get_raw_public_key, "EVP_PKEY_get_raw_public_key");
    bindOptional(l, c.EVP_PKEY_free, "EVP_PKEY_free");
    bindOptional(l, c.EVP_DigestVerifyInit, "EVP_DigestVerifyInit");
    bindOptional(l, c.EVP_DigestVerify, "EVP_DigestVerify");
    bindOptional(l, c.EVP_DigestSignInit, "EVP_DigestSignInit");
    bindOptional(l, c.EVP_DigestSign, "EVP_DigestSign");
    bindOptional(l, c.RAND_bytes, "RAND_bytes");
}

void bindSsl(LibSsl& s, const LibCrypto& c) {
    const Library& l = s.library;
    bindEither(l, s.TLS_client_method, "TLS_client_method", "SSLv23_client_method");
    bind(l, s.SSL_CTX_new, "SSL_CTX_new");
    bind(l, s.SSL_CTX_free, "SSL_CTX_free");
    bind(l, s.SSL_CTX_set_verify, "SSL_CTX_set_verify");
    bind(l, s.SSL_CTX_set_cipher_list, "SSL_CTX_set_cipher_list");
    bindOptional(l, s.SSL_CTX_set_ciphersuites, "SSL_CTX_set_ciphersuites");
    bind(l, s.SSL_CTX_load_verify_locations, "SSL_CTX_load_verify_locations");
    bind(l, s.SSL_CTX_ctrl, "SSL_CTX_ctrl");
    bind(l, s.SSL_new, "SSL_new");
    bind(l, s.SSL_free, "SSL_free");
    bind(l, s.SSL_set_fd, "SSL_set_fd");
    bind(l, s.SSL_ctrl, "SSL_ctrl");
    bindOptional(l, s.SSL_set1_host, "SSL_set1_host");
    bind(l, s.SSL_get0_param, "SSL_get0_param");
    bind(l, s.SSL_connect, "SSL_connect");
    bind(l, s.SSL_read, "SSL_read");
    bind(l, s.SSL_write, "SSL_write");
    bind(l, s.SSL_get_error, "SSL_get_error");
    bind(l, s.SSL_get_verify_result, "SSL_get_verify_result");
    bind(l, s.SSL_shutdown, "SSL_shutdown");
    bindEither(l, s.SSL_get1_peer_certificate, "SSL_get1_peer_certificate", "SSL_get_peer_certificate");
    // Host-name verification is not optional: one of the two ways must exist.
    if (!s.SSL_set1_host && !c.X509_VERIFY_PARAM_set1_host) throw BindError(couldNotImportText("SSL_set1_host"), true);

    // 1.0.x must be initialised by hand; since 1.1.0 these are macros and the library initialises
    // itself.
    decltype(&ossl::SSL_library_init) libraryInit = nullptr;
    decltype(&ossl::SSL_load_error_strings) loadErrorStrings = nullptr;
    bindOptional(l, libraryInit, "SSL_library_init");
    bindOptional(l, loadErrorStrings, "SSL_load_error_strings");
    if (libraryInit) libraryInit();
    if (loadErrorStrings) loadErrorStrings();
}

}  // namespace

std::string OpenSsl::takeErrors() const {
    const unsigned long first = crypto.ERR_get_error();
    if (first == 0) return {};
    char buf[256] = {};
    crypto.ERR_error_string_n(first, buf, sizeof buf);
    crypto.ERR_clear_error();
    return buf;
}

std::vector<std::string> cryptoLibraryNames() { return namesOf(cryptoCandidates()); }
std::vector<std::string> sslLibraryNames() { return namesOf(sslCandidates()); }

std::string libraryListText(const std::vector<std::string>& names) {
    if (names.size() == 1) return names.front();
    // The extension shared by every name ("dll"), written once after the group.
    std::string ext;
    const auto dot = names.empty() ? std::string::npos : names.front().rfind('.');
    if (dot != std::string::npos) {
        ext = names.front().substr(dot);
        for (const auto& n : names) {
            if (n.size() <= ext.size() || n.compare(n.size() - ext.size(), ext.size(), ext) != 0) {
                ext.clear();
                break;
            }
        }
    }
    std::string text = "(";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) text += '|';
        text += names[i].substr(0, names[i].size() - ext.size());
    }
    return text + ")" + ext;
}

std::vector<std::string> libraryLoadOrder(const std::vector<std::string>& names, const std::string& programFolder,
                                          char separator) {
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != separator && folder.back() != '/') folder += separator;
    std::vector<std::string> order;
    if (!folder.empty()) {
        for (const auto& n : names) order.push_back(folder + n);
    }
    order.insert(order.end(), names.begin(), names.end());
    return order;
}

OpenSsl loadOpenSsl() { return loadOpenSsl(programFolder()); }

OpenSsl loadOpenSsl(const std::string& programFolder) {
    const auto cryptos = cryptoCandidates();
    const auto ssls = sslCandidates();
    bool cryptoBadFormat = false;
    bool sslBadFormat = false;
    bool anyCrypto = false;
    for (const auto& c : located(cryptos, programFolder)) {
        Library crypto = Library::load(c.file);
        if (!crypto) {
            cryptoBadFormat = cryptoBadFormat || crypto.badFormat();
            continue;
        }
        anyCrypto = true;
        for (const auto& s : located(ssls, programFolder)) {
            if (s.series != c.series) continue;
            Library ssl = Library::load(s.file);
            if (!ssl) {
                sslBadFormat = sslBadFormat || ssl.badFormat();
                continue;
            }
            OpenSsl result;
            result.crypto.library = std::move(crypto);
            result.crypto.fileName = c.file;
            result.ssl.library = std::move(ssl);
            result.ssl.fileName = s.file;
            bindCrypto(result.crypto);
            bindSsl(result.ssl, result.crypto);
            result.version = result.crypto.OpenSSL_version_num();
            return result;
        }
    }
    if (!anyCrypto) throw BindError(couldNotLoadText(libraryListText(namesOf(cryptos)), cryptoBadFormat), false);
    throw BindError(couldNotLoadText(libraryListText(namesOf(ssls)), sslBadFormat), false);
}

}  // namespace tovi::updater
