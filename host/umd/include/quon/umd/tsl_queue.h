// tsl_queue: the protocol side of one TSL receiver, without I/O. It holds
// the latest state of each of the receiver's displays, which of them wait to
// be sent, and builds the packets that carry them: one display a packet, or
// with `batch` (TSL 5 only) as many displays of one screen and one text
// encoding as fit in tsl5_max_packet_size. A display changed again while it
// waits keeps its place and goes out once, with its latest state.
//
// A display whose router is lost shows what its `router_lost` says instead
// of its name; the queue is told when the router went down and what time it
// is, and says when it next needs to be told the time.
//
// Standby drops what waits and queues nothing until it is active again;
// becoming active queues every display shown so far. The receiver around it
// (umd_output.cpp) owns the socket and asks for packets when it can send.
//
// Plain data; one thread (the loop's, in umd_output).
#ifndef QUON_UMD_TSL_QUEUE_H
#define QUON_UMD_TSL_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quon/umd/umd_config.h"
#include "quon/umd/umd_text.h"

namespace quon {

class tsl_queue {
public:
    using clock = std::chrono::steady_clock;

    tsl_queue(umd_protocol protocol, bool batch, const tsl31_tally_map& tally31);

    // A display of this receiver; returns its number here, from 0 in call
    // order, by which the calls below name it.
    size_t addDisplay(uint16_t screen, uint16_t index, const router_lost& lost = {});
    size_t displays() const { return displays_.size(); }
    // A reload's new rule for the display's router's loss; it applies from
    // the next setRouterLost().
    void setLostRule(size_t display, const router_lost& lost) { displays_[display].lost = lost; }

    // Display `display` now shows `text` with `lamps`. False, changing
    // nothing, when it showed exactly that already. Queued unless standby.
    bool show(size_t display, const std::string& text, const tally_lamps& lamps);
    // The display's router was lost at `since` (nothing: it is up). Queued,
    // unless standby, when that changes what the screen shows; true then.
    bool setRouterLost(size_t display, std::optional<clock::time_point> since, clock::time_point now);
    // It is `now`: displays whose blank or text is due change. Returns how
    // many did.
    size_t advance(clock::time_point now);
    // When advance() next has something to do; nothing when it has not.
    std::optional<clock::time_point> nextChange() const;
    // What the display's screen shows of its router's loss now.
    lost_treatment treatment(size_t display) const { return displays_[display].applied; }

    // Queues every display shown so far (unless standby).
    void refresh();
    // Standby drops what waits; back to active queues every display shown.
    void setStandby(bool standby);
    bool standby() const { return standby_; }
    // At exit: every display `pick` names (by number) is queued blank, no text
    // and every lamp off, even one blank already. Returns how many.
    size_t blank(const std::function<bool(size_t display)>& pick);
    // Forgets what waits (the receiver is closing).
    void drop();

    // Replaces `packet` with the next packet to send, taking its displays
    // off the queue; false, leaving it alone, when nothing waits.
    bool nextPacket(std::string& packet);

    bool shown(size_t display) const { return displays_[display].shown; }
    bool anyShown() const { return anyShown_; }
    // Displays whose latest state is not yet in a packet.
    size_t waiting() const { return queue_.size(); }

private:
    struct display_state {
        uint16_t screen = 0;
        uint16_t index = 0;
        router_lost lost;
        bool shown = false;
        bool queued = false;
        // As the display gives them.
        std::string source;
        tally_lamps sourceLamps;
        // Its router: when it was lost, and whether `lost.after` has passed.
        std::optional<clock::time_point> lostSince;
        bool lostLong = false;
        lost_treatment applied = lost_treatment::keep;
        // As sent; `recorded` once there is any.
        bool recorded = false;
        std::string text;
        tally_lamps lamps;
        tsl5_text text5;     // TSL 5 receivers
        std::string text31;  // TSL 3.1 receivers
    };

    // Puts on the screen what the display's name and router now call for;
    // false, changing nothing, when it shows that already.
    bool present(size_t display);
    void enqueue(size_t display);
    const display_state& takeFront();
    void record(display_state& display, const std::string& text, const tally_lamps& lamps);

    const umd_protocol protocol_;
    const bool batch_;
    const tsl31_tally_map tally31_;
    std::vector<display_state> displays_;
    std::deque<size_t> queue_;
    bool anyShown_ = false;
    bool standby_ = false;
};

}  // namespace quon

#endif
