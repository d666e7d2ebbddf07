#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "quon/script/atoi_value.h"
#include "quon/script/device_file.h"
#include "quon/script/quon_script_helper.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <string.h>

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

// Formats into `out`, `space` bytes with the terminator; false when the text
// did not fit (`out` then holds as much as fitted).
bool formatInto(char* out, size_t space, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
#if defined(_WIN32)
    // The C runtime DLL's own formatter, which every Windows build has (the
    // C99 snprintf of MinGW's headers is MinGW's own library's). It returns
    // a negative count when the text does not fit and does not terminate a
    // full buffer.
    const int length = _vsnprintf(out, space - 1, format, arguments);
    out[space - 1] = '\0';
#else
    const int length = vsnprintf(out, space, format, arguments);
#endif
    va_end(arguments);
    return length >= 0 && static_cast<size_t>(length) < space;
}

}  // namespace

void deviceFileName(int device, char* out, size_t space) { formatInto(out, space, "dev_%03d.ini", device); }

unsigned readProfileValue(const char* section, const char* key, const char* fallback, char* out, size_t space,
                          const char* path) {
#if defined(_WIN32)
    return GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(space), path);
#else
    std::string value;
    const char* text =
        profile_file::lookup(path, section, key, value) == profile_file::lookup_result::found ? value.c_str() : fallback;
    size_t length = strlen(text);
    if (length > space - 1) length = space - 1;
    memcpy(out, text, length);
    out[length] = '\0';
    return static_cast<unsigned>(length);
#endif
}

int quon_script_helper::databaseSize(int device, int database) {
    const char* root = getenv("VX_ROOT");
    const char* system = getenv("VX_SYSTEM");
    if (!root || !system) return 0;

    char key[name_space];
    char fileName[name_space];
    char path[path_space];
    formatInto(key, sizeof key, "DatabaseSize_%d", database);
    deviceFileName(device, fileName, sizeof fileName);
    // A path that does not fit is not read at all rather than read cut short.
    if (!formatInto(path, sizeof path, path_format, root, system, fileName)) return 0;

    char value[value_space];
    if (readProfileValue("Database", key, "0", value, sizeof value, path) == 0) return 0;
    return atoiValue(value);
}
