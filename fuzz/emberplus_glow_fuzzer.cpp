// The Glow decoder of the Ember+ link on any bytes: it ends (no deeper
// nesting than its limit, no read past the bytes), says why when it
// refuses, and gives the same elements twice. Every connection it reads,
// sent back as a request, reads back as the same target and lowest source.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/emberplus/emberplus_glow.h"

namespace glow = quon::routers::glow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<glow::element> first;
    std::string error;
    const bool ok = glow::decode(bytes, first, error);
    FUZZ_CHECK(ok == error.empty());
    std::vector<glow::element> second;
    std::string again;
    FUZZ_CHECK(glow::decode(bytes, second, again) == ok && again == error);
    FUZZ_CHECK(first.size() == second.size());
    // Each element takes at least a few bytes of the message.
    FUZZ_CHECK(first.size() <= size);

    for (const glow::element& e : first) {
        if (e.what == glow::kind::command || !e.connections) continue;
        for (const glow::connection& c : *e.connections) {
            if (c.sources.empty()) continue;
            const std::uint32_t lowest = *std::min_element(c.sources.begin(), c.sources.end());
            std::vector<glow::element> request;
            std::string requestError;
            FUZZ_CHECK(glow::decode(glow::connectionRequest(e.at, c.target, lowest), request, requestError));
            FUZZ_CHECK(request.size() == 1 && request[0].at == e.at && request[0].connections &&
                       request[0].connections->size() == 1);
            const glow::connection& back = request[0].connections->front();
            FUZZ_CHECK(back.target == c.target && back.sources == glow::source_list{lowest});
            FUZZ_CHECK(back.operation == glow::operation_absolute);
        }
    }
    return 0;
}
