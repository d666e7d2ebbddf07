// Reading INI ("profile") files the way the Windows profile functions do:
// section and key names match whatever their letter case; blanks around
// names, around '=' and around values are removed; one pair of matching
// quotes (' or ") around a value is removed; lines starting with ';' are
// comments; CR LF and LF line ends both work; a UTF-8 byte-order mark at
// the start of the file is skipped. Where a section or a key stands twice,
// the first one counts.
#ifndef QUON_PROFILE_FILE_H
#define QUON_PROFILE_FILE_H

#include <memory>
#include <string>
#include <vector>

struct profile_entry {
    std::string key;
    std::string value;
};

struct profile_section {
    std::string name;
    std::vector<profile_entry> entries;
};

class profile_file {
public:
    // Parses `text`; lines that are neither a section, a key nor a comment
    // are skipped, as the Windows reader skips them.
    static profile_file parse(const std::string& text);
    // False when the file cannot be read; `out` is then empty.
    static bool load(const std::string& path, profile_file& out);
    // The file at `path` as parsed when this process last read it, read
    // again when it changed; null when it cannot be read. Many displays of
    // one router ask its device file for the same value at once: they share
    // one reading. A file is taken to be unchanged while its device, inode,
    // size and modification and change times stay the same, and only once
    // those times are 100 ms old when it is read (two seconds where the
    // file system keeps whole seconds): a second write within one tick of
    // the file system's clock keeps both times, so a file that young is
    // read at every call. A kept file is looked at (one stat) at most once
    // a millisecond. Any thread.
    static std::shared_ptr<const profile_file> shared(const std::string& path);
    // One value, as load() and value() would find it. Of a plain file only
    // the sections asked are kept, as shared() keeps a file (a router's
    // device file may name thousands of sources, and a component asks for
    // [Database]); other files are read only as far as the end of the first
    // section of that name.
    enum class lookup_result { found, missing, unreadable };
    static lookup_result lookup(const std::string& path, const std::string& section, const std::string& key,
                                std::string& value);

    const profile_section* section(const std::string& name) const;
    const std::string* value(const std::string& section, const std::string& key) const;

    const std::vector<profile_section>& sections() const { return sections_; }

private:
    std::vector<profile_section> sections_;
};

// True when `a` and `b` are equal regardless of ASCII letter case.
bool equalsIgnoringCase(const std::string& a, const std::string& b);

#endif
