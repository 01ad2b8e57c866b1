// TLS over the run-time-bound OpenSSL: the one context of the process and its connections.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/openssl.h"
#include "net/socket.h"
#include "common/error.h"

namespace tovi::updater {

inline constexpr const char* kCipherList =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:ECDHE-ECDSA-AES128-GCM-SHA256:"
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384";
inline constexpr const char* kTls13Suites = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

// A failure of what verifies the server: a certificate bundle that loads nothing or no longer
// verifies the server, an OpenSSL that cannot set up TLS. Whose fault it is (the release's or the
// server's) depends on what the release changed: blamesRelease (update/trial.h).
class ReleaseFault : public Error {
public:
    explicit ReleaseFault(const Error& e) : Error(e.what(), e.kind()) {}
};

// The certificate bundle, in the program folder (or a folder of the PATH).
inline constexpr std::string_view kCaFileName = "cacert.pem";

// Whether a library of this version number takes TLS 1.3 suites: 1.1.1 and later, except the
// 0x20000000 that a certain fork reports.
bool takesTls13Suites(unsigned long version);

// The "cacert.pem" files to try, in order: the one in the program folder if it exists (then the
// only one); otherwise one in each folder of the PATH value (split at listSeparator, empty entries
// skipped, an entry in double quotes unquoted) that holds such a file.
std::vector<std::string> caFileCandidates(const std::string& programFolder, const std::string& pathValue, char listSeparator,
                                          char pathSeparator, const std::function<bool(const std::string&)>& isFile);

// The client context: peer verification, the cipher list, TLS 1.3 suites under the version rule,
// and the first "cacert.pem" that loads. Throws IOError "No SSL/TLS CA certificates found." when
// none loads.
class TlsContext {
public:
    TlsContext(const OpenSsl& ssl, const std::string& programFolder);
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    const OpenSsl& openssl() const { return ssl_; }
    ossl::SSL_CTX* get() const { return ctx_.get(); }
    const std::string& caFile() const { return caFile_; }

private:
    const OpenSsl& ssl_;
    OsslPtr<ossl::SSL_CTX> ctx_;
    std::string caFile_;
};

// One TLS connection. The handshake sends the host name (SNI, not for address literals) and
// checks that the server's certificate chains to our CA and names that host or address.
class TlsStream {
public:
    TlsStream(const TlsContext& context, Socket socket, const std::string& host, std::chrono::milliseconds idleTimeout);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // 0 at the end of the stream (also when the peer closes without a TLS close alert: the HTTP
    // framing tells a complete response from a cut one).
    std::size_t read(char* buf, std::size_t size);
    void writeAll(const char* data, std::size_t size);

private:
    void handshake(const std::string& host);
    [[noreturn]] void fail(const char* what, int ret);

    const OpenSsl& ssl_;
    Socket socket_;
    OsslPtr<ossl::SSL> s_;  // after the socket: freed before it closes
    std::string host_;
    std::chrono::milliseconds idleTimeout_;
};

}  // namespace tovi::updater
