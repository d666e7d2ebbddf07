// A device file's [Router] section as the system files give it, for the
// tests of the key reader: the keys in order from line 3, 16 sources and
// 8 destinations.
#ifndef QUON_TESTS_ROUTERS_ROUTER_DEVICE_H
#define QUON_TESTS_ROUTERS_ROUTER_DEVICE_H

#include <string>
#include <utility>
#include <vector>

#include "quon/common/text.h"
#include "quon/engine/system_files.h"

namespace quon::test {

inline router_description routerDevice(const std::string& protocol,
                                       const std::vector<std::pair<std::string, std::string>>& keys) {
    router_description d;
    d.device = 1;
    d.path = "dev_001.ini";
    d.protocol = protocol;
    int line = 3;
    for (const auto& [key, value] : keys) {
        const std::string lower = lowerCase(key);
        d.settings[lower] = value;
        d.settingLines[lower] = line++;
        d.settingSpelling[lower] = key;
    }
    d.databaseSizes = {{0, 16}, {1, 8}};
    return d;
}

}  // namespace quon::test

#endif
