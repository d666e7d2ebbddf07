#include "temp_system.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

temp_system::temp_system() {
    char pattern[] = "/tmp/quon-system-XXXXXX";
    const char* made = mkdtemp(pattern);
    root_ = made ? made : "/tmp";
    std::filesystem::create_directories(folder());
    setenv("VX_ROOT", root_.c_str(), 1);
    setenv("VX_SYSTEM", "main", 1);
}

temp_system::~temp_system() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    unsetenv("VX_ROOT");
    unsetenv("VX_SYSTEM");
}

std::string temp_system::folder() const { return root_ + "/main/config/system"; }

void temp_system::writeFile(const std::string& name, const std::string& contents) const {
    std::ofstream(folder() + "/" + name, std::ios::binary) << contents;
}

void temp_system::writeDevice(int device, const std::string& contents) const {
    char name[32];
    std::snprintf(name, sizeof name, "dev_%03d.ini", device);
    writeFile(name, contents);
}

void temp_system::writeRouter(int device, int destinations) const {
    writeDevice(device, "[Database]\nDatabaseSize_0=" + std::to_string(destinations) +
                            "\nDatabaseSize_1=" + std::to_string(destinations) + "\n");
}
