// The Videohub link: reads the prelude the router sends on connect (device
// sizes, labels, routing), goes up on the first routing block (or END
// PRELUDE), then takes what the router pushes. Keep-alive: PING, answered
// with ACK.
#include <string>

#include "link_session.h"
#include "quon/links/label_text.h"
#include "quon/links/videohub_protocol.h"

namespace quon::links {

namespace {

constexpr int max_videohub_size = 65536;

class videohub_session final : public link_session, private videohub::block_sink {
public:
    using link_session::link_session;

    bool requestRoute(int destination, int source) override {
        if (!up() || destination < 1 || source < 1 || destination > max_videohub_size || source > max_videohub_size)
            return false;
        if ((outputs_ > 0 && destination > outputs_) || (inputs_ > 0 && source > inputs_)) return false;
        send(videohub::routeRequest(destination - 1, source - 1));
        return true;
    }

    // The protocol has no partial query: the whole routing block comes back.
    void poll(int firstDestination, int lastDestination) override {
        if (!up() || lastDestination < firstDestination) return;
        send(videohub::query(videohub::routing_header));
    }

private:
    void onConnected() override {
        reader_.reset();
        inputs_ = outputs_ = 0;
        // The prelude comes unasked; without routing in time, the router is
        // not serving.
        armPhaseTimer(settings_.connectTimeout);
    }

    void onPhaseTimer() override {
        if (!up()) fail("no routing received within " + std::to_string(settings_.connectTimeout.count()) + " ms");
    }

    void onBytes(const std::uint8_t* bytes, std::size_t size) override {
        reader_.feed(std::string_view(reinterpret_cast<const char*>(bytes), size), *this);
    }

    void onKeepAlive() override { send(videohub::ping()); }

    void onResync() override {
        send(videohub::query(videohub::input_labels_header));
        send(videohub::query(videohub::output_labels_header));
        send(videohub::query(videohub::routing_header));
    }

    void onReaderProblem(videohub::reader_problem problem) override { reportProblem(videohub::describe(problem)); }

    void onBlock(const videohub::block& block) override {
        if (!active()) return;
        const std::string_view header = block.header;
        if (header == videohub::device_header) {
            readSizes(block);
        } else if (header == videohub::input_labels_header) {
            readLabels(block, source_labels, inputs_);
        } else if (header == videohub::output_labels_header) {
            readLabels(block, destination_labels, outputs_);
        } else if (header == videohub::routing_header) {
            readRouting(block);
            declareUp(inputs_, outputs_);
        } else if (header == videohub::end_prelude_header) {
            declareUp(inputs_, outputs_);
        } else if (header == videohub::nak_header) {
            reportProblem("the router refused a request (NAK)");
        }
        // Everything else (ACK, locks, other blocks) is not needed here.
    }

    void readSizes(const videohub::block& block) {
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

    bool inRange(int index, int size) {
        if (index < size || (size == 0 && index < max_videohub_size)) return true;
        reportProblem("an index outside the router's size");
        return false;
    }

    void readLabels(const videohub::block& block, int database, int size) {
        for (const std::string& line : block.lines) {
            if (!active()) return;
            const std::optional<videohub::item> item = videohub::parseItem(line);
            if (!item) {
                reportProblem("malformed " + block.header, "a malformed line in " + block.header);
                continue;
            }
            if (!inRange(item->index, size)) continue;
            cleaned_label cleaned = cleanLabel(item->rest);
            if (cleaned.repaired)
                reportProblem("a label with control characters or bytes that are not UTF-8",
                              repairedLabelText((database == 0 ? "input " : "output ") +
                                                    std::to_string(item->index + 1) + "'s label",
                                                item->rest, cleaned));
            reportLabel(database, item->index + 1, cleaned.text);
        }
    }

    void readRouting(const videohub::block& block) {
        for (const std::string& line : block.lines) {
            if (!active()) return;
            const std::optional<videohub::item> item = videohub::parseItem(line);
            const std::optional<int> input =
                item ? videohub::parseNumber(item->rest, max_videohub_size - 1) : std::nullopt;
            if (!input) {
                reportProblem("malformed " + block.header, "a malformed line in " + block.header);
                continue;
            }
            if (!inRange(item->index, outputs_) || !inRange(*input, inputs_)) continue;
            reportCrosspoint(item->index + 1, *input + 1);
        }
    }

    videohub::reader reader_;
    int inputs_ = 0;
    int outputs_ = 0;
};

}  // namespace

std::unique_ptr<router_link> makeVideohubLink(boost::asio::io_context& io, const link_settings& settings,
                                              router_link_listener& listener) {
    return std::make_unique<link_handle>(
        std::make_shared<videohub_session>(io, settings, listener, videohub::default_port));
}

}  // namespace quon::links
