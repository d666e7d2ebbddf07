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

profile_file profile_file::parse(const std::string& text) {
    profile_file file;
    profile_section* current = nullptr;
    // Windows editors commonly begin a UTF-8 file with a byte-order mark;
    // the Windows reader does not take it as part of the first line.
    const std::string byteOrderMark = "\xEF\xBB\xBF";
    std::istringstream lines(text);
    if (text.compare(0, byteOrderMark.size(), byteOrderMark) == 0) lines.ignore(byteOrderMark.size());
    std::string raw;
    while (std::getline(lines, raw)) {
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (close == std::string::npos) continue;
            file.sections_.push_back(profile_section{trimmed(line.substr(1, close - 1)), {}});
            current = &file.sections_.back();
            continue;
        }
        const size_t equals = line.find('=');
        if (!current || equals == std::string::npos) continue;
        current->entries.push_back(
            profile_entry{trimmed(line.substr(0, equals)), unquoted(trimmed(line.substr(equals + 1)))});
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
