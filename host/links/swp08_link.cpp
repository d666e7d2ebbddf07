// The SW-P-08 link. SW-P-08 has no message that tells a router's size: the
// sizes are the device file's where it gives them, and otherwise the highest
// name number the router answers. On connect the link asks for every source
// and destination name of its matrix and level. A router may send its names
// one to a message or in batches of any size, so a database is complete
// when every number up to its known size has been named (with no known
// size: when a names message holds fewer names than fit), or when nothing
// more came for answerWait. Then it interrogates every destination, goes up
// when each is answered (or nothing more came for answerWait), and from then
// on takes the tallies the router pushes. A router that names or answers
// fewer than the device file says is reported once per connection.
// Keep-alive: an interrogate of destination 1, whose answer is reported
// only when it differs from the route held.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "link_session.h"
#include "quon/links/label_text.h"
#include "quon/links/swp08_protocol.h"

namespace quon::links {

namespace {

// Bytes with no good message among them after which the stream is taken as
// beyond resynchronising.
constexpr std::size_t max_bytes_without_message = 16384;

class swp08_session final : public link_session, private swp08::frame_sink {
public:
    swp08_session(boost::asio::io_context& io, const link_settings& settings, router_link_listener& listener)
        : link_session(io, settings, listener, swp08::default_port),
          at_{settings.matrix - 1, settings.level - 1},
          nameLength_(swp08::nameLengthCode(settings.nameLength) ? settings.nameLength : 8),
          known_{std::clamp(settings.sources, 0, swp08::extended_form_max + 1),
                 std::clamp(settings.destinations, 0, swp08::extended_form_max + 1)} {}

    bool requestRoute(int destination, int source) override {
        if (!up() || !valid(destination) || !valid(source)) return false;
        if ((size(destination_labels) > 0 && destination > size(destination_labels)) ||
            (size(source_labels) > 0 && source > size(source_labels)))
            return false;
        sendMessage(swp08::connectMessage(at_, destination - 1, source - 1));
        return true;
    }

    void poll(int firstDestination, int lastDestination) override {
        if (!up()) return;
        interrogate(std::max(firstDestination, 1), std::min(lastDestination, swp08::extended_form_max + 1));
    }

private:
    enum class phase { names, routes, up };

    static bool valid(int number) { return number >= 1 && number <= swp08::extended_form_max + 1; }

    bool addressValid() const { return at_.matrix >= 0 && at_.matrix <= 255 && at_.level >= 0 && at_.level <= 255; }

    void sendMessage(const std::vector<std::uint8_t>& data) {
        const std::vector<std::uint8_t> bytes = swp08::frame(data);
        send(bytes.data(), bytes.size());
    }

    void interrogate(int first, int last) {
        std::string batch;
        for (int destination = first; destination <= last; ++destination) {
            const std::vector<std::uint8_t> bytes = swp08::frame(swp08::interrogateMessage(at_, destination - 1));
            batch.append(bytes.begin(), bytes.end());
        }
        send(batch);
    }

    // The numbers of a database: the device file's, or the highest named.
    int size(int database) const {
        const std::size_t d = static_cast<std::size_t>(database);
        return known_[d] > 0 ? known_[d] : highest_[d];
    }

    void onConnected() override {
        reader_.reset();
        phase_ = phase::names;
        for (int database : {source_labels, destination_labels}) {
            const std::size_t d = static_cast<std::size_t>(database);
            highest_[d] = 0;
            named_[d].assign(static_cast<std::size_t>(known_[d]), false);
            namedCount_[d] = 0;
            namesComplete_[d] = false;
        }
        bytesWithoutMessage_ = 0;
        keepAliveAnswersDue_ = 0;
        heard_ = false;
        if (!addressValid()) {
            fail("matrix and level must be within 1..256");
            return;
        }
        sendMessage(swp08::namesRequest(true, at_, nameLength_));
        sendMessage(swp08::namesRequest(false, at_, nameLength_));
        armPhaseTimer(settings_.answerWait);
    }

    void onPhaseTimer() override {
        if (phase_ == phase::names) {
            // A router without names still acknowledges the requests; one
            // that sent nothing at all is not answering, and taken as up it
            // would stay without size or names after it answers again.
            if (!heard_) {
                fail("no answer to the names requests");
                return;
            }
            readRoutes();
        } else if (phase_ == phase::routes) {
            goUp();
        }
    }

    void readRoutes() {
        phase_ = phase::routes;
        const char* const keys[] = {"DatabaseSize_0", "DatabaseSize_1"};
        const char* const what[] = {"source", "destination"};
        for (int database : {source_labels, destination_labels}) {
            const std::size_t d = static_cast<std::size_t>(database);
            if (known_[d] > 0 && namedCount_[d] < known_[d])
                reportProblem(std::string("few names ") + what[d],
                              "the router named " + std::to_string(namedCount_[d]) + " of the " +
                                  std::to_string(known_[d]) + " " + what[d] + "s the device file gives (" + keys[d] +
                                  ")");
        }
        const int destinations = size(destination_labels);
        unanswered_.assign(static_cast<std::size_t>(destinations), true);
        remaining_ = destinations;
        if (remaining_ == 0) {
            goUp();
            return;
        }
        interrogate(1, destinations);
        armPhaseTimer(settings_.answerWait);
    }

    void goUp() {
        phase_ = phase::up;
        const int interrogated = static_cast<int>(unanswered_.size());
        if (remaining_ > 0)
            reportProblem("few routes", "the router answered " + std::to_string(interrogated - remaining_) + " of the " +
                                            std::to_string(interrogated) + " destinations interrogated");
        // What the router showed of its size; a router that showed less than
        // the device file gives was reported above.
        declareUp(std::max(highest_[0], known_[0]), std::max(highest_[1], known_[1]));
    }

    void onResync() override {
        sendMessage(swp08::namesRequest(true, at_, nameLength_));
        sendMessage(swp08::namesRequest(false, at_, nameLength_));
        interrogate(1, size(destination_labels));
    }

    void onKeepAlive() override {
        ++keepAliveAnswersDue_;
        sendMessage(swp08::interrogateMessage(at_, 0));
    }

    void onBytes(const std::uint8_t* bytes, std::size_t size) override {
        reader_.feed(bytes, size, *this);
        if (active() && bytesWithoutMessage_ > max_bytes_without_message)
            fail("no valid message among " + std::to_string(max_bytes_without_message) + " bad bytes or messages");
    }

    void onAck() override {
        heard_ = true;
        bytesWithoutMessage_ = 0;
    }

    void onNak() override {
        heard_ = true;
        bytesWithoutMessage_ = 0;
        reportProblem("the router refused a message (NAK)");
    }

    void onFrameProblem(swp08::frame_problem problem) override {
        ++bytesWithoutMessage_;
        if (problem == swp08::frame_problem::bad_checksum || problem == swp08::frame_problem::bad_byte_count) {
            const std::uint8_t reply[] = {swp08::dle, swp08::nak};
            send(reply, sizeof reply);
        }
        reportProblem(swp08::describe(problem));
    }

    void onFrame(const std::vector<std::uint8_t>& data) override {
        if (!active()) return;
        heard_ = true;
        bytesWithoutMessage_ = 0;
        const std::uint8_t reply[] = {swp08::dle, swp08::ack};
        send(reply, sizeof reply);
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

    void takeCrosspoint(const swp08::crosspoint_message& crosspoint) {
        if (crosspoint.at.matrix != at_.matrix || crosspoint.at.level != at_.level) return;
        // The answer to a keep-alive is not news unless the route changed.
        if (crosspoint.destination == 0 && keepAliveAnswersDue_ > 0) {
            --keepAliveAnswersDue_;
            if (source(1) == crosspoint.source + 1) return;
        }
        reportCrosspoint(crosspoint.destination + 1, crosspoint.source + 1);
        if (phase_ != phase::routes || !active()) return;
        const std::size_t index = static_cast<std::size_t>(crosspoint.destination);
        if (index < unanswered_.size() && unanswered_[index]) {
            unanswered_[index] = false;
            --remaining_;
        }
        if (remaining_ == 0) {
            goUp();
        } else {
            armPhaseTimer(settings_.answerWait);
        }
    }

    void takeNames(const swp08::names_message& names) {
        if (names.matrix != at_.matrix || (names.sources && names.level != at_.level)) return;
        const int database = names.sources ? source_labels : destination_labels;
        const std::size_t d = static_cast<std::size_t>(database);
        for (std::size_t i = 0; i < names.names.size() && active(); ++i) {
            const int index = names.first + static_cast<int>(i) + 1;
            const cleaned_label cleaned = cleanLabel(names.names[i]);
            if (cleaned.repaired)
                reportProblem("a name with control characters or bytes that are not UTF-8",
                              repairedLabelText((names.sources ? "source " : "destination ") + std::to_string(index) +
                                                    "'s name",
                                                names.names[i], cleaned));
            reportLabel(database, index, cleaned.text);
            // Names past the known size may still come while the routes
            // are read: they tell a router larger than the device file.
            if (phase_ == phase::up) continue;
            highest_[d] = std::max(highest_[d], index);
            if (phase_ == phase::names && index <= known_[d] && !named_[d][static_cast<std::size_t>(index - 1)]) {
                named_[d][static_cast<std::size_t>(index - 1)] = true;
                ++namedCount_[d];
            }
        }
        if (phase_ != phase::names || !active()) return;
        if (known_[d] > 0 ? namedCount_[d] == known_[d]
                          : static_cast<int>(names.names.size()) < swp08::namesPerMessage(names.nameLength))
            namesComplete_[d] = true;
        if (namesComplete_[0] && namesComplete_[1]) {
            readRoutes();
        } else {
            armPhaseTimer(settings_.answerWait);
        }
    }

    const swp08::address at_;
    const int nameLength_;
    const int known_[2];  // by database: the device file's size, 0 when it gives none
    swp08::frame_reader reader_;
    phase phase_ = phase::names;
    // By database, on this connection: the highest number named, which
    // numbers up to the known size were named, and how many.
    int highest_[2] = {0, 0};
    std::vector<bool> named_[2];
    int namedCount_[2] = {0, 0};
    bool namesComplete_[2] = {false, false};
    std::vector<bool> unanswered_;
    int remaining_ = 0;
    std::size_t bytesWithoutMessage_ = 0;
    int keepAliveAnswersDue_ = 0;
    bool heard_ = false;  // an acknowledgement or a message on this connection
};

}  // namespace

std::unique_ptr<router_link> makeSwp08Link(boost::asio::io_context& io, const link_settings& settings,
                                           router_link_listener& listener) {
    return std::make_unique<link_handle>(std::make_shared<swp08_session>(io, settings, listener));
}

}  // namespace quon::links
