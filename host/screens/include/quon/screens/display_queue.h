// display_queue: the displays of one receiver, without I/O. It holds the
// latest state of each display once (its name, lamps and router, and the
// message its protocol's codec encoded from them), which of them wait to be
// sent, and builds the packets that carry them as the codec packs them (TSL
// 5 with `batch`: as many displays of one screen and one text encoding as
// fit a packet; otherwise one a packet). A display changed again while it
// waits keeps its place and goes out once, with its latest state.
//
// A display whose router is lost shows what its `router_lost` says instead
// of its name; the queue is told when the router went down and what time it
// is, and says when it next needs to be told the time.
//
// Standby drops what waits and queues nothing until it is active again;
// becoming active queues every display shown so far. The receiver around it
// (receiver.h) owns the socket and asks for packets when it can send.
//
// Plain data; one thread (the loop's, in umd_output).
#ifndef QUON_SCREENS_DISPLAY_QUEUE_H
#define QUON_SCREENS_DISPLAY_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quon/screens/screen_protocol.h"
#include "quon/screens/umd_config.h"

namespace quon {

class display_queue {
public:
    using clock = std::chrono::steady_clock;

    // `codec` outlives the queue.
    explicit display_queue(const screen_codec& codec) : codec_(codec) {}

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
    // Replaces `packet` with the next packet to send, taking its displays
    // off the queue; false, leaving it alone, when nothing waits.
    bool nextPacket(std::string& packet);

    bool shown(size_t display) const { return displays_[display].shown; }
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
        screen_message message;  // `text` and `lamps` as the codec encoded them
    };

    // Puts on the screen what the display's name and router now call for;
    // false, changing nothing, when it shows that already.
    bool present(size_t display);
    void enqueue(size_t display);
    // Forgets what waits.
    void drop();
    const display_state& takeFront();
    void record(display_state& display, const std::string& text, const tally_lamps& lamps);

    const screen_codec& codec_;
    std::vector<display_state> displays_;
    std::deque<size_t> queue_;
    bool standby_ = false;
};

}  // namespace quon

#endif
