#include "http_session.h"

#include <boost/asio/ssl/stream_base.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/detect_ssl.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "tally_session.h"
#include "websocket_session.h"

namespace quon::web {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using tls_stream = beast::ssl_stream<beast::tcp_stream>;

std::string peerText(const tcp::socket& socket) {
    error_code failure;
    const tcp::endpoint endpoint = socket.remote_endpoint(failure);
    if (failure) return "(unknown)";
    const std::string address = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
}

// A connection where TLS is on, until its first bytes tell what it speaks
// and, for TLS, its handshake is done; then an http_session of that kind.
// Counted as a connection meanwhile, and held to the header's deadline.
class tls_detector : public connection, public std::enable_shared_from_this<tls_detector> {
public:
    tls_detector(std::shared_ptr<server_state> server, tcp::socket socket,
                 std::shared_ptr<const page_identity> identity)
        : server_(std::move(server)),
          stream_(std::move(socket)),
          peer_(peerText(stream_.socket())),
          address_(clientAddress(stream_.socket())),
          identity_(std::move(identity)) {}
    ~tls_detector() override { server_->sessions.erase(this); }
    const std::string& address() const override { return address_; }
    void close() override {
        error_code ignored;
        if (tls_) beast::get_lowest_layer(*tls_).socket().close(ignored);
        else stream_.socket().close(ignored);
    }

    void start() {
        server_->sessions.emplace(this, weak_from_this());
        stream_.expires_after(server_->settings.limits.headerTimeout);
        beast::async_detect_ssl(stream_, buffer_, beast::bind_front_handler(&tls_detector::onDetect, shared_from_this()));
    }

private:
    void onDetect(const error_code& failure, bool tls) {
        if (failure) {
            if (failure == beast::error::timeout) server_->refuse("slow", address_);
            return close();
        }
        server_->sessions.erase(this);
        if (!tls) {
            std::make_shared<http_session<beast::tcp_stream>>(server_, std::move(stream_), http_mode::plainUnderTls,
                                                              peer_, address_, std::move(buffer_))
                ->start();
            return;
        }
        server_->sessions.emplace(this, weak_from_this());
        tls_.emplace(std::move(stream_), identity_->context());
        tls_->async_handshake(asio::ssl::stream_base::server, buffer_.data(),
                              beast::bind_front_handler(&tls_detector::onHandshake, shared_from_this()));
    }

    void onHandshake(const error_code& failure, std::size_t used) {
        if (failure) {
            if (failure == beast::error::timeout) server_->refuse("slow", address_);
            else server_->refuse("tls", address_);
            return close();
        }
        buffer_.consume(used);
        server_->sessions.erase(this);
        std::make_shared<http_session<tls_stream>>(server_, std::move(*tls_), http_mode::tls, peer_, address_,
                                                   std::move(buffer_), identity_)
            ->start();
    }

    std::shared_ptr<server_state> server_;
    beast::tcp_stream stream_;
    std::optional<tls_stream> tls_;
    std::string peer_;
    std::string address_;
    std::shared_ptr<const page_identity> identity_;
    beast::flat_buffer buffer_;
};

}  // namespace

std::string clientAddress(const tcp::socket& socket) {
    error_code failure;
    const tcp::endpoint endpoint = socket.remote_endpoint(failure);
    return failure ? std::string() : endpoint.address().to_string();
}

void startConnection(std::shared_ptr<server_state> server, tcp::socket socket) {
    // An update is small and comes after the large full state: Nagle would
    // hold it for the page's delayed ACK, some 40 ms.
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (std::shared_ptr<const page_identity> identity = server->identity) {
        std::make_shared<tls_detector>(std::move(server), std::move(socket), std::move(identity))->start();
        return;
    }
    const std::string peer = peerText(socket);
    const std::string address = clientAddress(socket);
    std::make_shared<http_session<beast::tcp_stream>>(std::move(server), beast::tcp_stream(std::move(socket)),
                                                      http_mode::plain, peer, address, beast::flat_buffer())
        ->start();
}

template <class Stream>
http_session<Stream>::http_session(std::shared_ptr<server_state> server, Stream&& stream, http_mode mode,
                                   std::string peer, std::string address, beast::flat_buffer buffer,
                                   std::shared_ptr<const page_identity> identity)
    : server_(std::move(server)),
      stream_(std::move(stream)),
      mode_(mode),
      peer_(std::move(peer)),
      address_(std::move(address)),
      buffer_(server_->settings.maxRequestBytes),
      identity_(std::move(identity)) {
    // What was read before it was known what the connection speaks.
    const auto data = buffer.data();
    buffer_.commit(asio::buffer_copy(buffer_.prepare(data.size()), data));
}

template <class Stream>
http_session<Stream>::~http_session() {
    server_->sessions.erase(this);
}

template <class Stream>
void http_session<Stream>::start() {
    server_->sessions.emplace(this, this->weak_from_this());
    read();
}

template <class Stream>
void http_session<Stream>::close() {
    error_code ignored;
    beast::get_lowest_layer(stream_).socket().close(ignored);
}

// The header within limits.headerTimeout of the connection's first byte or
// of the last answer; then the body, within requestTimeout.
template <class Stream>
void http_session<Stream>::read() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(server_->settings.maxHeaderBytes));
    parser_->body_limit(server_->settings.maxRequestBytes);
    beast::get_lowest_layer(stream_).expires_after(server_->settings.limits.headerTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            beast::bind_front_handler(&http_session::onHeader, this->shared_from_this()));
}

template <class Stream>
bool http_session<Stream>::failed(const error_code& failure) {
    if (!failure) return false;
    if (failure == beast::error::timeout) {
        // A connection idle between requests is closed as well: only one
        // that had begun a request was slow.
        if (buffer_.size() > 0 || parser_->got_some()) server_->refuse("slow", address_);
        close();
    } else if (failure == http::error::end_of_stream || failure == asio::error::operation_aborted ||
               failure == asio::error::connection_reset || failure == asio::ssl::error::stream_truncated) {
        close();
    } else if (failure == http::error::header_limit || failure == http::error::buffer_overflow) {
        refuse(http::status::request_header_fields_too_large, "request header too large\n");
    } else if (failure == http::error::body_limit) {
        refuse(http::status::payload_too_large, "request too large\n");
    } else {
        refuse(http::status::bad_request, "malformed request\n");
    }
    return true;
}

template <class Stream>
void http_session<Stream>::onHeader(const error_code& failure, std::size_t) {
    if (failed(failure)) return;
    if (parser_->is_done()) return answer(parser_->release());
    beast::get_lowest_layer(stream_).expires_after(server_->settings.requestTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&http_session::onRead, this->shared_from_this()));
}

template <class Stream>
void http_session<Stream>::onRead(const error_code& failure, std::size_t) {
    if (failed(failure)) return;
    answer(parser_->release());
}

template <class Stream>
void http_session<Stream>::answer(http_request request) {
    if (!server_->allowRequest(address_)) {
        server_->refuse("rate", address_);
        http_response response = refusal(http::status::too_many_requests, "too many requests from this address\n");
        response.set(http::field::retry_after, "1");
        return respond(std::move(response));
    }
    const beast::string_view host = request[http::field::host];
    if (!answersTo(std::string_view(host.data(), host.size()), server_->hostNames)) {
        server_->refuse("host", address_);
        return refuse(http::status::misdirected_request,
                      "this host does not answer to that name: list it in the wall file's [page] names\n");
    }
    if (mode_ == http_mode::plainUnderTls) {
        // Only the pair's check may stay in plain, from this machine.
        if (server_state::thisMachine(address_) && request.target() == "/healthz")
            return respond(answerRequest(request, server_->requestContext(peer_, false)));
        if (!server_->redirectPlain) return close();
        error_code ignored;
        const tcp::endpoint own = beast::get_lowest_layer(stream_).socket().local_endpoint(ignored);
        const std::string address = own.address().to_string();
        return respond(redirectToTls(request, (own.address().is_v6() ? "[" + address + "]" : address) + ":" +
                                                  std::to_string(own.port())));
    }
    if (beast::websocket::is_upgrade(request)) return upgrade(std::move(request));
    http_response response = answerRequest(request, server_->requestContext(peer_, mode_ == http_mode::tls));
    if (response.result() == http::status::unauthorized) server_->refuse("token", address_);
    respond(std::move(response));
}

template <class Stream>
void http_session<Stream>::upgrade(http_request request) {
    std::string_view path(request.target().data(), request.target().size());
    path = path.substr(0, path.find('?'));
    std::string name;
    bool sourceOnly = false;
    const bool tally = readTallyPath(path, "/ws/tally/", name, sourceOnly);
    if (path != "/ws" && !tally) return refuse(http::status::not_found, "no such WebSocket\n");
    if (!sameOrigin(request)) return refuse(http::status::forbidden, "another site's page may not connect\n");
    if (!mayView(request, server_->viewToken, server_->control.token)) {
        server_->refuse("token", address_);
        return refuse(http::status::unauthorized, "this wall needs its view token\n");
    }
    // A tally page is one small message per change of what it follows: it
    // is held by the limits on connections alone, not those on wall pages.
    if (tally) {
        const std::optional<wall_model::tally_target> target = server_->model.findTallyTarget(name, sourceOnly);
        if (!target) return refuse(http::status::not_found, "no display or source of that name\n");
        server_->sessions.erase(this);
        auto page = std::make_shared<tally_session<Stream>>(server_, std::move(stream_), address_, *target);
        server_->addTallyPage(page);
        page->accept(std::move(request));
        return;
    }
    const page_limits& limits = server_->settings.limits;
    if (server_->pages.size() >= limits.pages) {
        server_->refuse("pages", address_);
        return refuse(http::status::service_unavailable, "too many pages open\n");
    }
    if (!server_state::thisMachine(address_) && server_->pagesFrom(address_) >= limits.pagesPerClient) {
        server_->refuse("client pages", address_);
        return refuse(http::status::service_unavailable, "too many pages open from this address\n");
    }
    server_->sessions.erase(this);
    auto page = std::make_shared<websocket_session<Stream>>(server_, std::move(stream_), address_);
    server_->pages.push_back(page);
    page->accept(std::move(request));
}

template <class Stream>
void http_session<Stream>::refuse(http::status status, const char* reason) {
    respond(refusal(status, reason));
}

template <class Stream>
void http_session<Stream>::respond(http_response response) {
    response_ = std::move(response);
    // Browsers keep to HTTPS for this name from now on.
    if (mode_ == http_mode::tls) response_.set(http::field::strict_transport_security, "max-age=31536000");
    beast::get_lowest_layer(stream_).expires_after(server_->settings.requestTimeout);
    http::async_write(stream_, response_, beast::bind_front_handler(&http_session::onWrite, this->shared_from_this()));
}

template <class Stream>
void http_session<Stream>::onWrite(const error_code& failure, std::size_t) {
    if (failure) return close();
    if (!response_.keep_alive()) return finish();
    read();
}

// Ends the connection without losing the answer: closing with unread bytes
// (the rest of a refused request) would reset it, and the client might
// never see why. So: no more sending, then read and discard what still
// comes, for a while at most.
template <class Stream>
void http_session<Stream>::finish() {
    error_code ignored;
    beast::get_lowest_layer(stream_).socket().shutdown(tcp::socket::shutdown_send, ignored);
    beast::get_lowest_layer(stream_).expires_after(server_->settings.requestTimeout);
    drain();
}

template <class Stream>
void http_session<Stream>::drain() {
    beast::get_lowest_layer(stream_).async_read_some(
        asio::buffer(discard_), [self = this->shared_from_this()](const error_code& failure, std::size_t) {
            if (failure) return self->close();
            self->drain();
        });
}

template class http_session<beast::tcp_stream>;
template class http_session<tls_stream>;

}  // namespace quon::web
