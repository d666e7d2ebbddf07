#include <cstdio>
#include <cstdlib>

#include "quon/script/atoi_value.h"
#include "quon/script/device_file.h"
#include "quon/script/quon_script_helper.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstring>

#include "quon/script/profile_file.h"
#endif

namespace {

#if defined(_WIN32)
const char* const path_format = "%s\\%s\\config\\system\\%s";
#else
const char* const path_format = "%s/%s/config/system/%s";
#endif

// Room of the device file's path, its terminator included.
const size_t path_space = 260;
const size_t name_space = 256;
const size_t value_space = 256;

}  // namespace

void deviceFileName(int device, char* out, size_t space) { std::snprintf(out, space, "dev_%03d.ini", device); }

unsigned readProfileValue(const char* section, const char* key, const char* fallback, char* out, size_t space,
                          const char* path) {
#if defined(_WIN32)
    return GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(space), path);
#else
    std::string value;
    const char* text =
        profile_file::lookup(path, section, key, value) == profile_file::lookup_result::found ? value.c_str() : fallback;
    size_t length = std::strlen(text);
    if (length > space - 1) length = space - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return static_cast<unsigned>(length);
#endif
}

int quon_script_helper::databaseSize(int device, int database) {
    const char* root = std::getenv("VX_ROOT");
    const char* system = std::getenv("VX_SYSTEM");
    if (!root || !system) return 0;

    char key[name_space];
    char fileName[name_space];
    char path[path_space];
    std::snprintf(key, sizeof key, "DatabaseSize_%d", database);
    deviceFileName(device, fileName, sizeof fileName);
    const int pathLength = std::snprintf(path, sizeof path, path_format, root, system, fileName);
    // A path that does not fit is not read at all rather than read cut short.
    if (pathLength < 0 || static_cast<size_t>(pathLength) >= sizeof path) return 0;

    char value[value_space];
    if (readProfileValue("Database", key, "0", value, sizeof value, path) == 0) return 0;
    return atoiValue(value);
}
