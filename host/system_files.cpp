#include "system_files.h"

#include <algorithm>
#include <filesystem>

#include "decimal_text.h"
#include "profile_file.h"

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

void readRouter(const std::string& path, int device, system_description& out) {
    profile_file file;
    if (!profile_file::load(path, file)) {
        out.warnings.push_back(path + ": cannot be read");
        return;
    }
    router_description router;
    router.device = device;
    if (const std::string* name = file.value("Router", "Name")) router.name = *name;
    if (const std::string* answers = file.value("Router", "Answers"))
        router.answers =
            !(equalsIgnoringCase(*answers, "no") || *answers == "0" || equalsIgnoringCase(*answers, "false"));
    for (const profile_section& section : file.sections()) {
        const std::string prefix = "Database_";
        int database = 0;
        if (equalsIgnoringCase(section.name, "Database")) {
            for (const profile_entry& e : section.entries) {
                int size = 0;
                if (e.key.size() > 13 && equalsIgnoringCase(e.key.substr(0, 13), "DatabaseSize_") &&
                    parseInt32(e.key.substr(13), database) && parseInt32(e.value, size))
                    router.databaseSizes.emplace(database, size);
            }
        } else if (section.name.size() > prefix.size() &&
                   equalsIgnoringCase(section.name.substr(0, prefix.size()), prefix) &&
                   parseInt32(section.name.substr(prefix.size()), database)) {
            for (const profile_entry& e : section.entries) {
                int index = 0;
                if (parseInt32(e.key, index))
                    router.entryNames[database].emplace(index, e.value);
                else
                    out.warnings.push_back(path + ": [" + section.name + "] " + e.key + ": not an index");
            }
        } else if (equalsIgnoringCase(section.name, "Crosspoints")) {
            for (const profile_entry& e : section.entries) {
                int destination = 0, source = 0;
                if (parseInt32(e.key, destination) && parseInt32(e.value, source))
                    router.crosspoints.emplace(destination, source);
                else
                    out.warnings.push_back(path + ": [Crosspoints] " + e.key + "=" + e.value +
                                           ": not destination=source");
            }
        }
    }
    out.routers.push_back(std::move(router));
}

}  // namespace

std::string systemFolder(const std::string& root, const std::string& system) {
    return root + "/" + system + "/config/system";
}

system_description readSystem(const std::string& folder) {
    system_description out;
    out.folder = folder;
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) files.push_back(entry.path());
    if (error) {
        out.warnings.push_back(folder + ": " + error.message());
        return out;
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
        const std::string name = file.filename().string();
        int device = 0;
        if (name.size() > 8 && name.compare(0, 4, "dev_") == 0 && name.compare(name.size() - 4, 4, ".ini") == 0 &&
            parseInt32(name.substr(4, name.size() - 8), device))
            readRouter(file.string(), device, out);
    }
    profile_file instances;
    if (profile_file::load(folder + "/instances.ini", instances)) {
        if (const profile_section* section = instances.section("Instances"))
            for (const profile_entry& e : section->entries) out.instances.emplace(lowerCase(e.key), e.value);
    }
    return out;
}
