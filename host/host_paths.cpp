#include "host_paths.h"

#include <filesystem>

std::string executableFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

std::string defaultModulePath() {
    return (std::filesystem::path(executableFolder()) / ".." / "lib" / "Korvane.so").lexically_normal().string();
}

std::string examplesFolder() { return QUON_EXAMPLES_DIR; }
