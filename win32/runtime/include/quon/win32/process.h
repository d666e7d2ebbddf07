// A Windows process on the emulated machine: the loader (images, their
// imports, relocation when the preferred base is taken, DllMain and TLS
// callbacks, LoadLibraryA/GetProcAddress/FreeLibrary), the functions of
// msvcrt.dll, kernel32.dll and version.dll that the project's binaries use,
// implemented natively, the checked heap, and C++ exceptions as Windows
// runs them on x86 (_CxxThrowException through the fs:[0] chain to a
// native __CxxFrameHandler3). A function of those DLLs that is not
// emulated loads, and ends the run naming itself when it is called.
//
// Windows paths are mapped as Wine maps them: Z:\a\b is /a/b, backslashes
// are slashes, other drives do not exist.
//
// One thread: the process and its machine belong to the thread that made
// them.
#ifndef QUON_WIN32_PROCESS_H
#define QUON_WIN32_PROCESS_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quon/win32/heap.h"
#include "quon/win32/machine.h"

namespace quon::win32 {

// An image that cannot be loaded: what and why.
class load_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct process_options {
    std::vector<std::string> environment;  // "NAME=VALUE", the process's and the C runtime's
    // Where OutputDebugStringA's texts go, one call at a time.
    std::function<void(const std::string&)> debugOutput;
    // Where puts writes.
    std::function<void(const std::string&)> standardOutput;
};

class process {
public:
    explicit process(process_options options);
    ~process();
    process(const process&) = delete;
    process& operator=(const process&) = delete;

    machine& cpu() { return *cpu_; }
    heap& memory() { return *heap_; }

    // Loads the image at `path` (a host path) with the DLLs it imports and
    // calls their entry points; returns its base (its HMODULE). Loading a
    // loaded image counts it once more. Throws load_error; machine_fault
    // when an entry point faults.
    uint32_t load(const std::string& path);
    // Counts a load off; at none the entry point is told and it is unmapped.
    // False when `module` is no loaded image.
    bool unload(uint32_t module);
    // The address of an export (by name, or "#N" by ordinal), forwarders
    // followed; 0 when there is none.
    uint32_t exportAddress(uint32_t module, const std::string& name);

    // Runs the program at `path` with its arguments (argv[0] is made from
    // the path); returns its exit code. Throws load_error, machine_fault.
    int runProgram(const std::string& path, const std::vector<std::string>& arguments);

    // Every function emulated natively, as "dll!name".
    std::vector<std::string> emulatedFunctions() const;

    // Ends the process as Windows does at exit: each DLL's entry point is
    // told, last loaded first; then the heap's guard bytes are checked.
    void shutDown();

private:
    struct module;
    struct native_library;
    class runtime;
    friend class runtime;

    module* find(uint32_t base);
    module* findByPath(const std::string& hostPath);
    std::string locate(const std::string& name, const std::string& besideDirectory) const;
    uint32_t loadModule(const std::string& path, std::vector<std::string>& chain);
    uint32_t loadByName(const std::string& name, const std::string& besideDirectory, std::vector<std::string>& chain);
    uint32_t resolveImport(const std::string& dll, const std::string& name, const std::string& besideDirectory,
                           std::vector<std::string>& chain, const std::string& importer);
    uint32_t nativeExport(const std::string& dll, const std::string& name);
    void callEntry(module& m, uint32_t reason);

    process_options options_;
    std::unique_ptr<machine> cpu_;
    std::unique_ptr<heap> heap_;
    std::unique_ptr<runtime> runtime_;
    std::vector<std::unique_ptr<module>> modules_;  // in load order
    std::map<std::string, uint32_t> nativeHandles_;  // lower-case DLL name -> pseudo base
    std::map<std::string, uint32_t> nativeStubs_;    // "dll!name" -> address
    std::string programDirectory_;
};

// Wine's mapping of Windows paths: "Z:\a\b" -> "/a/b", "a\b" -> "a/b";
// empty for a path on another drive.
std::string hostPath(const std::string& windowsPath);
// "/a/b" -> "Z:\a\b"; a relative path keeps its backslashed form.
std::string windowsPath(const std::string& hostPath);

}  // namespace quon::win32

#endif
