#include "websocket_session.h"

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
void websocket_session<Stream>::accept(http_request request) {
    setUpPageSocket(ws_, *server_);
    ws_.auto_fragment(false);
    request_ = std::move(request);
    ws_.async_accept(request_, beast::bind_front_handler(&websocket_session<Stream>::onAccept, this->shared_from_this()));
}

template <class Stream>
void websocket_session<Stream>::send(std::shared_ptr<const std::string> message, std::uint64_t eventsIncluded) {
    sentEvents_ = eventsIncluded;
    write(std::move(message));
}

template <class Stream>
bool websocket_session<Stream>::queue(const std::vector<std::string>& names, bool order, bool links) {
    for (const std::string& name : names)
        if (pendingSet_.insert(name).second) pendingNames_.push_back(name);
    pendingOrder_ = pendingOrder_ || order;
    pendingLinks_ = pendingLinks_ || links;
    if (writing_) {
        backlog_ += names.size();
        if (backlog_ > server_->settings.maxBacklogChanges) {
            drop();
            return false;
        }
        return true;
    }
    sendPending();
    return true;
}

template <class Stream>
void websocket_session<Stream>::drop() {
    if (dropped_) return;
    dropped_ = true;
    error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    server_->removePage(this);
}

template <class Stream>
void websocket_session<Stream>::onAccept(const error_code& failure) {
    if (failure) return drop();
    open_ = true;
    sentEvents_ = server_->model.lastEventSequence();
    server_->readReceiversNow();
    write(std::make_shared<const std::string>(server_->model.fullMessage()));
    read();
}

template <class Stream>
void websocket_session<Stream>::read() {
    ws_.async_read(incoming_, beast::bind_front_handler(&websocket_session<Stream>::onRead, this->shared_from_this()));
}

template <class Stream>
void websocket_session<Stream>::onRead(const error_code& failure, std::size_t) {
    if (failure) return drop();
    incoming_.consume(incoming_.size());
    read();
}

template <class Stream>
void websocket_session<Stream>::write(std::shared_ptr<const std::string> message) {
    writing_ = true;
    outgoing_ = std::move(message);
    ws_.async_write(boost::asio::buffer(*outgoing_),
                    beast::bind_front_handler(&websocket_session<Stream>::onWrite, this->shared_from_this()));
}

template <class Stream>
void websocket_session<Stream>::onWrite(const error_code& failure, std::size_t) {
    writing_ = false;
    outgoing_.reset();
    backlog_ = 0;
    if (failure) return drop();
    sendPending();
}

template <class Stream>
void websocket_session<Stream>::sendPending() {
    if (dropped_ || !open_ || writing_) return;
    const std::uint64_t lastEvent = server_->model.lastEventSequence();
    std::string message = server_->updateMessage(pendingNames_, pendingOrder_, pendingLinks_, sentEvents_);
    pendingNames_.clear();
    pendingSet_.clear();
    pendingOrder_ = pendingLinks_ = false;
    sentEvents_ = lastEvent;
    if (!message.empty()) write(std::make_shared<const std::string>(std::move(message)));
}

template class websocket_session<beast::tcp_stream>;
template class websocket_session<beast::ssl_stream<beast::tcp_stream>>;

}  // namespace quon::web
