// A wall file running on an engine: its displays created with their start
// commands, its TSL output fed as a listener, and a reload that applies
// only the difference. serve runs one; the shell may run one.
//
// Threading: on the host's thread. Ownership: the engine and the loop
// outlive the wall; the wall removes its listener when it goes.
#ifndef QUON_LIVE_LIVE_WALL_H
#define QUON_LIVE_LIVE_WALL_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <map>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/displays/display_model.h"
#include "quon/live/wall_file.h"
#include "quon/screens/umd_output.h"
#include "quon/tally/tally_inputs.h"

namespace quon {

class live_wall {
public:
    // `check` adds the errors of a wall that cannot work on the running
    // system (see wall_check.h); `warn` hears of what could not be done (a
    // display whose module does not load).
    using checker = std::function<void(const wall&, std::vector<std::string>& errors)>;
    // `displays` is the engine's display model (registered with it before
    // any display is made); the wall names each display's control to it.
    live_wall(boost::asio::io_context& loop, host_engine& engine, display_model& displays, std::string defaultModule,
              std::string layoutFolder, checker check, std::function<void(const std::string&)> warn);
    ~live_wall();
    live_wall(const live_wall&) = delete;
    live_wall& operator=(const live_wall&) = delete;

    // How start() creates the displays: all before it returns, or a slice
    // at a time, one slice a turn of the loop, so that the routers are read
    // and the first displays shown while the rest are still being made (a
    // wall of 100,000 takes seconds to make whole).
    enum class pace { at_once, in_slices };
    // Reads `path`, checks it, starts its tally inputs and creates its
    // displays. False, with every error in `errors`, when the file cannot
    // be used; nothing is created then. An input that cannot listen yet
    // keeps trying (tally_listener::start).
    bool start(const std::string& path, std::vector<std::string>& errors, pace how = pace::at_once);
    // Displays of start() are still to be made (pace::in_slices).
    bool creating() const { return next_ < wall_.displays.size(); }
    // Reads and checks `path` as start() would, creating nothing; the
    // wall's own file when `path` is empty. `check`, when given, is used
    // instead of the wall's own (a reload checks against the system read
    // anew).
    bool read(const std::string& path, wall& out, std::vector<std::string>& errors,
              const checker& check = nullptr) const;
    // The last step before apply(): binds what the tally inputs of `next`
    // need anew. False with an error for each that cannot bind; the
    // running wall is as it was either way.
    bool prepare(const wall& next, std::vector<std::string>& errors);
    // What a reload did to the displays.
    struct changes {
        int added = 0;
        int removed = 0;
        int changed = 0;
    };
    // Applies the difference to a wall read by read(): new displays are
    // created, removed ones destroyed (their screens sent blank), changed
    // ones get the parent commands whose value changed. Displays of start()
    // not made yet are made first. The tie lines are the new file's, and
    // the tally inputs follow the file as tally_inputs.h says, on what
    // prepare() bound.
    changes apply(wall next);
    // At shutdown: the output stops (blanking only when asked to), and
    // displays not made yet are not made.
    void stop();

    // The role of this host in a pair (see umd_output::setStandby): a
    // standby wall runs every display as an active one, and its output
    // sends nothing. A wall whose file has [pair] starts standby, until
    // the role is known; a wall without starts active. A reload keeps the
    // role.
    void setStandby(bool standby);
    bool standby() const { return standby_; }

    const wall& current() const { return wall_; }

    // `watch` hears of every change of a TSL receiver's state, from now on
    // and across reloads (a reload makes the UDP receivers anew and keeps
    // each TCP one the new file still sends to, connected: receivers()
    // then lists the new output's). It must outlive the wall.
    void watchReceivers(std::function<void(const umd_receiver_status&)> watch);
    std::vector<umd_receiver_status> receivers() const;

    // `watch` hears of every display whose screen starts or stops showing
    // its router's loss ([umd] on_router_lost), across reloads. It must
    // outlive the wall.
    void watchTreatments(std::function<void(const std::string& display, lost_treatment now)> watch);
    // The displays whose screens show their router's loss now.
    std::vector<std::pair<std::string, lost_treatment>> treatments() const;

    // A display that watches what no router here can show it (a router this
    // system does not have, a destination past the size its router reports)
    // shows nothing of its router: its screen is treated as a lost router's
    // (on_router_lost) for as long as that lasts. `watch` hears of each
    // display that starts to, with why ("watches router 3, which this
    // system does not have"), and of each that stops, with "", across
    // reloads. It must outlive the wall.
    void watchProblems(std::function<void(const std::string& display, const std::string& problem)> watch);

    // The tally inputs ([[tally_in]]): their lit indices go to the engine.
    // `watch` hears of each going up or down, `log` of their log lines
    // (where each listens, up and down, what could not be read), across reloads; both
    // must outlive the wall. Without `log`, the lines are warnings.
    void watchInputs(tally::tally_listener::on_state watch, tally::tally_listener::on_log log);
    std::vector<tally::tally_input_status> inputs() const;

    // A line-up: for `lasting`, the displays named (every display when
    // none is) show every lamp lit (lamps) or their own name (name) on
    // their screens and the page, then what they show again. One at a
    // time: a new one ends the last first; mode none ends it now. False,
    // with why, for a display the wall does not have (nothing changes).
    bool lineup(lineup_mode mode, std::chrono::milliseconds lasting, const std::vector<std::string>& names,
                std::string& error);
    struct lineup_status {
        lineup_mode mode = lineup_mode::none;
        std::size_t displays = 0;
        std::chrono::system_clock::time_point until;
    };
    // "every lamp lit on 12 displays until 2026-12-11T13:40:00Z"; empty
    // for none.
    static std::string lineupText(const lineup_status& status);
    // `watch` hears of each line-up beginning and ending; it must outlive
    // the wall.
    void watchLineup(std::function<void(const lineup_status&)> watch);
    const lineup_status& lineupNow() const { return lineup_; }

private:
    // Follows the routers' links for the output: a router is lost when
    // its link goes down after it was up.
    struct router_watch : host_listener {
        explicit router_watch(live_wall& wall) : wall(wall) {}
        void routerChanged(const router_change& change) override;
        void routerRemoved(int device) override;
        void watched(const std::string& component, int, int, int, bool) override { wall.tellLost(component); }
        void componentDestroyed(const std::string& name) override { wall.problems_.erase(name); }
        live_wall& wall;
    };
    // Tells the output whether the display's router is lost, and since when;
    // a display whose router cannot show what it watches counts as one.
    void tellLost(const std::string& name);
    void tellLostOn(int device);
    // Why the router cannot show the display what it watches; "" when it can.
    std::string problemOf(const engine_components::watch_place& place) const;

    // The output of wall_.umd, taking over the running one's TCP screens;
    // `removed`: the displays a reload removed, sent blank.
    void startOutput(const std::set<std::string>* removed);
    void create(const wall_display& display);
    // Makes the displays of start() from next_ on, up to `count` of them.
    void createSlice(size_t count);
    void createLater();
    void send(const std::string& name, const std::string& command);
    // To the screens: not before the display's router has answered, so a
    // screen keeps its last good name rather than a blank.
    void show(const display_record& display);
    struct screen_feed : display_observer {
        explicit screen_feed(live_wall& wall) : wall(wall) {}
        void displayChanged(const display_record& display, display_aspect what) override {
            // Every set goes out, the same value too: a screen that missed
            // the last packet gets it again.
            if (what == display_aspect::shown || what == display_aspect::reshown || what == display_aspect::tally ||
                what == display_aspect::lineup)
                wall.show(display);
        }
        live_wall& wall;
    };
    void resend(const std::string& name);
    void endLineup();

    boost::asio::io_context& loop_;
    host_engine& engine_;
    display_model& displays_;
    screen_feed screenFeed_{*this};
    std::string defaultModule_;
    std::string layoutFolder_;
    checker check_;
    std::function<void(const umd_receiver_status&)> watch_;
    std::function<void(const std::string&, lost_treatment)> watchTreatments_;
    router_watch routerWatch_{*this};
    std::map<int, bool> routerUp_;                                   // by device, once it told a state
    std::map<int, std::chrono::steady_clock::time_point> lostSince_;  // routers lost after they were up
    std::map<int, int> routerSize_;  // destinations each router last reported; 0: none
    struct problem {
        std::string text;
        std::chrono::steady_clock::time_point since;
    };
    std::unordered_map<std::string, problem> problems_;  // by display, while it has one
    std::function<void(const std::string&, const std::string&)> watchProblems_;
    std::function<void(const std::string&)> warn_;
    std::string path_;
    wall wall_;
    size_t next_ = 0;  // the first display of wall_ start() has not made yet
    int waits_ = 0;    // turns the next slice has waited for routers' bytes
    // Lives as long as the wall: a slice queued on the loop does nothing
    // once the wall is gone.
    std::shared_ptr<live_wall*> self_ = std::make_shared<live_wall*>(this);
    bool standby_ = false;
    std::unique_ptr<umd_output> output_;
    std::vector<std::unique_ptr<umd_output>> retired_;  // stopped, still closing
    tally::tally_listener::on_state watchInputs_;
    tally::tally_listener::on_log inputLog_;
    tally::tally_inputs inputs_;  // calls the two above
    lineup_status lineup_;
    std::vector<std::string> linedUp_;
    boost::asio::steady_timer lineupTimer_;
    std::function<void(const lineup_status&)> watchLineup_;
};

}  // namespace quon

#endif
