// display_feed: the one place a display's state is read. A component shows
// its source name by setting `text` and `statesheet` of control myMimic on
// panel 1 ("TP"); the feed hears of each such change as display_watch
// (display_lines.h) tells it, turns it into a display_change (name, text,
// state sheet, the lamps the wall's [tally.*] give that sheet with the
// [umd] program or preview lamp lit over them while its picture is on air,
// and whether the display's router has answered yet) and hands it to its
// sink; a change of its tally alone (tallyChanged) likewise. The UMD output
// and the page each take one.
//
// Threading: the host's thread, as every listener. Ownership: the engine
// and `tallies` outlive the feed.
#ifndef QUON_LIVE_DISPLAY_FEED_H
#define QUON_LIVE_DISPLAY_FEED_H

#include <functional>
#include <optional>
#include <string>

#include "quon/engine/host_engine.h"
#include "quon/output/display_lines.h"
#include "quon/screens/umd_config.h"

namespace quon {

struct display_change {
    std::string name;
    std::string text;        // as the component set it
    std::string statesheet;  // empty when none
    tally_lamps lamps;       // the sheet's, with program or preview lit
    tally::state tally = tally::state::off;
    bool answered = false;  // a router has told the display a route
};

class display_feed : public display_watch {
public:
    using sink = std::function<void(const display_change&)>;
    // `tallies` may be null: every lamp off.
    display_feed(const host_engine& engine, const umd_config* tallies, sink changed);
    // It is its own watcher's sink.
    display_feed(const display_feed&) = delete;
    display_feed& operator=(const display_feed&) = delete;

    // The display as it stands; nothing when it has no myMimic.
    std::optional<display_change> read(const std::string& component) const;

    void tallyChanged(const std::string& component, tally::state now) override;

private:
    const host_engine& engine_;
    const umd_config* tallies_;
    sink changed_;
};

}  // namespace quon

#endif
