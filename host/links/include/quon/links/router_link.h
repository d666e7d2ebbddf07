// router_link: a client connection to one real video router over an open
// control protocol (Videohub Ethernet, SW-P-08, Ember+), reporting the router's
// state to a listener.
//
// Numbers: every destination, source and label index here is 1-based, as
// the host counts (destination d is the router's output d-1 on the wire).
//
// Threading: everything runs on the thread that runs the io_context given to
// the factory; call the link only from there, and every listener call is
// made from there, from the io_context's handlers (never from within
// start()). Nothing blocks and no thread is started.
//
// Ownership: the caller owns the link (unique_ptr). The io_context and the
// listener are borrowed and must outlive the link. Destroying the link
// stops it; after stop() or destruction the listener is never called again.
#ifndef QUON_LINKS_ROUTER_LINK_H
#define QUON_LINKS_ROUTER_LINK_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>

namespace quon::links {

// Label databases, as label() numbers them.
constexpr int source_labels = 0;       // the router's input names
constexpr int destination_labels = 1;  // the router's output names

struct router_link_listener {
    virtual ~router_link_listener() = default;
    // Connected and the initial state read. The crosspoint() and label()
    // calls of that read come before this call. Sizes as the router reports
    // them; 0 when the router does not say.
    virtual void linkUp(int sources, int destinations) = 0;
    // The connection is lost, or an attempt to connect failed; the next
    // attempt starts in retryIn.
    virtual void linkDown(const std::string& why, std::chrono::milliseconds retryIn) = 0;
    // A routing item the router sent (pushed, or answering poll() or the
    // initial read), whether or not it changed what the link holds.
    virtual void crosspoint(int destination, int source) = 0;
    // A label the router sent that differs from what the link held.
    virtual void label(int database, int index, const std::string& text) = 0;
    // Something the router sent was wrong and was skipped or repaired; once
    // per cause and connection.
    virtual void problem(const std::string& text) = 0;
    // Part of the router's state did not come on this connection, even when
    // asked for again ("the sources' labels (path 0.1.1000.2) did not come;
    // showing numbers"): the link is up, or goes up, without it. Once per
    // text and connection; it holds until linkDown().
    virtual void missing(const std::string& text) = 0;
};

struct link_settings {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;                          // 0: the protocol's usual port (Videohub 9990, SW-P-08 8910, Ember+ 9000)
    int matrix = 1;                                  // SW-P-08 only, 1-based
    // Ember+ only: the matrix's path, numbers ("0.1.0") or identifiers
    // ("router/matrices/video"); empty: the first matrix found from the root.
    std::string matrixPath;
    int level = 1;                                   // SW-P-08 only, 1-based
    int nameLength = 8;                              // SW-P-08 only: the name length asked for, 4, 8 or 12 characters
    std::chrono::milliseconds connectTimeout{5000};  // to connect, and then to read the initial state
    std::chrono::milliseconds keepAliveInterval{5000};  // a request that needs an answer is sent this often
    std::chrono::milliseconds silenceLimit{15000};      // nothing received for this long: lost
    // While up, the router's whole state is read again this often; only what
    // differs is reported. A router can lose changes it should have pushed
    // (it hung for less than the silence limit, or while this host was too
    // busy to notice): this bounds how long a display can stay wrong.
    std::chrono::milliseconds resyncInterval{60000};
    // The sizes the system knows (the device file's DatabaseSize_0 and
    // DatabaseSize_1). SW-P-08: they win over what the names suggest; 0: the
    // highest name number the router answers. Ember+: a matrix of another
    // size is reported.
    int sources = 0;
    int destinations = 0;
    std::chrono::milliseconds answerWait{1000};    // SW-P-08, Ember+: the wait for further names or answers at connect
    std::chrono::milliseconds backOffFirst{1000};  // the first retry comes within this
    std::chrono::milliseconds backOffCap{30000};   // no retry waits longer than this
    std::uint32_t jitterSeed = 0;                  // 0: seeded from the clock
};

class router_link {
public:
    router_link() = default;
    router_link(const router_link&) = delete;
    router_link& operator=(const router_link&) = delete;
    virtual ~router_link() = default;

    // Connects, and keeps reconnecting with exponential back-off and jitter
    // until stop(). Calling it while started does nothing.
    virtual void start() = 0;
    // Closes the connection and cancels every timer; no listener call after.
    virtual void stop() = 0;
    // Connected and the initial state read.
    virtual bool up() const = 0;
    // Asks the router to route `source` to `destination`. What the link holds
    // changes only when the router reports the route. Returns false, sending
    // nothing, while down or when a number is outside what the router
    // reported (or outside what the protocol can carry). When the router
    // has long stopped taking what is sent (1 MiB waiting), the connection
    // is dropped and linkDown() is called before this returns.
    virtual bool requestRoute(int destination, int source) = 0;
    // Asks for the routes of the destinations first..last; the answers come
    // as crosspoint() calls. Nothing is sent while down. May call linkDown()
    // as requestRoute() does.
    virtual void poll(int firstDestination, int lastDestination) = 0;
    // The label the link holds, or null; valid until the next call into the
    // link or the next return to the io_context.
    virtual const std::string* label(int database, int index) const = 0;
    // The source the link holds as routed to `destination`.
    virtual std::optional<int> source(int destination) const = 0;
};

std::unique_ptr<router_link> makeVideohubLink(boost::asio::io_context& io, const link_settings& settings,
                                              router_link_listener& listener);
std::unique_ptr<router_link> makeSwp08Link(boost::asio::io_context& io, const link_settings& settings,
                                           router_link_listener& listener);
std::unique_ptr<router_link> makeEmberplusLink(boost::asio::io_context& io, const link_settings& settings,
                                               router_link_listener& listener);

}  // namespace quon::links

#endif
