// nmos_client: an NMOS registry's Query API (IS-04) followed as a router,
// without I/O. Destinations are receivers and sources senders, numbered by
// the device file's lists (nmos_options), else as met; a receiver's
// subscription names the sender it takes, which is its route.
//
// The router's connection (channel 0) carries, in turn: HTTP/1.1 requests
// (the API's versions, WebSocket subscriptions to /receivers and to
// /senders, the senders and receivers read page by page), then, on the
// next connection (act::reopen, to where the subscription's ws_href
// says), the receivers' WebSocket; a second connection (channel 1) opened
// beside it carries the senders' WebSocket. Their grains are followed
// until the resync reads again. The router is up once both WebSockets
// are open and have sent their first grain: a registry whose WebSockets
// cannot be opened never is, and is retried with the back-off. docs/routers.md
// ("NMOS") says what it asks and tolerates.
//
// Lives on the thread that feeds it, as every router_client.
#ifndef QUON_ROUTERS_NMOS_NMOS_CLIENT_H
#define QUON_ROUTERS_NMOS_NMOS_CLIENT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "quon/routers/nmos/nmos_wire.h"
#include "quon/routers/router_settings.h"
#include "quon/routers/two_channel_client.h"

namespace quon::routers::nmos {

constexpr std::uint16_t default_port = 80;

// What a hostile registry can make the host hold.
constexpr std::size_t max_document_bytes = 64u << 20;  // an HTTP body or a WebSocket message
constexpr std::size_t max_header_bytes = 64u << 10;    // an HTTP answer's header
constexpr std::size_t max_resources = 100000;          // senders, and receivers, each
// Resources asked for a page; a registry may give fewer.
constexpr int page_limit = 1000;
// The fastest the registry is asked to push (max_update_rate_ms).
constexpr int update_rate_ms = 10;
// A sync sent as several grains comes as one burst: a pause this long
// after a full grain ends it.
constexpr std::chrono::milliseconds sync_pause{250};

// The device file's numbering: entry n of a list is number n, named by its
// id or by its label; a label names the resource that first bore it (the
// lowest id of those that do), which keeps its number through relabels
// while it lasts. A side without a list numbers each resource as it first
// meets it, after those met before (those of one read, or of one grain, in
// label order, ties by id), and keeps the number for good: through
// removals, registry restarts and, by act::remember and the router's
// state file (router_settings::remembered), restarts of the host.
struct nmos_options {
    std::vector<std::string> senders;
    std::vector<std::string> receivers;
    bool sendersListed = false;
    bool receiversListed = false;
};

// The parts of a resource that are followed.
struct nmos_resource {
    std::string label;
    std::string sender;  // a receiver's subscription.sender_id; empty when null
    bool active = true;  // a receiver's subscription.active (v1.2 has none)
};

class nmos_client final : public two_channel_client {
public:
    nmos_client(const router_settings& settings, const nmos_options& options);
    ~nmos_client() override;

    void connected(router_clock::time_point now, router_actions& out) override;
    void bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) override;
    void timer(router_clock::time_point now, router_actions& out) override;
    void keepAlive(router_clock::time_point now, router_actions& out) override;
    void resync(router_clock::time_point now, router_actions& out) override;
    // The WebSockets carry nothing else: a resync reads on a new connection.
    bool resyncsInPlace() const override { return false; }
    void closed() override;
    // Channel 1: the senders' WebSocket.
    void secondConnected(router_clock::time_point now, router_actions& out) override;
    void secondBytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now,
                     router_actions& out) override;
    // Read only: a display never changes a connection.
    bool requestRoute(int, int, router_actions&) override { return false; }
    void poll(int firstDestination, int lastDestination, router_actions& out) override;

private:
    enum class stage { versions, subscribe, subscribe_senders, senders, receivers, opening, following };
    struct http_answer;
    struct parser_box;
    // One channel's conversation: channel 0 reads, then follows the
    // receivers' WebSocket; channel 1 follows the senders'.
    struct conversation {
        stage at = stage::versions;
        std::string inbox;
        std::unique_ptr<parser_box> parser;
        frame_reader frames{max_document_bytes};
        std::optional<router_clock::time_point> deadline;
        std::string waitingFor;  // the request whose answer is awaited, as said in a failure
        // The subscription's WebSocket, where its ws_href says.
        std::string wsPath;
        std::string wsAuthority;  // for Host:
        std::string wsHost;
        std::uint16_t wsPort = 0;
        bool wsTls = false;
        std::string wsKey;
    };

    void begin(router_clock::time_point now, router_actions& out, int channel = 0);
    conversation& on() { return talk_[channel_]; }
    // Arms the timer for the earliest deadline of either channel.
    void armEarliest();
    void endSync();
    void feed(const std::uint8_t* data, std::size_t size);
    void openWebSocket();
    void send(std::string bytes);
    void request(std::string bytes, std::string what);
    void fail(const std::string& why);
    void problem(const std::string& cause, const std::string& text);
    // The next connection on channel 0: the registry's (an HTTP read), or,
    // with `webSocket`, the receivers' WebSocket's.
    void reopen(bool webSocket = false);
    // Numbers `ids` (of one side without a list, none numbered yet) after
    // those it has, in label order; true when any was.
    bool number(int side, std::vector<std::string> ids);
    void rememberNumbers();
    void takeRemembered(const std::string& text);
    void subscribe(int side);
    void readPage(const std::string& path);
    void feedHttp();
    void answer(const http_answer& response);
    void takeVersions(const http_answer& response);
    void takeSubscription(const http_answer& response);
    void takePage(const http_answer& response);
    void takeUpgrade(const http_answer& response);
    void endRead();
    void feedFrames();
    void takeGrain(const std::string& text);
    // Reads one resource; false, with a problem reported, when it does not fit.
    bool readResource(int side, const void* json, std::string& id, nmos_resource& resource);
    // Reports what differs from what was shown, every number afresh.
    void publish();
    // publish(), when grains changed what is shown since, and no sync is
    // under way (its end publishes).
    void publishIfStale();
    // The same for `receivers` alone, whose labels did not change.
    void publishConnections(const std::vector<std::string>& receivers);
    void showSource(int destination, const nmos_resource* receiver);
    void checkMapping();
    std::array<std::uint8_t, 4> nextMask();

    const router_settings settings_;
    const nmos_options options_;
    std::string authority_;  // host:port, for Host:
    std::string prefix_;     // the Address URL's path before /x-nmos (usually empty)
    std::string base_;       // "/x-nmos/query/v1.3"
    bool baseFromAddress_ = false;

    router_actions* out_ = nullptr;
    router_clock::time_point now_{};
    conversation talk_[2];  // by channel
    int channel_ = 0;       // the channel being fed

    bool open_ = false;
    bool secondOpen_ = false;
    bool up_ = false;
    bool reopening_ = false;   // the last connection ended by act::reopen
    // The WebSockets are open and not both have sent their sync grain yet
    // (or connectTimeout has not passed): one read, act::read_start to
    // act::read_end.
    bool syncing_ = false;
    bool synced_[2] = {false, false};  // by channel
    std::size_t syncFirst_[2] = {0, 0};  // the first sync grain's size; 0 before it
    std::set<std::string> syncSeen_[2];  // the ids its sync grains carried so far
    std::optional<router_clock::time_point> syncQuiet_[2];  // when its sync is taken as whole without more
    std::size_t readCount_[2] = {0, 0};  // by side: the resources the read found
    router_clock::time_point syncDeadline_;
    bool followNext_ = false;  // the next connection opens the WebSockets
    int upgradeRefusals_ = 0;
    bool answered_ = false;  // an answer completed in the bytes being fed
    bool stale_ = false;     // grains changed resources since the last publish()
    bool paged_ = true;  // paging parameters in this side's requests
    std::size_t pages_ = 0;

    std::map<std::string, nmos_resource> resources_[2];  // by id: senders, receivers
    std::map<std::string, nmos_resource> reading_[2];
    std::vector<std::string> entries_[2];                               // number n is entry n-1
    std::vector<std::string> bound_[2];                                 // the id an entry's label named, by entry
    std::unordered_map<std::string, int> sourceOf_;                     // sender id -> source number
    std::unordered_map<std::string, std::vector<int>> destinationsOf_;  // receiver id -> its numbers
    std::vector<int> shownSource_;                                      // by destination; -1: none reported
    std::vector<std::optional<std::string>> shownLabel_[2];
    std::set<std::string> warned_;  // mapping entries named as missing on this link
    std::unordered_map<std::string, int> numbered_[2];  // a side without a list: id -> its number
    std::string rememberedProblem_;  // what was wrong with what the state file held, said at the first connect
    std::uint32_t random_;
};

}  // namespace quon::routers::nmos

#endif
