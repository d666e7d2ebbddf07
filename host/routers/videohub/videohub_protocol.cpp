#include "quon/routers/videohub/videohub_protocol.h"

#include <charconv>

namespace quon::routers::videohub {

std::string describe(reader_problem problem) {
    switch (problem) {
        case reader_problem::line_too_long: return "a line longer than the limit was skipped";
        case reader_problem::block_too_large: return "a block with more lines than the limit was cut";
    }
    return "unknown reader problem";
}

void reader::reset() {
    line_.clear();
    current_ = block{};
    inBlock_ = skippingLine_ = lastWasCr_ = blockCut_ = false;
}

void reader::feed(std::string_view bytes, block_sink& sink) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const char c = bytes[at];
        if (c == '\n' && lastWasCr_) {  // the LF of a CR LF
            lastWasCr_ = false;
            ++at;
            continue;
        }
        lastWasCr_ = false;
        if (c == '\n' || c == '\r') {
            lastWasCr_ = c == '\r';
            endLine(sink);
            ++at;
            continue;
        }
        // Take the run of ordinary bytes up to the next line end in one go.
        std::size_t end = at;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
        if (!skippingLine_) {
            const std::size_t room = limits_.maxLineBytes - line_.size();
            if (end - at > room) {
                skippingLine_ = true;
                line_.clear();
                sink.onReaderProblem(reader_problem::line_too_long);
            } else {
                line_.append(bytes.data() + at, end - at);
            }
        }
        at = end;
    }
}

void reader::endLine(block_sink& sink) {
    if (skippingLine_) {  // the end of a skipped line; it neither opens nor ends a block
        skippingLine_ = false;
        line_.clear();
        return;
    }
    if (line_.empty()) {
        if (inBlock_) {
            sink.onBlock(current_);
            current_ = block{};
            inBlock_ = false;
            blockCut_ = false;
        }
        return;
    }
    if (!inBlock_) {
        current_.header.swap(line_);
        inBlock_ = true;
    } else if (current_.lines.size() < limits_.maxBlockLines) {
        current_.lines.push_back(std::move(line_));
    } else if (!blockCut_) {
        blockCut_ = true;
        sink.onReaderProblem(reader_problem::block_too_large);
    }
    line_.clear();
}

std::optional<int> parseNumber(std::string_view text, int max) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > max) return std::nullopt;
    return value;
}

std::optional<item> parseItem(std::string_view line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    const std::optional<int> index = parseNumber(line.substr(0, blank), 99999999);
    if (!index) return std::nullopt;
    return item{*index, line.substr(blank + 1)};
}

std::optional<std::string_view> field(const block& fields, std::string_view key) {
    for (const std::string& line : fields.lines) {
        const std::string_view text = line;
        if (text.size() > key.size() + 1 && text.substr(0, key.size()) == key && text[key.size()] == ':') {
            std::string_view value = text.substr(key.size() + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            return value;
        }
    }
    return std::nullopt;
}

std::string routeRequest(int output, int input) {
    return std::string(routing_header) + "\n" + std::to_string(output) + " " + std::to_string(input) + "\n\n";
}

std::string query(std::string_view header) { return std::string(header) + "\n\n"; }

std::string ping() { return "PING:\n\n"; }

}  // namespace quon::routers::videohub
