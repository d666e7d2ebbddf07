// The process as a host uses it (the seam quon-host's Windows modules use):
// a DLL's export called from native code, a native object with a vtable of
// trampolines handed to the DLL and called back through it, the DLL's object
// called through its vtable (thiscall), and a fault turned into an
// exception; and the runner's documentation against its table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "pe_builder.h"
#include "quon/win32/process.h"

using namespace quon::win32;

namespace {

class Win32Process : public testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("win32-process-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string write(const std::string& name, const pe_builder& image) {
        const std::string path = (folder_ / name).string();
        writeFile(path, image.build());
        return path;
    }
    std::filesystem::path folder_;
};

// make(host): calls host->vtable[1](42) (thiscall) and returns its own
// object, whose vtable[0](n) (thiscall) gives n plus the object's second
// word (100). crash(): reads a null pointer.
pe_builder moduleDll() {
    pe_builder b;
    b.imageBase = 0x10000000;
    b.dll = true;
    b.noEntry = true;
    b.bytes({0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x01, 0x6A, 0x2A, 0xFF, 0x50, 0x04});  // host->vtable[1](42)
    b.bytes({0xB8}).address(b.dataAddress(0x20)).bytes({0xC3});                   // return &object
    const uint32_t method = static_cast<uint32_t>(b.code.size());
    b.bytes({0x8B, 0x44, 0x24, 0x04, 0x03, 0x41, 0x04, 0xC2, 0x04, 0x00});  // n + this->value; ret 4
    const uint32_t crash = static_cast<uint32_t>(b.code.size());
    b.bytes({0xA1, 0, 0, 0, 0, 0xC3});
    b.exports = {{"crash", crash}, {"make", 0}};
    b.data.assign(0x50, 0);
    auto put = [&](uint32_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) b.data[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(0x20, b.dataAddress(0x40));
    put(0x24, 100);
    put(0x40, b.codeAddress(method));
    return b;
}

}  // namespace

TEST_F(Win32Process, NativeCodeAndADllCallEachOtherThroughVtables) {
    process p({});
    const uint32_t module = p.load(write("module.dll", moduleDll()));
    const uint32_t make = p.exportAddress(module, "make");
    ASSERT_NE(make, 0u);

    uint32_t seenThis = 0, seenArgument = 0;
    machine& cpu = p.cpu();
    const uint32_t unused = cpu.addNative("host::unused", 0, [](native_call&) { throw machine_fault("unused"); });
    const uint32_t record = cpu.addNative("host::record", 4, [&](native_call& call) {
        seenThis = call.cpu().get(reg::ecx);
        seenArgument = call.arg(0);
        call.result = 1;
    });
    const uint32_t host = cpu.makeObject({unused, record});

    const uint32_t object = cpu.call(make, {host});
    EXPECT_EQ(seenThis, host);
    EXPECT_EQ(seenArgument, 42u);
    const uint32_t slot = cpu.read32(cpu.read32(object));
    EXPECT_EQ(cpu.call(slot, {5}, convention::thiscall_call, object), 105u);
    EXPECT_TRUE(p.unload(module));
}

TEST_F(Win32Process, AFaultIsAnExceptionAndBreaksTheMachine) {
    process p({});
    const uint32_t module = p.load(write("module.dll", moduleDll()));
    const uint32_t crash = p.exportAddress(module, "crash");
    try {
        p.cpu().call(crash, {});
        FAIL() << "no fault";
    } catch (const machine_fault& fault) {
        EXPECT_NE(std::string(fault.what()).find("read of unmapped memory (4 bytes) at 0x00000000 (a null pointer)"),
                  std::string::npos)
            << fault.what();
        EXPECT_NE(std::string(fault.what()).find("(module.dll+0x"), std::string::npos) << fault.what();
    }
    EXPECT_THROW(p.cpu().call(p.exportAddress(module, "make"), {0}), machine_fault);
}

TEST_F(Win32Process, AWrongConventionIsNamed) {
    process p({});
    const uint32_t module = p.load(write("module.dll", moduleDll()));
    const uint32_t object = p.cpu().call(p.exportAddress(module, "make"),
                                         {p.cpu().makeObject({p.cpu().addNative("a", 0, [](native_call&) {}),
                                                              p.cpu().addNative("b", 4, [](native_call&) {})})});
    const uint32_t slot = p.cpu().read32(p.cpu().read32(object));
    // A thiscall method called as cdecl pops what cdecl leaves to the caller.
    EXPECT_THROW(p.cpu().call(slot, {5}, convention::cdecl_call, object), machine_fault);
}

// The DLL's entry point, also its TLS callback, says each reason it is
// called for on the debug output: TLS callbacks first, then DllMain, at
// load and at unload.
TEST_F(Win32Process, TlsCallbacksAndDllMainAreCalledAtLoadAndUnload) {
    pe_builder b;
    b.imageBase = 0x10000000;
    b.dll = true;
    b.data.assign(0x40, 0);
    const char detach[] = "detach", attach[] = "attach";
    std::copy(detach, detach + sizeof detach, b.data.begin() + 0x10);
    std::copy(attach, attach + sizeof attach, b.data.begin() + 0x20);
    for (int i = 0; i < 4; ++i) {
        b.data[i] = static_cast<uint8_t>(b.dataAddress(0x10) >> (8 * i));
        b.data[4 + i] = static_cast<uint8_t>(b.dataAddress(0x20) >> (8 * i));
    }
    b.slot("kernel32.dll", "OutputDebugStringA");
    b.bytes({0x8B, 0x44, 0x24, 0x08});                  // mov eax, [esp+8]: the reason
    b.bytes({0xFF, 0x34, 0x85}).address(b.dataAddress(0));  // push dword [eax*4 + texts]
    b.callImport("kernel32.dll", "OutputDebugStringA");
    b.bytes({0xB8, 1, 0, 0, 0, 0xC2, 0x0C, 0x00});      // return TRUE; ret 12
    b.tlsCallbacks = {0};
    std::vector<std::string> said;
    process_options options;
    options.debugOutput = [&](const std::string& text) { said.push_back(text); };
    process p(options);
    const uint32_t module = p.load(write("entry.dll", b));
    EXPECT_EQ(said, (std::vector<std::string>{"attach", "attach"}));
    EXPECT_TRUE(p.unload(module));
    EXPECT_EQ(said, (std::vector<std::string>{"attach", "attach", "detach", "detach"}));
    EXPECT_FALSE(p.unload(module));
}

TEST(Win32RunnerDocs, ListExactlyTheEmulatedFunctions) {
    std::ifstream in(std::string(DOCS_FOLDER) + "/win32-runner.md");
    ASSERT_TRUE(in) << DOCS_FOLDER;
    std::set<std::string> documented;
    const std::regex line("^- `([a-z0-9]+\\.dll)`: (.*)$"), name("`([A-Za-z_0-9@?]+)`");
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (!std::regex_match(text, match, line)) continue;
        const std::string dll = match[1], names = match[2];
        for (auto it = std::sregex_iterator(names.begin(), names.end(), name); it != std::sregex_iterator(); ++it)
            documented.insert(dll + "!" + (*it)[1].str());
    }
    process p({});
    const std::vector<std::string> emulated = p.emulatedFunctions();
    EXPECT_EQ(documented, std::set<std::string>(emulated.begin(), emulated.end()));
}
