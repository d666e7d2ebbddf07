// One HTTP connection, plain or over TLS (`Stream`): reads requests within
// the limits and answers them (answerRequest), or hands the connection to
// a websocket_session when it asks for /ws. Owns itself through its
// handlers; runs on the io_context's thread.
//
// startConnection() is where a connection begins: with TLS on, its first
// bytes tell whether the client speaks TLS or plain HTTP.
#ifndef QUON_WEB_HTTP_SESSION_H
#define QUON_WEB_HTTP_SESSION_H

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <memory>
#include <optional>
#include <string>

#include "connection.h"
#include "request_handler.h"
#include "server_state.h"

namespace quon::web {

// A connected client's address, as the limits per client count it: ""
// when the peer is already gone.
std::string clientAddress(const boost::asio::ip::tcp::socket& socket);

// Serves the accepted `socket`, already counted against the limits.
void startConnection(std::shared_ptr<server_state> server, boost::asio::ip::tcp::socket socket);

// What a connection is to its client.
enum class http_mode {
    plain,           // HTTP, TLS being off
    tls,             // HTTPS
    plainUnderTls,   // HTTP where TLS is on: only redirects, and /healthz for this machine
};

template <class Stream>
class http_session : public connection, public std::enable_shared_from_this<http_session<Stream>> {
public:
    // `buffer`: what was read of the connection before it was known what
    // it speaks. `identity` keeps a TLS stream's context alive.
    http_session(std::shared_ptr<server_state> server, Stream&& stream, http_mode mode, std::string peer,
                 std::string address, boost::beast::flat_buffer buffer,
                 std::shared_ptr<const page_identity> identity = nullptr);
    ~http_session() override;
    const std::string& address() const override { return address_; }

    // Joins the server's sessions and reads the first request.
    void start();
    void close() override;

private:
    void read();
    void onHeader(const boost::system::error_code& failure, std::size_t);
    void onRead(const boost::system::error_code& failure, std::size_t);
    bool failed(const boost::system::error_code& failure);
    void answer(http_request request);
    void upgrade(http_request request);
    // Answers a request that ends the connection.
    void refuse(boost::beast::http::status status, const char* reason);
    void respond(http_response response);
    void onWrite(const boost::system::error_code& failure, std::size_t);
    void finish();
    void drain();

    std::shared_ptr<server_state> server_;
    Stream stream_;
    http_mode mode_;
    std::string peer_;     // "ADDR:PORT"
    std::string address_;  // ADDR, as server_state::connectionsFrom counts it
    boost::beast::flat_buffer buffer_;
    std::shared_ptr<const page_identity> identity_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    http_response response_;
    std::array<char, 4096> discard_;
};

}  // namespace quon::web

#endif
