// The control system as files: device files and the instances file of one
// system folder ($VX_ROOT/$VX_SYSTEM/config/system/).
//
// dev_NNN.ini describes one device, here always a router. The host reads
// it with the component's own reader and number conversion, so the two
// never disagree:
//   [Router]        Name=...
//                   Protocol=simulated (the default) or a protocol on the
//                   network (videohub, swp08, emberplus: each reads its
//                   own keys, routers/network_routers.h)
//                   Answers=yes|no (simulated: no takes routes but sends
//                   no revertives, so components keep polling)
//   [Database]      DatabaseSize_N=count, as components read it; database
//                   1 holds the destinations, database 0 the sources
//   [Database_N]    index=name, the entry names of database N
//   [Crosspoints]   destination=source, the routes at start (else 0)
// instances.ini, section [Instances]: name=device index (the reply to "SD").
#ifndef QUON_ENGINE_SYSTEM_FILES_H
#define QUON_ENGINE_SYSTEM_FILES_H

#include <map>
#include <string>
#include <vector>

namespace quon {

// The largest router the host holds; larger sizes are cut to it.
constexpr int max_router_size = 65536;

struct router_description {
    int device = 0;
    std::string path;  // the device file
    std::string name;
    std::string protocol = "simulated";
    // Every key of [Router], as read, by lower-case key: what a backend
    // needs beyond the common fields (Address, Matrix, ...).
    std::map<std::string, std::string> settings;
    std::map<std::string, int> settingLines;            // lower-case key -> its line in the file
    std::map<std::string, std::string> settingSpelling;  // lower-case key -> as written
    bool answers = true;
    std::map<int, int> databaseSizes;                      // database -> size
    std::map<int, std::map<int, std::string>> entryNames;  // database -> index -> name
    std::map<int, int> crosspoints;                        // destination -> source

    // The destinations the component expects (DatabaseSize_1), cut to
    // what the host holds.
    int destinations() const;
    // "path:line: " of a [Router] key (lower case), or "path: " when the
    // file does not have it: where an error about the key points.
    std::string place(const std::string& key) const;
    // The key as the file spells it, else `key`.
    std::string spelling(const std::string& key) const;
};

struct system_description {
    std::string folder;
    bool listed = false;  // the folder could be listed; else nothing was read
    std::vector<router_description> routers;
    std::map<std::string, std::string> instances;  // lower-case name -> "device index"
    std::vector<std::string> warnings;             // what was skipped, and why: "path:line: ..." or "path: ..."
};

// The folder of a system: root/system/config/system.
std::string systemFolder(const std::string& root, const std::string& system);

// Reads every dev_NNN.ini and instances.ini of `folder`. A folder that
// cannot be listed gives an empty system and a warning.
system_description readSystem(const std::string& folder);

}  // namespace quon

#endif
