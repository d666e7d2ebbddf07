#include "tally_session.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "page_socket.h"

namespace quon::web {

namespace {

namespace beast = boost::beast;
using error_code = boost::system::error_code;

}  // namespace

template <class Stream>
void tally_session<Stream>::accept(http_request request) {
    setUpPageSocket(ws_, *server_);
    request_ = std::move(request);
    ws_.async_accept(request_, beast::bind_front_handler(&tally_session<Stream>::onAccept, this->shared_from_this()));
}

template <class Stream>
void tally_session<Stream>::show(std::shared_ptr<const std::string> message) {
    if (dropped_) return;
    if (!open_ || outgoing_) {
        waiting_ = std::move(message);
        return;
    }
    outgoing_ = std::move(message);
    ws_.async_write(boost::asio::buffer(*outgoing_),
                    beast::bind_front_handler(&tally_session<Stream>::onWrite, this->shared_from_this()));
}

template <class Stream>
void tally_session<Stream>::drop() {
    if (dropped_) return;
    dropped_ = true;
    error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    server_->removeTallyPage(this);
}

template <class Stream>
void tally_session<Stream>::onAccept(const error_code& failure) {
    if (failure) return drop();
    open_ = true;
    read();
    if (waiting_) show(std::move(waiting_));
}

template <class Stream>
void tally_session<Stream>::read() {
    ws_.async_read(incoming_, beast::bind_front_handler(&tally_session<Stream>::onRead, this->shared_from_this()));
}

template <class Stream>
void tally_session<Stream>::onRead(const error_code& failure, std::size_t) {
    if (failure) return drop();
    incoming_.consume(incoming_.size());
    read();
}

template <class Stream>
void tally_session<Stream>::onWrite(const error_code& failure, std::size_t) {
    outgoing_.reset();
    if (failure) return drop();
    if (waiting_) show(std::move(waiting_));
}

template class tally_session<beast::tcp_stream>;
template class tally_session<beast::ssl_stream<beast::tcp_stream>>;

}  // namespace quon::web
