#include "quon/web/page_tls.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <boost/asio/ssl/context.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

namespace quon::web {

namespace {

// OpenSSL's reason for the last failure, its queue emptied.
std::string openSslReason() {
    std::string reason;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        reason = text;  // the last is the one nearest the call
    }
    return reason.empty() ? "not usable" : reason;
}

bool readable(const std::string& file, const char* what, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (in) return true;
    error = std::string("cannot read the page's ") + what + " " + file + ": " + std::strerror(errno);
    return false;
}

std::string utcText(const ASN1_TIME* time) {
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return "(unknown)";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

page_identity::page_identity() = default;
page_identity::~page_identity() = default;

std::shared_ptr<const page_identity> loadPageIdentity(const std::string& certificateFile, const std::string& keyFile,
                                                      std::string& error) {
    if (!readable(certificateFile, "certificate", error) || !readable(keyFile, "key", error)) return nullptr;
    namespace ssl = boost::asio::ssl;
    std::shared_ptr<page_identity> identity(new page_identity());
    identity->context_ = std::make_unique<ssl::context>(ssl::context::tls_server);
    ssl::context& context = *identity->context_;
    SSL_CTX* native = context.native_handle();
    ERR_clear_error();
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                        ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(native, certificateFile.c_str()) != 1) {
        error = "the page's certificate " + certificateFile + " is not a PEM certificate: " + openSslReason();
        return nullptr;
    }
    // Never asked for a passphrase: a service has no one to type it, and
    // OpenSSL's own prompt would wait on the terminal.
    const auto noPassphrase = [](char*, int, int, void*) { return 0; };
    BIO* file = BIO_new_file(keyFile.c_str(), "r");
    EVP_PKEY* key = file ? PEM_read_bio_PrivateKey(file, nullptr, noPassphrase, nullptr) : nullptr;
    BIO_free(file);
    if (!key) {
        error = "the page's key " + keyFile + " is not a PEM private key without a passphrase: " + openSslReason();
        return nullptr;
    }
    X509* certificate = SSL_CTX_get0_certificate(native);
    const bool matches = certificate && X509_check_private_key(certificate, key) == 1;
    const bool used = matches && SSL_CTX_use_PrivateKey(native, key) == 1;
    EVP_PKEY_free(key);
    ERR_clear_error();
    if (!used) {
        error = "the page's key " + keyFile + " is not the key of the certificate " + certificateFile;
        return nullptr;
    }
    char subject[256] = "(none)";
    if (certificate) X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
    const ASN1_TIME* until = certificate ? X509_get0_notAfter(certificate) : nullptr;
    identity->summary_ = std::string(subject) + ", until " + utcText(until);
    if (until && X509_cmp_current_time(until) < 0) identity->summary_ += " (expired)";
    return identity;
}

}  // namespace quon::web
