#include "quon/script/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_map>

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
    // A reading may be kept for the process's life (shared()): without the
    // room its sections grew into (up to as much again for a router's names).
    for (profile_section& section : file.sections_) section.entries.shrink_to_fit();
    file.sections_.shrink_to_fit();
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

namespace {

// What tells one version of a file from another without reading it.
struct file_identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const file_identity& o) const {
        return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};

file_identity identityOf(const struct stat& info) {
    return file_identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// How old a file's times must be, when it is read, for the reading to be
// kept: a second write within one tick of the file system's clock leaves
// both times as they were. Times with a fraction of a second come from the
// kernel's clock, which ticks at least every 10 ms; whole seconds may be
// all a file system keeps (two seconds on FAT).
const long settle_fine_ns = 100000000;
const long settle_whole_ns = 2000000000;
// Files kept at most; past it the cache starts afresh.
const size_t most_files = 1024;
// Larger files are not kept (nor read whole by lookup()).
const off_t largest_file = 1 << 20;

// How long a kept file is taken as it was when last looked at, without
// looking again. A look is a system call, which costs microseconds on a
// virtual machine, and a wall's start asks the same file a hundred
// thousand times within a second; a file changed within this time of a
// look is one read a moment before the change.
const std::chrono::microseconds trusted_for{1000};

// A file as this process last read it. shared() keeps the whole reading;
// lookup() keeps only the sections it was asked for: a router's device
// file may name thousands of sources, and the component asks [Database].
struct cached_file {
    file_identity identity;
    std::chrono::steady_clock::time_point checked;  // when its identity was last compared
    std::shared_ptr<const profile_file> file;       // the whole reading, once shared() asked for it
    std::vector<profile_section> asked;             // else the sections asked (empty for one it lacks)
};

std::mutex cacheLock;
std::unordered_map<std::string, cached_file>& cache() {
    static std::unordered_map<std::string, cached_file> files;
    return files;
}

long long nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000 + t.tv_nsec; }

bool settled(const file_identity& identity) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long newest = std::max(nanoseconds(identity.modified), nanoseconds(identity.changed));
    const bool fine = identity.modified.tv_nsec != 0 || identity.changed.tv_nsec != 0;
    return nanoseconds(now) - newest >= (fine ? settle_fine_ns : settle_whole_ns);
}

// The whole of a plain file, with its identity as read; false when it
// cannot be read.
bool readWhole(const std::string& path, std::string& text, file_identity& identity) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= largest_file;
    if (ok) {
        identity = identityOf(info);
        text.clear();
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) ok = false;
            if (got <= 0) break;
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return ok;
}

enum class kept { current, stale, unusable };

// Whether the kept reading of `path` is still the file's (looked at no
// more than once every trusted_for); unusable when the file is not a plain
// file that can be kept. Called with cacheLock held.
kept keptState(const std::string& path, cached_file*& entry) {
    const auto known = cache().find(path);
    entry = known == cache().end() ? nullptr : &known->second;
    const auto now = std::chrono::steady_clock::now();
    if (entry && now - entry->checked < trusted_for) return kept::current;
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > largest_file)
        return kept::unusable;
    if (!entry || !(entry->identity == identityOf(info))) return kept::stale;
    entry->checked = now;
    return kept::current;
}

// Where the reading `identity` of `path` goes: the file's entry, emptied
// when it held another version; null when a reading this young is not kept.
cached_file* keep(const std::string& path, const file_identity& identity) {
    if (!settled(identity)) {
        cache().erase(path);
        return nullptr;
    }
    auto known = cache().find(path);
    if (known == cache().end()) {
        if (cache().size() >= most_files) cache().clear();
        known = cache().emplace(path, cached_file{identity, {}, nullptr, {}}).first;
    } else if (!(known->second.identity == identity)) {
        known->second = cached_file{identity, {}, nullptr, {}};
    }
    known->second.checked = std::chrono::steady_clock::now();
    return &known->second;
}

const profile_section* askedSection(const cached_file& entry, const std::string& name) {
    for (const profile_section& s : entry.asked)
        if (equalsIgnoringCase(s.name, name)) return &s;
    return nullptr;
}

}  // namespace

std::shared_ptr<const profile_file> profile_file::shared(const std::string& path) {
    {
        const std::lock_guard<std::mutex> hold(cacheLock);
        cached_file* entry = nullptr;
        const kept state = keptState(path, entry);
        if (state == kept::unusable) return nullptr;
        if (state == kept::current && entry->file) return entry->file;
    }
    std::string text;
    file_identity identity;
    if (!readWhole(path, text, identity)) return nullptr;
    auto file = std::make_shared<const profile_file>(parse(text));
    const std::lock_guard<std::mutex> hold(cacheLock);
    if (cached_file* entry = keep(path, identity)) {
        entry->file = file;
        entry->asked.clear();  // the whole reading answers for them
    }
    return file;
}

namespace {

// `key` of `section` from what is kept of `path`, reading and keeping that
// section when it is not; nothing when the file cannot be kept (lookup()
// then reads it as a stream).
std::optional<profile_file::lookup_result> keptLookup(const std::string& path, const std::string& sectionName,
                                                      const std::string& key, std::string& value) {
    const auto answer = [&](const profile_section* section) {
        if (section)
            for (const profile_entry& e : section->entries)
                if (equalsIgnoringCase(e.key, key)) {
                    value = e.value;
                    return profile_file::lookup_result::found;
                }
        return profile_file::lookup_result::missing;
    };
    {
        const std::lock_guard<std::mutex> hold(cacheLock);
        cached_file* entry = nullptr;
        const kept state = keptState(path, entry);
        if (state == kept::unusable) return std::nullopt;
        if (state == kept::current) {
            if (entry->file) return answer(entry->file->section(sectionName));
            if (const profile_section* asked = askedSection(*entry, sectionName)) return answer(asked);
        }
    }
    std::string text;
    file_identity identity;
    if (!readWhole(path, text, identity)) return std::nullopt;
    const profile_file file = profile_file::parse(text);
    const profile_section* section = file.section(sectionName);
    const profile_file::lookup_result result = answer(section);
    const std::lock_guard<std::mutex> hold(cacheLock);
    if (cached_file* entry = keep(path, identity); entry && !entry->file && !askedSection(*entry, sectionName))
        entry->asked.push_back(section ? *section : profile_section{sectionName, {}});
    return result;
}

}  // namespace

profile_file::lookup_result profile_file::lookup(const std::string& path, const std::string& sectionName,
                                                 const std::string& key, std::string& value) {
    if (const std::optional<lookup_result> result = keptLookup(path, sectionName, key, value)) return *result;
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
