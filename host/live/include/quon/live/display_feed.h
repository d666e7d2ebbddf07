// display_feed: the one place a display's state is read. A component shows
// its source name by setting `text` and `statesheet` of control myMimic on
// panel 1 ("TP"); the feed turns each such change into a display_change
// (name, text, state sheet, the lamps the wall's [tally.*] give that sheet,
// and whether the display's router has answered yet) and hands it to its
// sink. The TSL output, the page and serve's display lines each take one.
//
// Threading: the host's thread, as every listener. Ownership: the engine
// outlives the feed; `tallies` is borrowed until the next useTallies().
#ifndef QUON_LIVE_DISPLAY_FEED_H
#define QUON_LIVE_DISPLAY_FEED_H

#include <functional>
#include <optional>
#include <string>

#include "quon/engine/host_engine.h"
#include "quon/umd/umd_config.h"

namespace quon {

struct display_change {
    std::string name;
    std::string text;        // as the component set it
    std::string statesheet;  // empty when none
    tally_lamps lamps;
    bool answered = false;  // a router has told the display a route
};

class display_feed : public host_listener {
public:
    using sink = std::function<void(const display_change&)>;
    // `tallies` may be null: every lamp off.
    display_feed(const host_engine& engine, const umd_config* tallies, sink changed)
        : engine_(engine), tallies_(tallies), changed_(std::move(changed)) {}

    void propertyChanged(const property_change& change) override;
    // The lamps now come from `tallies` (a reloaded wall file).
    void useTallies(const umd_config* tallies) { tallies_ = tallies; }
    // The display as it stands; nothing when it has no myMimic.
    std::optional<display_change> read(const std::string& component) const;

private:
    const host_engine& engine_;
    const umd_config* tallies_;
    sink changed_;
};

}  // namespace quon

#endif
