#include "net/tls.h"

#include <cstdlib>

#include "net/url.h"
#include "common/error.h"
#include "common/net.h"
#include "common/paths.h"
#include "common/sigpipe.h"
#include "common/text.h"

namespace tovi::updater {

namespace {

// PATH as UTF-8 (on Windows from the wide environment, so folders with any characters work).
std::string pathVariable() {
#ifdef _WIN32
    const wchar_t* value = _wgetenv(L"PATH");
    return value ? narrow(value) : std::string();
#else
    const char* value = std::getenv("PATH");
    return value ? value : "";
#endif
}

}  // namespace

bool takesTls13Suites(unsigned long version) { return version > 0x10100FFFUL && version != 0x20000000UL; }

std::vector<std::string> caFileCandidates(const std::string& programFolder, const std::string& pathValue, char listSeparator,
                                          char pathSeparator, const std::function<bool(const std::string&)>& isFile) {
    auto inFolder = [pathSeparator](std::string folder) {
        if (!folder.empty() && folder.back() != '/' && folder.back() != pathSeparator) folder += pathSeparator;
        return folder + std::string(kCaFileName);
    };
    const std::string own = inFolder(programFolder);
    if (isFile(own)) return {own};
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start <= pathValue.size()) {
        const auto end = pathValue.find(listSeparator, start);
        std::string entry = pathValue.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') entry = entry.substr(1, entry.size() - 2);
        if (!entry.empty()) {
            const std::string candidate = inFolder(entry);
            if (isFile(candidate)) found.push_back(candidate);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return found;
}

TlsContext::TlsContext(const OpenSsl& ssl, const std::string& programFolder) : ssl_(ssl) {
    const LibSsl& s = ssl.ssl;
    ctx_ = osslOwned(s.SSL_CTX_new(s.TLS_client_method()), s.SSL_CTX_free);
    if (!ctx_) throw ReleaseFault(ioError("cannot create the TLS context: " + ssl.takeErrors()));
    s.SSL_CTX_set_verify(ctx_.get(), kSslVerifyPeer, nullptr);
    if (s.SSL_CTX_set_cipher_list(ctx_.get(), kCipherList) != 1) throw ReleaseFault(ioError("cannot set the TLS cipher list: " + ssl.takeErrors()));
    if (takesTls13Suites(ssl.version)) {
        if (!s.SSL_CTX_set_ciphersuites) throw BindError(couldNotImportText("SSL_CTX_set_ciphersuites"), true);
        if (s.SSL_CTX_set_ciphersuites(ctx_.get(), kTls13Suites) != 1)
            throw ReleaseFault(ioError("cannot set the TLS 1.3 cipher suites: " + ssl.takeErrors()));
    }
#ifdef _WIN32
    const char listSeparator = ';';
#else
    const char listSeparator = ':';
#endif
    const auto candidates = caFileCandidates(programFolder, pathVariable(), listSeparator, pathSeparator(),
                                             [](const std::string& p) { return fileKind(p) == EntryKind::File; });
    for (const auto& file : candidates) {
        if (s.SSL_CTX_load_verify_locations(ctx_.get(), file.c_str(), nullptr) == 1) {
            caFile_ = file;
            break;
        }
    }
    ssl.takeErrors();
    if (caFile_.empty()) throw ReleaseFault(ioError("No SSL/TLS CA certificates found."));
}

TlsStream::TlsStream(const TlsContext& context, Socket socket, const std::string& host, std::chrono::milliseconds idleTimeout)
    : ssl_(context.openssl()), socket_(std::move(socket)), host_(host), idleTimeout_(idleTimeout) {
    const LibSsl& s = ssl_.ssl;
    ssl_.crypto.ERR_clear_error();
    s_ = osslOwned(s.SSL_new(context.get()), s.SSL_free);
    if (!s_) throw ioError("cannot create a TLS connection: " + ssl_.takeErrors());
    try {
        handshake(host);
    } catch (...) {
        // Freed before the socket closes, and without SIGPIPE.
        NoSigpipe guard;
        s_.reset();
        throw;
    }
}

void TlsStream::handshake(const std::string& host) {
    const LibSsl& s = ssl_.ssl;
    if (s.SSL_set_fd(s_.get(), socket_.fd()) != 1) throw ioError("TLS set-up with " + host_ + " failed: " + ssl_.takeErrors());

    // Which names the certificate must carry: an address literal is checked as an address (and
    // gets no SNI, which is for host names only); a name as a DNS name.
    ossl::X509_VERIFY_PARAM* param = s.SSL_get0_param(s_.get());
    bool named;
    if (isIpLiteral(host)) {
        named = param && ssl_.crypto.X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    } else {
        named = s.SSL_set1_host ? s.SSL_set1_host(s_.get(), host.c_str()) == 1
                                : param && ssl_.crypto.X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
        named = named && s.SSL_ctrl(s_.get(), kSslCtrlSetTlsextHostname, kTlsextNametypeHostName, const_cast<char*>(host.c_str())) == 1;
    }
    if (!named) throw ioError("TLS set-up with " + host_ + " failed: cannot name the host to verify: " + ssl_.takeErrors());

    NoSigpipe guard;
    const int r = s.SSL_connect(s_.get());
    if (r != 1) {
        const long verify = s.SSL_get_verify_result(s_.get());
        if (verify != kX509VOk) {
            ssl_.takeErrors();
            throw ReleaseFault(ioError("TLS handshake with " + host_ + " failed: certificate verify failed (" +
                                       std::to_string(verify) + ": " + ssl_.crypto.X509_verify_cert_error_string(verify) + ")"));
        }
        fail("TLS handshake", r);
    }
    // With SSL_VERIFY_PEER a missing certificate already fails the handshake; make sure anyway.
    const OsslPtr<ossl::X509> cert = osslOwned(s.SSL_get1_peer_certificate(s_.get()), ssl_.crypto.X509_free);
    if (!cert) throw ioError("TLS handshake with " + host_ + " failed: the server sent no certificate");
}

TlsStream::~TlsStream() {
    if (!s_) return;
    NoSigpipe guard;
    s_.reset();
    ssl_.crypto.ERR_clear_error();
}

void TlsStream::fail(const char* what, int ret) {
    const int code = s_ && ret <= 0 ? ssl_.ssl.SSL_get_error(s_.get(), ret) : 0;
    const bool timedOut = code == kSslErrorWantRead || code == kSslErrorWantWrite ||
                          (code == kSslErrorSyscall && net::lastErrorWasTimeout());
    std::string detail = ssl_.takeErrors();
    if (timedOut) throw ioError(idleTimeoutText(host_, idleTimeout_));
    if (detail.empty() && code == kSslErrorSyscall) detail = ret == 0 ? "connection closed" : net::lastErrorText();
    if (detail.empty()) detail = "error " + std::to_string(code);
    throw ioError(std::string(what) + " with " + host_ + " failed: " + detail);
}

std::size_t TlsStream::read(char* buf, std::size_t size) {
    const int want = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    // A read may write too (alerts, key updates), to a peer that may have gone.
    NoSigpipe guard;
    const int n = ssl_.ssl.SSL_read(s_.get(), buf, want);
    if (n > 0) return static_cast<std::size_t>(n);
    const int code = ssl_.ssl.SSL_get_error(s_.get(), n);
    if (code == kSslErrorZeroReturn) return 0;
    if (code == kSslErrorSyscall && n == 0) {  // 1.1.x: closed without a close alert
        ssl_.takeErrors();
        return 0;
    }
    if (code == kSslErrorSsl) {
        // 3.x reports a close without a close alert as SSL_R_UNEXPECTED_EOF_WHILE_READING.
        const unsigned long e = ssl_.crypto.ERR_get_error();
        const unsigned long reason = ssl_.version >= 0x30000000UL ? (e & 0x7FFFFFUL) : (e & 0xFFFUL);
        if (reason == 294) {
            ssl_.takeErrors();
            return 0;
        }
        if (e) {
            char text[256] = {};
            ssl_.crypto.ERR_error_string_n(e, text, sizeof text);
            ssl_.takeErrors();
            throw ioError("TLS read from " + host_ + " failed: " + text);
        }
    }
    fail("TLS read", n);
}

void TlsStream::writeAll(const char* data, std::size_t size) {
    NoSigpipe guard;
    while (size > 0) {
        const int want = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        const int n = ssl_.ssl.SSL_write(s_.get(), data, want);
        if (n <= 0) fail("TLS write", n);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string idleTimeoutText(const std::string& host, std::chrono::milliseconds idleTimeout) {
    const auto ms = idleTimeout.count();
    const std::string span = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
    return "no data from " + host + " for " + span + " (timed out)";
}

}  // namespace tovi::updater
