// A device file of any contents: the size read through the base is what
// the file's value gives, cut to the reserved space and read as a decimal.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bare_component.h"
#include "quon/script/atoi_value.h"
#include "fuzz_check.h"
#include "quon/script/profile_file.h"
#include "quon/script/quon_script_helper.h"

namespace {

const std::string& folder() {
    static const std::string root = "/tmp/quon-fuzz-" + std::to_string(getpid());
    static const std::string path = [] {
        std::filesystem::create_directories(root + "/main/config/system");
        setenv("VX_ROOT", root.c_str(), 1);
        setenv("VX_SYSTEM", "main", 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        });
        return root + "/main/config/system";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string contents(reinterpret_cast<const char*>(data), size);
    std::ofstream(folder() + "/dev_007.ini", std::ios::binary | std::ios::trunc) << contents;

    const profile_file file = profile_file::parse(contents);
    const std::string* value = file.value("Database", "DatabaseSize_1");
    std::string text = value ? *value : "0";
    text = text.substr(0, text.find('\0')).substr(0, 255);
    const int expected = text.empty() ? 0 : atoiValue(text.c_str());

    bare_component reader;
    FUZZ_CHECK(reader.databaseSize(7, 1) == expected);
    return 0;
}
