// The Videohub reader on any bytes: the first byte picks where the rest is
// cut in two; both reads must give the same blocks, within the limits, and
// every line parsed as an item or a label must come out safe to show.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/label_text.h"
#include "quon/routers/videohub/videohub_protocol.h"

namespace vh = quon::routers::videohub;

namespace {

struct collected : vh::block_sink {
    std::vector<vh::block> blocks;
    std::size_t problems = 0;
    void onBlock(const vh::block& complete) override { blocks.push_back(complete); }
    void onReaderProblem(vh::reader_problem) override { ++problems; }
};

bool safeToShow(const std::string& text) {
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return quon::routers::cleanLabel(text).text == text;  // cleaning clean text changes nothing
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
    vh::reader_limits limits;
    limits.maxLineBytes = 64;
    limits.maxBlockLines = 16;

    vh::reader whole(limits);
    collected wholeBlocks;
    whole.feed(bytes, wholeBlocks);
    vh::reader parts(limits);
    collected partBlocks;
    parts.feed(std::string_view(bytes).substr(0, split), partBlocks);
    parts.feed(std::string_view(bytes).substr(split), partBlocks);
    FUZZ_CHECK(wholeBlocks.blocks == partBlocks.blocks);
    FUZZ_CHECK(wholeBlocks.problems == partBlocks.problems);

    for (const vh::block& block : wholeBlocks.blocks) {
        FUZZ_CHECK(!block.header.empty() && block.header.size() <= limits.maxLineBytes);
        FUZZ_CHECK(block.lines.size() <= limits.maxBlockLines);
        for (const std::string& line : block.lines) {
            FUZZ_CHECK(!line.empty() && line.size() <= limits.maxLineBytes);
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
            const std::optional<vh::item> item = vh::parseItem(line);
            if (!item) continue;
            FUZZ_CHECK(item->index >= 0);
            FUZZ_CHECK(item->rest.size() < line.size());
            const quon::routers::cleaned_label label = quon::routers::cleanLabel(item->rest);
            FUZZ_CHECK(safeToShow(label.text));
            // A byte read as Windows-1252 is at most three bytes of UTF-8 (U+20AC).
            FUZZ_CHECK(label.text.size() <= 3 * item->rest.size());
            const std::optional<int> number = vh::parseNumber(item->rest, 65535);
            FUZZ_CHECK(!number || (*number >= 0 && *number <= 65535));
        }
    }
    return 0;
}
