// swp08_client: the SW-P-08 protocol, without I/O (router_client.h).
// SW-P-08 has no message that tells a router's size: the sizes are the
// device file's where it gives them, and otherwise the highest name number
// the router answers. On connect the client asks for every source and
// destination name of its matrix and level. A router may send its names one
// to a message or in batches of any size, so a database is complete when
// every number up to its known size has been named (with no known size:
// when a names message holds fewer names than fit), or when nothing more
// came for answerWait. Then it interrogates every destination, goes up when
// each is answered (or nothing more came for answerWait), and from then on
// takes the tallies the router pushes. A resync asks for the names and every
// route again, one read (act::read_start) that ends as the first one does. A router that names or answers fewer
// than the device file says is reported once per connection. Keep-alive: an
// interrogate of destination 1, whose answer is news only when it differs
// from the route held.
#ifndef QUON_ROUTERS_SWP08_CLIENT_H
#define QUON_ROUTERS_SWP08_CLIENT_H

#include <optional>
#include <string>
#include <vector>

#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"
#include "quon/routers/swp08/swp08_protocol.h"

namespace quon::routers {

// What an SW-P-08 client reads besides the router_settings: the device
// file's Matrix, Level, NameLength and AnswerWait (swp08_descriptor.h).
struct swp08_options {
    int matrix = 1;       // 1-based (the wire's 0 is 1)
    int level = 1;        // 1-based
    int nameLength = 8;   // the name length asked for: 4, 8 or 12 characters
    std::chrono::milliseconds answerWait{1000};  // the wait for further names or answers at connect
};

class swp08_client final : public router_client, private swp08::frame_sink {
public:
    swp08_client(const router_settings& settings, const swp08_options& options);

    void connected(router_clock::time_point now, router_actions& out) override;
    void bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) override;
    void timer(router_clock::time_point now, router_actions& out) override;
    void keepAlive(router_clock::time_point now, router_actions& out) override;
    void resync(router_clock::time_point now, router_actions& out) override;
    void closed() override;
    bool requestRoute(int destination, int source, router_actions& out) override;
    void poll(int firstDestination, int lastDestination, router_actions& out) override;

private:
    enum class phase { names, routes, up };

    // Sets where the current event's actions go, for the helpers below.
    void begin(router_clock::time_point now, router_actions& out);
    bool active() const { return open_; }
    void send(std::string bytes);
    void sendMessage(const std::vector<std::uint8_t>& data);
    void fail(const std::string& why);
    void reportProblem(const std::string& cause, const std::string& text);
    void reportProblem(const std::string& text) { reportProblem(text, text); }
    void armTimer(std::chrono::milliseconds wait);

    bool addressValid() const;
    void interrogate(int first, int last);
    // Asks for every destination's route, counting the answers; false when
    // there is none to ask.
    bool interrogateAll();
    int size(int database) const;
    void readRoutes();
    void goUp();
    void endResync();
    void reportFewRoutes();
    void takeCrosspoint(const swp08::crosspoint_message& crosspoint);
    void takeNames(const swp08::names_message& names);

    void onFrame(const std::vector<std::uint8_t>& data) override;
    void onAck() override;
    void onNak() override;
    void onFrameProblem(swp08::frame_problem problem) override;

    const std::chrono::milliseconds answerWait_;
    const swp08::address at_;
    const int nameLength_;
    const int known_[2];  // by database: the device file's size, 0 when it gives none
    // The current event's list; owned by the caller of that event, set for
    // its duration only.
    router_actions* out_ = nullptr;
    router_clock::time_point now_;
    std::optional<router_clock::time_point> deadline_;
    bool open_ = false;  // connected, and neither failed nor closed since
    swp08::frame_reader reader_;
    phase phase_ = phase::names;
    // By database, on this connection: the highest number named, which
    // numbers up to the known size were named, and how many.
    int highest_[2] = {0, 0};
    std::vector<bool> named_[2];
    int namedCount_[2] = {0, 0};
    bool namesComplete_[2] = {false, false};
    std::vector<bool> unanswered_;
    int remaining_ = 0;
    bool resyncing_ = false;  // up, and a resync's answers are still to come
    std::size_t bytesWithoutMessage_ = 0;
    int keepAliveAnswersDue_ = 0;
    bool heard_ = false;  // on this connection, a request acknowledged (or refused) or names answered
};

}  // namespace quon::routers

#endif
