// quartz_client: the Quartz protocol of a router connection, without I/O
// (router_client.h).
//
// A Quartz router tells neither its size nor its names unasked, so the
// sizes are the device file's. At connect the client asks for every
// source and destination name up to those sizes (".RS n", ".RD n") and
// interrogates every destination on its level (".I{level}{n}"), a window
// of requests at a time (what is still open after answerWait is given up);
// it goes up when each has been answered, or when nothing more came for
// answerWait (a router does not answer an interrogate of a destination it
// does not have), reporting once per connection what did not come. A
// router that sends nothing at all within answerWait is down. With no size
// in the device file it reads nothing and asks only whether the router
// answers (".#01").
//
// From then on it takes the updates the router pushes (".U{levels}{n},{s}",
// one message for several levels; those without its level are not its
// own), names the router sends unasked (a rename), and the answers to
// poll(). Keep-alive: ".#01", answered ".A". Resync, and a router that
// says it restarted (".P"), read every name and route again; only what
// differs is news. Names come with their number (".RAS5,CAM 5") or, from
// older firmware, without (".RASCAM 5"), answering the oldest name request
// still open. Everything a router may send that this client does not use
// is skipped; what it cannot read is reported once per cause and
// connection.
#ifndef QUON_ROUTERS_QUARTZ_CLIENT_H
#define QUON_ROUTERS_QUARTZ_CLIENT_H

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "quon/routers/quartz/quartz_protocol.h"
#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"

namespace quon::routers {

// What a Quartz client reads besides the router_settings: the device
// file's Level and AnswerWait (quartz_descriptor.h).
struct quartz_options {
    char level = 'V';                            // the level whose routes the link follows, a letter A..Z
    std::chrono::milliseconds answerWait{1000};  // the wait for further answers
};

class quartz_client final : public router_client, private quartz::message_sink {
public:
    quartz_client(const router_settings& settings, const quartz_options& options);
    void connected(router_clock::time_point now, router_actions& out) override;
    void bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) override;
    void timer(router_clock::time_point now, router_actions& out) override;
    void keepAlive(router_clock::time_point now, router_actions& out) override;
    void resync(router_clock::time_point now, router_actions& out) override;
    void closed() override;
    bool requestRoute(int destination, int source, router_actions& out) override;
    void poll(int firstDestination, int lastDestination, router_actions& out) override;

private:
    // The current event's list and time, for the helpers below.
    void begin(router_clock::time_point now, router_actions& out);
    void send(std::string bytes);
    void fail(const std::string& why);
    void reportProblem(const std::string& cause, const std::string& text);
    void reportProblem(const std::string& text) { reportProblem(text, text); }
    void armTimer();

    // Asks for every name and route; `initial`: the read of a connection,
    // which ends in up.
    void read(bool initial);
    void sendMore();
    void answered();
    bool readDone() const;
    void endRead();
    void interrogate(int first, int last, bool news);
    void takeRoute(const quartz::message::route& route);
    void takeName(const quartz::message::name& name);
    int highestNumber(int database) const;

    void onMessage(std::string_view body) override;
    void onReaderProblem(quartz::reader_problem problem) override;

    const quartz_options options_;
    const int known_[2];  // by database: the device file's size, 0 when it gives none
    // The current event's list; owned by the caller of that event, set for
    // its duration only.
    router_actions* out_ = nullptr;
    router_clock::time_point now_;
    std::optional<router_clock::time_point> deadline_;
    bool open_ = false;     // connected, and neither failed nor closed since
    bool up_ = false;       // the connection's first read is done
    bool reading_ = false;  // a read's answers are awaited (at connect, resync or restart)
    bool testing_ = false;  // the test request is awaited in place of a read
    int testsOut_ = 0;      // keep-alives (test requests) not acknowledged yet
    bool heard_ = false;    // a message on this connection
    quartz::reader reader_;
    int messagesInFeed_ = 0;
    std::size_t bytesWithoutMessage_ = 0;
    // By database: the names asked for and not yet answered, how many, and
    // the highest number named on this connection.
    std::vector<bool> namePending_[2];
    int namesLeft_[2] = {0, 0};
    int highestNamed_[2] = {0, 0};
    // By destination: interrogated and not yet answered, how many, and
    // whether the answer is news even when the route is the one held (the
    // connection's first read, a poll).
    std::vector<bool> routePending_;
    std::vector<bool> answerIsNews_;
    int routesLeft_ = 0;
    int routesAsked_ = 0;  // interrogates of the current read
    // The current read: whether it is the connection's first, the next of
    // its requests to send (names of sources, of destinations, then
    // routes), and how many are sent and not answered.
    bool readIsInitial_ = false;
    int readNext_ = 0;
    int inFlight_ = 0;
    int highestAnswered_ = 0;
};

}  // namespace quon::routers

#endif
