#include "quon/common/paths.h"

#include <filesystem>

namespace quon {

namespace fs = std::filesystem;

std::string executableFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

// Installed, the module sits in the host's private folder, lib/quon-host;
// in the build tree, in lib beside the other libraries.
std::string defaultModulePath() {
    const fs::path lib = fs::path(executableFolder()) / ".." / "lib";
    const fs::path installed = (lib / "quon-host" / "Korvane.so").lexically_normal();
    std::error_code ignored;
    if (fs::is_regular_file(installed, ignored)) return installed.string();
    return (lib / "Korvane.so").lexically_normal().string();
}

std::string examplesFolder() {
    return (fs::path(executableFolder()) / ".." / "share" / "quon-host" / "examples").lexically_normal().string();
}

std::string resolveModulePath(const std::string& path, const std::string& folder) {
    if (path.empty()) return path;
    fs::path p(path);
    if (p.is_relative()) {
        std::error_code error;
        const fs::path base = folder.empty() ? fs::current_path(error) : fs::path(folder);
        p = base / p;
    }
    return p.lexically_normal().string();
}

}  // namespace quon
