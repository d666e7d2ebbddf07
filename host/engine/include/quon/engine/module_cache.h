// Loads component modules and resolves their export: a shared object with
// dlopen, or a 32-bit Windows DLL (told by its PE signature) on the
// emulated x86 CPU of win32/, its own process with its own heap, the DLLs
// it imports found beside it. Each module is loaded once and stays loaded
// until the cache is destroyed, or, for a Windows module, until it faults.
#ifndef QUON_ENGINE_MODULE_CACHE_H
#define QUON_ENGINE_MODULE_CACHE_H

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

class quon_client_callback;

namespace quon {

// load_quon_client_script of a module: the component, owned by the
// caller, or null. Valid while the cache that gave it lives.
using load_function = std::function<quon_client_callback*(quon_client_callback* host, const char* path)>;

// Thrown by a call into a component of a Windows module when the emulated
// code faulted or ended the process (then or earlier): the text names the
// module and the fault. The module is broken from then on; the cache loads
// it afresh the next time it is asked for it.
class module_fault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class windows_module;

class module_cache {
public:
    module_cache();
    ~module_cache();
    module_cache(const module_cache&) = delete;
    module_cache& operator=(const module_cache&) = delete;

    // The module's load_quon_client_script, or an empty function with a
    // one-line error that names the file and why: missing, a folder, not
    // a shared object, built for another machine, without the export, or
    // (a Windows module) why it cannot be loaded. `path` is a file path;
    // it is never searched for by the dynamic loader.
    load_function load(const std::string& path, std::string& error);

private:
    std::map<std::string, void*> handles_;  // owned; closed by the destructor
    // Shared with the components made from them, which may outlive a
    // module's place here once it faults.
    std::map<std::string, std::shared_ptr<windows_module>> windows_;
};

// "an aarch64 module; this host is x86-64" when the file is an ELF object
// for another machine than this process; empty otherwise.
std::string foreignMachine(const std::string& path);

// True when the file starts as a PE image does ("MZ", then "PE\0\0" where
// the DOS header points).
bool isWindowsModule(const std::string& path);

}  // namespace quon

#endif
