// Loads component modules with dlopen and resolves their export. Each
// module is loaded once and stays loaded until the cache is destroyed.
#ifndef QUON_ENGINE_MODULE_CACHE_H
#define QUON_ENGINE_MODULE_CACHE_H

#include <map>
#include <string>

class quon_client_callback;

namespace quon {

using load_function = quon_client_callback* (*)(quon_client_callback* host, const char* path);

class module_cache {
public:
    module_cache() = default;
    ~module_cache();
    module_cache(const module_cache&) = delete;
    module_cache& operator=(const module_cache&) = delete;

    // The module's load_quon_client_script, or null with a one-line error
    // that names the file and why: missing, a folder, not a shared object,
    // built for another machine, or without the export. `path` is a file
    // path; it is never searched for by the dynamic loader.
    load_function load(const std::string& path, std::string& error);

private:
    std::map<std::string, void*> handles_;  // owned; closed by the destructor
};

// "an aarch64 module; this host is x86-64" when the file is an ELF object
// for another machine than this process; empty otherwise.
std::string foreignMachine(const std::string& path);

}  // namespace quon

#endif
