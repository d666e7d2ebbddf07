#include "quon/routers/swp08/swp08_client.h"

#include <algorithm>
#include <cstdio>

#include "quon/routers/label_text.h"

namespace quon::routers {

namespace {

// Bytes with no good message among them after which the stream is taken as
// beyond resynchronising.
constexpr std::size_t max_bytes_without_message = 16384;

}  // namespace

swp08_client::swp08_client(const router_settings& settings, const swp08_options& options)
    : answerWait_(options.answerWait),
      at_{options.matrix - 1, options.level - 1},
      nameLength_(swp08::nameLengthCode(options.nameLength) ? options.nameLength : 8),
      known_{std::clamp(settings.sources, 0, swp08::extended_form_max + 1),
             std::clamp(settings.destinations, 0, swp08::extended_form_max + 1)} {}

void swp08_client::begin(router_clock::time_point now, router_actions& out) {
    now_ = now;
    out_ = &out;
}

void swp08_client::send(std::string bytes) {
    if (active()) out_->emplace_back(std::in_place_type<act::send>, act::send{std::move(bytes)});
}

void swp08_client::sendMessage(const std::vector<std::uint8_t>& data) {
    const std::vector<std::uint8_t> bytes = swp08::frame(data);
    send(std::string(bytes.begin(), bytes.end()));
}

void swp08_client::fail(const std::string& why) {
    if (!active()) return;
    out_->emplace_back(std::in_place_type<act::fail>, act::fail{why});
    closed();
}

void swp08_client::reportProblem(const std::string& cause, const std::string& text) {
    if (active()) out_->emplace_back(std::in_place_type<act::problem>, act::problem{cause, text});
}

void swp08_client::armTimer(std::chrono::milliseconds wait) {
    if (!active()) return;
    deadline_ = now_ + wait;
    out_->emplace_back(std::in_place_type<act::arm_timer>, act::arm_timer{*deadline_});
}

void swp08_client::closed() {
    open_ = false;
    phase_ = phase::names;
    resyncing_ = false;
    deadline_.reset();
}

bool swp08_client::addressValid() const {
    return at_.matrix >= 0 && at_.matrix <= 255 && at_.level >= 0 && at_.level <= 255;
}

bool swp08_client::requestRoute(int destination, int source, router_actions& out) {
    const auto valid = [](int number) { return number >= 1 && number <= swp08::extended_form_max + 1; };
    if (!active() || phase_ != phase::up || !valid(destination) || !valid(source)) return false;
    if ((size(destination_labels) > 0 && destination > size(destination_labels)) ||
        (size(source_labels) > 0 && source > size(source_labels)))
        return false;
    out_ = &out;
    sendMessage(swp08::connectMessage(at_, destination - 1, source - 1));
    return true;
}

void swp08_client::poll(int firstDestination, int lastDestination, router_actions& out) {
    if (!active() || phase_ != phase::up) return;
    out_ = &out;
    interrogate(std::max(firstDestination, 1), std::min(lastDestination, swp08::extended_form_max + 1));
}

void swp08_client::interrogate(int first, int last) {
    std::string batch;
    for (int destination = first; destination <= last; ++destination) {
        const std::vector<std::uint8_t> bytes = swp08::frame(swp08::interrogateMessage(at_, destination - 1));
        batch.append(bytes.begin(), bytes.end());
    }
    send(std::move(batch));
}

// The numbers of a database: the device file's, or the highest named.
int swp08_client::size(int database) const {
    const std::size_t d = static_cast<std::size_t>(database);
    return known_[d] > 0 ? known_[d] : highest_[d];
}

void swp08_client::connected(router_clock::time_point now, router_actions& out) {
    begin(now, out);
    open_ = true;
    deadline_.reset();
    reader_.reset();
    phase_ = phase::names;
    for (int database : {source_labels, destination_labels}) {
        const std::size_t d = static_cast<std::size_t>(database);
        highest_[d] = 0;
        named_[d].assign(static_cast<std::size_t>(known_[d]), false);
        namedCount_[d] = 0;
        namesComplete_[d] = false;
    }
    unanswered_.clear();
    remaining_ = 0;
    bytesWithoutMessage_ = 0;
    keepAliveAnswersDue_ = 0;
    resyncing_ = false;
    heard_ = false;
    if (!addressValid()) {
        fail("matrix and level must be within 1..256");
        return;
    }
    sendMessage(swp08::namesRequest(true, at_, nameLength_));
    sendMessage(swp08::namesRequest(false, at_, nameLength_));
    armTimer(answerWait_);
}

void swp08_client::timer(router_clock::time_point now, router_actions& out) {
    if (!active() || !deadline_ || now < *deadline_) return;
    begin(now, out);
    deadline_.reset();
    if (phase_ == phase::names) {
        // A router without names still acknowledges the requests; one that
        // neither acknowledged nor answered them did not take them (it hung,
        // and may push again since): taken as up it would show the names of
        // the last connection beside this one's routes, and stay without size
        // or names after it answers again.
        if (!heard_) {
            fail("no answer to the names requests");
            return;
        }
        readRoutes();
    } else if (phase_ == phase::routes) {
        // Names and then not one route: the router hung between them. Up,
        // it would show this connection's names beside the last one's
        // routes.
        if (remaining_ == static_cast<int>(unanswered_.size())) {
            fail("no answer to the interrogates after the names");
            return;
        }
        goUp();
    } else if (resyncing_) {
        // Not one route, as at connect: the router hung or lost the
        // interrogates. Ended here, the read would tell the names it gave
        // beside the routes of before the hang, and answers that came later
        // would be told as they came, a name before the route it belongs
        // with. The next connection reads both again, as one read.
        if (remaining_ == static_cast<int>(unanswered_.size())) {
            fail("no answer to the interrogates of the resync");
            return;
        }
        endResync();
    }
}

void swp08_client::readRoutes() {
    phase_ = phase::routes;
    const char* const keys[] = {"DatabaseSize_0", "DatabaseSize_1"};
    const char* const what[] = {"source", "destination"};
    for (int database : {source_labels, destination_labels}) {
        const std::size_t d = static_cast<std::size_t>(database);
        if (known_[d] > 0 && namedCount_[d] < known_[d])
            reportProblem(std::string("few names ") + what[d],
                          "the router named " + std::to_string(namedCount_[d]) + " of the " +
                              std::to_string(known_[d]) + " " + what[d] + "s the device file gives (" + keys[d] + ")");
    }
    if (!interrogateAll()) goUp();
}

bool swp08_client::interrogateAll() {
    const int destinations = size(destination_labels);
    unanswered_.assign(static_cast<std::size_t>(destinations), true);
    remaining_ = destinations;
    if (remaining_ == 0) return false;
    interrogate(1, destinations);
    armTimer(answerWait_);
    return true;
}

void swp08_client::reportFewRoutes() {
    const int interrogated = static_cast<int>(unanswered_.size());
    if (remaining_ > 0)
        reportProblem("few routes", "the router answered " + std::to_string(interrogated - remaining_) + " of the " +
                                        std::to_string(interrogated) + " destinations interrogated");
}

void swp08_client::goUp() {
    phase_ = phase::up;
    deadline_.reset();
    reportFewRoutes();
    // What the router showed of its size; a router that showed less than
    // the device file gives was reported above.
    if (active()) out_->emplace_back(std::in_place_type<act::up>, act::up{std::max(highest_[0], known_[0]), std::max(highest_[1], known_[1])});
}

void swp08_client::resync(router_clock::time_point now, router_actions& out) {
    if (!active() || phase_ != phase::up) return;
    begin(now, out);
    // The router answers in the order asked: the names, then every route.
    // The read is whole when each destination has answered, or when nothing
    // more came for answerWait.
    out.emplace_back(std::in_place_type<act::read_start>);
    resyncing_ = true;
    sendMessage(swp08::namesRequest(true, at_, nameLength_));
    sendMessage(swp08::namesRequest(false, at_, nameLength_));
    if (!interrogateAll()) endResync();
}

void swp08_client::endResync() {
    resyncing_ = false;
    deadline_.reset();
    reportFewRoutes();
    if (active()) out_->emplace_back(std::in_place_type<act::read_end>);
}

void swp08_client::keepAlive(router_clock::time_point now, router_actions& out) {
    if (!active() || phase_ != phase::up) return;
    begin(now, out);
    ++keepAliveAnswersDue_;
    sendMessage(swp08::interrogateMessage(at_, 0));
}

void swp08_client::bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) {
    if (!active()) return;
    begin(now, out);
    reader_.feed(data, size, *this);
    if (active() && bytesWithoutMessage_ > max_bytes_without_message)
        fail("no valid message among " + std::to_string(max_bytes_without_message) + " bad bytes or messages");
}

void swp08_client::onAck() {
    heard_ = true;
    bytesWithoutMessage_ = 0;
}

void swp08_client::onNak() {
    heard_ = true;
    bytesWithoutMessage_ = 0;
    reportProblem("the router refused a message (NAK)");
}

void swp08_client::onFrameProblem(swp08::frame_problem problem) {
    ++bytesWithoutMessage_;
    if (problem == swp08::frame_problem::bad_checksum || problem == swp08::frame_problem::bad_byte_count)
        send(std::string{static_cast<char>(swp08::dle), static_cast<char>(swp08::nak)});
    reportProblem(swp08::describe(problem));
}

void swp08_client::onFrame(const std::vector<std::uint8_t>& data) {
    if (!active()) return;
    bytesWithoutMessage_ = 0;
    send(std::string{static_cast<char>(swp08::dle), static_cast<char>(swp08::ack)});
    if (data.empty()) return;
    const std::uint8_t command = data[0];
    if (const std::optional<swp08::crosspoint_message> crosspoint = swp08::decodeCrosspoint(data)) {
        if (crosspoint->command == swp08::tally || crosspoint->command == swp08::connected) {
            takeCrosspoint(*crosspoint);
        } else {
            reportProblem("a request from the router, which the link does not serve");
        }
    } else if (const std::optional<swp08::names_message> names = swp08::decodeNames(data)) {
        takeNames(*names);
    } else if ((command & 0x7F) >= swp08::interrogate && (command & 0x7F) <= swp08::connected) {
        reportProblem("malformed crosspoint", "a malformed crosspoint message");
    } else if (command == swp08::source_names || command == swp08::destination_names) {
        reportProblem("malformed names", "a malformed names message");
    } else {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", command);
        reportProblem("unknown command",
                      std::string("an unknown command ") + code + " (further unknown commands are not reported)");
    }
}

void swp08_client::takeCrosspoint(const swp08::crosspoint_message& crosspoint) {
    if (crosspoint.at.matrix != at_.matrix || crosspoint.at.level != at_.level) return;
    // The answer to a keep-alive is not news unless the route changed.
    bool newsOnlyIfChanged = false;
    if (crosspoint.destination == 0 && keepAliveAnswersDue_ > 0) {
        --keepAliveAnswersDue_;
        newsOnlyIfChanged = true;
        out_->emplace_back(std::in_place_type<act::answered>);
    }
    out_->emplace_back(std::in_place_type<act::crosspoint>, act::crosspoint{crosspoint.destination + 1, crosspoint.source + 1, newsOnlyIfChanged});
    if (phase_ != phase::routes && !resyncing_) return;
    const std::size_t index = static_cast<std::size_t>(crosspoint.destination);
    if (index < unanswered_.size() && unanswered_[index]) {
        unanswered_[index] = false;
        --remaining_;
    }
    if (remaining_ > 0) {
        armTimer(answerWait_);
    } else if (resyncing_) {
        endResync();
    } else {
        goUp();
    }
}

void swp08_client::takeNames(const swp08::names_message& names) {
    if (names.matrix != at_.matrix || (names.sources && names.level != at_.level)) return;
    heard_ = true;
    const int database = names.sources ? source_labels : destination_labels;
    const std::size_t d = static_cast<std::size_t>(database);
    for (std::size_t i = 0; i < names.names.size(); ++i) {
        const int index = names.first + static_cast<int>(i) + 1;
        const cleaned_label cleaned = cleanLabel(names.names[i]);
        if (cleaned.repaired)
            reportProblem(
                "a name with control characters or bytes that are not UTF-8",
                repairedLabelText((names.sources ? "source " : "destination ") + std::to_string(index) + "'s name",
                                  names.names[i], cleaned));
        out_->emplace_back(std::in_place_type<act::label>, act::label{database, index, cleaned.text});
        // Names past the known size may still come while the routes are
        // read: they tell a router larger than the device file.
        if (phase_ == phase::up) continue;
        highest_[d] = std::max(highest_[d], index);
        if (phase_ == phase::names && index <= known_[d] && !named_[d][static_cast<std::size_t>(index - 1)]) {
            named_[d][static_cast<std::size_t>(index - 1)] = true;
            ++namedCount_[d];
        }
    }
    // Names still coming are answers still coming: the wait for the routes
    // after them starts at the last.
    if (resyncing_) armTimer(answerWait_);
    if (phase_ != phase::names) return;
    if (known_[d] > 0 ? namedCount_[d] == known_[d]
                      : static_cast<int>(names.names.size()) < swp08::namesPerMessage(names.nameLength))
        namesComplete_[d] = true;
    if (namesComplete_[0] && namesComplete_[1]) {
        readRoutes();
    } else {
        armTimer(answerWait_);
    }
}

}  // namespace quon::routers
