#include "quon/live/display_feed.h"

namespace quon {

display_feed::display_feed(const host_engine& engine, const umd_config* tallies, sink changed)
    : display_watch([this](const std::string& component) {
          if (const std::optional<display_change> display = read(component)) changed_(*display);
      }),
      engine_(engine),
      tallies_(tallies),
      changed_(std::move(changed)) {}

std::optional<display_change> display_feed::read(const std::string& component) const {
    const auto text = engine_.property(component, display_panel, display_control, "text");
    if (!text) return std::nullopt;
    display_change display;
    display.name = component;
    display.text = *text;
    display.statesheet = engine_.property(component, display_panel, display_control, "statesheet").value_or("");
    display.lamps = tallies_ ? tallies_->lampsFor(display.statesheet) : tally_lamps{};
    display.tally = engine_.tallyOf(component);
    if (display.tally != tally::state::off) {
        const tally_lights& lights = tallies_ ? tallies_->lightsFor(component) : tally_lights{};
        display.lamps =
            lightUp(display.lamps, display.tally == tally::state::program ? lights.program : lights.preview);
    }
    display.answered = engine_.answered(component);
    return display;
}

void display_feed::tallyChanged(const std::string& component, tally::state) {
    if (const std::optional<display_change> display = read(component)) changed_(*display);
}

}  // namespace quon
