// display_model: every display of the host as its outputs show it, in one
// place between the engine and them. A component shows its source name by
// setting `text` and `statesheet` of one panel control ("TP"): control
// myMimic on panel 1 unless the wall names another for that display. The
// model hears the engine's events, each with its value (the property set,
// the tally and why, the first route, the destination watched, the
// notification), keeps one display_record per component, and tells each
// observer what changed with the record as it now stands. No observer asks
// the engine for a display.
//
// Threading: the host's thread, as every listener. Ownership: observers
// are the caller's, and outlive their subscription.
#ifndef QUON_DISPLAYS_DISPLAY_MODEL_H
#define QUON_DISPLAYS_DISPLAY_MODEL_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quon/engine/host_listener.h"

namespace quon {

// The panel control a display's text comes from.
struct display_control {
    std::string panel = "1";
    std::string control = "myMimic";
    bool operator==(const display_control& other) const { return panel == other.panel && control == other.control; }
    bool operator!=(const display_control& other) const { return !(*this == other); }
};

// A line-up, set by the host over what the component shows: every lamp
// lit, or the display's own name as its text (to find which screen is
// which).
enum class lineup_mode { none, lamps, name };

struct display_record {
    std::string name;  // the component's
    // The model's, shared by the displays that show the same control.
    const display_control* shows = nullptr;
    // The control's text, as the component set it; none until it sets it.
    std::optional<std::string> text;
    std::string statesheet;  // empty when none
    tally::status tally;
    std::unique_ptr<const tally_graph::reason> why;  // while lit; apart, as few displays are
    bool answered = false;  // a router has told it a route
    int router = 0;         // the first router and destination it watches; 0 when none
    int destination = 0;
    std::string notified;  // its last notification to the parent panel
    bool told = false;     // its text or state sheet has been set since it was met
    lineup_mode lineup = lineup_mode::none;
};

// What changed of a display, as observers are told.
enum class display_aspect {
    shown,     // text or state sheet set to another value, or set the first time
    reshown,   // text or state sheet set to the value it had
    tally,     // tally, and why
    answered,  // its first route
    watched,   // router and destination
    notified,  // a notification to the parent panel
    lineup,    // a line-up began or ended
};

class display_observer {
public:
    virtual ~display_observer() = default;
    virtual void displayChanged(const display_record& display, display_aspect what) = 0;
    virtual void displayGone(const std::string& /*name*/) {}
};

class display_model : public host_listener {
public:
    // The control `component`'s text comes from, from now on; until then
    // (and for a component no one names) myMimic on panel 1. A change
    // applies to what the component sets next.
    void showFrom(const std::string& component, display_control control);

    void subscribe(display_observer* observer);
    // Also from inside an observer's call.
    void unsubscribe(display_observer* observer);
    // Room for `displays` in all, made at once rather than as they come.
    void reserve(std::size_t displays) { displays_.reserve(displays); }

    // The display as it stands; null for a component the model has not met.
    const display_record* find(const std::string& name) const;

    void componentDestroyed(const std::string& name) override;
    void panelShown(const std::string& component, const panel_state& panel) override;
    void propertyChanged(const property_change& change) override;
    void answered(const std::string& component) override;
    void tallyChanged(const std::string& component, tally::status now, const tally_graph::reason* why) override;
    void watched(const std::string& component, int device, int first, int last, bool added) override;
    void parentNotified(const std::string& component, const std::string& text) override;

    // The host's line-up of one display (none ends it); false for a
    // component the model has not met.
    bool setLineup(const std::string& component, lineup_mode mode);

private:
    display_record& entry(const std::string& name);
    template <class Call>
    void tellEach(const Call& call);
    void tell(const display_record& display, display_aspect what);

    // Keyed by each record's own name: a wall holds many.
    std::unordered_map<std::string_view, display_record> displays_;
    // The controls the wall names, each once (a node's address is stable),
    // and which component shows which.
    std::vector<std::unique_ptr<display_control>> controls_;
    std::unordered_map<std::string, const display_control*> named_;
    const display_control default_{};
    std::vector<display_observer*> observers_;  // null: unsubscribed while told
    int telling_ = 0;                           // depth of tellEach
    // The display the last event was of: the engine's events come in runs
    // for one component (a node's address is stable).
    display_record* last_ = nullptr;
};

}  // namespace quon

#endif
