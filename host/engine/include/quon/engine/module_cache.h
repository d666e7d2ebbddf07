// Loads component modules and resolves their export: a shared object with
// dlopen, itself; any other kind through the loaders it is given
// (module_loader.h), asked first. Each module is loaded once and stays
// loaded until the cache is destroyed (or its loader lets it go).
//
// Threading: one thread, the engine's.
#ifndef QUON_ENGINE_MODULE_CACHE_H
#define QUON_ENGINE_MODULE_CACHE_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quon/engine/module_loader.h"

namespace quon {

class module_cache {
public:
    // A loader of each kind of `loaders`, owned by the cache.
    explicit module_cache(const module_loaders& loaders = {});
    ~module_cache();
    module_cache(const module_cache&) = delete;
    module_cache& operator=(const module_cache&) = delete;

    // The module's load_quon_client_script, or an empty function with a
    // one-line error that names the file and why: missing, a folder, not
    // a shared object, built for another machine, without the export, a
    // Windows module with no loader for it, or (a module of a loader) the
    // loader's reason. `path` is a file path; it is never searched for by
    // the dynamic loader.
    load_function load(const std::string& path, std::string& error);

private:
    std::vector<std::unique_ptr<module_loader>> loaders_;
    std::map<std::string, void*> handles_;  // owned; closed by the destructor
};

// "an aarch64 module; this host is x86-64" when the file is an ELF object
// for another machine than this process; empty otherwise.
std::string foreignMachine(const std::string& path);

// True when the file starts as a PE image does ("MZ", then "PE\0\0" where
// the DOS header points).
bool isWindowsModule(const std::string& path);

}  // namespace quon

#endif
