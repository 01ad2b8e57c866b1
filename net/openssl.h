// Run-time binding of OpenSSL (libcrypto and libssl), loaded by file name and never linked.
//
// The declarations below are our own: the functions the updater calls, with their C signatures and
// opaque struct types. They exist only to give each table member the type of its declaration
// (decltype(&fn)); nothing here is defined or linked. No OpenSSL header is included anywhere, so the
// code builds for MinGW, where no such headers exist.
//
// Both 1.1.1 and 3.0 are accepted, and the 1.0.x libraries (libeay32/ssleay32) as far as their
// names differ: where a function was renamed, both names are tried and only a library that has
// neither is refused.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/library.h"

namespace tovi::updater {

namespace ossl {
extern "C" {
struct SSL;
struct SSL_CTX;
struct SSL_METHOD;
struct X509;
struct X509_STORE_CTX;
struct X509_VERIFY_PARAM;
struct EVP_MD;
struct EVP_MD_CTX;
struct ENGINE;
struct EVP_PKEY;
struct EVP_PKEY_CTX;

// libcrypto
unsigned long OpenSSL_version_num(void);
unsigned long ERR_get_error(void);
void ERR_clear_error(void);
void ERR_error_string_n(unsigned long e, char* buf, std::size_t len);
const char* X509_verify_cert_error_string(long n);
void X509_free(X509* x);
int X509_VERIFY_PARAM_set1_host(X509_VERIFY_PARAM* param, const char* name, std::size_t namelen);
int X509_VERIFY_PARAM_set1_ip_asc(X509_VERIFY_PARAM* param, const char* ipasc);
EVP_MD_CTX* EVP_MD_CTX_new(void);
void EVP_MD_CTX_free(EVP_MD_CTX* ctx);
const EVP_MD* EVP_sha1(void);
int EVP_DigestInit_ex(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl);
int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* d, std::size_t cnt);
int EVP_DigestFinal_ex(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* s);
// Ed25519 (1.1.1 and later).
EVP_PKEY* EVP_PKEY_new_raw_public_key(int type, ENGINE* e, const unsigned char* pub, std::size_t len);
EVP_PKEY* EVP_PKEY_new_raw_private_key(int type, ENGINE* e, const unsigned char* priv, std::size_t len);
int EVP_PKEY_get_raw_public_key(const EVP_PKEY* pkey, unsigned char* pub, std::size_t* len);
void EVP_PKEY_free(EVP_PKEY* key);
int EVP_DigestVerifyInit(EVP_MD_CTX* ctx, EVP_PKEY_CTX** pctx, const EVP_MD* type, ENGINE* e, EVP_PKEY* pkey);
int EVP_DigestVerify(EVP_MD_CTX* ctx, const unsigned char* sig, std::size_t siglen, const unsigned char* tbs, std::size_t tbslen);
int EVP_DigestSignInit(EVP_MD_CTX* ctx, EVP_PKEY_CTX** pctx, const EVP_MD* type, ENGINE* e, EVP_PKEY* pkey);
int EVP_DigestSign(EVP_MD_CTX* ctx, unsigned char* sigret, std::size_t* siglen, const unsigned char* tbs, std::size_t tbslen);
int RAND_bytes(unsigned char* buf, int num);

// libssl
int SSL_library_init(void);  // 1.0.x only; a macro since 1.1.0
void SSL_load_error_strings(void);  // 1.0.x only
const SSL_METHOD* TLS_client_method(void);
SSL_CTX* SSL_CTX_new(const SSL_METHOD* method);
void SSL_CTX_free(SSL_CTX* ctx);
void SSL_CTX_set_verify(SSL_CTX* ctx, int mode, int (*callback)(int, X509_STORE_CTX*));
int SSL_CTX_set_cipher_list(SSL_CTX* ctx, const char* str);
int SSL_CTX_set_ciphersuites(SSL_CTX* ctx, const char* str);  // 1.1.1 and later
int SSL_CTX_load_verify_locations(SSL_CTX* ctx, const char* file, const char* path);
long SSL_CTX_ctrl(SSL_CTX* ctx, int cmd, long larg, void* parg);
SSL* SSL_new(SSL_CTX* ctx);
void SSL_free(SSL* ssl);
int SSL_set_fd(SSL* ssl, int fd);
long SSL_ctrl(SSL* ssl, int cmd, long larg, void* parg);
int SSL_set1_host(SSL* ssl, const char* hostname);  // 1.1.0 and later
X509_VERIFY_PARAM* SSL_get0_param(SSL* ssl);
int SSL_connect(SSL* ssl);
int SSL_read(SSL* ssl, void* buf, int num);
int SSL_write(SSL* ssl, const void* buf, int num);
int SSL_get_error(const SSL* ssl, int ret);
long SSL_get_verify_result(const SSL* ssl);
int SSL_shutdown(SSL* ssl);
X509* SSL_get1_peer_certificate(const SSL* ssl);
}
}  // namespace ossl

// Constants of the C interface (macros in OpenSSL's headers).
inline constexpr int kSslVerifyPeer = 0x01;
inline constexpr int kSslCtrlSetTlsextHostname = 55;  // SSL_set_tlsext_host_name
inline constexpr long kTlsextNametypeHostName = 0;
inline constexpr int kSslErrorSsl = 1;
inline constexpr int kSslErrorWantRead = 2;
inline constexpr int kSslErrorWantWrite = 3;
inline constexpr int kSslErrorSyscall = 5;
inline constexpr int kSslErrorZeroReturn = 6;
inline constexpr long kX509VOk = 0;
inline constexpr int kEvpPkeyEd25519 = 1087;  // NID_ED25519

// The bound functions of each library, in binding order and grouped by use: REQUIRED(function),
// RENAMED(function, "its 1.0.x or 1.1.x name"; one of the two is required) and OPTIONAL(function),
// which stays null when missing: before 1.1.1 the Ed25519 functions (such a library cannot check or
// make update signatures), SSL_CTX_set_ciphersuites and RAND_bytes; before 1.1.0 SSL_set1_host and
// X509_VERIFY_PARAM_set1_host (one of the two must exist); since 1.1.0 the two initialisers (macros
// there: the library initialises itself).
#define TOVI_LIBCRYPTO_FUNCTIONS(REQUIRED, RENAMED, OPTIONAL)                                                \
    RENAMED(OpenSSL_version_num, "SSLeay")                                                                   \
    REQUIRED(ERR_get_error) REQUIRED(ERR_clear_error) REQUIRED(ERR_error_string_n)                           \
    REQUIRED(X509_verify_cert_error_string) REQUIRED(X509_free)                                              \
    REQUIRED(X509_VERIFY_PARAM_set1_ip_asc) OPTIONAL(X509_VERIFY_PARAM_set1_host)                            \
    RENAMED(EVP_MD_CTX_new, "EVP_MD_CTX_create") RENAMED(EVP_MD_CTX_free, "EVP_MD_CTX_destroy")              \
    REQUIRED(EVP_sha1) REQUIRED(EVP_DigestInit_ex) REQUIRED(EVP_DigestUpdate) REQUIRED(EVP_DigestFinal_ex)    \
    OPTIONAL(EVP_PKEY_new_raw_public_key) OPTIONAL(EVP_PKEY_new_raw_private_key)                             \
    OPTIONAL(EVP_PKEY_get_raw_public_key) OPTIONAL(EVP_PKEY_free)                                            \
    OPTIONAL(EVP_DigestVerifyInit) OPTIONAL(EVP_DigestVerify) OPTIONAL(EVP_DigestSignInit)                   \
    OPTIONAL(EVP_DigestSign) OPTIONAL(RAND_bytes)

#define TOVI_LIBSSL_FUNCTIONS(REQUIRED, RENAMED, OPTIONAL)                                                   \
    RENAMED(TLS_client_method, "SSLv23_client_method")                                                       \
    REQUIRED(SSL_CTX_new) REQUIRED(SSL_CTX_free) REQUIRED(SSL_CTX_set_verify) REQUIRED(SSL_CTX_set_cipher_list) \
    OPTIONAL(SSL_CTX_set_ciphersuites) REQUIRED(SSL_CTX_load_verify_locations) REQUIRED(SSL_CTX_ctrl)        \
    REQUIRED(SSL_new) REQUIRED(SSL_free) REQUIRED(SSL_set_fd) REQUIRED(SSL_ctrl)                             \
    OPTIONAL(SSL_set1_host) REQUIRED(SSL_get0_param)                                                         \
    REQUIRED(SSL_connect) REQUIRED(SSL_read) REQUIRED(SSL_write) REQUIRED(SSL_get_error)                     \
    REQUIRED(SSL_get_verify_result) REQUIRED(SSL_shutdown)                                                   \
    RENAMED(SSL_get1_peer_certificate, "SSL_get_peer_certificate")                                           \
    OPTIONAL(SSL_library_init) OPTIONAL(SSL_load_error_strings)

#define TOVI_OSSL_SLOT(name, ...) decltype(&ossl::name) name = nullptr;

struct LibCrypto {
    Library library;
    std::string fileName;
    TOVI_LIBCRYPTO_FUNCTIONS(TOVI_OSSL_SLOT, TOVI_OSSL_SLOT, TOVI_OSSL_SLOT)
};

struct LibSsl {
    Library library;
    std::string fileName;
    TOVI_LIBSSL_FUNCTIONS(TOVI_OSSL_SLOT, TOVI_OSSL_SLOT, TOVI_OSSL_SLOT)
};

#undef TOVI_OSSL_SLOT

// An OpenSSL object owned with the bound free function of the library that made it: freed on every
// way out, error paths included, and never by a library it did not come from.
template <typename T>
struct OsslFree {
    void (*free)(T*) = nullptr;
    void operator()(T* object) const noexcept {
        if (object && free) free(object);
    }
};
template <typename T>
using OsslPtr = std::unique_ptr<T, OsslFree<T>>;
template <typename T>
OsslPtr<T> osslOwned(T* object, void (*free)(T*)) {
    return OsslPtr<T>(object, OsslFree<T>{free});
}

// Both libraries, bound. Move-only; the function pointers stay valid as long as the object lives.
struct OpenSsl {
    LibCrypto crypto;  // declared first: unloaded last, libssl depends on it
    LibSsl ssl;
    // OpenSSL_version_num() (SSLeay() for 1.0.x), e.g. 0x30000140 for 3.0.20.
    unsigned long version = 0;

    // The text of the oldest error in OpenSSL's queue of this thread, and clears the queue;
    // empty when the queue is empty.
    std::string takeErrors() const;
};

// The file names tried, in order, on this platform and architecture.
std::vector<std::string> cryptoLibraryNames();
std::vector<std::string> sslLibraryNames();

// What is handed to the loader for these names: each by its full path in programFolder first,
// then each bare (the system's search), so a library shipped beside the program wins over any
// name found elsewhere, whatever its place in the list.
std::vector<std::string> libraryLoadOrder(const std::vector<std::string>& names, const std::string& programFolder,
                                          char separator);

// "could not load: (a|b|c).dll": every name tried, the common extension written once.
std::string libraryListText(const std::vector<std::string>& names);

// Loads libcrypto, then the libssl of the same series (in libraryLoadOrder), and binds every
// function. Throws tovi::BindError: "could not load: " + the names tried (+ the bad-format line),
// or "could not import: " + name.
OpenSsl loadOpenSsl(const std::string& programFolder);
// The same for the running program's folder.
OpenSsl loadOpenSsl();

}  // namespace tovi::updater
