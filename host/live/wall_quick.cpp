#include "wall_quick.h"

#include <cstdint>
#include <functional>

#include "quon/common/name_index.h"
#include "quon/common/paths.h"

namespace quon {

bool isOneWord(std::string_view name) { return !name.empty() && name.find_first_of(" \t") == std::string_view::npos; }

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

bool bareKey(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

size_t skipBlanks(std::string_view line, size_t at) {
    while (at < line.size() && blank(line[at])) ++at;
    return at;
}

// Whether the line is whole in itself: every text closed on it, every list
// and inline table too, and no text of several lines begun. What is not
// may make a later line part of a value, so that the line could not be
// told a table's header or a key by its first character.
bool wholeLine(std::string_view line) {
    int depth = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '#') break;
        if (c == '"' || c == '\'') {
            if (line.compare(i, 3, std::string(3, c)) == 0) return false;
            size_t j = i + 1;
            while (j < line.size() && line[j] != c) j += (c == '"' && line[j] == '\\') ? 2 : 1;
            if (j >= line.size()) return false;
            i = j;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return depth == 0;
}

// `[[display]]`, with at most blanks and a comment after it.
bool displayHeader(std::string_view line, size_t at) {
    static constexpr std::string_view header = "[[display]]";
    if (line.compare(at, header.size(), header) != 0) return false;
    at = skipBlanks(line, at + header.size());
    return at == line.size() || line[at] == '#';
}

// One display being read: its keys as they come, or bad (left to the full
// reading) once a line is not of the quick shape.
struct display_lines {
    size_t begin = 0;  // the offset of its header line
    wall_display& display;  // the last of `displays`, which has room for every header
    uint16_t given = 0;  // the keys written, a bit each by index
    std::string_view name;  // in the file's text
    bool good = true;
    long long umdIndex = -1;  // `umd = { index = N }`
};

// A whole number of the keys' ranges: digits, no sign, no leading zero, no
// separator (all TOML allows too; anything else is the full reading's).
bool readWhole(std::string_view line, size_t& at, int& value) {
    const size_t first = at;
    long long v = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && at - first < 9) v = v * 10 + (line[at++] - '0');
    if (at == first || (line[first] == '0' && at - first > 1)) return false;
    if (at < line.size() && line[at] >= '0' && line[at] <= '9') return false;
    value = static_cast<int>(v);
    return true;
}

// A text in double quotes without escapes, of printable ASCII and tabs.
bool readText(std::string_view line, size_t& at, std::string_view& value) {
    if (at >= line.size() || line[at] != '"') return false;
    const size_t first = ++at;
    while (at < line.size() && line[at] != '"') {
        const unsigned char c = static_cast<unsigned char>(line[at]);
        if (c == '\\' || c >= 0x7f || (c < 0x20 && c != '\t')) return false;
        ++at;
    }
    if (at >= line.size()) return false;
    value = line.substr(first, at - first);
    ++at;
    return true;
}

// The keys' indices in wall_display::keys, known when compiled.
constexpr int name_key = wall_display::keyIndex("name"), module_key = wall_display::keyIndex("module"),
              instance_key = wall_display::keyIndex("instance"), statesheet_key = wall_display::keyIndex("statesheet"),
              matrix_key = wall_display::keyIndex("matrix"), destination_key = wall_display::keyIndex("destination"),
              sourcedb_key = wall_display::keyIndex("sourcedb"), umd_key = wall_display::keyIndex("umd");

bool inRange(int value, whole_range range) { return value >= range.low && value <= range.high; }

// `key = value` of a [[display]], with at most blanks and a comment after
// it; false for anything else.
bool readKeyLine(std::string_view line, uint32_t number, display_lines& d, const std::string& folder) {
    size_t at = skipBlanks(line, 0);
    const size_t keyBegin = at;
    while (at < line.size() && bareKey(line[at])) ++at;
    const std::string_view key = line.substr(keyBegin, at - keyBegin);
    at = skipBlanks(line, at);
    if (key.empty() || at >= line.size() || line[at] != '=') return false;
    at = skipBlanks(line, at + 1);
    const wall_display::place place{number, static_cast<uint32_t>(at + 1)};
    int index = -1;
    wall_display& out = d.display;
    std::string_view text;
    int whole = 0;
    if (key == "name" || key == "module" || key == "instance" || key == "statesheet") {
        if (!readText(line, at, text)) return false;
        if (key == "name") {
            index = name_key;
            out.name = text;
            d.name = text;
        } else if (key == "module") {
            index = module_key;
            out.module = resolveModulePath(std::string(text), folder);
        } else if (key == "instance") {
            index = instance_key;
            out.instance = std::string(text);
        } else {
            index = statesheet_key;
            out.statesheet = std::string(text);
        }
    } else if (key == "matrix" || key == "destination" || key == "sourcedb") {
        if (!readWhole(line, at, whole)) return false;
        if (key == "matrix") {
            index = matrix_key;
            if (!inRange(whole, matrix_range)) return false;
            out.matrix = whole;
        } else if (key == "destination") {
            index = destination_key;
            if (!inRange(whole, destination_range)) return false;
            out.destination = whole;
        } else {
            index = sourcedb_key;
            if (!inRange(whole, sourcedb_range)) return false;
            out.sourceDatabase = whole;
        }
    } else if (key == "umd") {
        // `{ index = N }` and nothing else.
        index = umd_key;
        if (at >= line.size() || line[at] != '{') return false;
        at = skipBlanks(line, at + 1);
        if (line.compare(at, 5, "index") != 0) return false;
        at = skipBlanks(line, at + 5);
        if (at >= line.size() || line[at] != '=') return false;
        at = skipBlanks(line, at + 1);
        if (!readWhole(line, at, whole)) return false;
        at = skipBlanks(line, at);
        if (at >= line.size() || line[at] != '}') return false;
        ++at;
        d.umdIndex = whole;
    } else {
        return false;
    }
    at = skipBlanks(line, at);
    if (at < line.size() && line[at] != '#') return false;
    const uint16_t bit = static_cast<uint16_t>(1u << index);
    if (d.given & bit) return false;
    d.given |= bit;
    out.places[static_cast<size_t>(index)] = place;
    return true;
}

}  // namespace

std::optional<quick_displays> readDisplaysQuickly(std::string_view text, const std::shared_ptr<const std::string>& file,
                                                  const std::string& folder) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return std::nullopt;
    quick_displays out;
    // Room for every display at once: a display is more than a hundred
    // bytes kept, its lines some forty.
    size_t headers = 0;
    for (size_t at = text.find("[[display]]"); at != std::string_view::npos; at = text.find("[[display]]", at + 11))
        ++headers;
    out.displays.reserve(headers);
    name_index names;  // views of the file's text: a name written twice is refused
    names.reserve(headers);
    // The byte ranges of the displays read, which the rest leaves blank.
    std::vector<std::pair<size_t, size_t>> taken;
    bool restWritten = false;
    std::optional<display_lines> current;
    const auto finish = [&](size_t end) {
        if (!current) return;
        wall_display& d = current->display;
        const bool good = current->good && (current->given & 1u << name_key) && isOneWord(d.name) &&
                          !(d.instance && (d.matrix || d.destination)) && names.insert(current->name, 0);
        if (good) {
            taken.emplace_back(current->begin, end);
            if (current->umdIndex >= 0) out.umd.push_back({out.displays.size() - 1, current->umdIndex});
        } else {
            out.displays.pop_back();
            restWritten = true;
        }
        current.reset();
    };
    uint32_t number = 0;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(begin, end - begin);
        // "\r\n" ends a line; a "\r" of its own is the full reading's to refuse.
        if (!line.empty() && line.back() == '\r' && end < text.size()) line.remove_suffix(1);
        ++number;
        bool ascii = true;
        for (const char c : line) {
            const unsigned char u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\t') || u == 0x7f) return std::nullopt;
            ascii = ascii && u < 0x80;
        }
        if (!wholeLine(line)) return std::nullopt;
        const size_t at = skipBlanks(line, 0);
        const bool empty = at == line.size() || line[at] == '#';
        if (!empty && line[at] == '[') {
            finish(begin);
            if (displayHeader(line, at)) {
                current.emplace(display_lines{begin, out.displays.emplace_back(), 0, {}, ascii, -1});
                current->display.file = file;
                current->display.places[0] = {number, static_cast<uint32_t>(at + 1)};
            } else if (line.find("display") != std::string_view::npos) {
                // A table under `display` (or a header the quick reading
                // does not take apart) belongs to the displays' list.
                return std::nullopt;
            } else {
                restWritten = true;
            }
        } else if (current) {
            if (!ascii)
                current->good = false;
            else if (!empty && current->good)
                current->good = readKeyLine(line, number, *current, folder);
        } else if (!empty) {
            // A key of the file itself: `display = ...` would make the
            // displays' list something else.
            if (line.find("display") != std::string_view::npos) return std::nullopt;
            restWritten = true;
        } else if (!ascii) {
            restWritten = true;  // whether it is UTF-8 is the full reading's to say
        }
        begin = next;
    }
    finish(text.size());
    if (restWritten) {
        out.rest.reserve(text.size());
        size_t from = 0;
        for (const auto& [b, e] : taken) {
            out.rest.append(text.substr(from, b - from));
            for (size_t i = b; i < e; ++i)
                if (text[i] == '\n') out.rest.push_back('\n');
            from = e;
        }
        out.rest.append(text.substr(from));
    }
    return out;
}

}  // namespace quon
