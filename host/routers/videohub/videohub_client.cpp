#include "quon/routers/videohub/videohub_client.h"

#include <algorithm>

#include "quon/routers/label_text.h"

namespace quon::routers {

namespace {

constexpr int max_videohub_size = 65536;

}  // namespace

videohub::reader_limits videohub_client::readerLimits(const router_settings& settings) {
    videohub::reader_limits limits;
    const int known = std::min(std::max(settings.sources, settings.destinations), max_videohub_size);
    limits.maxBlockLines = std::max(limits.maxBlockLines, static_cast<std::size_t>(std::max(known, 0)));
    return limits;
}

void videohub_client::send(std::string bytes) {
    if (active()) out_->emplace_back(std::in_place_type<act::send>, act::send{std::move(bytes)});
}

void videohub_client::reportProblem(const std::string& cause, const std::string& text) {
    if (active()) out_->emplace_back(std::in_place_type<act::problem>, act::problem{cause, text});
}

void videohub_client::closed() {
    open_ = false;
    up_ = false;
    resyncing_ = false;
    queryOut_ = false;
    deadline_.reset();
}

bool videohub_client::requestRoute(int destination, int source, router_actions& out) {
    if (!up_ || destination < 1 || source < 1 || destination > max_videohub_size || source > max_videohub_size)
        return false;
    if ((outputs_ > 0 && destination > outputs_) || (inputs_ > 0 && source > inputs_)) return false;
    out_ = &out;
    send(videohub::routeRequest(destination - 1, source - 1));
    return true;
}

// The protocol has no partial query: the whole routing block comes back.
void videohub_client::poll(int firstDestination, int lastDestination, router_actions& out) {
    if (!up_ || lastDestination < firstDestination || queryOut_) return;
    out_ = &out;
    send(videohub::query(videohub::routing_header));
    queryOut_ = true;
}

void videohub_client::connected(router_clock::time_point now, router_actions& out) {
    out_ = &out;
    open_ = true;
    up_ = false;
    queryOut_ = false;
    resyncing_ = false;
    pingsOut_ = 0;
    labelsRead_ = routingRead_ = false;
    reader_.reset();
    inputs_ = outputs_ = 0;
    deadline_ = now + preludeLimit_;
    out.emplace_back(std::in_place_type<act::arm_timer>, act::arm_timer{*deadline_});
}

void videohub_client::timer(router_clock::time_point now, router_actions& out) {
    if (!active() || up_ || !deadline_ || now < *deadline_) return;
    out_ = &out;
    if (routingRead_) {
        out.emplace_back(std::in_place_type<act::missing>,
                         act::missing{"the input labels did not come with the routing; showing numbers"});
        goUp();
        return;
    }
    out.emplace_back(std::in_place_type<act::fail>, act::fail{"no routing received within " + std::to_string(preludeLimit_.count()) + " ms"});
    closed();
}

void videohub_client::bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point, router_actions& out) {
    if (!active()) return;
    out_ = &out;
    reader_.feed(std::string_view(reinterpret_cast<const char*>(data), size), *this);
}

void videohub_client::keepAlive(router_clock::time_point, router_actions& out) {
    if (!up_) return;
    out_ = &out;
    send(videohub::ping());
    ++pingsOut_;
}

void videohub_client::resync(router_clock::time_point, router_actions& out) {
    if (!up_) return;
    out_ = &out;
    // The answers come in the order asked: the read is whole at the routing
    // that follows the input labels.
    out.emplace_back(std::in_place_type<act::read_start>);
    resyncing_ = true;
    labelsRead_ = routingRead_ = false;
    send(videohub::query(videohub::input_labels_header));
    send(videohub::query(videohub::output_labels_header));
    send(videohub::query(videohub::routing_header));
    queryOut_ = true;
}

void videohub_client::goUp() {
    if (up_) return;
    up_ = true;
    deadline_.reset();
    out_->emplace_back(std::in_place_type<act::up>, act::up{inputs_, outputs_});
}

// The routing came after the input labels (at connect, in either order): at
// connect the router is up; in a resync the read ends.
void videohub_client::readWhole() {
    if (!up_) {
        goUp();
    } else if (resyncing_) {
        resyncing_ = false;
        out_->emplace_back(std::in_place_type<act::read_end>);
    }
}

void videohub_client::onBlock(const videohub::block& block) {
    if (!active()) return;
    const std::string_view header = block.header;
    if (header == videohub::device_header) {
        readSizes(block);
    } else if (header == videohub::input_labels_header) {
        readLabels(block, source_labels, inputs_);
        // In a resync, the answer is the whole block, a push a line or a few.
        if (!up_ || inputs_ == 0 || block.lines.size() >= static_cast<std::size_t>(inputs_)) labelsRead_ = true;
        if (!up_ && routingRead_) goUp();
    } else if (header == videohub::output_labels_header) {
        readLabels(block, destination_labels, outputs_);
    } else if (header == videohub::routing_header) {
        queryOut_ = false;
        readRouting(block);
        routingRead_ = true;
        if (labelsRead_) readWhole();
    } else if (header == videohub::end_prelude_header) {
        goUp();
    } else if (header == videohub::nak_header) {
        reportProblem("the router refused a request (NAK)");
    }
    // Each command is acknowledged in turn: while a ping is out, its answer.
    if ((header == videohub::ack_header || header == videohub::nak_header) && pingsOut_ > 0) {
        --pingsOut_;
        out_->emplace_back(std::in_place_type<act::answered>);
    }
    // Everything else (ACK, locks, other blocks) is not needed here.
}

void videohub_client::readSizes(const videohub::block& block) {
    const auto number = [&](std::string_view key) {
        const std::optional<std::string_view> value = videohub::field(block, key);
        if (!value) return 0;
        const std::optional<int> parsed = videohub::parseNumber(*value, max_videohub_size);
        if (!parsed) reportProblem("device size", "an unreadable \"" + std::string(key) + "\" in the device block");
        return parsed.value_or(0);
    };
    inputs_ = number("Video inputs");
    outputs_ = number("Video outputs");
}

bool videohub_client::inRange(int index, int size) {
    if (index < size || (size == 0 && index < max_videohub_size)) return true;
    reportProblem("an index outside the router's size");
    return false;
}

void videohub_client::readLabels(const videohub::block& block, int database, int size) {
    for (const std::string& line : block.lines) {
        const std::optional<videohub::item> item = videohub::parseItem(line);
        if (!item) {
            reportProblem("malformed " + block.header, "a malformed line in " + block.header);
            continue;
        }
        if (!inRange(item->index, size)) continue;
        cleaned_label cleaned = cleanLabel(item->rest);
        if (cleaned.repaired)
            reportProblem(
                "a label with control characters or bytes that are not UTF-8",
                repairedLabelText((database == 0 ? "input " : "output ") + std::to_string(item->index + 1) + "'s label",
                                  item->rest, cleaned));
        out_->emplace_back(std::in_place_type<act::label>, act::label{database, item->index + 1, cleaned.text});
    }
}

void videohub_client::readRouting(const videohub::block& block) {
    for (const std::string& line : block.lines) {
        const std::optional<videohub::item> item = videohub::parseItem(line);
        const std::optional<int> input = item ? videohub::parseNumber(item->rest, max_videohub_size - 1) : std::nullopt;
        if (!input) {
            reportProblem("malformed " + block.header, "a malformed line in " + block.header);
            continue;
        }
        if (!inRange(item->index, outputs_) || !inRange(*input, inputs_)) continue;
        out_->emplace_back(std::in_place_type<act::crosspoint>, act::crosspoint{item->index + 1, *input + 1, false});
    }
}

}  // namespace quon::routers
