#include "module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

module_cache::~module_cache() {
    for (auto& entry : handles_) dlclose(entry.second);
}

load_function module_cache::load(const std::string& path, std::string& error) {
    void* handle = nullptr;
    const auto known = handles_.find(path);
    if (known != handles_.end()) {
        handle = known->second;
    } else {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            error = path + ": no such module file";
            return nullptr;
        }
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = dlerror();
            error = path + ": cannot be loaded: " + (reason ? reason : "unknown reason");
            return nullptr;
        }
        handles_.emplace(path, handle);
    }
    void* symbol = dlsym(handle, "load_quon_client_script");
    if (!symbol) {
        error = path + ": does not export load_quon_client_script";
        return nullptr;
    }
    return reinterpret_cast<load_function>(symbol);
}
