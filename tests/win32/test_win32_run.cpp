// win32-run through its command line, on small images written by
// pe_builder: every way a run ends is caused by a program made to cause it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "pe_builder.h"
#include "program_run.h"

namespace {

constexpr int faulted = 125;
constexpr int cannot_load = 126;

// The images of one case: "prog.exe" is run, the others lie beside it.
using images = std::map<std::string, std::vector<uint8_t>>;

pe_builder dllAt(uint32_t base) {
    pe_builder b;
    b.imageBase = base;
    b.dll = true;
    b.noEntry = true;
    return b;
}

images program(const std::function<void(pe_builder&)>& code) {
    pe_builder b;
    code(b);
    return {{"prog.exe", b.build()}};
}

// Calls an import that takes one argument (cdecl) and drops it.
void callWith(pe_builder& b, uint32_t argument, const char* dll, const char* name) {
    b.push(argument).callImport(dll, name).addEsp(4);
}

// The profile file every case finds as dev.ini in its working folder.
const std::string profile = "[Router]\r\nName = \"Main router\"  \r\n[database]\r\nDatabaseSize_1=64\r\nDatabaseSize_2=8\r\n[router]\r\nName=Second\r\n";

// Places a text in the image's data at `offset`; returns its address.
uint32_t text(pe_builder& b, uint32_t offset, const std::string& value) {
    if (b.data.size() < offset + value.size() + 1) b.data.resize(offset + value.size() + 1);
    std::copy(value.begin(), value.end(), b.data.begin() + offset);
    b.data[offset + value.size()] = 0;
    return b.dataAddress(offset);
}

// GetPrivateProfileStringA(section, key, fallback, buffer, size, "dev.ini") (a null section or key when
// empty), then puts(buffer) and exit(the count it returned); dev.ini is in the working folder.
images profileProgram(const std::string& section, const std::string& key, const std::string& fallback, uint32_t size) {
    pe_builder b;
    b.slot("kernel32.dll", "GetPrivateProfileStringA");
    b.slot("msvcrt.dll", "puts");
    b.slot("msvcrt.dll", "exit");
    const uint32_t sectionText = section.empty() ? 0 : text(b, 0x100, section);
    const uint32_t keyText = key.empty() ? 0 : text(b, 0x200, key);
    const uint32_t fallbackText = text(b, 0x300, fallback);
    const uint32_t file = text(b, 0x400, "dev.ini");
    const uint32_t buffer = b.dataAddress(0x800);
    b.data.resize(0x900, 0);
    // stdcall: the last argument is pushed first.
    b.pushAddress(file).push(size).pushAddress(buffer).pushAddress(fallbackText);
    if (keyText) b.pushAddress(keyText); else b.push(0);
    if (sectionText) b.pushAddress(sectionText); else b.push(0);
    b.callImport("kernel32.dll", "GetPrivateProfileStringA");
    b.bytes({0x89, 0xC6});  // mov esi, eax
    b.pushAddress(buffer).callImport("msvcrt.dll", "puts").addEsp(4);
    b.bytes({0x56}).callImport("msvcrt.dll", "exit");
    return {{"prog.exe", b.build()}};
}

struct run_case {
    const char* name;
    std::function<images()> make;
    int exitCode;
    std::vector<std::string> errors;  // each must appear on standard error
    std::string output;
};

void PrintTo(const run_case& c, std::ostream* out) { *out << c.name; }

class Win32Run : public testing::TestWithParam<run_case> {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("win32-run-test-" + std::to_string(getpid()) + "-" + GetParam().name);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_P(Win32Run, EndsAsTheProgramMadeItEnd) {
    for (const auto& [name, bytes] : GetParam().make()) writeFile((folder_ / name).string(), bytes);
    writeFile((folder_ / "dev.ini").string(), std::vector<uint8_t>(profile.begin(), profile.end()));
    program_run run;
    run.folder = folder_.string();
    run.program = WIN32_RUN_PATH;
    run.arguments = {(folder_ / "prog.exe").string()};
    run.timeoutSeconds = 30;
    const program_result result = run.run();
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err;
    for (const std::string& error : GetParam().errors) EXPECT_NE(result.err.find(error), std::string::npos) << result.err;
    EXPECT_EQ(result.out, GetParam().output);
}

const char* const prog_code = "EIP 0x00401000 (prog.exe+0x1000)";

INSTANTIATE_TEST_SUITE_P(
    Causes, Win32Run,
    testing::Values(
        run_case{"ExitCodeOfExit", [] { return program([](pe_builder& b) { b.push(7).callImport("msvcrt.dll", "exit"); }); },
                 7, {}, ""},
        run_case{"ExitCodeOfTheEntryPointsReturn",
                 [] { return program([](pe_builder& b) { b.bytes({0xB8, 3, 0, 0, 0, 0xC3}); }); }, 3, {}, ""},
        run_case{"UnmappedRead",
                 [] { return program([](pe_builder& b) { b.bytes({0xA1, 0x10, 0, 0, 0}); }); }, faulted,
                 {"read of unmapped memory (4 bytes) at 0x00000010 (a null pointer)", prog_code}, ""},
        run_case{"WriteToReadOnlyMemory",
                 [] {
                     return program([](pe_builder& b) { b.bytes({0xA3}).address(b.imageBase + pe_builder::rdata_rva); });
                 },
                 faulted, {"write to read-only memory (4 bytes) at 0x00402000 (prog.exe+0x2000)", prog_code}, ""},
        run_case{"ExecutionOfData",
                 [] {
                     return program([](pe_builder& b) { b.bytes({0xB8}).address(b.dataAddress(0)).bytes({0xFF, 0xE0}); });
                 },
                 faulted, {"execution of non-executable memory", "EIP 0x00403000 (prog.exe+0x3000)"}, ""},
        run_case{"InvalidInstruction", [] { return program([](pe_builder& b) { b.bytes({0x0F, 0x0B}); }); }, faulted,
                 {"invalid instruction at 0x00401000 (prog.exe+0x1000)", prog_code}, ""},
        run_case{"DivisionByZero",
                 [] { return program([](pe_builder& b) { b.bytes({0x31, 0xC9, 0xF7, 0xF1}); }); }, faulted,
                 {"CPU exception: integer division by zero", "EIP 0x00401002 (prog.exe+0x1002)"}, ""},
        run_case{"Breakpoint", [] { return program([](pe_builder& b) { b.bytes({0xCC}); }); }, faulted,
                 {"CPU exception: breakpoint (int3)", prog_code}, ""},
        run_case{"StackOverflow",
                 [] { return program([](pe_builder& b) { b.bytes({0xE8, 0xFB, 0xFF, 0xFF, 0xFF}); }); }, faulted,
                 {"write to unmapped memory", "below the stack: a stack overflow", prog_code}, ""},
        run_case{"FunctionNotEmulated",
                 [] { return program([](pe_builder& b) { b.callImport("msvcrt.dll", "qsort"); }); }, faulted,
                 {"msvcrt.dll!qsort, called from 0x00401006 (prog.exe+0x1006): the runner does not emulate "
                  "msvcrt.dll!qsort"},
                 ""},
        run_case{"StrlenCountsToTheTerminator",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "strlen");
                         b.slot("msvcrt.dll", "exit");
                         b.pushAddress(text(b, 0, "nineteen bytes long")).callImport("msvcrt.dll", "strlen").addEsp(4);
                         b.bytes({0x50}).callImport("msvcrt.dll", "exit");  // push eax
                     });
                 },
                 19, {}, ""},
        run_case{"StrlenOfAnUnalignedText",  // counted a byte at a time up to a word's start, then by words
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "strlen");
                         b.slot("msvcrt.dll", "exit");
                         b.pushAddress(text(b, 0x101, "eleven long")).callImport("msvcrt.dll", "strlen").addEsp(4);
                         b.bytes({0x50}).callImport("msvcrt.dll", "exit");  // push eax
                     });
                 },
                 11, {}, ""},
        run_case{"StrlenOfALongText",  // past what the emulated loop counts before it leaves the rest natively
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "strlen");
                         b.slot("msvcrt.dll", "exit");
                         b.pushAddress(text(b, 0, std::string(300, 'x'))).callImport("msvcrt.dll", "strlen").addEsp(4);
                         b.bytes({0x2D, 0x00, 0x01, 0x00, 0x00, 0x50}).callImport("msvcrt.dll", "exit");  // sub eax, 256; push eax
                     });
                 },
                 44, {}, ""},
        run_case{"StrlenOfANullPointer",
                 [] { return program([](pe_builder& b) { b.push(0).callImport("msvcrt.dll", "strlen"); }); }, faulted,
                 {"msvcrt.dll!strlen, called from 0x0040100B (prog.exe+0x100B): read of unmapped memory (4 bytes) at "
                  "0x00000000 (a null pointer)"},
                 ""},
        run_case{"MemcpyCopiesAsMemmoveAndKeepsTheCallersRegisters",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "memcpy");
                         b.slot("msvcrt.dll", "puts");
                         text(b, 0, "0123456789ABCDEFGHIJ");
                         auto copy = [&b](uint32_t to, uint32_t from, uint32_t count) {
                             b.push(count).pushAddress(b.dataAddress(from)).pushAddress(b.dataAddress(to));
                             b.callImport("msvcrt.dll", "memcpy").addEsp(12);
                         };
                         auto put = [&b](uint32_t at) {
                             b.pushAddress(b.dataAddress(at)).callImport("msvcrt.dll", "puts").addEsp(4);
                         };
                         b.bytes({0xBE, 0x05, 0x00, 0x00, 0x00, 0xBF, 0x07, 0x00, 0x00, 0x00});  // mov esi, 5; mov edi, 7
                         copy(0x40, 0, 7);
                         put(0x40);
                         copy(3, 0, 13);  // the destination inside the source
                         put(0);
                         copy(1, 5, 6);  // the source inside the destination
                         put(0);
                         copy(0x50, 0, 3);
                         put(0x50);
                         copy(0x58, 2, 1);
                         put(0x58);
                         copy(0x58, 0, 0);
                         put(0x58);
                         copy(1, 0, 3);  // a few bytes, the destination inside the source
                         put(0);
                         b.bytes({0x8D, 0x04, 0x3E, 0xC3});  // lea eax, [esi+edi]; ret
                     });
                 },
                 12, {}, "0123456\n0120123456789ABCGHIJ\n0234567456789ABCGHIJ\n023\n3\n3\n0023567456789ABCGHIJ\n"},
        run_case{"MemcpyOfALongBlock",  // past what the emulated copy takes before it leaves the rest natively
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "memcpy");
                         b.slot("msvcrt.dll", "puts");
                         b.push(301).pushAddress(text(b, 0, std::string(300, 'y'))).pushAddress(b.dataAddress(0x200));
                         b.callImport("msvcrt.dll", "memcpy").addEsp(12);
                         b.pushAddress(b.dataAddress(0x200)).callImport("msvcrt.dll", "puts").addEsp(4);
                         b.bytes({0x31, 0xC0, 0xC3});  // return 0
                     });
                 },
                 0, {}, std::string(300, 'y') + "\n"},
        run_case{"MemcpyToANullPointer",
                 [] {
                     return program([](pe_builder& b) {
                         b.push(4).pushAddress(b.dataAddress(0)).push(0).callImport("msvcrt.dll", "memcpy");
                     });
                 },
                 faulted,
                 {"msvcrt.dll!memcpy, called from 0x00401015 (prog.exe+0x1015): write to unmapped memory (4 bytes) at "
                  "0x00000000 (a null pointer)"},
                 ""},
        run_case{"DoubleFree",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "malloc");
                         b.slot("msvcrt.dll", "free");
                         b.push(16).callImport("msvcrt.dll", "malloc").addEsp(4).bytes({0x89, 0xC6});  // mov esi, eax
                         b.bytes({0x56}).callImport("msvcrt.dll", "free").addEsp(4);
                         b.bytes({0x56}).callImport("msvcrt.dll", "free");
                     });
                 },
                 faulted, {"heap: double free of the block at", "(16 bytes, allocated by the code at 0x0040100B (prog.exe+0x100B))",
                           "by the code at 0x00401021 (prog.exe+0x1021)"},
                 ""},
        run_case{"FreeOfAPointerNeverGiven",
                 [] { return program([](pe_builder& b) { callWith(b, b.dataAddress(0x10), "msvcrt.dll", "free"); }); },
                 faulted, {"heap: free of 0x00403010 (prog.exe+0x3010), which the heap never gave"}, ""},
        run_case{"WritePastABlocksEnd",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "malloc");
                         b.slot("msvcrt.dll", "free");
                         b.push(16).callImport("msvcrt.dll", "malloc").addEsp(4);
                         b.bytes({0xC6, 0x40, 0x10, 0x01});  // mov byte [eax+16], 1
                         b.bytes({0x50}).callImport("msvcrt.dll", "free");
                     });
                 },
                 faulted, {"was written past its end (byte 0 after it), seen when it was freed"}, ""},
        run_case{"BlocksNeverFreedAreListed",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "malloc");
                         b.slot("msvcrt.dll", "exit");
                         b.push(24).callImport("msvcrt.dll", "malloc").addEsp(4);
                         b.push(0).callImport("msvcrt.dll", "exit");
                     });
                 },
                 0, {"1 heap blocks never freed", "of 24 bytes, allocated by the code at 0x0040100B (prog.exe+0x100B)"}, ""},
        run_case{"UnhandledCxxException",
                 [] {
                     return program([](pe_builder& b) {
                         const uint32_t info = b.dataAddress(0x100), types = b.dataAddress(0x110);
                         const uint32_t type = b.dataAddress(0x120), descriptor = b.dataAddress(0x140);
                         b.data.resize(0x200);
                         auto put = [&](uint32_t offset, uint32_t value) {
                             for (int i = 0; i < 4; ++i) b.data[offset + i] = static_cast<uint8_t>(value >> (8 * i));
                         };
                         put(0x10C, types);
                         put(0x110, 1);
                         put(0x114, type);
                         put(0x124, descriptor);
                         put(0x12C, 0xFFFFFFFF);
                         put(0x134, 4);
                         const char name[] = ".?AUbad_thing@@";
                         std::copy(name, name + sizeof name, b.data.begin() + 0x148);
                         b.pushAddress(info).pushAddress(b.dataAddress(0x180)).callImport("msvcrt.dll", "_CxxThrowException");
                     });
                 },
                 faulted, {"unhandled C++ exception of type .?AUbad_thing@@ thrown from prog.exe+0x1010"}, ""},
        run_case{"SnprintfTruncatesWithoutATerminator",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "_snprintf");
                         b.slot("msvcrt.dll", "puts");
                         b.slot("msvcrt.dll", "exit");
                         const std::string format = "%05d|%-3s|%x";
                         b.data.assign(0x300, 0);
                         std::copy(format.begin(), format.end(), b.data.begin() + 0x200);
                         b.data[0x220] = 'a';
                         b.data[0x221] = 'b';
                         b.push(255).pushAddress(b.dataAddress(0x220)).push(42).pushAddress(b.dataAddress(0x200));
                         b.push(8).pushAddress(b.dataAddress(0x280)).callImport("msvcrt.dll", "_snprintf").addEsp(24);
                         b.bytes({0x89, 0xC6});  // mov esi, eax
                         b.pushAddress(b.dataAddress(0x280)).callImport("msvcrt.dll", "puts").addEsp(4);
                         b.bytes({0x56}).callImport("msvcrt.dll", "exit");
                     });
                 },
                 255, {}, "00042|ab\n"},
        run_case{"AMovedDllIsRelocated",
                 [] {
                     // Both DLLs prefer 0x10000000; b.dll returns a word of its
                     // own data through an absolute address.
                     pe_builder a = dllAt(0x10000000), b = dllAt(0x10000000);
                     a.data = {0x11};
                     b.data = {0x2A};
                     a.bytes({0xA1}).address(a.dataAddress(0)).bytes({0xC3});
                     b.bytes({0xA1}).address(b.dataAddress(0)).bytes({0xC3});
                     a.exports = {{"value", 0}};
                     b.exports = {{"value", 0}};
                     pe_builder exe;
                     exe.slot("a.dll", "value");
                     exe.slot("b.dll", "value");
                     exe.slot("msvcrt.dll", "exit");
                     exe.callImport("b.dll", "value").bytes({0x50}).callImport("msvcrt.dll", "exit");
                     return images{{"prog.exe", exe.build()}, {"a.dll", a.build()}, {"b.dll", b.build()}};
                 },
                 0x2A, {}, ""},
        run_case{"MissingDll",
                 [] { return program([](pe_builder& b) { b.callImport("nothere.dll", "f"); }); }, cannot_load,
                 {"cannot load: prog.exe -> nothere.dll: nothere.dll is not found"}, ""},
        run_case{"ImportLoop",
                 [] {
                     pe_builder a = dllAt(0x10000000), b = dllAt(0x20000000);
                     a.bytes({0xC3});
                     b.bytes({0xC3});
                     a.exports = {{"f", 0}};
                     b.exports = {{"g", 0}};
                     a.slot("b.dll", "g");
                     b.slot("a.dll", "f");
                     pe_builder exe;
                     exe.callImport("a.dll", "f");
                     return images{{"prog.exe", exe.build()}, {"a.dll", a.build()}, {"b.dll", b.build()}};
                 },
                 cannot_load, {"import loop: prog.exe -> a.dll -> b.dll -> a.dll"}, ""},
        run_case{"ExportMissing",
                 [] {
                     pe_builder a = dllAt(0x10000000);
                     a.bytes({0xC3});
                     a.exports = {{"f", 0}};
                     pe_builder exe;
                     exe.callImport("a.dll", "nothing");
                     return images{{"prog.exe", exe.build()}, {"a.dll", a.build()}};
                 },
                 cannot_load, {"prog.exe imports nothing from a.dll, which does not export it"}, ""},
        run_case{"DllMainRefuses",
                 [] {
                     pe_builder a = dllAt(0x10000000);
                     a.noEntry = false;
                     a.bytes({0x31, 0xC0, 0xC2, 0x0C, 0x00});  // xor eax, eax; ret 12
                     a.exports = {{"f", 0}};
                     pe_builder exe;
                     exe.callImport("a.dll", "f");
                     return images{{"prog.exe", exe.build()}, {"a.dll", a.build()}};
                 },
                 cannot_load, {"a.dll: its DllMain refused to load (returned FALSE)"}, ""},
        run_case{"ProfileValueUnquoted", [] { return profileProgram("router", "NAME", "x", 64); }, 11, {},
                 "Main router\n"},
        run_case{"ProfileValueCutToTheBuffer", [] { return profileProgram("Router", "Name", "x", 5); }, 4, {}, "Main\n"},
        run_case{"ProfileDefaultLosesTrailingBlanks", [] { return profileProgram("Router", "Missing", "dflt  ", 64); },
                 4, {}, "dflt\n"},
        run_case{"ProfileKeysOfASection", [] { return profileProgram("database", "", "", 64); }, 30, {},
                 "DatabaseSize_1\n"},
        run_case{"ProfileSectionNames", [] { return profileProgram("", "", "", 64); }, 23, {}, "Router\n"},
        run_case{"DebugOutputGoesToStandardError",
                 [] {
                     return program([](pe_builder& b) {
                         b.pushAddress(text(b, 0, "from the program")).callImport("kernel32.dll", "OutputDebugStringA");
                         b.bytes({0x31, 0xC0, 0xC3});  // return 0
                     });
                 },
                 0, {"from the program\n"}, ""},
        run_case{"PutenvIsSeenByGetenvButNotSetEnvironmentVariable",
                 [] {
                     return program([](pe_builder& b) {
                         b.slot("msvcrt.dll", "_putenv");
                         b.slot("msvcrt.dll", "getenv");
                         b.slot("msvcrt.dll", "puts");
                         b.slot("msvcrt.dll", "exit");
                         b.slot("kernel32.dll", "SetEnvironmentVariableA");
                         b.pushAddress(text(b, 0x40, "other")).pushAddress(text(b, 0x20, "QUON_RUN_B"));
                         b.callImport("kernel32.dll", "SetEnvironmentVariableA");
                         callWith(b, text(b, 0, "QUON_RUN_A=set by _putenv"), "msvcrt.dll", "_putenv");
                         callWith(b, text(b, 0x60, "quon_run_a"), "msvcrt.dll", "getenv");
                         b.bytes({0x50}).callImport("msvcrt.dll", "puts").addEsp(4);
                         callWith(b, b.dataAddress(0x20), "msvcrt.dll", "getenv");
                         b.bytes({0x50}).callImport("msvcrt.dll", "exit");
                     });
                 },
                 0, {}, "set by _putenv\n"},
        run_case{"NotAnImage", [] { return images{{"prog.exe", std::vector<uint8_t>(100, 'x')}}; }, cannot_load,
                 {"cannot load:", "prog.exe: no \"MZ\" signature at the start: not a Windows image"}, ""}),
    [](const testing::TestParamInfo<run_case>& info) { return std::string(info.param.name); });

}  // namespace
