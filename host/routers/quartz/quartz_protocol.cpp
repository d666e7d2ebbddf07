#include "quon/routers/quartz/quartz_protocol.h"

#include <cctype>

namespace quon::routers::quartz {

std::string describe(reader_problem problem) {
    switch (problem) {
        case reader_problem::garbage: return "bytes outside any message were skipped";
        case reader_problem::line_too_long:
            return "a message of more than " + std::to_string(reader::max_message_bytes) +
                   " bytes without its carriage return was dropped";
    }
    return "unknown reader problem";
}

void reader::reset() {
    state_ = state::between;
    body_.clear();
    garbageRun_ = false;
}

void reader::feed(std::string_view bytes, message_sink& sink) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (state_ == state::between) {
            const char c = bytes[at++];
            if (c == '.') {
                state_ = state::in_message;
                body_.clear();
                garbageRun_ = false;
            } else if (c != '\r' && c != '\n' && !garbageRun_) {
                garbageRun_ = true;
                sink.onReaderProblem(reader_problem::garbage);
            }
            continue;
        }
        const std::size_t end = bytes.find_first_of("\r\n", at);
        const std::size_t stop = end == std::string_view::npos ? bytes.size() : end;
        if (state_ == state::in_message) {
            if (body_.size() + (stop - at) > max_message_bytes) {
                state_ = state::skipping;
                body_.clear();
                sink.onReaderProblem(reader_problem::line_too_long);
            } else {
                body_.append(bytes.data() + at, stop - at);
            }
        }
        at = stop;
        if (end == std::string_view::npos) break;
        ++at;  // the line end
        if (state_ == state::in_message) {
            state_ = state::between;
            sink.onMessage(body_);
            body_.clear();
        } else {
            state_ = state::between;
        }
    }
}

bool isLevel(char c) { return c >= 'A' && c <= 'Z'; }

std::optional<int> parseNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > max_number) return std::nullopt;
    return value;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "{levels}{dest},{srce}" from `at`, levels one or more letters (one only
// where `oneLevel`); moves `at` past it.
std::optional<message::route> takeRoute(std::string_view body, std::size_t& at, bool oneLevel) {
    message::route item;
    const std::size_t levelsStart = at;
    while (at < body.size() && isLevel(body[at])) ++at;
    const std::size_t levels = at - levelsStart;
    if (levels == 0 || (oneLevel && levels != 1)) return std::nullopt;
    item.levels = std::string(body.substr(levelsStart, levels));
    const std::size_t destinationStart = at;
    while (at < body.size() && isDigit(body[at])) ++at;
    const std::optional<int> destination = parseNumber(body.substr(destinationStart, at - destinationStart));
    if (!destination || at >= body.size() || body[at] != ',') return std::nullopt;
    const std::size_t sourceStart = ++at;
    while (at < body.size() && isDigit(body[at])) ++at;
    const std::optional<int> source = parseNumber(body.substr(sourceStart, at - sourceStart));
    if (!source) return std::nullopt;
    item.destination = *destination;
    item.source = *source;
    return item;
}

parsed parseRoutes(std::string_view body, bool update) {
    message::routes out;
    std::size_t at = 1;
    // An update names its levels once; an answer (to an interrogate or a
    // list) gives one level for each of its routes.
    while (at < body.size()) {
        std::optional<message::route> item = takeRoute(body, at, !update);
        if (!item) return message::unknown{true};
        item->update = update;
        out.items.push_back(std::move(*item));
        if (update && at != body.size()) return message::unknown{true};
    }
    return out;
}

}  // namespace

parsed parse(std::string_view body) {
    if (body.empty()) return message::unknown{};
    switch (body[0]) {
        case 'A':
            if (body.size() == 1) return message::acknowledge{};
            // Answers of other requests (a version, a status, a salvo's)
            // hold no level letter first.
            if (!isLevel(body[1])) return message::ignored{};
            return parseRoutes(body, false);
        case 'U': return parseRoutes(body, true);
        case 'E': return message::error{};
        case 'P': return message::power_up{};
        case 'B':  // destination locks
        case 'Q':  // salvos
            return message::ignored{};
        case 'R':
            if (body.size() < 3 || body[1] != 'A') return message::unknown{};
            if (body[2] == 'S' || body[2] == 'D') {
                message::name name;
                name.source = body[2] == 'S';
                std::string_view rest = body.substr(3);
                const std::size_t comma = rest.find(',');
                if (comma != std::string_view::npos) {
                    if (const std::optional<int> number = parseNumber(rest.substr(0, comma))) {
                        name.number = number;
                        rest.remove_prefix(comma + 1);
                    }
                }
                name.text = rest;
                return name;
            }
            // Level names, and the ten-character names of panels' buttons.
            if (body[2] == 'L' || body[2] == 'E' || body[2] == 'T' || body[2] == 'M') return message::ignored{};
            return message::unknown{true};
        default: return message::unknown{};
    }
}

std::string interrogate(char level, int destination) {
    return std::string(".I") + level + std::to_string(destination) + "\r";
}

std::string setRoute(char level, int destination, int source) {
    return std::string(".S") + level + std::to_string(destination) + "," + std::to_string(source) + "\r";
}

std::string readName(bool source, int number) {
    return std::string(source ? ".RS" : ".RD") + std::to_string(number) + "\r";
}

std::string testConnection() { return ".#01\r"; }

}  // namespace quon::routers::quartz
