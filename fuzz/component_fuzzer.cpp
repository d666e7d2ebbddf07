// The whole component: the input becomes a sequence of host messages of
// every type, with host replies chosen from it too (null, empty, garbage,
// very long), driving Korvane through a host that checks the contract.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "quon/validate/contract_host.h"
#include "fuzz_check.h"
#include "korvane.h"
#include "quon_message_types.h"
#include "quon_records.h"

using quon::contract_host;

namespace {

class input_reader {
public:
    input_reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t integer() {
        const uint8_t selector = byte();
        if (selector < 160) return static_cast<int32_t>(selector % 24) - 2;  // small values, the usual case
        if (selector < 200) {
            static const int32_t edges[] = {INT32_MIN, INT32_MAX, 999, 1000, 16, 17, 64, 65};
            return edges[selector % 8];
        }
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return static_cast<int32_t>(value);
    }
    std::string text() {
        const uint8_t length = byte();
        if (length == 255) return std::string(65536 + byte(), static_cast<char>('A' + byte() % 26));
        std::string out;
        for (uint8_t i = 0; i < length && !empty(); ++i) out += static_cast<char>(byte());
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void prepareSystem() {
    static const bool ready = [] {
        const std::string root = "/tmp/quon-fuzz-component-" + std::to_string(getpid());
        const std::string folder = root + "/main/config/system";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/dev_001.ini") << "[Database]\nDatabaseSize_1=16\n";
        std::ofstream(folder + "/dev_002.ini") << "[Database]\nDatabaseSize_1=64\n";
        setenv("VX_ROOT", root.c_str(), 1);
        setenv("VX_SYSTEM", "main", 1);
        static const std::string removed = root;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removed, ignored);
        });
        return true;
    }();
    (void)ready;
}

void parent(quon_client_callback& component, const char* text) {
    char* result = component.callback(const_cast<char*>(text), QUON_MSG_PARENT);
    if (!result) return;
    FUZZ_CHECK(result[0] != '\0');
    component.callback(result, QUON_MSG_RELEASE);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    prepareSystem();
    input_reader in(data, size);
    uint64_t seed = 0;
    for (int i = 0; i < 8; ++i) seed = seed << 8 | in.byte();
    std::mt19937_64 random(seed);
    contract_host host;
    host.setReplies(contract_host::replies::random, &random);
    std::unique_ptr<Korvane> component(new Korvane(&host, "panels"));

    static const char* const names[] = {
        "myMatrix=", "myDestination=", "mySourceDB=", "instance=", "myStatesheet=", "return=", "_events", "_commands"};
    for (int steps = 0; !in.empty() && steps < 4096; ++steps) {
        char* result = nullptr;
        switch (in.byte() % 10) {
            case 0: {
                const std::string text = in.text();
                parent(*component, in.byte() % 16 ? text.c_str() : nullptr);
                break;
            }
            case 1: {
                revertiveRecord r{in.integer(), in.integer(), in.integer(), in.integer()};
                result = component->callback(&r, QUON_MSG_REVERTIVE);
                break;
            }
            case 2:
                result =
                    component->callback(reinterpret_cast<void*>(static_cast<intptr_t>(in.integer())), QUON_MSG_TIMER);
                break;
            case 3: {
                databaseRecord d{in.integer(), in.integer(), in.integer()};
                result = component->callback(&d, QUON_MSG_DATABASE);
                break;
            }
            case 4: {
                const std::string id = in.text();
                const std::string command = in.text();
                const std::string value = in.text();
                parentCommandRecord event{};
                event.command = command.c_str();
                event.value = value.c_str();
                for (const char*& s : event.sub) s = "";
                buttonRecord b{};
                b.id = id.c_str();
                b.event = in.byte() % 8 ? &event : nullptr;
                result = component->callback(&b, QUON_MSG_BUTTON);
                break;
            }
            case 5:
                result =
                    component->callback(reinterpret_cast<void*>(static_cast<intptr_t>(in.integer())), QUON_MSG_VALUE);
                break;
            case 6: result = component->callback(nullptr, in.byte() % 2 ? QUON_MSG_RELEASE : in.integer()); break;
            case 7: {
                const int type = in.integer();
                if (type >= QUON_MSG_REVERTIVE && type <= QUON_MSG_VALUE) break;  // those need their records
                result = component->callback(const_cast<char*>("junk"), type);
                break;
            }
            case 8:
                component.reset();
                host.componentDestroyed();
                component.reset(new Korvane(&host, "panels"));
                break;
            default: {
                const std::string text = std::string(names[in.byte() % 8]) + std::to_string(in.integer());
                parent(*component, text.c_str());
                break;
            }
        }
        FUZZ_CHECK(result == nullptr);
        if (!host.violations().empty()) {
            std::fprintf(stderr, "host contract broken: %s\n", host.violations().front().text.c_str());
            std::abort();
        }
    }
    component.reset();
    host.componentDestroyed();
    if (!host.violations().empty()) {
        std::fprintf(stderr, "host contract broken: %s\n", host.violations().front().text.c_str());
        std::abort();
    }
    return 0;
}
