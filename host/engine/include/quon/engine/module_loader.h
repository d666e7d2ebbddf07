// A kind of component module the engine loads through a loader the program
// registers, as it registers router backends: the engine itself loads a
// shared object with dlopen (module_cache.h); a program that runs other
// kinds (quon-host: 32-bit Windows DLLs, host/windows_modules/) adds one
// factory each to the module_loaders it gives its engines.
//
// Threading: a loader and what it loads belong to its cache's thread (the
// engine's one thread).
#ifndef QUON_ENGINE_MODULE_LOADER_H
#define QUON_ENGINE_MODULE_LOADER_H

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class quon_client_callback;

namespace quon {

// load_quon_client_script of a module: the component, owned by the
// caller, or null. Valid while the cache that gave it lives.
using load_function = std::function<quon_client_callback*(quon_client_callback* host, const char* path)>;

// Thrown by a call into a component of a module a loader runs apart from
// the host's own code (a Windows module's emulated code) when that code
// faulted or ended its process (then or earlier): the text names the module
// and the fault. The module is broken from then on; its loader loads it
// afresh the next time it is asked for it.
class module_fault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One kind of module. Owned by one module_cache, and the modules it loads
// stay loaded until it is destroyed (or, at its choice, until they break).
class module_loader {
public:
    virtual ~module_loader() = default;
    // Whether `path` is this loader's to load: a file of its kind, or a
    // module it holds and can still give (so that one loaded stays in use
    // though its file has since changed or gone). A file it cannot read is
    // not its; the cache says why.
    virtual bool takes(const std::string& path) const = 0;
    // The module's load_quon_client_script, or an empty function with a
    // one-line error that names the file and why it cannot be loaded.
    virtual load_function load(const std::string& path, std::string& error) = 0;
};

// What a program registers: a factory for each kind of module, called once
// by each module_cache for a loader of its own (an engine's modules are its
// own; two engines never share a module's state). Copied by whoever keeps
// it; called on the thread that makes the cache.
using module_loaders = std::vector<std::function<std::unique_ptr<module_loader>()>>;

}  // namespace quon

#endif
