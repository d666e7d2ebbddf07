// The state of the wall the web view shows, and its JSON. Owned by the web
// view; used on the io_context's thread only.
#ifndef QUON_WEB_WALL_MODEL_H
#define QUON_WEB_WALL_MODEL_H

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "quon/web/wall_state.h"

namespace quon::web {

class wall_model {
public:
    struct event_line {
        std::uint64_t sequence;  // counts from 1, never reused
        std::string time;        // when it was added, UTC to the millisecond
        std::string text;
        std::uint64_t count = 1;  // how often it was said (addCountedEvent)
    };

    explicit wall_model(std::size_t maxEvents) : maxEvents_(maxEvents) {}

    struct display_update {
        bool added;         // a new display, at the end of the wall
        bool firstInRound;  // not changed before in this round
    };
    // Stores the display's state. A round is the caller's count of flushes:
    // firstInRound lets it list each changed display once per flush without
    // a set of its own.
    display_update setDisplay(const display_state& state, std::uint64_t round);
    // These return whether the wall order changed.
    bool removeDisplay(const std::string& name);
    bool setOrder(const std::vector<std::string>& names);

    void setLink(const link_state& state);
    void setReceivers(std::vector<receiver_state> receivers) { receivers_ = std::move(receivers); }
    void setTallyInputs(std::vector<tally_input_state> inputs) { tallyInputs_ = std::move(inputs); }
    const std::vector<tally_input_state>& tallyInputs() const { return tallyInputs_; }
    // "active" (as it starts) or "standby": the host's role in a pair.
    void setRole(std::string role) { role_ = std::move(role); }
    void setLineup(std::string text) { lineup_ = std::move(text); }
    const std::string& role() const { return role_; }
    std::string roleJson() const;  // "active" with its quotes
    // Whether the control API is on; returns whether that changed.
    bool setControl(bool on) {
        const bool changed = on != control_;
        control_ = on;
        return changed;
    }
    bool control() const { return control_; }
    bool removeLink(int device);
    void addEvent(const std::string& line);
    // A line that may come again and again (a warning): said again while it
    // is among the latest events, it takes a new sequence and time at the
    // end with its count, in the place of the one before, so that it never
    // pushes other events out.
    void addCountedEvent(const std::string& line);

    // Null when there is no display of that name. Valid until the next change.
    const display_state* findDisplay(const std::string& name) const;
    const std::vector<std::string>& order() const { return order_; }
    std::size_t linkCount() const { return links_.size(); }
    std::uint64_t lastEventSequence() const { return nextEventSequence_ - 1; }

    // JSON texts (objects and arrays as the API and the page read them).
    // The display as a JSON object, appended to `out`. Written by hand: it is
    // the one text made for every change, and a general JSON value costs
    // several times more. Invalid UTF-8 becomes U+FFFD.
    static void appendDisplayJson(std::string& out, const display_state& state);
    std::string displaysJson() const;  // [display, ...] in wall order
    std::string routersJson() const;   // [link, ...] by device number
    std::string receiversJson() const;  // [receiver, ...] in wall file order
    static std::string receiversJson(const std::vector<receiver_state>& receivers);
    const std::vector<receiver_state>& receivers() const { return receivers_; }
    std::string tallyInputsJson() const;  // [tally input, ...] in wall file order

    // What a tally page (/tally/NAME) follows: a display by its name, or a
    // source by its name as the displays show it (their text), wherever
    // it is shown.
    struct tally_target {
        bool source = false;
        std::string name;
        bool operator==(const tally_target& other) const { return source == other.source && name == other.name; }
    };
    // The display called `name`, or else the source of that name a display
    // shows now; with `sourceOnly`, only the source. None when neither is
    // on the wall.
    std::optional<tally_target> findTallyTarget(const std::string& name, bool sourceOnly) const;
    // {"type":"tally", "kind", "name", "onWall", "tally", ...}: the one
    // message a tally page reads, whole each time.
    std::string tallyMessage(const tally_target& target) const;
    // {"status": "ok" or "degraded", "role", "down": [what is down, ...], counts}
    std::string healthJson(std::size_t clients) const;
    // Only its status and role: what /healthz tells a client without the
    // view token.
    std::string healthStatusJson() const;
    std::string orderJson() const;     // [name, ...]
    // The events after `sequence`, oldest first: {"sequence", "time", "text"}.
    std::string eventsJson(std::uint64_t after) const;
    // {"type":"full", "displays", "routers", "receivers", "tallyInputs", "role", "control", "events", "maxEvents"}
    std::string fullMessage() const;

private:
    void forget(const display_state& shown);  // from showing_

    std::size_t maxEvents_;
    std::vector<std::string> order_;
    struct display_entry {
        display_state state;
        std::uint64_t round = 0;  // the last round it changed in
    };
    std::unordered_map<std::string, display_entry> displays_;
    // The displays by the text they show: a source's tally page finds the
    // displays showing it without reading the whole wall.
    std::unordered_map<std::string, std::set<std::string>> showing_;
    std::map<int, link_state> links_;
    std::vector<receiver_state> receivers_;
    std::vector<tally_input_state> tallyInputs_;
    std::string role_ = "active";
    std::string lineup_;  // the line-up now, in words; empty when none
    bool control_ = false;
    std::deque<event_line> events_;
    // The displays whose router cannot show them what they watch, by name:
    // /healthz names them without reading the whole wall.
    std::map<std::string, std::string> watchProblems_;
    std::uint64_t nextEventSequence_ = 1;
};

}  // namespace quon::web

#endif
