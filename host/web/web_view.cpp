// Every Beast use of the web view lives in this one file: the listener, the
// HTTP sessions, the pages' WebSockets, and the flush that sends changes.
#include "quon/web/web_view.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "wall_model.h"
#include "web_assets.h"

namespace quon::web {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// Only the host's own files may run or style the page; nothing inline,
// nothing from elsewhere, no framing.
constexpr char content_security_policy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

constexpr std::size_t max_page_message_bytes = 1024;  // a page only answers pings and closes

std::string lowerCase(beast::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A page may connect from its own origin only: a page of another site in the
// same browser must not read the wall. Tools that send no Origin are let in.
bool sameOrigin(const http::request<http::string_body>& request) {
    const auto origin = request.find(http::field::origin);
    if (origin == request.end()) return true;
    const std::string originText = lowerCase(origin->value());
    const auto scheme = originText.find("://");
    if (scheme == std::string::npos) return false;
    return originText.substr(scheme + 3) == lowerCase(request[http::field::host]);
}

constexpr beast::string_view control_prefix = "/api/displays/";
constexpr std::size_t max_control_bytes = 1024;

// Whether `given` is `secret` (never empty), in a time that does not tell
// how much of it matched.
bool sameSecret(const std::string& given, const std::string& secret) {
    unsigned char differ = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i)
        differ |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    return differ == 0;
}

}  // namespace

class http_session;
class page_client;

// Shared by the web view and every connection's handlers, so that a handler
// that runs after the view is gone finds it still valid. Lives on the
// io_context's thread.
struct server_state : std::enable_shared_from_this<server_state> {
    server_state(asio::io_context& context, const web_settings& options)
        : settings(options),
          model(options.maxEvents),
          acceptor(context),
          acceptRetry(context),
          flushTimer(context),
          receiverTimer(context) {}

    void accept();
    void onAccept(const error_code& failure, tcp::socket socket);
    void scheduleFlush();
    void flush();
    // Note what the pages have to be sent; nothing when none is open, as a
    // page that connects later gets the full state.
    void markOrder() { orderChanged = orderChanged || !clients.empty(); }
    void markLinks() { linksChanged = linksChanged || !clients.empty(); }
    std::size_t connections() const { return sessions.size() + clients.size(); }
    void removeClient(const page_client* client);
    // {"type":"update", ...} of these changes; empty when there is nothing to say.
    std::string updateMessage(const std::vector<std::string>& names, bool order, bool links,
                              std::uint64_t eventsAfter) const;
    http::response<http::string_body> answer(const http::request<http::string_body>& request) const;
    std::function<std::string()> metrics;  // the text of /metrics; none: 404
    // The control API: off while the token is empty.
    std::string controlToken;
    std::function<control_answer(const control_request&)> controlAct;
    std::function<void(const std::string&)> controlLog;
    http::response<http::string_body> control(const http::request<http::string_body>& request,
                                              const std::string& peer) const;
    // The receivers as they stand now; none: as last given.
    std::function<std::vector<receiver_state>()> readReceivers;
    std::chrono::milliseconds receiverEvery{1000};
    void scheduleReceivers();
    // Takes the receivers' figures of now; the pages get them if they changed.
    void readReceiversNow();

    const web_settings settings;
    wall_model model;
    tcp::acceptor acceptor;
    asio::steady_timer acceptRetry;
    asio::steady_timer flushTimer;
    asio::steady_timer receiverTimer;
    bool running = false;
    bool flushScheduled = false;

    // What changed since the last flush: the displays, each once (the round
    // counts flushes; see wall_model::setDisplay).
    std::uint64_t round = 1;
    std::vector<std::string> dirtyNames;
    bool orderChanged = false;
    bool linksChanged = false;
    std::uint64_t flushedEventSequence = 0;

    // Connections: the HTTP sessions own themselves through their handlers;
    // the pages are owned here until they close or are dropped.
    std::unordered_map<http_session*, std::weak_ptr<http_session>> sessions;
    std::vector<std::shared_ptr<page_client>> clients;
};

// One page's WebSocket. Sends the full state once, then updates; keeps, while
// a message is being written, only which displays changed since (coalescing).
class page_client : public std::enable_shared_from_this<page_client> {
public:
    page_client(std::shared_ptr<server_state> server, beast::tcp_stream&& stream)
        : server_(std::move(server)), ws_(std::move(stream)) {}

    void accept(http::request<http::string_body> request) {
        beast::get_lowest_layer(ws_).expires_never();
        websocket::stream_base::timeout timeouts;
        timeouts.handshake_timeout = server_->settings.requestTimeout;
        timeouts.idle_timeout = server_->settings.idleTimeout;
        timeouts.keep_alive_pings = true;
        ws_.set_option(timeouts);
        ws_.read_message_max(max_page_message_bytes);
        ws_.auto_fragment(false);
        ws_.text(true);
        request_ = std::move(request);
        ws_.async_accept(request_, beast::bind_front_handler(&page_client::onAccept, shared_from_this()));
    }

    bool open() const { return open_; }
    // Idle with nothing owed but what the next shared update holds.
    bool inStep(std::uint64_t flushedEvents) const {
        return open_ && !writing_ && pendingNames_.empty() && !pendingOrder_ && !pendingLinks_ &&
               sentEvents_ == flushedEvents;
    }

    void send(std::shared_ptr<const std::string> message, std::uint64_t eventsIncluded) {
        sentEvents_ = eventsIncluded;
        write(std::move(message));
    }

    // Returns false when the client is too far behind and has been dropped.
    bool queue(const std::vector<std::string>& names, bool order, bool links) {
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

    void drop() {
        if (dropped_) return;
        dropped_ = true;
        error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
        server_->removeClient(this);
    }

private:
    void onAccept(const error_code& failure) {
        if (failure) return drop();
        open_ = true;
        sentEvents_ = server_->model.lastEventSequence();
        server_->readReceiversNow();
        write(std::make_shared<const std::string>(server_->model.fullMessage()));
        read();
    }

    void read() { ws_.async_read(incoming_, beast::bind_front_handler(&page_client::onRead, shared_from_this())); }

    void onRead(const error_code& failure, std::size_t) {
        if (failure) return drop();
        incoming_.consume(incoming_.size());
        read();
    }

    void write(std::shared_ptr<const std::string> message) {
        writing_ = true;
        outgoing_ = std::move(message);
        ws_.async_write(asio::buffer(*outgoing_), beast::bind_front_handler(&page_client::onWrite, shared_from_this()));
    }

    void onWrite(const error_code& failure, std::size_t) {
        writing_ = false;
        outgoing_.reset();
        backlog_ = 0;
        if (failure) return drop();
        sendPending();
    }

    void sendPending() {
        if (dropped_ || !open_ || writing_) return;
        const std::uint64_t lastEvent = server_->model.lastEventSequence();
        std::string message = server_->updateMessage(pendingNames_, pendingOrder_, pendingLinks_, sentEvents_);
        pendingNames_.clear();
        pendingSet_.clear();
        pendingOrder_ = pendingLinks_ = false;
        sentEvents_ = lastEvent;
        if (!message.empty()) write(std::make_shared<const std::string>(std::move(message)));
    }

    std::shared_ptr<server_state> server_;
    websocket::stream<beast::tcp_stream> ws_;
    http::request<http::string_body> request_;
    beast::flat_buffer incoming_;
    std::shared_ptr<const std::string> outgoing_;
    bool open_ = false;
    bool writing_ = false;
    bool dropped_ = false;
    std::vector<std::string> pendingNames_;
    std::unordered_set<std::string> pendingSet_;
    bool pendingOrder_ = false;
    bool pendingLinks_ = false;
    std::uint64_t sentEvents_ = 0;
    std::size_t backlog_ = 0;  // display changes queued while the current message is written
};

// One HTTP connection: reads requests within the limits and answers them, or
// hands the connection to a page_client when it asks for the WebSocket.
class http_session : public std::enable_shared_from_this<http_session> {
public:
    http_session(std::shared_ptr<server_state> server, tcp::socket socket)
        : server_(std::move(server)), stream_(std::move(socket)), buffer_(server_->settings.maxRequestBytes) {}

    ~http_session() { server_->sessions.erase(this); }

    void start() {
        server_->sessions.emplace(this, weak_from_this());
        read();
    }

    void close() {
        error_code ignored;
        stream_.socket().close(ignored);
    }

private:
    void read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(server_->settings.maxHeaderBytes));
        parser_->body_limit(server_->settings.maxRequestBytes);
        stream_.expires_after(server_->settings.requestTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&http_session::onRead, shared_from_this()));
    }

    void onRead(const error_code& failure, std::size_t) {
        if (failure == http::error::end_of_stream || failure == beast::error::timeout ||
            failure == asio::error::operation_aborted || failure == asio::error::connection_reset)
            return close();
        if (failure == http::error::header_limit || failure == http::error::buffer_overflow)
            return refuse(http::status::request_header_fields_too_large, "request header too large\n");
        if (failure == http::error::body_limit) return refuse(http::status::payload_too_large, "request too large\n");
        if (failure) return refuse(http::status::bad_request, "malformed request\n");

        http::request<http::string_body> request = parser_->release();
        if (websocket::is_upgrade(request)) return upgrade(std::move(request));
        if (request.method() == http::verb::post && request.target().starts_with(control_prefix))
            return respond(server_->control(request, peer()));
        respond(server_->answer(request));
    }

    std::string peer() const {
        error_code failure;
        const tcp::endpoint endpoint = stream_.socket().remote_endpoint(failure);
        if (failure) return "(unknown)";
        const std::string address = endpoint.address().to_string();
        return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
    }

    void upgrade(http::request<http::string_body> request) {
        if (request.target() != "/ws") return refuse(http::status::not_found, "no such WebSocket\n");
        if (!sameOrigin(request)) return refuse(http::status::forbidden, "another site's page may not connect\n");
        if (server_->clients.size() >= server_->settings.maxClients)
            return refuse(http::status::service_unavailable, "too many pages open\n");
        server_->sessions.erase(this);
        auto client = std::make_shared<page_client>(server_, std::move(stream_));
        server_->clients.push_back(client);
        client->accept(std::move(request));
    }

    // Answers a request that ends the connection.
    void refuse(http::status status, const char* reason) {
        http::response<http::string_body> response{status, 11};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.set("Content-Security-Policy", content_security_policy);
        response.body() = reason;
        response.keep_alive(false);
        response.prepare_payload();
        respond(std::move(response));
    }

    void respond(http::response<http::string_body> response) {
        response_ = std::move(response);
        stream_.expires_after(server_->settings.requestTimeout);
        http::async_write(stream_, response_, beast::bind_front_handler(&http_session::onWrite, shared_from_this()));
    }

    void onWrite(const error_code& failure, std::size_t) {
        if (failure) return close();
        if (!response_.keep_alive()) return finish();
        read();
    }

    // Ends the connection without losing the answer: closing with unread
    // bytes (the rest of a refused request) would reset it, and the client
    // might never see why. So: no more sending, then read and discard what
    // still comes, for a while at most.
    void finish() {
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(server_->settings.requestTimeout);
        drain();
    }

    void drain() {
        stream_.async_read_some(asio::buffer(discard_),
                                [self = shared_from_this()](const error_code& failure, std::size_t) {
                                    if (failure) return self->close();
                                    self->drain();
                                });
    }

    std::shared_ptr<server_state> server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    std::array<char, 4096> discard_;
};

void server_state::accept() {
    acceptor.async_accept([self = shared_from_this()](const error_code& failure, tcp::socket socket) {
        self->onAccept(failure, std::move(socket));
    });
}

void server_state::onAccept(const error_code& failure, tcp::socket socket) {
    if (!running || failure == asio::error::operation_aborted) return;
    if (failure) {
        // Out of descriptors, say: try again shortly rather than spin.
        acceptRetry.expires_after(std::chrono::milliseconds(100));
        acceptRetry.async_wait([self = shared_from_this()](const error_code& aborted) {
            if (!aborted && self->running) self->accept();
        });
        return;
    }
    if (connections() >= settings.maxConnections) {
        error_code ignored;
        socket.close(ignored);
    } else {
        std::make_shared<http_session>(shared_from_this(), std::move(socket))->start();
    }
    accept();
}

void server_state::scheduleFlush() {
    if (flushScheduled || clients.empty()) return;
    flushScheduled = true;
    flushTimer.expires_after(settings.flushDelay);
    flushTimer.async_wait([self = shared_from_this()](const error_code& aborted) {
        if (aborted) return;
        self->flushScheduled = false;
        self->flush();
    });
}

void server_state::readReceiversNow() {
    if (!readReceivers) return;
    std::vector<receiver_state> now = readReceivers();
    if (now == model.receivers()) return;
    model.setReceivers(std::move(now));
    markLinks();
    scheduleFlush();
}

void server_state::scheduleReceivers() {
    if (!readReceivers || !running) return;
    receiverTimer.expires_after(receiverEvery);
    receiverTimer.async_wait([self = shared_from_this()](const error_code& aborted) {
        if (aborted || !self->running) return;
        if (!self->clients.empty()) self->readReceiversNow();
        self->scheduleReceivers();
    });
}

void server_state::flush() {
    const std::uint64_t lastEvent = model.lastEventSequence();
    std::shared_ptr<const std::string> shared;
    bool sharedBuilt = false;
    // Dropping a client edits `clients`: walk a copy.
    const std::vector<std::shared_ptr<page_client>> targets = clients;
    for (const auto& client : targets) {
        if (!client->open()) continue;  // its full state is still to come
        if (client->inStep(flushedEventSequence)) {
            if (!sharedBuilt) {
                std::string message = updateMessage(dirtyNames, orderChanged, linksChanged, flushedEventSequence);
                if (!message.empty()) shared = std::make_shared<const std::string>(std::move(message));
                sharedBuilt = true;
            }
            if (shared) client->send(shared, lastEvent);
        } else {
            client->queue(dirtyNames, orderChanged, linksChanged);
        }
    }
    dirtyNames.clear();
    ++round;
    orderChanged = linksChanged = false;
    flushedEventSequence = lastEvent;
}

void server_state::removeClient(const page_client* client) {
    for (auto place = clients.begin(); place != clients.end(); ++place)
        if (place->get() == client) {
            clients.erase(place);
            return;
        }
}

std::string server_state::updateMessage(const std::vector<std::string>& names, bool order, bool links,
                                        std::uint64_t eventsAfter) const {
    const bool events = model.lastEventSequence() > eventsAfter;
    if (names.empty() && !order && !links && !events) return {};
    std::string message;
    message.reserve(64 + names.size() * 200);
    message += R"({"type":"update","displays":[)";
    bool first = true;
    for (const std::string& name : names) {
        const display_state* display = model.findDisplay(name);
        if (!display) continue;  // removed since; the order says so
        if (!first) message += ',';
        first = false;
        wall_model::appendDisplayJson(message, *display);
    }
    message += ']';
    if (order) message += R"(,"order":)" + model.orderJson();
    if (links)
        message += R"(,"routers":)" + model.routersJson() + R"(,"receivers":)" + model.receiversJson() +
                   R"(,"role":)" + model.roleJson();
    if (events) message += R"(,"events":)" + model.eventsJson(eventsAfter);
    message += '}';
    return message;
}

http::response<http::string_body> server_state::answer(const http::request<http::string_body>& request) const {
    http::response<http::string_body> response{http::status::ok, request.version()};
    response.set(http::field::server, "quon-host");
    response.set("Content-Security-Policy", content_security_policy);
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());

    beast::string_view target = request.target();
    target = target.substr(0, target.find('?'));
    // HEAD is answered as GET is, without the body (every server must).
    const bool head = request.method() == http::verb::head;
    if (request.method() != http::verb::get && !head) {
        response.result(http::status::method_not_allowed);
        response.set(http::field::allow, "GET, HEAD");
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = "read-only: GET only\n";
    } else if (target == "/api/displays") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.displaysJson();
    } else if (target == "/api/routers") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.routersJson();
    } else if (target == "/api/receivers") {
        response.set(http::field::content_type, "application/json");
        response.body() = readReceivers ? wall_model::receiversJson(readReceivers()) : model.receiversJson();
    } else if (target == "/api/events") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.eventsJson(0);
    } else if (target == "/metrics" && metrics) {
        response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
        response.body() = metrics();
    } else if (target == "/healthz") {
        response.set(http::field::content_type, "application/json");
        response.body() = model.healthJson(clients.size());
    } else if (const web_asset* asset = findWebAsset(target == "/" ? "/index.html" : std::string(target))) {
        response.set(http::field::content_type, asset->contentType);
        response.body().assign(reinterpret_cast<const char*>(asset->data), asset->size);
    } else {
        response.result(http::status::not_found);
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = "not found\n";
    }
    response.prepare_payload();
    if (head) response.body().clear();  // Content-Length stays: the size GET would send
    return response;
}

// The control API. A browser sends a custom Authorization header to
// another site only after a preflight (OPTIONS), which is never allowed
// here, and a foreign Origin is refused besides: another site's page cannot
// make a browser act on the wall.
http::response<http::string_body> server_state::control(const http::request<http::string_body>& request,
                                                        const std::string& peer) const {
    const std::string target(request.target());
    const auto answer = [&](http::status status, const std::string& body) {
        http::response<http::string_body> response{status, request.version()};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.set("Content-Security-Policy", content_security_policy);
        response.set("X-Content-Type-Options", "nosniff");
        response.set(http::field::cache_control, "no-store");
        if (status == http::status::unauthorized) response.set(http::field::www_authenticate, "Bearer");
        response.keep_alive(request.keep_alive());
        response.body() = body;
        response.prepare_payload();
        // Who sent what, and what came of it; the body is one line of at
        // most max_control_bytes, or is said to be longer.
        if (controlLog) {
            const std::string& body = request.body();
            const std::string shown =
                body.size() > max_control_bytes ? "(" + std::to_string(body.size()) + " bytes)" : "\"" + body + "\"";
            controlLog(peer + " POST " + target + " " + shown + ": " + std::to_string(static_cast<int>(status)));
        }
        return response;
    };
    if (controlToken.empty()) return answer(http::status::forbidden, "control is off (the wall file's [control])\n");
    if (!sameOrigin(request)) return answer(http::status::forbidden, "another site's page may not control the wall\n");
    const auto authorization = request.find(http::field::authorization);
    const std::string bearer = "Bearer ";
    if (authorization == request.end() || !sameSecret(std::string(authorization->value()), bearer + controlToken))
        return answer(http::status::unauthorized, "no or wrong token\n");
    if (request.body().size() > max_control_bytes)
        return answer(http::status::payload_too_large,
                      "a control request is at most " + std::to_string(max_control_bytes) + " bytes\n");
    const std::string rest = target.substr(control_prefix.size());
    const auto slash = rest.rfind('/');
    const std::string display = slash == std::string::npos ? std::string() : rest.substr(0, slash);
    const std::string action = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    if (action != "parent" && action != "button") return answer(http::status::not_found, "not found\n");
    if (!model.findDisplay(display)) return answer(http::status::not_found, "no display \"" + display + "\"\n");
    if (request.body().find_first_of("\r\n") != std::string::npos || (action == "button" && request.body().empty()))
        return answer(http::status::bad_request, "one line: a parent command, or ID[ EVENT]\n");
    if (!controlAct) return answer(http::status::service_unavailable, "no host to act\n");
    const control_answer done = controlAct({peer, display, action, request.body()});
    return answer(static_cast<http::status>(done.status), done.body);
}

class web_view::impl {
public:
    impl(asio::io_context& io, const web_settings& settings) : server(std::make_shared<server_state>(io, settings)) {}
    std::shared_ptr<server_state> server;
};

web_view::web_view(asio::io_context& io, const web_settings& settings) : impl_(std::make_unique<impl>(io, settings)) {}

web_view::~web_view() { stop(); }

bool web_view::start(std::string& error) {
    server_state& server = *impl_->server;
    if (server.running) return true;
    error_code failure;
    const auto address = asio::ip::make_address(server.settings.address, failure);
    if (failure) {
        error = "\"" + server.settings.address + "\" is not a numeric IP address";
        return false;
    }
    const tcp::endpoint endpoint(address, server.settings.port);
    const auto fail = [&](const char* what) {
        error = std::string("cannot ") + what + " " + server.settings.address + ":" +
                std::to_string(server.settings.port) + ": " + failure.message();
        error_code ignored;
        server.acceptor.close(ignored);
        return false;
    };
    if (server.acceptor.open(endpoint.protocol(), failure)) return fail("open");
    if (server.acceptor.set_option(asio::socket_base::reuse_address(true), failure)) return fail("configure");
    if (server.acceptor.bind(endpoint, failure)) return fail("bind");
    if (server.acceptor.listen(asio::socket_base::max_listen_connections, failure)) return fail("listen on");
    server.running = true;
    server.dirtyNames.clear();
    ++server.round;
    server.orderChanged = server.linksChanged = false;
    server.flushedEventSequence = server.model.lastEventSequence();
    server.accept();
    server.scheduleReceivers();
    return true;
}

unsigned short web_view::port() const {
    error_code failure;
    const auto endpoint = impl_->server->acceptor.local_endpoint(failure);
    return failure ? 0 : endpoint.port();
}

void web_view::stop() {
    server_state& server = *impl_->server;
    server.running = false;
    error_code ignored;
    server.acceptor.close(ignored);
    server.acceptRetry.cancel();
    server.flushTimer.cancel();
    server.receiverTimer.cancel();
    server.flushScheduled = false;
    std::vector<std::shared_ptr<http_session>> sessions;
    for (const auto& entry : server.sessions)
        if (auto session = entry.second.lock()) sessions.push_back(std::move(session));
    for (const auto& session : sessions) session->close();
    const auto clients = server.clients;
    for (const auto& client : clients) client->drop();
}

void web_view::setDisplay(const display_state& state) {
    server_state& server = *impl_->server;
    // Round 0 while no page is open: nothing is listed then, and the first
    // change after a page opens counts as first in its round.
    const wall_model::display_update change = server.model.setDisplay(state, server.clients.empty() ? 0 : server.round);
    if (change.added) server.markOrder();
    if (change.firstInRound && !server.clients.empty()) server.dirtyNames.push_back(state.name);
    server.scheduleFlush();
}

void web_view::removeDisplay(const std::string& name) {
    server_state& server = *impl_->server;
    if (!server.model.removeDisplay(name)) return;
    server.markOrder();
    server.scheduleFlush();
}

void web_view::wallOrder(const std::vector<std::string>& names) {
    server_state& server = *impl_->server;
    if (!server.model.setOrder(names)) return;
    server.markOrder();
    server.scheduleFlush();
}

void web_view::link(const link_state& state) {
    server_state& server = *impl_->server;
    server.model.setLink(state);
    server.markLinks();
    server.scheduleFlush();
}

void web_view::receivers(std::vector<receiver_state> states) {
    server_state& server = *impl_->server;
    server.model.setReceivers(std::move(states));
    server.markLinks();
    server.scheduleFlush();
}

void web_view::followReceivers(std::function<std::vector<receiver_state>()> read, std::chrono::milliseconds every) {
    server_state& server = *impl_->server;
    server.readReceivers = std::move(read);
    server.receiverEvery = every;
    server.receiverTimer.cancel();
    server.scheduleReceivers();
}

void web_view::role(const std::string& role) {
    server_state& server = *impl_->server;
    if (server.model.role() == role) return;
    server.model.setRole(role);
    server.markLinks();
    server.scheduleFlush();
}

void web_view::serveMetrics(std::function<std::string()> text) { impl_->server->metrics = std::move(text); }

void web_view::control(const std::string& token, std::function<control_answer(const control_request&)> act,
                       std::function<void(const std::string&)> log) {
    server_state& server = *impl_->server;
    server.controlToken = token;
    server.controlAct = std::move(act);
    server.controlLog = std::move(log);
}

void web_view::removeLink(int device) {
    server_state& server = *impl_->server;
    if (!server.model.removeLink(device)) return;
    server.markLinks();
    server.scheduleFlush();
}

void web_view::event(const std::string& line) {
    impl_->server->model.addEvent(line);
    impl_->server->scheduleFlush();
}

std::size_t web_view::clientCount() const { return impl_->server->clients.size(); }

std::string web_view::displaysJson() const { return impl_->server->model.displaysJson(); }

std::string web_view::routersJson() const { return impl_->server->model.routersJson(); }

}  // namespace quon::web
