// The SW-P-08 frame reader on any bytes: the first byte picks where the
// rest is cut in two; both reads must give the same frames and answers.
// Every frame read must survive framing again, and every message decoded
// must encode back to the same numbers.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/swp08/swp08_protocol.h"

namespace sw = quon::routers::swp08;

namespace {

struct collected : sw::frame_sink {
    std::vector<std::vector<std::uint8_t>> frames;
    int acks = 0, naks = 0, problems = 0;
    void onFrame(const std::vector<std::uint8_t>& data) override { frames.push_back(data); }
    void onAck() override { ++acks; }
    void onNak() override { ++naks; }
    void onFrameProblem(sw::frame_problem) override { ++problems; }
};

collected read(const std::vector<std::vector<std::uint8_t>>& pieces) {
    sw::frame_reader reader;
    collected sink;
    for (const auto& piece : pieces) reader.feed(piece.data(), piece.size(), sink);
    return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<std::uint8_t> bytes(data + 1, data + size);
    const std::size_t split = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
    const collected whole = read({bytes});
    const collected parts = read({std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(split)),
                                  std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(split), bytes.end())});
    FUZZ_CHECK(whole.frames == parts.frames);
    FUZZ_CHECK(whole.acks == parts.acks && whole.naks == parts.naks && whole.problems == parts.problems);

    for (const std::vector<std::uint8_t>& frame : whole.frames) {
        FUZZ_CHECK(!frame.empty() && frame.size() <= sw::max_frame_data);
        const collected again = read({sw::frame(frame)});
        FUZZ_CHECK(again.frames.size() == 1 && again.frames[0] == frame && again.problems == 0);

        if (const auto crosspoint = sw::decodeCrosspoint(frame)) {
            FUZZ_CHECK(crosspoint->destination >= 0 && crosspoint->destination <= sw::extended_form_max);
            FUZZ_CHECK(crosspoint->source >= -1 && crosspoint->source <= sw::extended_form_max);
            const std::vector<std::uint8_t> encoded =
                crosspoint->source < 0
                    ? sw::interrogateMessage(crosspoint->at, crosspoint->destination)
                    : sw::connectMessage(crosspoint->at, crosspoint->destination, crosspoint->source);
            const auto decoded = sw::decodeCrosspoint(encoded);
            FUZZ_CHECK(decoded && decoded->destination == crosspoint->destination &&
                       decoded->source == crosspoint->source && decoded->at.matrix == crosspoint->at.matrix &&
                       decoded->at.level == crosspoint->at.level);
        }
        if (const auto names = sw::decodeNames(frame)) {
            FUZZ_CHECK(names->nameLength == 4 || names->nameLength == 8 || names->nameLength == 12);
            for (const auto& name : names->names) FUZZ_CHECK(static_cast<int>(name.size()) == names->nameLength);
            FUZZ_CHECK(names->first >= 0 && names->first <= 65535);
        }
        if (const auto request = sw::decodeNamesRequest(frame))
            FUZZ_CHECK(sw::namesRequest(request->sources, request->at, request->nameLength) == frame ||
                       !request->sources);
    }
    return 0;
}
