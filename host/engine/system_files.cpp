#include "quon/engine/system_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "quon/script/device_file.h"
#include "quon/script/atoi_value.h"
#include "quon/script/profile_file.h"
#include "quon/common/decimal.h"
#include "quon/common/text.h"

namespace quon {

namespace {

namespace fs = std::filesystem;

// The line of the first "key=" in `section` of the file, for warnings that
// point at it; 0 when it cannot be found.
int lineOf(const std::string& path, const std::string& section, const std::string& key) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    bool inSection = false;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string t = trimmed(line);
        if (!t.empty() && t[0] == '[') {
            inSection = equalsIgnoringCase(trimmed(t.substr(1, t.find(']') - 1)), section);
        } else if (inSection) {
            const size_t equals = t.find('=');
            if (equals != std::string::npos && equalsIgnoringCase(trimmed(t.substr(0, equals)), key)) return number;
        }
    }
    return 0;
}

std::string where(const std::string& path, const std::string& section, const std::string& key) {
    const int line = lineOf(path, section, key);
    return path + (line ? ":" + std::to_string(line) : std::string()) + ": ";
}

// A size as the component reads it (atoi, clamped; a value as long as the
// component's buffer holds), with a warning for a value the host cannot
// use. From the reading of the file at hand: the process's shared reading
// of it (what readProfileValue keeps) would hold a second copy of the
// router's names for the process's life.
bool readSize(const profile_file& file, const std::string& path, const std::string& key, int& size,
              std::vector<std::string>& warnings) {
    const std::string* found = file.value("Database", key);
    const std::string text = found ? found->substr(0, 255) : std::string();
    const char* value = text.c_str();
    const size_t first = text.find_first_not_of(" \t");
    const size_t digit = first == std::string::npos ? first : text.find_first_not_of("+-", first);
    const bool number = digit != std::string::npos && digit - first <= 1 && text[digit] >= '0' && text[digit] <= '9';
    const std::string at = where(path, "Database", key);
    if (!number) {
        warnings.push_back(at + key + "=" + escaped(text) + ": not a number (the component reads 0)");
        return false;
    }
    size = atoiValue(value);
    if (size < 0) {
        warnings.push_back(at + key + "=" + escaped(text) + ": negative");
        return false;
    }
    if (size > max_router_size) {
        warnings.push_back(at + key + "=" + escaped(text) + ": above the " + std::to_string(max_router_size) +
                           " entries the host holds; cut to that");
        size = max_router_size;
    }
    return true;
}

bool isNo(const std::string& text) {
    return equalsIgnoringCase(text, "no") || text == "0" || equalsIgnoringCase(text, "false");
}

void readRouter(const std::string& path, int device, system_description& out) {
    profile_file file;
    if (!profile_file::load(path, file)) {
        out.warnings.push_back(path + ": cannot be read");
        return;
    }
    router_description router;
    router.device = device;
    router.path = path;
    if (const profile_section* section = file.section("Router")) {
        for (const profile_entry& e : section->entries) {
            const std::string key = lowerCase(e.key);
            if (!router.settings.emplace(key, e.value).second) continue;
            router.settingLines[key] = lineOf(path, "Router", e.key);
            router.settingSpelling[key] = e.key;
        }
    }
    if (const std::string* name = file.value("Router", "Name")) router.name = systemText(*name);
    if (const std::string* protocol = file.value("Router", "Protocol")) router.protocol = lowerCase(*protocol);
    if (const std::string* answers = file.value("Router", "Answers")) router.answers = !isNo(*answers);
    for (const profile_section& section : file.sections()) {
        const std::string prefix = "Database_";
        int database = 0;
        if (equalsIgnoringCase(section.name, "Database")) {
            for (const profile_entry& e : section.entries) {
                int size = 0;
                if (e.key.size() > 13 && equalsIgnoringCase(e.key.substr(0, 13), "DatabaseSize_") &&
                    parseInt32(e.key.substr(13), database) && e.key.substr(13) == std::to_string(database) &&
                    !router.databaseSizes.count(database) && readSize(file, path, e.key, size, out.warnings))
                    router.databaseSizes.emplace(database, size);
            }
        } else if (section.name.size() > prefix.size() &&
                   equalsIgnoringCase(section.name.substr(0, prefix.size()), prefix) &&
                   parseInt32(section.name.substr(prefix.size()), database)) {
            for (const profile_entry& e : section.entries) {
                int index = 0;
                if (parseInt32(e.key, index))
                    router.entryNames[database].emplace(index, systemText(e.value));
                else
                    out.warnings.push_back(where(path, section.name, e.key) + "[" + section.name + "] " +
                                           escaped(e.key) + ": not an index");
            }
        } else if (equalsIgnoringCase(section.name, "Crosspoints")) {
            for (const profile_entry& e : section.entries) {
                int destination = 0, source = 0;
                if (parseInt32(e.key, destination) && parseInt32(e.value, source))
                    router.crosspoints.emplace(destination, source);
                else
                    out.warnings.push_back(where(path, section.name, e.key) + "[Crosspoints] " + escaped(e.key) +
                                           "=" + escaped(e.value) + ": not destination=source");
            }
        }
    }
    out.routers.push_back(std::move(router));
}

// The device number of a file the component would read, or 0.
int deviceOf(const std::string& name, const std::string& path, std::vector<std::string>& warnings) {
    if (name.size() <= 8 || name.compare(0, 4, "dev_") != 0 || name.compare(name.size() - 4, 4, ".ini") != 0) return 0;
    int device = 0;
    char expected[64];
    if (parseInt32(name.substr(4, name.size() - 8), device) && device > 0) {
        deviceFileName(device, expected, sizeof expected);
        if (name == expected) return device;
        warnings.push_back(path + ": the component reads device " + std::to_string(device) + " from " + expected +
                           ", never from this name; skipped");
        return 0;
    }
    warnings.push_back(path + ": not a device file name the component reads (dev_NNN.ini); skipped");
    return 0;
}

}  // namespace

std::string router_description::place(const std::string& key) const {
    const auto line = settingLines.find(key);
    return path + (line != settingLines.end() && line->second > 0 ? ":" + std::to_string(line->second) : "") + ": ";
}

std::string router_description::spelling(const std::string& key) const {
    const auto spelt = settingSpelling.find(key);
    return spelt != settingSpelling.end() ? spelt->second : key;
}

int router_description::destinations() const {
    const auto size = databaseSizes.find(1);
    return size == databaseSizes.end() ? 0 : std::clamp(size->second, 0, max_router_size);
}

std::string systemFolder(const std::string& root, const std::string& system) {
    return root + "/" + system + "/config/system";
}

system_description readSystem(const std::string& folder) {
    system_description out;
    out.folder = folder;
    std::error_code error;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, error)) files.push_back(entry.path());
    if (error) {
        out.warnings.push_back(folder + ": " + error.message());
        return out;
    }
    out.listed = true;
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const int device = deviceOf(file.filename().string(), file.string(), out.warnings);
        if (!device) continue;
        if (fs::is_directory(file, error)) {
            out.warnings.push_back(file.string() + ": a folder, not a device file; skipped");
            continue;
        }
        readRouter(file.string(), device, out);
    }
    const std::string instancesPath = folder + "/instances.ini";
    profile_file instances;
    if (fs::is_directory(instancesPath, error)) {
        out.warnings.push_back(instancesPath + ": a folder, not the instances file; no instances");
    } else if (!fs::exists(instancesPath, error)) {
        out.warnings.push_back(instancesPath + ": missing; no instances");
    } else if (!profile_file::load(instancesPath, instances)) {
        out.warnings.push_back(instancesPath + ": cannot be read; no instances");
    } else if (const profile_section* section = instances.section("Instances")) {
        for (const profile_entry& e : section->entries) out.instances.emplace(lowerCase(e.key), e.value);
    }
    return out;
}

}  // namespace quon
