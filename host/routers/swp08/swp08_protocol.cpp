#include "quon/routers/swp08/swp08_protocol.h"

#include <algorithm>
#include <cstring>

namespace quon::routers::swp08 {

std::string describe(frame_problem problem) {
    switch (problem) {
        case frame_problem::bad_checksum: return "a message with a wrong checksum";
        case frame_problem::bad_byte_count: return "a message with a wrong byte count";
        case frame_problem::too_long: return "a message longer than any the protocol defines";
        case frame_problem::bad_escape: return "a DLE followed by a byte that is no control code";
        case frame_problem::interrupted: return "a message cut short by the start of another";
        case frame_problem::outside_frame: return "bytes outside any message";
    }
    return "unknown frame problem";
}

void frame_reader::reset() {
    state_ = state::between;
    data_.clear();
}

void frame_reader::feed(const std::uint8_t* bytes, std::size_t size, frame_sink& sink) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (state_) {
            case state::between:
                if (byte == dle) {
                    state_ = state::between_dle;
                } else {
                    sink.onFrameProblem(frame_problem::outside_frame);
                }
                break;
            case state::between_dle:
                state_ = state::between;
                if (byte == stx) {
                    data_.clear();
                    state_ = state::in_frame;
                } else if (byte == ack) {
                    sink.onAck();
                } else if (byte == nak) {
                    sink.onNak();
                } else if (byte == dle) {
                    state_ = state::between_dle;  // a stray DLE; this one may start a frame
                    sink.onFrameProblem(frame_problem::outside_frame);
                } else {
                    sink.onFrameProblem(frame_problem::outside_frame);
                }
                break;
            case state::in_frame: {
                if (byte == dle) {
                    state_ = state::in_frame_dle;
                    break;
                }
                // Take the run up to the next DLE at once; a frame that
                // outgrows the limit is skipped to its end.
                const void* nextDle = std::memchr(bytes + i, dle, size - i);
                const std::size_t runEnd =
                    nextDle ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nextDle) - bytes) : size;
                const std::size_t room = max_frame_data + 2 - data_.size();
                if (runEnd - i > room) {
                    sink.onFrameProblem(frame_problem::too_long);
                    data_.clear();
                    state_ = state::skipping;
                } else {
                    data_.insert(data_.end(), bytes + i, bytes + runEnd);
                }
                i = runEnd - 1;
                break;
            }
            case state::in_frame_dle:
                if (byte == dle) {
                    state_ = state::in_frame;
                    if (data_.size() >= max_frame_data + 2) {
                        sink.onFrameProblem(frame_problem::too_long);
                        data_.clear();
                        state_ = state::skipping;
                    } else {
                        data_.push_back(dle);
                    }
                } else if (byte == etx) {
                    state_ = state::between;
                    endFrame(sink);
                } else if (byte == stx) {
                    sink.onFrameProblem(frame_problem::interrupted);
                    data_.clear();
                    state_ = state::in_frame;
                } else {
                    sink.onFrameProblem(frame_problem::bad_escape);
                    data_.clear();
                    state_ = state::between;
                }
                break;
            case state::skipping:
                if (byte == dle) state_ = state::skipping_dle;
                break;
            case state::skipping_dle:
                if (byte == stx) {
                    data_.clear();
                    state_ = state::in_frame;
                } else {
                    state_ = byte == etx ? state::between : state::skipping;
                }
                break;
        }
    }
}

void frame_reader::endFrame(frame_sink& sink) {
    // data, count, checksum
    if (data_.size() < 3 || data_[data_.size() - 2] != data_.size() - 2) {
        sink.onFrameProblem(frame_problem::bad_byte_count);
        data_.clear();
        return;
    }
    unsigned sum = 0;
    for (const std::uint8_t byte : data_) sum += byte;
    if ((sum & 0xFF) != 0) {
        sink.onFrameProblem(frame_problem::bad_checksum);
        data_.clear();
        return;
    }
    data_.resize(data_.size() - 2);
    sink.onFrame(data_);
    data_.clear();
}

std::uint8_t checksum(const std::vector<std::uint8_t>& dataAndCount) {
    unsigned sum = 0;
    for (const std::uint8_t byte : dataAndCount) sum += byte;
    return static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

std::vector<std::uint8_t> frame(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body = data;
    body.push_back(static_cast<std::uint8_t>(data.size()));
    body.push_back(checksum(body));
    std::vector<std::uint8_t> out{dle, stx};
    out.reserve(body.size() * 2 + 4);
    for (const std::uint8_t byte : body) {
        out.push_back(byte);
        if (byte == dle) out.push_back(dle);
    }
    out.push_back(dle);
    out.push_back(etx);
    return out;
}

namespace {

bool fitsShortForm(address at, int destination, int source) {
    return at.matrix <= 15 && at.level <= 15 && destination <= short_form_max && source <= short_form_max;
}

std::uint8_t low8(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

std::vector<std::uint8_t> crosspointMessage(std::uint8_t shortCommand, address at, int destination, int source) {
    const bool withSource = source >= 0;
    if (fitsShortForm(at, destination, withSource ? source : 0)) {
        std::vector<std::uint8_t> data{shortCommand, low8(at.matrix << 4 | at.level),
                                       low8((destination / 128) << 4 | (withSource ? source / 128 : 0)),
                                       low8(destination % 128)};
        if (withSource) data.push_back(low8(source % 128));
        return data;
    }
    std::vector<std::uint8_t> data{low8(shortCommand | 0x80), low8(at.matrix), low8(at.level), low8(destination / 256),
                                   low8(destination % 256)};
    if (withSource) {
        data.push_back(low8(source / 256));
        data.push_back(low8(source % 256));
    }
    return data;
}

}  // namespace

std::vector<std::uint8_t> interrogateMessage(address at, int destination) {
    return crosspointMessage(interrogate, at, destination, -1);
}

std::vector<std::uint8_t> connectMessage(address at, int destination, int source) {
    return crosspointMessage(connect, at, destination, source);
}

std::vector<std::uint8_t> tallyMessage(address at, int destination, int source, bool connectedForm) {
    return crosspointMessage(connectedForm ? connected : tally, at, destination, source);
}

std::optional<std::uint8_t> nameLengthCode(int nameLength) {
    switch (nameLength) {
        case 4: return 0;
        case 8: return 1;
        case 12: return 2;
        default: return std::nullopt;
    }
}

int namesPerMessage(int nameLength) {
    switch (nameLength) {
        case 4: return 32;
        case 8: return 16;
        default: return 10;
    }
}

std::vector<std::uint8_t> namesRequest(bool sources, address at, int nameLength) {
    const std::uint8_t code = nameLengthCode(nameLength).value_or(1);
    if (sources) return {source_names_request, low8(at.matrix << 4 | at.level), code};
    return {destination_names_request, low8(at.matrix << 4), code};
}

std::vector<std::uint8_t> namesMessage(bool sources, address at, int nameLength, int first,
                                       const std::vector<std::string>& names) {
    const std::uint8_t code = nameLengthCode(nameLength).value_or(1);
    const int count = std::min<int>(static_cast<int>(names.size()), namesPerMessage(nameLength));
    std::vector<std::uint8_t> data{sources ? source_names : destination_names,
                                   low8(sources ? at.matrix << 4 | at.level : at.matrix << 4),
                                   code,
                                   low8(first / 256),
                                   low8(first % 256),
                                   low8(count)};
    for (int i = 0; i < count; ++i) {
        std::string name = names[static_cast<std::size_t>(i)].substr(0, static_cast<std::size_t>(nameLength));
        name.resize(static_cast<std::size_t>(nameLength), ' ');
        data.insert(data.end(), name.begin(), name.end());
    }
    return data;
}

std::optional<crosspoint_message> decodeCrosspoint(const std::vector<std::uint8_t>& data) {
    if (data.empty()) return std::nullopt;
    const std::uint8_t command = data[0];
    const std::uint8_t base = command & 0x7F;
    if (base < interrogate || base > connected) return std::nullopt;
    const bool withSource = base != interrogate;
    if (command & 0x80) {
        const std::size_t size = withSource ? 7 : 5;
        if (data.size() != size) return std::nullopt;
        return crosspoint_message{base, address{data[1], data[2]}, data[3] * 256 + data[4],
                                  withSource ? data[5] * 256 + data[6] : -1};
    }
    const std::size_t size = withSource ? 5 : 4;
    if (data.size() != size) return std::nullopt;
    const std::uint8_t multiplier = data[2];
    if ((data[3] & 0x80) || (withSource && (data[4] & 0x80))) return std::nullopt;
    return crosspoint_message{base, address{data[1] >> 4, data[1] & 0x0F}, ((multiplier >> 4) & 0x07) * 128 + data[3],
                              withSource ? (multiplier & 0x07) * 128 + data[4] : -1};
}

std::optional<names_message> decodeNames(const std::vector<std::uint8_t>& data) {
    if (data.size() < 6 || (data[0] != source_names && data[0] != destination_names)) return std::nullopt;
    static constexpr int lengths[] = {4, 8, 12};
    if (data[2] > 2) return std::nullopt;
    const int nameLength = lengths[data[2]];
    const int count = data[5];
    if (data.size() != 6 + static_cast<std::size_t>(count) * static_cast<std::size_t>(nameLength)) return std::nullopt;
    names_message names{data[0] == source_names, data[1] >> 4, data[1] & 0x0F, nameLength, data[3] * 256 + data[4], {}};
    if (!names.sources) names.level = 0;
    for (int i = 0; i < count; ++i) {
        const auto begin = data.begin() + 6 + i * nameLength;
        names.names.emplace_back(begin, begin + nameLength);
    }
    return names;
}

std::optional<names_request> decodeNamesRequest(const std::vector<std::uint8_t>& data) {
    if (data.size() != 3 || (data[0] != source_names_request && data[0] != destination_names_request))
        return std::nullopt;
    static constexpr int lengths[] = {4, 8, 12};
    if (data[2] > 2) return std::nullopt;
    const bool sources = data[0] == source_names_request;
    return names_request{sources, address{data[1] >> 4, sources ? data[1] & 0x0F : 0}, lengths[data[2]]};
}

}  // namespace quon::routers::swp08
