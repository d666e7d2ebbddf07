// Loads component modules with dlopen and resolves their export. Each
// module is loaded once and stays loaded until the cache is destroyed.
#ifndef QUON_HOST_MODULE_LOADER_H
#define QUON_HOST_MODULE_LOADER_H

#include <map>
#include <string>

class quon_client_callback;

using load_function = quon_client_callback* (*)(quon_client_callback* host, const char* path);

class module_cache {
public:
    module_cache() = default;
    ~module_cache();
    module_cache(const module_cache&) = delete;
    module_cache& operator=(const module_cache&) = delete;

    // The module's load_quon_client_script, or null with a one-line error.
    load_function load(const std::string& path, std::string& error);

private:
    std::map<std::string, void*> handles_;
};

#endif
