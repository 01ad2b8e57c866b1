#include "net/openssl.h"

#include <iterator>
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

// The names in the order they are tried; the -x64 names exist only in 64-bit builds.
#ifdef _WIN32
#ifdef _WIN64
#define TOVI_X64(name, series) {name, series},
#else
#define TOVI_X64(name, series)
#endif
const Candidate kCrypto[] = {
    {"libcrypto-1_1.dll", Series::V11}, {"libeay32.dll", Series::V10},
    TOVI_X64("libcrypto-1_1-x64.dll", Series::V11)
    {"libcrypto-3.dll", Series::V3},
    TOVI_X64("libcrypto-3-x64.dll", Series::V3)
};
const Candidate kSsl[] = {
    {"libssl-1_1.dll", Series::V11}, {"ssleay32.dll", Series::V10}, {"libssl32.dll", Series::V10},
    TOVI_X64("libssl-1_1-x64.dll", Series::V11)
    {"libssl-3.dll", Series::V3},
    TOVI_X64("libssl-3-x64.dll", Series::V3)
};
#undef TOVI_X64
#else
const Candidate kCrypto[] = {{"libcrypto.so.3", Series::V3}, {"libcrypto.so.1.1", Series::V11}};
const Candidate kSsl[] = {{"libssl.so.3", Series::V3}, {"libssl.so.1.1", Series::V11}};
#endif

std::vector<Candidate> cryptoCandidates() { return {std::begin(kCrypto), std::end(kCrypto)}; }
std::vector<Candidate> sslCandidates() { return {std::begin(kSsl), std::end(kSsl)}; }

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

// Binds one table entry: name, else its older name; a required function missing from both is
// refused under its current name.
void bindEntry(const Library& lib, auto& slot, const char* name, const char* older, bool required) {
    void* p = lib.find(name);
    if (!p && older) p = lib.find(older);
    if (!p && required) throw BindError(couldNotImportText(name), true);
    bindSymbol(slot, p);
}

#define TOVI_OSSL_REQUIRED(name) bindEntry(lib.library, lib.name, #name, nullptr, true);
#define TOVI_OSSL_RENAMED(name, older) bindEntry(lib.library, lib.name, #name, older, true);
#define TOVI_OSSL_OPTIONAL(name) bindEntry(lib.library, lib.name, #name, nullptr, false);

void bindCrypto(LibCrypto& lib) { TOVI_LIBCRYPTO_FUNCTIONS(TOVI_OSSL_REQUIRED, TOVI_OSSL_RENAMED, TOVI_OSSL_OPTIONAL) }

void bindSsl(LibSsl& lib, const LibCrypto& crypto) {
    TOVI_LIBSSL_FUNCTIONS(TOVI_OSSL_REQUIRED, TOVI_OSSL_RENAMED, TOVI_OSSL_OPTIONAL)
    // Host-name verification is not optional: one of the two ways must exist.
    if (!lib.SSL_set1_host && !crypto.X509_VERIFY_PARAM_set1_host) throw BindError(couldNotImportText("SSL_set1_host"), true);
    // 1.0.x must be initialised by hand.
    if (lib.SSL_library_init) lib.SSL_library_init();
    if (lib.SSL_load_error_strings) lib.SSL_load_error_strings();
}

#undef TOVI_OSSL_OPTIONAL
#undef TOVI_OSSL_RENAMED
#undef TOVI_OSSL_REQUIRED

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
