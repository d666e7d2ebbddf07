// A component module built for 32-bit Windows in the Microsoft C++ ABI,
// run on the emulated x86 CPU: its own process (machine, heap, loader).
// Native hosts reach the module as emulated quon_client_callback objects,
// and the module's components reach the engine as native ones; records and
// texts are copied into emulated memory, laid out as the 32-bit ABI has
// them, for the length of each call.
//
// One thread: the module and its components belong to the engine's thread.
#ifndef QUON_WINDOWS_MODULES_WINDOWS_MODULE_H
#define QUON_WINDOWS_MODULES_WINDOWS_MODULE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "quon/engine/module_loader.h"

class quon_client_callback;

namespace quon {

namespace win32 {
class process;
}

class windows_module : public std::enable_shared_from_this<windows_module> {
public:
    // Loads the DLL at `path`. Throws std::runtime_error with a one-line
    // reason when it cannot be loaded or lacks the export.
    explicit windows_module(const std::string& path);
    ~windows_module();
    windows_module(const windows_module&) = delete;
    windows_module& operator=(const windows_module&) = delete;

    // Calls load_quon_client_script; the component is owned by the
    // caller. Throws module_fault.
    quon_client_callback* create(quon_client_callback* host, const char* path);

    bool broken() const { return !fault_.empty(); }

private:
    class component;
    friend class component;

    // Runs `call` in emulation; a fault or an exit breaks the module and
    // throws module_fault naming it.
    template <typename call_type>
    uint32_t guarded(const call_type& call);
    [[noreturn]] void failed();
    uint32_t hostObject(quon_client_callback* host);
    uint32_t copyText(const char* text);
    void hostCallback(uint32_t self, uint32_t data, int type, uint32_t& result);

    std::string name_;  // the file's name, in reports
    std::unique_ptr<win32::process> process_;
    uint32_t load_ = 0;
    uint32_t unknownData_ = 0;  // zeros, for messages whose data has no known layout
    uint32_t destructorSlot_ = 0;
    uint32_t callbackSlot_ = 0;
    std::map<quon_client_callback*, uint32_t> hostObjects_;
    std::map<uint32_t, quon_client_callback*> hosts_;
    // Replies of the hosts to commands, as copied for the module: the
    // emulated copy -> the host's own text.
    std::map<uint32_t, char*> hostReplies_;
    std::string foreignText_;  // a text handed back that the host never gave, as last read
    std::string fault_;
};

}  // namespace quon

#endif
