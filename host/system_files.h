// The simulated control system as files: device files and the instances
// file of one system folder ($VX_ROOT/$VX_SYSTEM/config/system/).
//
// dev_NNN.ini describes one device, here always a router:
//   [Router]        Name=...; Answers=yes|no (no: the router takes routes
//                   but sends no revertives, so components keep polling)
//   [Database]      DatabaseSize_N=count, as components read it; database
//                   1 holds the destinations, database 0 the sources
//   [Database_N]    index=name, the entry names of database N
//   [Crosspoints]   destination=source, the routes at start (else 0)
// instances.ini, section [Instances]: name=device index (the reply to "SD").
#ifndef QUON_HOST_SYSTEM_FILES_H
#define QUON_HOST_SYSTEM_FILES_H

#include <map>
#include <string>
#include <vector>

struct router_description {
    int device = 0;
    std::string name;
    bool answers = true;
    std::map<int, int> databaseSizes;                      // database -> size
    std::map<int, std::map<int, std::string>> entryNames;  // database -> index -> name
    std::map<int, int> crosspoints;                        // destination -> source
};

struct system_description {
    std::string folder;
    std::vector<router_description> routers;
    std::map<std::string, std::string> instances;  // lower-case name -> "device index"
    std::vector<std::string> warnings;             // what was skipped, and why
};

// The folder of a system: root/system/config/system.
std::string systemFolder(const std::string& root, const std::string& system);

// Reads every dev_NNN.ini and instances.ini of `folder`. A folder that
// cannot be listed gives an empty system and a warning.
system_description readSystem(const std::string& folder);

#endif
