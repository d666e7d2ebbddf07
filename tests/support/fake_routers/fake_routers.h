// Fake routers for tests: Asio TCP servers on 127.0.0.1 (or an address of a
// network namespace a test built, see tests/takeover) that hold routes
// and labels and answer a client as a Videohub or an SW-P-08 router would,
// and that a test can make misbehave.
//
// Everything runs on the io_context given at construction (borrowed; it
// outlives the router). Numbers are 1-based, as the host counts. The
// router accepts any number of clients until destroyed.
#ifndef QUON_TEST_FAKE_ROUTERS_H
#define QUON_TEST_FAKE_ROUTERS_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

namespace quon::fake {

// What a router holds.
struct router_state {
    std::vector<int> routes;  // routes[d - 1]: the source routed to destination d
    std::vector<std::string> inputLabels;
    std::vector<std::string> outputLabels;
};
// `sources` inputs named "Input N", `destinations` outputs named "Output N",
// destination d routed from source ((d - 1) % sources) + 1.
router_state numberedState(int sources, int destinations);

class fake_router {
public:
    fake_router(boost::asio::io_context& io, router_state state, std::uint16_t port = 0,
                const std::string& address = "127.0.0.1");
    virtual ~fake_router();
    fake_router(const fake_router&) = delete;
    fake_router& operator=(const fake_router&) = delete;

    std::uint16_t port() const { return port_; }
    const router_state& state() const { return state_; }
    int connectionsAccepted() const { return accepted_; }
    // Keep-alive requests answered so far (Videohub PING, SW-P-08
    // interrogate): a test waits for these, not for a time.
    int keepAlivesAnswered() const { return keepAlivesAnswered_; }
    int clients() const { return static_cast<int>(connections_.size()); }

    // An operator routes at the router's panel: every client is told.
    virtual void route(int destination, int source) = 0;
    // An operator renames an input (database 0) or output (database 1).
    virtual void setLabel(int database, int index, const std::string& text) = 0;
    // Closes every client connection; the router keeps listening.
    void dropConnections();
    // Silent: connections stay open but nothing is answered or pushed. A
    // client that connected meanwhile is greeted when the router speaks
    // again, as one whose connection was accepted before it hung.
    void setSilent(bool silent);
    // The router restarts with other routes and labels: clients are dropped
    // and find the new state when they reconnect.
    virtual void restart(router_state state);
    // Sends raw bytes to every client.
    void sendGarbage(const std::string& bytes);
    // From now on a client is served over TLS, with this certificate
    // (chain) and key, PEM files: greeted and heard once its handshake is
    // done. One whose handshake fails is dropped unheard; those already
    // connected stay as they are.
    void serveTls(const std::string& certificateFile, const std::string& keyFile);

protected:
    class connection;
    // A client connected (and the router is not silent).
    virtual void onAccepted(connection& client) = 0;
    // Bytes from a client (only while not silent).
    virtual void onBytes(connection& client, const std::uint8_t* bytes, std::size_t size) = 0;
    // A client's connection is closed and forgotten: `client` is not to be
    // used again (it is only compared).
    virtual void onClosed(const connection* client) { (void)client; }
    void sendTo(connection& client, const std::string& bytes);
    // Closes one client's connection (onClosed() follows).
    void closeClient(connection& client) { forget(&client); }
    void sendToAll(const std::string& bytes);
    bool silent() const { return silent_; }
    // Listens on another port of the router's address as well (0: any);
    // its clients are the router's like the others (dropped, silenced).
    // Returns the port.
    std::uint16_t listenAlso(std::uint16_t port);
    // The port of the router's a client connected to.
    static std::uint16_t portOf(const connection& client);

    router_state state_;
    int keepAlivesAnswered_ = 0;

private:
    void accept(boost::asio::ip::tcp::acceptor& acceptor);
    // The connection is ready for its protocol: heard, and greeted.
    void admit(const std::shared_ptr<connection>& client);
    void forget(connection* client);

    boost::asio::ip::tcp::acceptor acceptor_;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> otherAcceptors_;
    std::unique_ptr<boost::asio::ssl::context> tls_;  // set: clients are served over TLS (on every port)
    std::set<std::shared_ptr<connection>> handshaking_;
    std::uint16_t port_ = 0;
    bool silent_ = false;
    int accepted_ = 0;
    std::set<std::shared_ptr<connection>> connections_;
    std::set<connection*> ungreeted_;
    std::shared_ptr<bool> alive_;
};

// Videohub: sends the prelude on connect (optionally one byte per write),
// answers PING, route and label requests and bare-header queries, pushes
// changes to every client.
std::unique_ptr<fake_router> makeFakeVideohub(boost::asio::io_context& io, router_state state,
                                              bool preludeByteByByte = false, std::uint16_t port = 0,
                                              const std::string& address = "127.0.0.1");
// SW-P-08 on one matrix and level (1, 1): acknowledges every message,
// answers interrogates, connects and names requests, pushes connected
// messages to every client. Names do not push: a renamed label is seen on
// the next read of the names. Names go as many to a message as fit, a
// short (or empty) one last; or `namesPerMessage` to a message (at most
// what fits, with no empty one last), as routers of other makes send them;
// or, with names_never_answered, not at all.
constexpr int names_as_many_as_fit = 0;
constexpr int names_never_answered = -1;
std::unique_ptr<fake_router> makeFakeSwp08(boost::asio::io_context& io, router_state state, std::uint16_t port = 0,
                                           int namesPerMessage = names_as_many_as_fit);

// Ember+ over S101: a provider whose tree is router (0) -> matrices (0.1)
// -> video (0.1.0), a 1:N matrix with the state's destinations as targets
// and inputs as sources, labelled through the layer "primary" at 0.2
// (0.2.1 targets, 0.2.2 sources). It sends nothing unasked but pushes and
// answers keep-alive requests without sending any, and answers as the
// providers in use do, each request in its own shape: the root's children
// qualified; a node as one qualified parent holding unqualified children;
// the matrices node's children flat and qualified, with an empty
// connections collection; the matrix in indefinite lengths, in packets of
// at most `packetPayload` bytes; labels nested from the root; a path it
// does not have as an empty Root. A GetDirectory subscribes the client to
// what it listed: connection changes come nested from the root, renames as
// a qualified parameter with its value alone. With `idleClose` above zero
// it closes a client it has heard nothing from for that long, as a
// provider in use does after about 30 s. `requests` says which requests of
// a message it acts on: every one; the first element of the Root only,
// dropping the rest unsaid, as a provider in use does; or every one but
// GetDirectory on the label nodes, which it never answers (renames are
// still pushed to the client that asked).
enum class emberplus_requests { all, first_only, labels_never };
std::unique_ptr<fake_router> makeFakeEmberplus(boost::asio::io_context& io, router_state state,
                                               std::uint16_t port = 0, std::size_t packetPayload = 100,
                                               std::chrono::milliseconds idleClose = std::chrono::milliseconds(0),
                                               emberplus_requests requests = emberplus_requests::all);

// Quartz, levels V and A (and B, always from source 1): answers
// interrogates (none for a level or destination it does not have), name
// requests with names padded to eight characters, with their number or
// (quartz_names::unnumbered, as older firmware does) without, the test
// request, and routes, pushing each as one update of its levels. The
// answers of one read go in pieces cut anywhere. An operator's route
// pushes levels V and A in one update, in one packet with an update of
// level B; a rename is pushed unasked (with numbered names only).
enum class quartz_names { numbered, unnumbered };
std::unique_ptr<fake_router> makeFakeQuartz(boost::asio::io_context& io, router_state state, std::uint16_t port = 0,
                                            quartz_names names = quartz_names::numbered);

// An NMOS registry (Query API v1.0 to v1.3 offered, fake_nmos.cpp) that
// holds one media node: senders are the inputs, receivers the outputs, each
// receiver subscribed to the sender its route names (sender_id null for a
// route of 0). It does what a registry in use does on the wire:
// - subscriptions' WebSockets on a port of their own (webSocketPort(), or
//   the one advertiseWebSocketsAt() names in ws_href); on the REST port an
//   upgrade request for a subscription's path is a plain GET: 200 and the
//   subscription;
// - hrefs, Link and Location with 127.0.0.1, Location a relative path;
//   /nodes lists the registry's own node beside the media node;
// - paging always: a plain GET gives the 10 most recently updated, newest
//   first; paging.limit capped at `pageCap` (100 as in use); X-Paging-*
//   and Link rel prev, next, first and last as absolute URLs; timestamps
//   TAI "seconds:nanoseconds", not zero-padded, stepping by a microsecond;
// - a second identical POST /subscriptions answered 200 with the same
//   subscription; a subscription (never persistent) kept 5 s after its
//   last WebSocket closed, then forgotten (a client coming back later
//   finds it gone: 404);
// - grains of at most 10 changes, a longer list in several; the sync
//   (pre and post equal) when a WebSocket opens; changes sent at most once
//   per max_update_rate_ms, those met meanwhile in one grain (a resource
//   changed twice as one change); an addition without a pre, a removal
//   without a post; flow_id the subscription's id, source_id the
//   registry's;
// - some senders of transport urn:x-nmos:transport:websocket or of a
//   transport outside AMWA's list, some receivers of format
//   urn:x-nmos:format:mux; senders' subscription active, receiver_id null.
// An operator's route is an activation at the node (its receiver active
// with the sender, or inactive with none); an output's rename goes to the
// receivers' WebSockets, an input's to the senders'. restart() is the
// registry's and the node's at once, with the new state registered at once.
class fake_nmos_registry : public fake_router {
public:
    using fake_router::fake_router;
    std::uint16_t webSocketPort() const { return webSocketPort_; }
    // ws_href names `port` from now on (a relay's in front of webSocketPort()).
    virtual void advertiseWebSocketsAt(std::uint16_t port) = 0;
    // The receiver of destination d stops taking its stream (active false).
    virtual void deactivate(int destination) = 0;
    // The receiver of destination d leaves the registry.
    virtual void remove(int destination) = 0;
    // The connections of the WebSockets following /senders end, without a
    // close frame.
    virtual void dropSendersSockets() = 0;
    // The registry restarts: every connection dropped, and at once it holds
    // nothing but its own node, no subscription; the media node registers
    // again `nodeReturn` later (makeFakeNmos), every sender and receiver an
    // addition on the WebSockets, routed as before (the node went on).
    virtual void restartRegistry() = 0;
    // The node stopped without deregistering and its registration expired:
    // every sender and receiver goes as a removal.
    virtual void expireNode() = 0;
    // The node restarts and registers again with every receiver
    // unconnected (sender_id null, active false).
    virtual void restartNode() = 0;
    // From now on each change goes in a grain as it comes, whatever
    // max_update_rate_ms asks: for a benchmark that times the host, not
    // the registry's rate.
    virtual void sendChangesAtOnce() = 0;
    // Subscriptions held (listed at /subscriptions).
    virtual int subscriptions() const = 0;

protected:
    std::uint16_t webSocketPort_ = 0;
};
std::unique_ptr<fake_nmos_registry> makeFakeNmos(boost::asio::io_context& io, router_state state,
                                                 std::uint16_t port = 0, std::size_t pageCap = 100,
                                                 std::chrono::milliseconds nodeReturn = std::chrono::seconds(3));

}  // namespace quon::fake

#endif
