#include "quon/screens/display_queue.h"

namespace quon {

size_t display_queue::addDisplay(uint16_t screen, uint16_t index, const router_lost& lost) {
    displays_.push_back(display_state{});
    displays_.back().screen = screen;
    displays_.back().index = index;
    displays_.back().lost = lost;
    return displays_.size() - 1;
}

void display_queue::record(display_state& display, const std::string& text, const tally_lamps& lamps) {
    display.shown = true;
    display.recorded = true;
    display.text = text;
    display.lamps = lamps;
    codec_.encode(display.screen, display.index, text, lamps, display.message);
}

bool display_queue::show(size_t display, const std::string& text, const tally_lamps& lamps) {
    display_state& state = displays_[display];
    if (state.shown && state.source == text && state.sourceLamps == lamps) return false;
    state.source = text;
    state.sourceLamps = lamps;
    state.shown = true;
    return present(display);
}

bool display_queue::setRouterLost(size_t display, std::optional<clock::time_point> since, clock::time_point now) {
    display_state& state = displays_[display];
    state.lostSince = since;
    state.lostLong = since && now - *since >= state.lost.after;
    // Before its first name the screen shows what it showed before: nothing
    // of this host's to mark.
    return state.shown && present(display);
}

size_t display_queue::advance(clock::time_point now) {
    size_t changed = 0;
    for (size_t display = 0; display < displays_.size(); ++display) {
        display_state& state = displays_[display];
        if (!state.lostSince || state.lostLong || now - *state.lostSince < state.lost.after) continue;
        state.lostLong = true;
        if (state.shown && present(display)) ++changed;
    }
    return changed;
}

std::optional<display_queue::clock::time_point> display_queue::nextChange() const {
    std::optional<clock::time_point> next;
    for (const display_state& state : displays_) {
        if (!state.lostSince || state.lostLong) continue;
        if (state.lost.treatment != lost_treatment::blank && state.lost.treatment != lost_treatment::text) continue;
        const clock::time_point due = *state.lostSince + state.lost.after;
        if (!next || due < *next) next = due;
    }
    return next;
}

bool display_queue::present(size_t display) {
    display_state& state = displays_[display];
    lost_treatment applied = lost_treatment::keep;
    std::string text = state.source;
    tally_lamps lamps = state.sourceLamps;
    if (state.lostSince) {
        switch (state.lost.treatment) {
        case lost_treatment::keep:
            break;
        case lost_treatment::mark:
            applied = lost_treatment::mark;
            lamps = lightUp(lamps, {state.lost.markLamp, state.lost.markColour});
            break;
        case lost_treatment::blank:
            if (!state.lostLong) break;
            applied = lost_treatment::blank;
            text.clear();
            lamps = tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, lamps.brightness};
            break;
        case lost_treatment::text:
            if (!state.lostLong) break;
            applied = lost_treatment::text;
            text = state.lost.text;
            break;
        }
    }
    state.applied = applied;
    if (state.recorded && state.text == text && state.lamps == lamps) return false;
    record(state, text, lamps);
    enqueue(display);
    return true;
}

void display_queue::refresh() {
    for (size_t display = 0; display < displays_.size(); ++display) {
        if (displays_[display].shown) enqueue(display);
    }
}

void display_queue::setStandby(bool standby) {
    if (standby == standby_) return;
    standby_ = standby;
    if (standby) {
        drop();
    } else {
        refresh();
    }
}

size_t display_queue::blank(const std::function<bool(size_t display)>& pick) {
    size_t blanked = 0;
    for (size_t display = 0; display < displays_.size(); ++display) {
        if (!pick(display)) continue;
        record(displays_[display], "", tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3});
        enqueue(display);
        ++blanked;
    }
    return blanked;
}

void display_queue::drop() {
    for (size_t display : queue_) displays_[display].queued = false;
    queue_.clear();
}

void display_queue::enqueue(size_t display) {
    if (standby_) return;
    display_state& state = displays_[display];
    if (state.queued) return;
    state.queued = true;
    queue_.push_back(display);
}

const display_queue::display_state& display_queue::takeFront() {
    display_state& display = displays_[queue_.front()];
    queue_.pop_front();
    display.queued = false;
    return display;
}

bool display_queue::nextPacket(std::string& packet) {
    if (queue_.empty()) return false;
    codec_.begin(packet, takeFront().message);
    while (!queue_.empty() && codec_.append(packet, displays_[queue_.front()].message)) takeFront();
    codec_.finish(packet);
    return true;
}

}  // namespace quon
