#include "test_ca.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <boost/asio/write.hpp>

namespace quon::test {

namespace asio = boost::asio;

namespace {

struct key_free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct certificate_free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using key_ptr = std::unique_ptr<EVP_PKEY, key_free>;
using certificate_ptr = std::unique_ptr<X509, certificate_free>;

void require(bool done, const char* what) {
    if (!done) throw std::runtime_error(std::string("test CA: ") + what + " failed");
}

key_ptr newKey() {
    key_ptr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    require(key != nullptr, "making a key");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    require(extension != nullptr, "an extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `subject`'s key, valid from an hour ago for a day,
// named as issued by `issuer` (by itself, without one); not signed yet.
certificate_ptr newCertificate(const std::string& commonName, EVP_PKEY* subject, X509* issuer, long serial) {
    certificate_ptr certificate(X509_new());
    require(certificate != nullptr, "a certificate");
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600);
    X509_set_pubkey(certificate.get(), subject);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), issuer ? X509_get_subject_name(issuer) : name);
    return certificate;
}

void sign(X509* certificate, EVP_PKEY* key) { require(X509_sign(certificate, key, EVP_sha256()) > 0, "signing"); }

void writeFile(const std::string& path, const std::function<int(std::FILE*)>& write) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "opening a PEM file");
    const int written = write(file);
    std::fclose(file);
    require(written == 1, "writing a PEM file");
}

}  // namespace

struct test_ca::keys {
    key_ptr key;
    certificate_ptr certificate;
    long issued = 1;  // the serial number of the last certificate signed
};

test_ca::test_ca() : keys_(std::make_unique<keys>()) {
    char pattern[] = "/tmp/quon-ca-XXXXXX";
    const char* made = mkdtemp(pattern);
    require(made != nullptr, "making a folder");
    folder_ = made;
    caFile_ = folder_ + "/ca.pem";
    keys_->key = newKey();
    keys_->certificate = newCertificate("quon test CA", keys_->key.get(), nullptr, 1);
    X509* ca = keys_->certificate.get();
    addExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca, ca, NID_subject_key_identifier, "hash");
    sign(ca, keys_->key.get());
    writeFile(caFile_, [ca](std::FILE* file) { return PEM_write_X509(file, ca); });
}

test_ca::~test_ca() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

test_certificate test_ca::issue(const std::string& file, const std::vector<std::string>& names) const {
    const key_ptr key = newKey();
    const certificate_ptr certificate =
        newCertificate(names.empty() ? file : names.front(), key.get(), keys_->certificate.get(), ++keys_->issued);
    std::string alternatives;
    for (const std::string& name : names) {
        boost::system::error_code notAddress;
        asio::ip::make_address(name, notAddress);
        alternatives += (alternatives.empty() ? "" : ",") + std::string(notAddress ? "DNS:" : "IP:") + name;
    }
    X509* leaf = certificate.get();
    X509* ca = keys_->certificate.get();
    addExtension(leaf, ca, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(leaf, ca, NID_key_usage, "critical,digitalSignature");
    addExtension(leaf, ca, NID_ext_key_usage, "serverAuth");
    addExtension(leaf, ca, NID_authority_key_identifier, "keyid");
    if (!alternatives.empty()) addExtension(leaf, ca, NID_subject_alt_name, alternatives);
    sign(leaf, keys_->key.get());
    const test_certificate made{folder_ + "/" + file + ".pem", folder_ + "/" + file + ".key"};
    writeFile(made.certificateFile, [leaf](std::FILE* out) { return PEM_write_X509(out, leaf); });
    EVP_PKEY* privateKey = key.get();
    writeFile(made.keyFile, [privateKey](std::FILE* out) {
        return PEM_write_PrivateKey(out, privateKey, nullptr, nullptr, 0, nullptr, nullptr);
    });
    return made;
}

asio::ssl::context serverContext(const test_certificate& certificate, bool tls11Only) {
    asio::ssl::context context(asio::ssl::context::tls_server);
    context.use_certificate_chain_file(certificate.certificateFile);
    context.use_private_key_file(certificate.keyFile, asio::ssl::context::pem);
    if (tls11Only) {
        // OpenSSL 3 offers TLS 1.1 only at security level 0.
        SSL_CTX_set_security_level(context.native_handle(), 0);
        SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_1_VERSION);
        SSL_CTX_set_max_proto_version(context.native_handle(), TLS1_1_VERSION);
    } else {
        SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
    }
    return context;
}

struct tls_server::client {
    client(asio::ip::tcp::socket socket, asio::ssl::context& context) : stream(std::move(socket), context) {}
    asio::ssl::stream<asio::ip::tcp::socket> stream;
    char buffer[4096];
};

tls_server::tls_server(asio::io_context& io, asio::ssl::context context, std::string greeting)
    : context_(std::move(context)),
      greeting_(std::move(greeting)),
      acceptor_(io, {asio::ip::make_address("127.0.0.1"), 0}) {
    accept();
}

tls_server::~tls_server() {
    alive_.reset();
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    for (const auto& c : clients_) c->stream.next_layer().close(ignored);
}

void tls_server::closeClients() {
    for (const auto& c : clients_) {
        const std::shared_ptr<client> held = c;
        held->stream.async_shutdown([held](const boost::system::error_code&) {
            boost::system::error_code ignored;
            held->stream.next_layer().close(ignored);
        });
    }
    clients_.clear();
}

void tls_server::accept() {
    acceptor_.async_accept([this, alive = std::weak_ptr<bool>(alive_)](const boost::system::error_code& error,
                                                                       asio::ip::tcp::socket socket) {
        if (alive.expired() || error) return;
        auto c = std::make_shared<client>(std::move(socket), context_);
        clients_.push_back(c);
        c->stream.async_handshake(asio::ssl::stream_base::server,
                                  [this, alive, c](const boost::system::error_code& handshakeError) {
                                      if (alive.expired() || handshakeError) return;
                                      ++handshakes_;
                                      asio::async_write(c->stream, asio::buffer(greeting_),
                                                        [c](const boost::system::error_code&, std::size_t) {});
                                      read(c);
                                  });
        accept();
    });
}

void tls_server::read(const std::shared_ptr<client>& c) {
    c->stream.async_read_some(asio::buffer(c->buffer),
                              [this, alive = std::weak_ptr<bool>(alive_), c](const boost::system::error_code& error,
                                                                             std::size_t size) {
                                  if (alive.expired() || error) return;
                                  received_.append(c->buffer, size);
                                  read(c);
                              });
}

}  // namespace quon::test
