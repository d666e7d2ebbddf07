#include "http_session.h"

#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "websocket_session.h"

namespace quon::web {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

std::string peerText(const tcp::socket& socket) {
    error_code failure;
    const tcp::endpoint endpoint = socket.remote_endpoint(failure);
    if (failure) return "(unknown)";
    const std::string address = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
}

}  // namespace

std::string clientAddress(const tcp::socket& socket) {
    error_code failure;
    const tcp::endpoint endpoint = socket.remote_endpoint(failure);
    return failure ? std::string() : endpoint.address().to_string();
}

http_session::http_session(std::shared_ptr<server_state> server, tcp::socket socket)
    : server_(std::move(server)),
      stream_(std::move(socket)),
      peer_(peerText(stream_.socket())),
      address_(clientAddress(stream_.socket())),
      buffer_(server_->settings.maxRequestBytes) {}

http_session::~http_session() { server_->sessions.erase(this); }

void http_session::start() {
    server_->sessions.emplace(this, weak_from_this());
    read();
}

void http_session::close() {
    error_code ignored;
    stream_.socket().close(ignored);
}

void http_session::read() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_->settings.maxHeaderBytes));
    parser_->body_limit(server_->settings.maxRequestBytes);
    stream_.expires_after(server_->settings.requestTimeout);
    http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&http_session::onRead, shared_from_this()));
}

void http_session::onRead(const error_code& failure, std::size_t) {
    if (failure == http::error::end_of_stream || failure == beast::error::timeout ||
        failure == asio::error::operation_aborted || failure == asio::error::connection_reset)
        return close();
    if (failure == http::error::header_limit || failure == http::error::buffer_overflow)
        return refuse(http::status::request_header_fields_too_large, "request header too large\n");
    if (failure == http::error::body_limit) return refuse(http::status::payload_too_large, "request too large\n");
    if (failure) return refuse(http::status::bad_request, "malformed request\n");

    http_request request = parser_->release();
    const beast::string_view host = request[http::field::host];
    if (!answersTo(std::string_view(host.data(), host.size()), server_->hostNames)) {
        server_->refuse("host", address_);
        return refuse(http::status::misdirected_request,
                      "this host does not answer to that name: list it in the wall file's [page] names\n");
    }
    if (beast::websocket::is_upgrade(request)) return upgrade(std::move(request));
    respond(answerRequest(request, server_->requestContext(peer_)));
}

void http_session::upgrade(http_request request) {
    if (request.target() != "/ws") return refuse(http::status::not_found, "no such WebSocket\n");
    if (!sameOrigin(request)) return refuse(http::status::forbidden, "another site's page may not connect\n");
    if (server_->pages.size() >= server_->settings.maxClients) {
        server_->refuse("pages", address_);
        return refuse(http::status::service_unavailable, "too many pages open\n");
    }
    server_->sessions.erase(this);
    auto page = std::make_shared<websocket_session>(server_, std::move(stream_), address_);
    server_->pages.push_back(page);
    page->accept(std::move(request));
}

void http_session::refuse(http::status status, const char* reason) { respond(refusal(status, reason)); }

void http_session::respond(http_response response) {
    response_ = std::move(response);
    stream_.expires_after(server_->settings.requestTimeout);
    http::async_write(stream_, response_, beast::bind_front_handler(&http_session::onWrite, shared_from_this()));
}

void http_session::onWrite(const error_code& failure, std::size_t) {
    if (failure) return close();
    if (!response_.keep_alive()) return finish();
    read();
}

// Ends the connection without losing the answer: closing with unread bytes
// (the rest of a refused request) would reset it, and the client might
// never see why. So: no more sending, then read and discard what still
// comes, for a while at most.
void http_session::finish() {
    error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(server_->settings.requestTimeout);
    drain();
}

void http_session::drain() {
    stream_.async_read_some(asio::buffer(discard_), [self = shared_from_this()](const error_code& failure, std::size_t) {
        if (failure) return self->close();
        self->drain();
    });
}

}  // namespace quon::web
