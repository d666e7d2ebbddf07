// The web view of the wall: an HTTP and WebSocket server on the host's
// io_context that shows every display and router link to browsers.
//
// Threading: every member function, and every handler the view starts, runs
// on the thread running the io_context passed in; nothing here blocks or
// starts a thread. The view never waits for a browser: a change only marks
// what each client still has to receive (the latest state per display), and a
// client that falls too far behind is dropped.
//
// Read-only by default: no request changes the model. The control API
// (control()) lets a client holding the wall's token send a display a parent
// command or a button event; it never changes the model itself.
#ifndef QUON_WEB_WEB_VIEW_H
#define QUON_WEB_WEB_VIEW_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quon/web/page_tls.h"
#include "quon/web/wall_state.h"

namespace boost::asio {
class io_context;
}

namespace quon::web {

// The limits a facility may set in the wall file's [page] (docs/web.md,
// "Limits"), applied at start and at each reload. A client is an address;
// this machine's own (127.0.0.1 and ::1) is held to none of the per-client
// limits. The defaults fit a wall of hundreds of open pages, each from a
// machine of its own.
struct page_limits {
    // TCP connections of every kind, tally pages among them; more are
    // closed at once. Room for a thousand tally pages beside the wall pages.
    std::size_t connections = 2048;
    std::size_t connectionsPerClient = 32;   // of those, from one client
    std::size_t pages = 512;                 // live pages (WebSockets); more get 503
    std::size_t pagesPerClient = 16;         // of those, from one client; more get 503
    // Requests a second from one client, on average; a burst of three
    // seconds' worth is let through at once (a page's load is five). More
    // get 429.
    unsigned requestsPerSecond = 20;
    // From a connection's first byte (or the end of its last request) to
    // the end of its request's header, the WebSocket's opening included;
    // a slower client is closed.
    std::chrono::milliseconds headerTimeout{5000};

    bool operator==(const page_limits& other) const {
        return connections == other.connections && connectionsPerClient == other.connectionsPerClient &&
               pages == other.pages && pagesPerClient == other.pagesPerClient &&
               requestsPerSecond == other.requestsPerSecond && headerTimeout == other.headerTimeout;
    }
    bool operator!=(const page_limits& other) const { return !(*this == other); }
};

struct web_settings {
    std::string address = "127.0.0.1";  // numeric; see parseHttpAddress
    unsigned short port = 8080;         // 0: the system chooses; port() tells
    page_limits limits;
    // Beyond limits.connections, kept for this machine's own clients
    // (127.0.0.1 and ::1): the pair's health check is answered whatever the
    // network's clients hold.
    std::size_t reservedForThisMachine = 8;
    // How often reportRefusals()'s log hears of what was refused meanwhile.
    std::chrono::milliseconds refusalReportEvery{60000};
    std::size_t maxHeaderBytes = 8 * 1024;
    std::size_t maxRequestBytes = 16 * 1024;          // header and body
    std::chrono::milliseconds requestTimeout{10000};  // to receive a request's body, and to write an answer
    std::chrono::milliseconds idleTimeout{30000};     // a page that answers no ping in this time is dropped
    std::chrono::milliseconds flushDelay{20};         // changes are gathered this long before they go out
    // A client is dropped when this many display changes arrive while its
    // previous message is still being written.
    std::size_t maxBacklogChanges = 200000;
    std::size_t maxEvents = 50;  // the latest events kept and shown
};

// A request of the control API, POST /api/displays/NAME/parent or /button,
// once it passed every check of the view.
struct control_request {
    std::string peer;     // "ADDR:PORT" of the client
    std::string display;  // NAME, a display of the model
    std::string action;   // "parent" or "button"
    std::string body;     // the parent command text, or "ID[ EVENT]"
};

struct control_answer {
    int status = 200;
    std::string body;  // text/plain
};

class web_view {
public:
    // `io` must outlive the view.
    web_view(boost::asio::io_context& io, const web_settings& settings);
    ~web_view();  // closes every connection; stop() need not be called first
    web_view(const web_view&) = delete;
    web_view& operator=(const web_view&) = delete;

    // Binds and listens; on failure returns false with `error` set.
    bool start(std::string& error);
    // The bound port, once started.
    unsigned short port() const;
    // Closes the listener and every connection. The model is kept; start()
    // may be called again.
    void stop();

    // Adds a display, or updates the one of the same name. New displays join
    // the end of the wall.
    void setDisplay(const display_state& state);
    void removeDisplay(const std::string& name);
    // Puts the named displays first, in this order; the others follow in
    // their present order. Unknown names are ignored.
    void wallOrder(const std::vector<std::string>& names);
    // Adds or updates the link of this device number.
    void link(const link_state& state);
    void removeLink(int device);
    // The TSL receivers, all of them, in wall file order.
    void receivers(std::vector<receiver_state> states);
    // Where the receivers' figures are read: at each /api/receivers request,
    // and every `every` while a page is open (the pages get them when they
    // changed), so that a page's count is never older than that.
    void followReceivers(std::function<std::vector<receiver_state>()> read, std::chrono::milliseconds every);
    // The tally inputs, all of them, as they stand, given at each change
    // (a packet read counts): /api/tally-inputs and the pages show them,
    // and /healthz is "degraded" while one is down.
    void tallyInputs(std::vector<tally_input_state> states);
    // The host's role in a pair: "active" (as it starts) or "standby".
    // /healthz reports it, and the page shows a standby host as such.
    void role(const std::string& role);
    // A line-up now ("every lamp lit on 12 displays until ..."); empty when
    // none. /healthz says it.
    void lineup(const std::string& text);
    // Adds a line to the latest events; the oldest beyond maxEvents go.
    void event(const std::string& line);
    // The same for a line that may come again and again (a warning): while
    // it is among the latest events, it is said once and counted, moving to
    // the end, and pushes nothing out.
    void countedEvent(const std::string& line);
    // Serves /metrics with the text `text` gives, made at each request
    // (Prometheus text format); without it, /metrics is not found.
    void serveMetrics(std::function<std::string()> text);
    // The control API: on with a non-empty `token` (clients send
    // "Authorization: Bearer TOKEN"), off with an empty one (403). `act`
    // runs each request that passes the checks; `log` hears one line of
    // every request to the API, refused or not, naming its client.
    void control(const std::string& token, std::function<control_answer(const control_request&)> act,
                 std::function<void(const std::string&)> log);

    // The host names users type to reach the page (lower case), besides
    // its addresses, "localhost" and the machine's own name: a request
    // that names another host in Host is refused (421), so that a page of
    // another site cannot reach the wall through a name of its own that
    // resolves here.
    void answerTo(std::vector<std::string> names);

    // The limits per client and in all (page_limits); connections open now
    // keep to them from their next request.
    void limits(const page_limits& limits);

    // Who may look: with a non-empty `token`, nothing but /healthz's status
    // is given to a request without it or the control token (a page's
    // cookie, or "Authorization: Bearer TOKEN"). The pages open without the
    // token now in force are closed. Empty: anyone who reaches the port.
    void viewToken(const std::string& token);

    // HTTPS: with an identity (page_tls.h), every connection is TLS, and a
    // client that speaks plain HTTP is answered a redirect to the same
    // address in https (`redirectPlain`) or closed; /healthz from this
    // machine is answered in plain either way, for the pair's check.
    // Connections open now keep what they were opened with. Null: plain
    // HTTP only.
    void serveTls(std::shared_ptr<const page_identity> identity, bool redirectPlain);

    // The connections and requests the limits, the Host check and the view
    // token refused since start, by reason: "connections" (connections),
    // "client" (connectionsPerClient), "pages" (pages), "client pages"
    // (pagesPerClient), "rate" (requestsPerSecond), "slow" (headerTimeout),
    // "host" (421), "token" (401: no or a wrong token), "tls" (a
    // TLS handshake that failed).
    std::map<std::string, std::uint64_t> refusals() const;
    // `log` hears, once a refusalReportEvery that saw any, a line for each
    // client address refused meanwhile, with its counts by reason.
    void reportRefusals(std::function<void(const std::string&)> log);

    // The live pages connected now.
    std::size_t clientCount() const;
    // The same JSON as /api/displays and /api/routers.
    std::string displaysJson() const;
    std::string routersJson() const;

private:
    class impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace quon::web

#endif
