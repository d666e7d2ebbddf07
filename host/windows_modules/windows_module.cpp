#include "windows_module.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "quon/win32/process.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"
#include "quon_records.h"

namespace quon {

namespace {

std::string fileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint32_t carried(void* data) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)); }

void put32(std::string& bytes, size_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

}  // namespace

// A component of the module as the engine sees it: a native
// quon_client_callback whose calls run the emulated object's vtable slots.
class windows_module::component final : public quon_client_callback {
public:
    component(std::shared_ptr<windows_module> module, uint32_t object, uint32_t destructor, uint32_t callback)
        : module_(std::move(module)), object_(object), destructor_(destructor), callback_(callback) {}

    // A destructor may not throw: a fault here is said on standard error,
    // and the module is broken for every other component, which say it.
    ~component() override {
        try {
            module_->guarded([&] { return call(destructor_, 1); });
        } catch (const module_fault& fault) {
            std::fprintf(stderr, "%s\n", fault.what());
        }
    }

    char* callback(void* data, int type) override {
        windows_module& m = *module_;
        if (m.broken()) throw module_fault(m.fault_);
        win32::process& p = *m.process_;
        uint32_t block = 0;  // emulated copy of `data`, freed after the call
        uint32_t argument = 0;
        char* handedBack = nullptr;
        switch (type) {
            case QUON_MSG_REVERTIVE:
            case QUON_MSG_DATABASE: {
                const uint32_t size = type == QUON_MSG_REVERTIVE ? 16 : 12;
                if (data) {
                    block = allocate(size);
                    p.cpu().write(block, data, size);  // int32 fields only: the same on both sides
                }
                argument = block;
                break;
            }
            case QUON_MSG_BUTTON: argument = block = data ? button(*static_cast<const buttonRecord*>(data)) : 0; break;
            case QUON_MSG_PARENT: argument = block = data ? m.copyText(static_cast<const char*>(data)) : 0; break;
            case QUON_MSG_TIMER:
            case QUON_MSG_VALUE: argument = carried(data); break;
            case QUON_MSG_RELEASE: {
                if (!data) break;
                const auto reply = replies_.find(static_cast<char*>(data));
                if (reply != replies_.end()) {
                    argument = reply->second.second;
                    handedBack = static_cast<char*>(data);
                } else {
                    argument = block = m.copyText(static_cast<const char*>(data));
                }
                break;
            }
            default: argument = data ? m.unknownData_ : 0; break;
        }
        const uint32_t result = m.guarded([&] { return call(callback_, argument, static_cast<uint32_t>(type)); });
        if (handedBack) replies_.erase(handedBack);
        if (block) p.memory().free(block, 0);
        if (!result) return nullptr;
        // The component's text, copied for the host; the copy stands for it
        // until the host hands it back.
        std::string text;
        m.guarded([&] {
            text = p.cpu().readString(result);
            return 0u;
        });
        std::unique_ptr<char[]> copy(new char[text.size() + 1]);
        std::memcpy(copy.get(), text.c_str(), text.size() + 1);
        char* native = copy.get();
        replies_[native] = {std::move(copy), result};
        return native;
    }

private:
    uint32_t call(uint32_t slot, uint32_t a) {
        return module_->process_->cpu().call(slot, {a}, win32::convention::thiscall_call, object_);
    }
    uint32_t call(uint32_t slot, uint32_t a, uint32_t b) {
        return module_->process_->cpu().call(slot, {a, b}, win32::convention::thiscall_call, object_);
    }
    uint32_t allocate(uint32_t size) {
        const uint32_t at = module_->process_->memory().allocate(size, 0, true);
        if (!at) module_->guarded([]() -> uint32_t { throw win32::machine_fault("the emulated heap is full"); });
        return at;
    }

    // The record and its event as the 32-bit ABI lays them out (id at 12,
    // event at 16; the event's fields at 0, 4, 132, 136, 140, 144), with
    // every text, in one block.
    uint32_t button(const buttonRecord& b) {
        const parentCommandRecord* e = b.event;
        const uint32_t recordSize = 20, eventSize = 148;
        std::string bytes(recordSize + (e ? eventSize : 0), '\0');
        std::string texts;
        std::vector<std::pair<size_t, const char*>> fields{{12, b.id}};
        if (e) {
            fields.push_back({recordSize + 0, e->command});
            for (int i = 0; i < QUON_COMMAND_MAX_SUBS; ++i) fields.push_back({recordSize + 4 + 4 * i, e->sub[i]});
            fields.push_back({recordSize + 132, e->value});
            put32(bytes, recordSize + 136, static_cast<uint32_t>(e->subCount));
            bytes[recordSize + 140] = e->hasValue ? 1 : 0;
        }
        std::vector<std::pair<size_t, size_t>> offsets;  // field -> offset of its text in `texts`
        for (const auto& f : fields) {
            if (!f.second) continue;
            offsets.push_back({f.first, bytes.size() + texts.size()});
            texts.append(f.second);
            texts.push_back('\0');
        }
        bytes += texts;
        const uint32_t at = allocate(static_cast<uint32_t>(bytes.size()));
        for (const auto& o : offsets) put32(bytes, o.first, at + static_cast<uint32_t>(o.second));
        if (e) {
            put32(bytes, 16, at + recordSize);
            // The event's own copy of its text: the command's, which the
            // others follow.
            if (e->buffer && e->command) put32(bytes, recordSize + 144, read(bytes, recordSize));
        }
        module_->process_->cpu().write(at, bytes.data(), bytes.size());
        return at;
    }
    static uint32_t read(const std::string& bytes, size_t at) {
        uint32_t v;
        std::memcpy(&v, &bytes[at], 4);
        return v;
    }

    std::shared_ptr<windows_module> module_;
    const uint32_t object_, destructor_, callback_;
    // Texts of the component as given to the host: the copy -> (its
    // storage, the component's emulated text).
    std::map<char*, std::pair<std::unique_ptr<char[]>, uint32_t>> replies_;
};

windows_module::windows_module(const std::string& path) : name_(fileName(path)) {
    win32::process_options options;
    // The host's environment, read when the process starts as Windows
    // does: VX_ROOT and VX_SYSTEM name the system the module reads.
    for (char** variable = environ; *variable; ++variable) options.environment.push_back(*variable);
    // As the module's own debug output is written on Linux: one text a
    // line on standard error, each in one write.
    options.debugOutput = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    options.standardOutput = [](const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); };
    process_ = std::make_unique<win32::process>(options);
    uint32_t base = 0;
    try {
        base = process_->load(path);
    } catch (const std::exception& e) {
        throw std::runtime_error(path + ": cannot be loaded: " + e.what());
    } catch (const win32::program_exit& e) {
        throw std::runtime_error(path + ": cannot be loaded: it ended the process with exit code " +
                                 std::to_string(e.code));
    }
    load_ = process_->exportAddress(base, "load_quon_client_script");
    if (!load_) throw std::runtime_error(path + ": does not export load_quon_client_script");
    win32::machine& cpu = process_->cpu();
    destructorSlot_ = cpu.addNative(
        "host::~quon_client_callback", 4,
        [](win32::native_call&) { throw win32::machine_fault("the module deleted its host"); }, true);
    // A leaf: the engine queues what a command causes and never calls a
    // component back from inside it.
    callbackSlot_ = cpu.addNative(
        "host::callback", 8,
        [this](win32::native_call& c) {
            hostCallback(c.cpu().get(win32::reg::ecx), c.arg(0), static_cast<int>(c.arg(1)), c.result);
        },
        true);
    unknownData_ = process_->memory().allocate(256, 0, true);
    cpu.write(unknownData_, std::string(256, '\0').data(), 256);
}

windows_module::~windows_module() = default;

template <typename call_type>
uint32_t windows_module::guarded(const call_type& call) {
    if (broken()) throw module_fault(fault_);
    try {
        return call();
    } catch (const win32::machine_fault& fault) {
        fault_ = name_ + " faulted: " + fault.what();
    } catch (const win32::program_exit& exit) {
        fault_ = name_ + " ended its process with exit code " + std::to_string(exit.code);
    }
    throw module_fault(fault_);
}

quon_client_callback* windows_module::create(quon_client_callback* host, const char* path) {
    const uint32_t object = guarded([&] {
        const uint32_t copy = copyText(path ? path : "");
        const uint32_t made = process_->cpu().call(load_, {hostObject(host), copy});
        process_->memory().free(copy, 0);
        return made;
    });
    if (!object) return nullptr;
    uint32_t destructor = 0, callback = 0;
    guarded([&] {
        const uint32_t vtable = process_->cpu().read32(object);
        destructor = process_->cpu().read32(vtable);
        callback = process_->cpu().read32(vtable + 4);
        return 0u;
    });
    return new component(shared_from_this(), object, destructor, callback);
}

uint32_t windows_module::hostObject(quon_client_callback* host) {
    const auto known = hostObjects_.find(host);
    if (known != hostObjects_.end()) return known->second;
    uint32_t object = 0;
    if (hostObjects_.empty()) {
        object = process_->cpu().makeObject({destructorSlot_, callbackSlot_});
    } else {
        // Every host shares the first one's vtable.
        object = process_->memory().allocate(4, 0, true);
        if (!object) throw win32::machine_fault("the emulated heap is full");
        process_->cpu().write32(object, process_->cpu().read32(hostObjects_.begin()->second));
    }
    hostObjects_[host] = object;
    hosts_[object] = host;
    return object;
}

uint32_t windows_module::copyText(const char* text) {
    const size_t length = std::strlen(text);
    const uint32_t at = length < win32::heap::limit ? process_->memory().allocate(static_cast<uint32_t>(length + 1), 0, true) : 0;
    if (!at) throw win32::machine_fault("the emulated heap is full");
    process_->cpu().write(at, text, length + 1);
    return at;
}

void windows_module::hostCallback(uint32_t self, uint32_t data, int type, uint32_t& result) {
    const auto host = hosts_.find(self);
    if (host == hosts_.end()) throw win32::machine_fault("host::callback called on an object that is no host");
    quon_client_callback& h = *host->second;
    if (type == QUON_MSG_COMMAND) {
        std::string text;
        if (data) text = process_->cpu().readString(data);
        const char* reply = h.callback(data ? &text[0] : nullptr, type);
        if (reply) {
            result = copyText(reply);
            hostReplies_[result] = const_cast<char*>(reply);
        }
        return;
    }
    if (type == QUON_MSG_RELEASE && data) {
        const auto reply = hostReplies_.find(data);
        if (reply != hostReplies_.end()) {
            char* native = reply->second;
            hostReplies_.erase(reply);
            process_->memory().free(data, 0);
            h.callback(native, type);
        } else {
            foreignText_ = process_->cpu().readString(data);
            h.callback(&foreignText_[0], type);
        }
        return;
    }
    h.callback(reinterpret_cast<void*>(static_cast<uintptr_t>(data)), type);
}

}  // namespace quon
