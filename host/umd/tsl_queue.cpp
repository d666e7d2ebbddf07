#include "quon/umd/tsl_queue.h"

#include "quon/umd/tsl_packet.h"

namespace quon {

tsl_queue::tsl_queue(umd_protocol protocol, bool batch, const tsl31_tally_map& tally31)
    : protocol_(protocol), batch_(batch), tally31_(tally31) {}

size_t tsl_queue::addDisplay(uint16_t screen, uint16_t index) {
    displays_.push_back(display_state{});
    displays_.back().screen = screen;
    displays_.back().index = index;
    return displays_.size() - 1;
}

void tsl_queue::record(display_state& display, const std::string& text, const tally_lamps& lamps) {
    display.shown = true;
    display.source = text;
    display.lamps = lamps;
    if (protocol_ == umd_protocol::tsl5) {
        display.text5 = tsl5Text(text);
    } else {
        display.text31 = tsl31Text(text);
    }
    anyShown_ = true;
}

bool tsl_queue::show(size_t display, const std::string& text, const tally_lamps& lamps) {
    display_state& state = displays_[display];
    if (state.shown && state.source == text && state.lamps == lamps) return false;
    record(state, text, lamps);
    enqueue(display);
    return true;
}

void tsl_queue::refresh() {
    for (size_t display = 0; display < displays_.size(); ++display) {
        if (displays_[display].shown) enqueue(display);
    }
}

void tsl_queue::setStandby(bool standby) {
    if (standby == standby_) return;
    standby_ = standby;
    if (standby) {
        drop();
    } else {
        refresh();
    }
}

size_t tsl_queue::blank(const std::function<bool(size_t display)>& pick) {
    size_t blanked = 0;
    for (size_t display = 0; display < displays_.size(); ++display) {
        if (!pick(display)) continue;
        record(displays_[display], "", tally_lamps{lamp_colour::off, lamp_colour::off, lamp_colour::off, 3});
        enqueue(display);
        ++blanked;
    }
    return blanked;
}

void tsl_queue::drop() {
    for (size_t display : queue_) displays_[display].queued = false;
    queue_.clear();
}

void tsl_queue::enqueue(size_t display) {
    if (standby_) return;
    display_state& state = displays_[display];
    if (state.queued) return;
    state.queued = true;
    queue_.push_back(display);
}

const tsl_queue::display_state& tsl_queue::takeFront() {
    display_state& display = displays_[queue_.front()];
    queue_.pop_front();
    display.queued = false;
    return display;
}

bool tsl_queue::nextPacket(std::string& packet) {
    if (queue_.empty()) return false;
    const display_state& first = takeFront();
    if (protocol_ == umd_protocol::tsl31) {
        packet = tsl31Packet(static_cast<uint8_t>(first.index), tsl31Control(first.lamps, tally31_), first.text31);
        return true;
    }
    beginTsl5Packet(packet, first.screen, first.text5.utf16);
    appendTsl5Message(packet, first.index, first.lamps, first.text5);
    while (batch_ && !queue_.empty()) {
        const display_state& next = displays_[queue_.front()];
        if (next.screen != first.screen || next.text5.utf16 != first.text5.utf16 ||
            packet.size() + tsl5MessageSize(next.text5) > tsl5_max_packet_size) {
            break;
        }
        appendTsl5Message(packet, next.index, next.lamps, takeFront().text5);
    }
    finishTsl5Packet(packet);
    return true;
}

}  // namespace quon
