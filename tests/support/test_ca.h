// test_ca: a certificate authority made for one test, with OpenSSL at run
// time (nothing the system trusts knows it), and the server certificates
// it signs, as PEM files in a folder of its own that goes with it; and a
// TLS server on loopback that tests connect to.
#ifndef QUON_TEST_TEST_CA_H
#define QUON_TEST_TEST_CA_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>

namespace quon::test {

// A server's certificate and its private key, as PEM files.
struct test_certificate {
    std::string certificateFile;
    std::string keyFile;
};

class test_ca {
public:
    test_ca();
    ~test_ca();
    test_ca(const test_ca&) = delete;
    test_ca& operator=(const test_ca&) = delete;

    // The CA's own certificate: what a client is to trust.
    const std::string& caFile() const { return caFile_; }
    // A server certificate, signed by the CA, for `names`: each an IP
    // address (an IP address of the certificate) or a DNS name. Its files
    // are named after `file`.
    test_certificate issue(const std::string& file, const std::vector<std::string>& names) const;
    // For 127.0.0.1 and localhost.
    test_certificate loopback() const { return issue("loopback", {"127.0.0.1", "localhost"}); }

private:
    struct keys;
    std::string folder_;
    std::string caFile_;
    std::unique_ptr<keys> keys_;
};

// A server's context that offers `certificate`, in TLS 1.2 or later; or,
// with `tls11Only`, in TLS 1.1 alone, as an old server would.
boost::asio::ssl::context serverContext(const test_certificate& certificate, bool tls11Only = false);

// A TLS server on 127.0.0.1 (port 0) that takes any number of clients: each
// is sent `greeting` once the handshake is done, and what each sends is
// kept in received(), in order of arrival. closeClients() ends them all (a
// close_notify, then the socket).
class tls_server {
public:
    tls_server(boost::asio::io_context& io, boost::asio::ssl::context context, std::string greeting);
    ~tls_server();
    tls_server(const tls_server&) = delete;
    tls_server& operator=(const tls_server&) = delete;

    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    int handshakes() const { return handshakes_; }
    const std::string& received() const { return received_; }
    void closeClients();

private:
    struct client;
    void accept();
    void read(const std::shared_ptr<client>& c);

    boost::asio::ssl::context context_;
    std::string greeting_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::vector<std::shared_ptr<client>> clients_;
    int handshakes_ = 0;
    std::string received_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quon::test

#endif
