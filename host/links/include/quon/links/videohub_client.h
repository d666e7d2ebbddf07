// videohub_client: the Videohub Ethernet protocol of a link, without I/O
// (link_client.h). It reads the prelude the router sends on connect (device
// sizes, labels, routing), goes up on the first routing block (or END
// PRELUDE), then takes what the router pushes. Keep-alive: PING, answered
// with ACK. Resync: the labels and routing asked for with bare headers.
#ifndef QUON_LINKS_VIDEOHUB_CLIENT_H
#define QUON_LINKS_VIDEOHUB_CLIENT_H

#include <optional>
#include <string>

#include "quon/links/link_client.h"
#include "quon/links/router_link.h"
#include "quon/links/videohub_protocol.h"

namespace quon::links {

class videohub_client final : public link_client, private videohub::block_sink {
public:
    explicit videohub_client(const link_settings& settings)
        : preludeLimit_(settings.connectTimeout), reader_(readerLimits(settings)) {}

    std::uint16_t defaultPort() const override { return videohub::default_port; }
    void connected(link_clock::time_point now, link_actions& out) override;
    void bytes(const std::uint8_t* data, std::size_t size, link_clock::time_point now, link_actions& out) override;
    void timer(link_clock::time_point now, link_actions& out) override;
    void keepAlive(link_clock::time_point now, link_actions& out) override;
    void resync(link_clock::time_point now, link_actions& out) override;
    void closed() override;
    bool requestRoute(int destination, int source, link_actions& out) override;
    void poll(int firstDestination, int lastDestination, link_actions& out) override;

private:
    // A block holds a line an input or output: room for as many as the
    // device file says the router has, beyond the reader's usual limit.
    static videohub::reader_limits readerLimits(const link_settings& settings);
    bool active() const { return open_; }
    void send(std::string bytes);
    void reportProblem(const std::string& cause, const std::string& text);
    void reportProblem(const std::string& text) { reportProblem(text, text); }
    void goUp();

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
    link_actions* out_ = nullptr;
    std::optional<link_clock::time_point> deadline_;
    bool open_ = false;  // connected, and neither failed nor closed since
    bool up_ = false;
    videohub::reader reader_;
    int inputs_ = 0;
    int outputs_ = 0;
};

}  // namespace quon::links

#endif
