// umd_output: sends the displays of a umd_config to their receivers, each in
// its protocol (screen_protocol.h).
//
// show() records a display's latest text and state sheet; its packet goes
// out once, from a handler posted to the io_context, so a burst of changes
// between two sends sends only the latest state. Every display that has been
// shown is sent again every `refresh`. Each receiver keeps at most one
// waiting state per display and one send in flight: a salvo goes out as fast
// as the socket takes it, and a slow or dead receiver never delays another.
// TCP receivers are connected on demand and reconnected with back-off; when
// one comes back, every display shown so far is sent to it again.
//
// A display whose router is lost (routerLost) shows on its screen what its
// `router_lost` setting says; a blank or text that is due later is put up by
// a timer of the output's own.
//
// On the standby host of a pair, the output keeps every display's latest
// state but sends nothing and holds no connection; made active, it sends
// every display shown so far to each receiver at once.
//
// Thread: every call, and every handler it starts, runs on the one thread
// that runs `io`. Host names that are not numeric addresses are resolved by
// Asio's resolver, which calls getaddrinfo off the event loop.
//
// Lifetime: `io` must outlive this object. Destroying it closes every socket
// at once and blanks nothing; its handlers still queued in `io` keep what
// they use alive and do nothing when they run.
#ifndef QUON_SCREENS_UMD_OUTPUT_H
#define QUON_SCREENS_UMD_OUTPUT_H

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "quon/screens/receiver_state.h"
#include "quon/screens/umd_config.h"

namespace boost {
namespace asio {
class io_context;
}
}  // namespace boost

namespace quon {

// What one receiver has done: its link's state as the log, the page and
// /metrics show it, and its counts.
struct umd_receiver_status {
    umd_destination to;
    umd_receiver_state state = umd_receiver_state::idle;
    std::string detail;  // why, and when the next try is due
    // The link failed (refused, unresolved, lost) and has not been up
    // since: also while it tries again.
    bool down = false;
    std::chrono::system_clock::time_point lastSent{};  // epoch when never
    uint64_t errors = 0;                               // failed resolves, connects and sends
    // TCP: connected now. UDP: its address is resolved and its socket open.
    bool connected = false;
    // How often it became connected.
    uint64_t connections = 0;
    uint64_t packetsSent = 0;
    // Displays whose latest state is not yet handed to the socket.
    size_t displaysWaiting = 0;
};

class umd_output {
public:
    // Copies `config`; opens nothing until a display is shown. At a reload,
    // `previous` (the output this one replaces, on the same `io`) hands
    // over each open TCP receiver that `config` still sends to, with its
    // connection, when the packets are built alike (`batch`, `tally31`):
    // its displays keep their state, new ones are added, and those no
    // display uses any more are sent blank. `previous` is then retired or
    // stopped as usual, without them.
    umd_output(boost::asio::io_context& io, const umd_config& config, umd_output* previous = nullptr);
    ~umd_output();

    umd_output(const umd_output&) = delete;
    umd_output& operator=(const umd_output&) = delete;

    // The display named `display` now shows `text` (a source name, UTF-8 or
    // Windows-1252) with the lamps of `statesheet`. Displays without `umd`
    // are ignored, and so is a call that changes nothing.
    void show(const std::string& display, const std::string& text, const std::string& statesheet);
    // The same with the lamps already known (the host's display feed maps
    // each state sheet once, for every output).
    void show(const std::string& display, const std::string& text, const tally_lamps& lamps);

    // The display's router was lost at `since`; nothing: it is up (again).
    // Displays without `umd` are ignored.
    void routerLost(const std::string& display, std::optional<std::chrono::steady_clock::time_point> since);
    // The displays whose screens show their router's loss now (mark, blank
    // or text), in wall file order.
    std::vector<std::pair<std::string, lost_treatment>> treatments() const;
    // Called on the loop's thread whenever a display's screen starts or
    // stops showing its router's loss. The function must outlive this object.
    void onTreatmentChange(std::function<void(const std::string& display, lost_treatment now)> changed);
    // What an output it replaces told of its displays: a display of this
    // one is told of again only when that changes. Returns those of `told`
    // that are not among this output's displays.
    std::vector<std::string> carryTreatments(const std::vector<std::pair<std::string, lost_treatment>>& told);

    // Standby (true): from now on nothing is sent, what waited is dropped,
    // every socket closes at once and each receiver's state is "standby";
    // show() still records each display's latest state. Active (false, as
    // it starts): every display shown so far goes to its receiver at once
    // (a TCP receiver is connected first), then it runs as before.
    void setStandby(bool standby);
    bool standby() const;

    // At shutdown: stops refreshing and connecting. With blank_on_exit,
    // every display of each receiver connected now is sent blank (no text,
    // every lamp off), and the sockets close once that is sent (at most a
    // second later); otherwise every socket closes now. Later calls to
    // show() are ignored.
    void stop();
    // When a new output takes over (at a reload): as stop(), but the
    // displays named in `removed` that were shown are sent blank, whatever
    // blank_on_exit says, and no other display is.
    void retire(const std::set<std::string>& removed);
    // Stopped, and every socket closed: destroying it now loses nothing.
    bool finished() const;

    // Called on the loop's thread whenever a receiver's state changes,
    // with its new status. The function must outlive this object.
    void onReceiverChange(std::function<void(const umd_receiver_status&)> changed);

    uint64_t packetsSent() const;
    size_t receiversConnected() const;
    std::vector<umd_receiver_status> receivers() const;

private:
    struct impl;
    std::shared_ptr<impl> impl_;
};

}  // namespace quon

#endif
