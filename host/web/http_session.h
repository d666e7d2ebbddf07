// One HTTP connection: reads requests within the limits and answers them
// (answerRequest), or hands the connection to a websocket_session when it
// asks for /ws. Owns itself through its handlers; runs on the io_context's
// thread.
#ifndef QUON_WEB_HTTP_SESSION_H
#define QUON_WEB_HTTP_SESSION_H

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <memory>
#include <optional>
#include <string>

#include "request_handler.h"
#include "server_state.h"

namespace quon::web {

// A connected client's address, as the limits per client count it: ""
// when the peer is already gone.
std::string clientAddress(const boost::asio::ip::tcp::socket& socket);

class http_session : public std::enable_shared_from_this<http_session> {
public:
    http_session(std::shared_ptr<server_state> server, boost::asio::ip::tcp::socket socket);
    ~http_session();
    const std::string& address() const { return address_; }

    // Joins the server's sessions and reads the first request.
    void start();
    void close();

private:
    void read();
    void onRead(const boost::system::error_code& failure, std::size_t);
    void upgrade(http_request request);
    // Answers a request that ends the connection.
    void refuse(boost::beast::http::status status, const char* reason);
    void respond(http_response response);
    void onWrite(const boost::system::error_code& failure, std::size_t);
    void finish();
    void drain();

    std::shared_ptr<server_state> server_;
    boost::beast::tcp_stream stream_;
    std::string peer_;  // "ADDR:PORT"
    std::string address_;  // ADDR, as server_state::connectionsFrom counts it
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    http_response response_;
    std::array<char, 4096> discard_;
};

}  // namespace quon::web

#endif
