// videohub_client: the Videohub Ethernet protocol, without I/O
// (router_client.h). It reads the prelude the router sends on connect (device
// sizes, labels, routing), goes up on the first routing block (or END
// PRELUDE), then takes what the router pushes. Keep-alive: PING, answered
// with ACK. Resync: the labels and routing asked for with bare headers.
#ifndef QUON_ROUTERS_VIDEOHUB_CLIENT_H
#define QUON_ROUTERS_VIDEOHUB_CLIENT_H

#include <optional>
#include <string>

#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"
#include "quon/routers/videohub/videohub_protocol.h"

namespace quon::routers {

class videohub_client final : public router_client, private videohub::block_sink {
public:
    explicit videohub_client(const router_settings& settings)
        : preludeLimit_(settings.connectTimeout), reader_(readerLimits(settings)) {}

    void connected(router_clock::time_point now, router_actions& out) override;
    void bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) override;
    void timer(router_clock::time_point now, router_actions& out) override;
    void keepAlive(router_clock::time_point now, router_actions& out) override;
    void resync(router_clock::time_point now, router_actions& out) override;
    void closed() override;
    bool requestRoute(int destination, int source, router_actions& out) override;
    void poll(int firstDestination, int lastDestination, router_actions& out) override;

private:
    // A block holds a line an input or output: room for as many as the
    // device file says the router has, beyond the reader's usual limit.
    static videohub::reader_limits readerLimits(const router_settings& settings);
    bool active() const { return open_; }
    void send(std::string bytes);
    void reportProblem(const std::string& cause, const std::string& text);
    void reportProblem(const std::string& text) { reportProblem(text, text); }
    void goUp();
    void readWhole();

    void onBlock(const videohub::block& block) override;
    void onReaderProblem(videohub::reader_problem problem) override { reportProblem(videohub::describe(problem)); }
    void readSizes(const videohub::block& block);
    bool inRange(int index, int size);
    void readLabels(const videohub::block& block, int database, int size);
    void readRouting(const videohub::block& block);

    // The prelude comes unasked; without routing within this, the router is
    // not serving.
    const std::chrono::milliseconds preludeLimit_;
    // The current event's list; owned by the caller of that event, set for
    // its duration only.
    router_actions* out_ = nullptr;
    std::optional<router_clock::time_point> deadline_;
    bool open_ = false;  // connected, and neither failed nor closed since
    bool up_ = false;
    // A routing query was sent and no routing block has come since: a poll
    // meanwhile is answered by that query's reply, the whole routing (a
    // wall's displays made together poll once each).
    bool queryOut_ = false;
    bool resyncing_ = false;  // a resync's answers are still to come
    int pingsOut_ = 0;        // keep-alives not acknowledged yet
    // Since the connection, or the resync: the blocks a whole read needs.
    bool labelsRead_ = false;
    bool routingRead_ = false;
    videohub::reader reader_;
    int inputs_ = 0;
    int outputs_ = 0;
};

}  // namespace quon::routers

#endif
