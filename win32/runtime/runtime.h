// The natively implemented DLL functions of a process (internal).
#ifndef QUON_WIN32_RUNTIME_H
#define QUON_WIN32_RUNTIME_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "quon/win32/pe_image.h"
#include "quon/win32/process.h"

namespace quon::win32 {

struct process::module {
    std::string name;  // the file name, as reports name it
    std::string path;  // canonical host path
    uint32_t base = 0;
    uint32_t size = 0;
    uint32_t entry = 0;  // virtual address, 0 when none
    bool dll = false;
    int loads = 1;
    std::vector<uint32_t> tlsCallbacks;  // relocated
    std::vector<uint32_t> dependencies;  // bases of the DLLs loaded for its imports
    pe::image image;                     // without its mapped bytes
};

class process::runtime {
public:
    struct native {
        uint32_t popBytes;
        native_function function;
        bool leaf;  // never calls emulated code (machine::addNative)
        // When not empty: the function as emulated x86 code
        // (machine::addRoutine), which ends in a jmp to `function`, called
        // for what the code leaves to it.
        std::vector<uint8_t> code;
    };

    explicit runtime(process& owner);
    // The native function "dll!name" (DLL name in lower case), or null.
    const native* find(const std::string& key) const;
    void setArguments(const std::vector<std::string>& arguments);
    std::vector<std::string> names() const;

private:
    void add(const std::string& dll, const std::string& name, uint32_t popBytes, native_function function,
             bool leaf = true);
    // Gives the native function added as "dll!name" emulated code to run first.
    void addCode(const std::string& dll, const std::string& name, std::vector<uint8_t> code);
    void addCRuntime();
    void addKernel();
    void addVersion();
    void addExceptions();

    uint32_t copyString(const std::string& text);  // into the runtime's own heap blocks
    void setLastError(uint32_t code);

    // C++ exceptions (cxx_exceptions.cpp).
    void throwException(native_call& call);
    void frameHandler(native_call& call);
    [[noreturn]] void catchIn(uint32_t record, uint32_t node, uint32_t funcInfo, uint32_t tryBlock,
                              uint32_t handler, uint32_t catchable);
    void unwindFrame(uint32_t node, uint32_t funcInfo, int32_t toState);
    bool matches(uint32_t handler, uint32_t throwInfo, uint32_t& catchable) const;

    process& owner_;
    machine& cpu_;
    std::map<std::string, native> table_;
    // The C runtime's environment and the process's, each "NAME=VALUE".
    std::vector<std::string> crtEnvironment_;
    std::vector<std::string> processEnvironment_;
    std::map<std::string, uint32_t> crtStrings_;  // upper-case name -> "NAME=VALUE" block
    uint32_t argc_ = 0, argv_ = 0, envp_ = 0;
    std::map<uint32_t, int> files_;
    uint32_t nextHandle_ = 0x100;
    // The exceptions whose catch blocks run now, innermost last: object, throw info.
    std::vector<std::pair<uint32_t, uint32_t>> caught_;
};

std::string lowerCase(std::string text);

}  // namespace quon::win32

#endif
