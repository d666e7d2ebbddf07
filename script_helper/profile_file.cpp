#include "quon/script/profile_file.h"

#include <fstream>
#include <sstream>

namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string unquoted(const std::string& value) {
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

namespace {

// What one line of a profile file is.
enum class line_kind { other, section, entry };

line_kind readLine(const std::string& raw, std::string& name, std::string& value) {
    const std::string line = trimmed(raw);
    if (line.empty() || line[0] == ';') return line_kind::other;
    if (line[0] == '[') {
        const size_t close = line.find(']');
        if (close == std::string::npos) return line_kind::other;
        name = trimmed(line.substr(1, close - 1));
        return line_kind::section;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return line_kind::other;
    name = trimmed(line.substr(0, equals));
    value = unquoted(trimmed(line.substr(equals + 1)));
    return line_kind::entry;
}

// Windows editors commonly begin a UTF-8 file with a byte-order mark; the
// Windows reader does not take it as part of the first line.
void skipByteOrderMark(std::istream& in) {
    char mark[3] = {};
    if (in.read(mark, 3) && mark[0] == '\xEF' && mark[1] == '\xBB' && mark[2] == '\xBF') return;
    in.clear();
    in.seekg(0);
}

}  // namespace

profile_file profile_file::parse(const std::string& text) {
    profile_file file;
    profile_section* current = nullptr;
    std::istringstream lines(text);
    skipByteOrderMark(lines);
    std::string raw, name, value;
    while (std::getline(lines, raw)) {
        switch (readLine(raw, name, value)) {
            case line_kind::section:
                file.sections_.push_back(profile_section{name, {}});
                current = &file.sections_.back();
                break;
            case line_kind::entry:
                if (current) current->entries.push_back(profile_entry{name, value});
                break;
            case line_kind::other: break;
        }
    }
    return file;
}

bool profile_file::load(const std::string& path, profile_file& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out = profile_file();
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    out = parse(text.str());
    return true;
}

profile_file::lookup_result profile_file::lookup(const std::string& path, const std::string& sectionName,
                                                 const std::string& key, std::string& value) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return lookup_result::unreadable;
    skipByteOrderMark(in);
    // Only the first section of that name counts, and in it the first key
    // of that name: the rest of the file need not be read.
    bool inSection = false;
    std::string raw, name, text;
    while (std::getline(in, raw)) {
        switch (readLine(raw, name, text)) {
            case line_kind::section:
                if (inSection) return lookup_result::missing;
                inSection = equalsIgnoringCase(name, sectionName);
                break;
            case line_kind::entry:
                if (inSection && equalsIgnoringCase(name, key)) {
                    value = text;
                    return lookup_result::found;
                }
                break;
            case line_kind::other: break;
        }
    }
    return lookup_result::missing;
}

const profile_section* profile_file::section(const std::string& name) const {
    for (const profile_section& s : sections_)
        if (equalsIgnoringCase(s.name, name)) return &s;
    return nullptr;
}

const std::string* profile_file::value(const std::string& sectionName, const std::string& key) const {
    const profile_section* s = section(sectionName);
    if (!s) return nullptr;
    for (const profile_entry& e : s->entries)
        if (equalsIgnoringCase(e.key, key)) return &e.value;
    return nullptr;
}
