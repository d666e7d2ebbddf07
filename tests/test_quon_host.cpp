// quon-host driven through its command line and files, as a user runs it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "pe_builder.h"
#include "program_run.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;

namespace {

// A scratch folder of the test's own, removed at the end.
class scratch {
public:
    scratch() {
        char pattern[] = "/tmp/quon-host-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "/tmp";
    }
    ~scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& name, const std::string& contents) const {
        const std::string p = path_ + "/" + name;
        fs::create_directories(fs::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << contents;
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

program_run host(std::vector<std::string> arguments) {
    program_run run;
    run.program = QUON_HOST_PATH;
    run.arguments = std::move(arguments);
    run.environment = {{"VX_ROOT", SAMPLE_ROOT}, {"VX_SYSTEM", "studio"}};
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(QuonHostModules, ABareModuleNameIsAFileOfTheWorkingFolder) {
    scratch folder;
    fs::copy_file(FAULTY_CRASH_PATH, folder.path() + "/Korvane.so");
    program_run validate = host({"validate", "Korvane.so", "--seed", "1", "--messages", "300", "--timeout", "10"});
    validate.folder = folder.path();
    const program_result r = validate.run();
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(lines(r.out).at(0), "validating " + folder.path() + "/Korvane.so");
    EXPECT_THAT(r.out, HasSubstr("CRASH"));

    program_run missing = host({"--module", "Mine.so", "run", folder.file("a.quon", "create u\n")});
    missing.folder = folder.path();
    const program_result m = missing.run();
    EXPECT_EQ(m.exitCode, 2);
    EXPECT_THAT(m.out + m.err, HasSubstr(folder.path() + "/Mine.so: no such module file"));
}

TEST(QuonHostModules, AModuleInAScriptIsAFileOfTheScriptsFolder) {
    scratch folder;
    fs::copy_file(KORVANE_MODULE_PATH, folder.path() + "/Mine.so");
    fs::copy(fs::path(KORVANE_MODULE_PATH).parent_path() / "libquon_string.so", folder.path() + "/libquon_string.so");
    const std::string script = folder.file("a.quon", "create u Mine.so\nexpect sent u PS '1' 'panels/umdMimic.quon_ui'\n");
    const program_result r = host({"--panels", "panels", "--trace", "run", script}).run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("create    " + folder.path() + "/Mine.so"));
}

TEST(QuonHostModules, AModuleForAnotherMachineSaysWhichMachine) {
    scratch folder;
    std::string header(64, '\0');
    header.replace(0, 4, "\x7f" "ELF");
    header[4] = 2;     // 64-bit
    header[5] = 1;     // little-endian
    header[6] = 1;     // version
    header[16] = 3;    // a shared object
    header[18] = '\xb7';  // aarch64
    const std::string module = folder.file("Arm.so", header);
    const program_result r = host({"--module", module, "run", folder.file("a.quon", "create u\n")}).run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.out + r.err, HasSubstr("an aarch64 module; this host is "));
}

// A Windows module whose load_quon_client_script returns an object whose
// callback reads a null pointer, or (`loadFaults`) that reads one itself.
std::string faultingDll(const scratch& folder, bool loadFaults) {
    pe_builder b;
    b.imageBase = 0x10000000;
    b.dll = true;
    b.noEntry = true;
    if (loadFaults) b.bytes({0xA1, 0, 0, 0, 0, 0xC3});  // mov eax, [0]; ret
    else b.bytes({0xB8}).address(b.dataAddress(0x20)).bytes({0xC3});  // return &object
    const uint32_t destructor = static_cast<uint32_t>(b.code.size());
    b.bytes({0x89, 0xC8, 0xC2, 0x04, 0x00});  // return this; ret 4
    const uint32_t callback = static_cast<uint32_t>(b.code.size());
    b.bytes({0xA1, 0, 0, 0, 0, 0xC2, 0x08, 0x00});  // mov eax, [0]; ret 8
    b.exports = {{"load_quon_client_script", 0}};
    b.data.assign(0x50, 0);
    auto put = [&](uint32_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) b.data[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(0x20, b.dataAddress(0x40));
    put(0x40, b.codeAddress(destructor));
    put(0x44, b.codeAddress(callback));
    const std::string path = folder.path() + "/faulty.dll";
    writeFile(path, b.build());
    return path;
}

// A fault of a Windows module's emulated code is an error naming it (run)
// or a failed check naming it (validate), never a crash of the host.
TEST(QuonHostWindowsModules, AFaultIsAnErrorOrAFailedCheckNamingIt) {
#if !defined(QUON_WINDOWS_MODULES)
    GTEST_SKIP() << "this build runs no Windows module (the emulated CPU is built for 64-bit hosts only)";
#endif
    const std::string fault = "faulty.dll faulted: read of unmapped memory (4 bytes) at 0x00000000 (a null pointer)";
    scratch folder;
    const std::string script = folder.file("a.quon", "create u\nsend u myMatrix=1\n");
    const program_result inCallback = host({"--module", faultingDll(folder, false), "run", script}).run();
    EXPECT_EQ(inCallback.exitCode, 1) << inCallback.out << inCallback.err;
    EXPECT_THAT(inCallback.out + inCallback.err, HasSubstr(fault));

    const program_result checked = host({"validate", faultingDll(folder, false), "--seed", "1", "--messages", "100"}).run();
    EXPECT_EQ(checked.exitCode, 1) << checked.out << checked.err;
    EXPECT_THAT(checked.out, ::testing::ContainsRegex("FAIL +lifecycle.create-destroy"));
    EXPECT_THAT(checked.out, HasSubstr(fault));

    const program_result inLoad = host({"--module", faultingDll(folder, true), "run", script}).run();
    EXPECT_EQ(inLoad.exitCode, 2) << inLoad.out << inLoad.err;
    EXPECT_THAT(inLoad.out + inLoad.err, HasSubstr(fault));

    std::string cut = "MZ" + std::string(62, '\0') + std::string("PE\0\0", 4);  // headers that end there
    cut[60] = 64;
    const program_result truncated = host({"--module", folder.file("cut.dll", cut), "run", script}).run();
    EXPECT_EQ(truncated.exitCode, 2);
    EXPECT_THAT(truncated.out + truncated.err, HasSubstr("cut.dll: cannot be loaded: "));
}

TEST(QuonHostShell, EndsAtTheEndOfPipedInputAndTearsDown) {
    program_run shell = host({"--trace", "shell"});
    shell.input = "create u\nshow\n";
    shell.timeoutSeconds = 20;
    const program_result r = shell.run();
    ASSERT_FALSE(r.timedOut) << "the shell did not end at the end of its input";
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("u: [  ] (umd_default)"));
    EXPECT_THAT(r.out, HasSubstr("-> command   \"AS\""));
}

TEST(QuonHostShell, StartsTheDisplaysOfAWallFile) {
    if (!QUON_HOST_HAS_LIVE_PARTS) GTEST_SKIP() << "built without the live parts: the shell takes no wall file";
    scratch folder;
    const std::string wall = folder.file("wall.toml", "[[display]]\nname = \"w\"\ninstance = \"studio_a_mon_2\"\n");
    program_run shell = host({"shell", wall});
    shell.input = "route 1 2 7\n";
    const program_result r = shell.run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("w: [ CAM 2 ]"));
    EXPECT_THAT(r.out, HasSubstr("w: [ CAM 7 ]"));
}

TEST(QuonHostShell, TakesALongLineInOnePass) {
    program_run shell = host({"shell"});
    shell.input = "say " + std::string(128 * 1024, 'x') + "\nquit\n";
    shell.timeoutSeconds = 30;
    const program_result r = shell.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    // Not printed on failure: the output is 128 KiB.
    EXPECT_NE(r.out.find("# " + std::string(128 * 1024, 'x') + "\n"), std::string::npos);
}

TEST(QuonHostRun, RefusesAStepWithTooManyTimerTicksBeforeItStarts) {
    scratch folder;
    const std::string script = folder.file(
        "long.quon", "create u\nanswer 1 no\nsend u instance=studio_a_mon_1\nadvance 1000000000m\n");
    const program_result r = host({"run", script}).run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("long.quon:4: advance: the step would deliver more than 1000000 timer ticks"));
}

TEST(QuonHostRun, ReportsFoldersWhereFilesBelong) {
    const program_result scriptFolder = host({"run", EXAMPLES_DIR}).run();
    EXPECT_EQ(scriptFolder.exitCode, 2);
    EXPECT_THAT(scriptFolder.err, HasSubstr("a folder, not a scenario file"));

    scratch folder;
    fs::create_directories(folder.path() + "/layouts/umdMimic.quon_ui");
    const program_result layout =
        host({"--panels", folder.path() + "/layouts", "run", folder.file("a.quon", "create u\n")}).run();
    EXPECT_THAT(layout.err, HasSubstr("a folder, not a layout file"));
}

TEST(QuonHostRun, PrintsWarningsAndWhatShowAndSaySay) {
    scratch folder;
    const std::string script = folder.file("a.quon", "create u\nsay hello\nshow\n");
    const program_result r = host({"--panels", "/nonexistent", "run", script}).run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("warning: u: layout \"/nonexistent/umdMimic.quon_ui\": cannot be read"));
    EXPECT_THAT(r.out, HasSubstr("# hello"));
    EXPECT_THAT(r.out, HasSubstr("u: (no myMimic on panel 1)"));
}

TEST(QuonHostRun, RunsAScriptNamedFromAnyFolder) {
    program_run run = host({"run", "tests/scenarios/lifecycle.quon"});
    run.folder = SOURCE_DIR;
    const program_result r = run.run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST(QuonHostTrace, JsonTraceIsOneJsonObjectALine) {
    scratch folder;
    const std::string name(100, 'n');
    const std::string script =
        folder.file("a.quon", "create " + name + "\nanswer 1 no\nsend " + name + " instance=studio_a_mon_1\n" +
                                  "rename 1 0 1 CAF\xe9 \x01\nanswer 1 yes\nadvance 10s\nsay done\nshow\n");
    const program_result json = host({"--trace=json", "run", script}).run();
    EXPECT_EQ(json.exitCode, 0) << json.out << json.err;
    int objects = 0;
    for (const std::string& line : lines(json.out)) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(nlohmann::json::accept(line));
        ++objects;
    }
    EXPECT_GT(objects, 10);
    EXPECT_THAT(json.out, HasSubstr("\"kind\":\"summary\""));

    const program_result text = host({"--trace", "run", script}).run();
    EXPECT_THAT(text.out, HasSubstr(name + " -> command   \"SD 'studio_a_mon_1'\""));
}

TEST(QuonHostMessages, EscapesControlCharactersAndNamesWhatIsMissing) {
    scratch folder;
    const program_result r = host({"run", folder.file("e.quon", "foo\033[31mRED\n")}).run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, Not(HasSubstr("\033")));
    EXPECT_THAT(r.err, HasSubstr("foo\\x1b[31mRED"));

    program_run rootOnly = host({"run", folder.file("a.quon", "say x\n")});
    rootOnly.unset = {"VX_SYSTEM"};
    rootOnly.environment.erase("VX_SYSTEM");
    const program_result half = rootOnly.run();
    EXPECT_EQ(half.exitCode, 2);
    EXPECT_THAT(half.err, HasSubstr("VX_ROOT is set but VX_SYSTEM is not"));

    const program_result nul =
        host({"run", folder.file("n.quon", "create u\nsend u myMatrix=2\nexpect reply a" + std::string(1, '\0') + "b\n")})
            .run();
    EXPECT_EQ(nul.exitCode, 1);
    EXPECT_THAT(nul.out, HasSubstr("expect reply a\\x00b"));
}

TEST(QuonHostOptions, AnEmptyHttpAddressIsAUsageError) {
    if (!QUON_HOST_HAS_LIVE_PARTS) GTEST_SKIP() << "built without the live parts: there is no --http";
    const program_result r = host({"serve", "wall.toml", "--http", ""}).run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("--http needs ADDR:PORT")) << r.err;
}

TEST(QuonHostOptions, ServeHelpIsServesOwnWithItsExitCodes) {
    if (!QUON_HOST_HAS_LIVE_PARTS) GTEST_SKIP() << "built without the live parts: there is no serve";
    const program_result r = host({"serve", "--help"}).run();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_THAT(r.out, HasSubstr("WALL_FILE"));
    EXPECT_THAT(r.out, HasSubstr("0 stopped by SIGINT or SIGTERM"));
    EXPECT_THAT(r.out, HasSubstr("$VX_ROOT/$VX_SYSTEM/config/system"));
    EXPECT_THAT(r.out, Not(HasSubstr("runs the bundled demo"))) << r.out;
}

TEST(QuonHostOptions, RefusesNumbersOutOfRange) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--messages", "9999999999999999999"}, {"--timeout", "3000000"}, {"--timeout", "0"},
          {"--seed", "-1"}, {"--messages", "12x"}}) {
        std::vector<std::string> arguments = {"validate", KORVANE_MODULE_PATH};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const program_result r = host(arguments).run();
        EXPECT_EQ(r.exitCode, 2) << options[0] << " " << options[1];
        EXPECT_THAT(r.err, HasSubstr(options[0] + " takes a whole number")) << r.err;
    }
}

TEST(QuonHostInstall, AnInstalledHostFindsItsModuleAndExamples) {
    scratch prefix;
    program_run install;
    install.program = CMAKE_COMMAND;
    install.arguments = {"--install", BINARY_DIR, "--prefix", prefix.path()};
    const program_result installed = install.run();
    ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
    program_run demo;
    demo.program = prefix.path() + "/bin/quon-host";
    demo.unset = {"VX_ROOT", "VX_SYSTEM"};
    const program_result r = demo.run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("demo finished: every component torn down cleanly"));
    EXPECT_THAT(r.err, HasSubstr(prefix.path() + "/share/quon-host/examples/vx/studio"));
    // The module and the string library in the host's own folder, not in
    // the system's library folder.
    EXPECT_TRUE(fs::is_regular_file(prefix.path() + "/lib/quon-host/libquon_string.so"));
    EXPECT_TRUE(fs::is_regular_file(prefix.path() + "/lib/quon-host/Korvane.so"));
    EXPECT_FALSE(fs::exists(prefix.path() + "/lib/libquon_string.so"));
    EXPECT_TRUE(fs::is_regular_file(prefix.path() + "/share/man/man1/quon-host-check.1.gz"));
    // The installed man page names the version the installed program says.
    program_run page;
    page.program = GZIP_PATH;
    page.arguments = {"-dc", prefix.path() + "/share/man/man1/quon-host.1.gz"};
    const program_result man = page.run();
    ASSERT_EQ(man.exitCode, 0) << man.err;
    const program_result version = [&] {
        program_run asked = demo;
        asked.arguments = {"--version"};
        return asked.run();
    }();
    ASSERT_EQ(version.out.rfind("quon-host ", 0), 0u) << version.out;
    const std::string named = version.out.substr(0, version.out.find('\n'));
    EXPECT_THAT(man.out, ::testing::StartsWith(".TH QUON-HOST 1 "));
    EXPECT_THAT(man.out.substr(0, man.out.find('\n')), HasSubstr(" \"" + named + "\" ")) << man.out.substr(0, 80);
    EXPECT_TRUE(fs::is_regular_file(prefix.path() + "/lib/systemd/system/quon-host.service"));
}

TEST(QuonHostOptions, PrintsItsVersionAndTheUnicornItsWindowsModulesRunOn) {
    const program_result r = host({"--version"}).run();
    EXPECT_EQ(r.exitCode, 0);
#if defined(QUON_WINDOWS_MODULES)
    // The build's own Unicorn (lib/quon-host) where it has one, else the system's.
    const bool own = fs::exists(BINARY_DIR "/lib/quon-host/libunicorn.so.2");
    EXPECT_THAT(r.out, ::testing::MatchesRegex("quon-host [0-9]+\\.[0-9]+\\.[0-9]+(\\.[0-9]+)?\n"
                                               "Windows modules: Unicorn 2\\.[1-9][0-9]*\\.[0-9]+ \\(.*\\)\n"));
    if (own) {
        EXPECT_THAT(r.out, HasSubstr("/lib/quon-host/libunicorn.so.2)\n"));
    }
#else
    EXPECT_THAT(r.out, ::testing::MatchesRegex("quon-host [0-9]+\\.[0-9]+\\.[0-9]+(\\.[0-9]+)?\n"));
#endif
}

TEST(QuonHostOptions, HttpTakesANameResolvedOnceAtStart) {
    if (!QUON_HOST_HAS_LIVE_PARTS) GTEST_SKIP() << "built without the live parts: there is no serve";
    running_program serve(host({"serve", EXAMPLES_DIR "/walls/studio.toml", "--quiet", "--http", "localhost:0"}));
    ASSERT_TRUE(serve.waitForError("the wall is at http://")) << serve.errors();
    EXPECT_THAT(serve.errors(), ::testing::ContainsRegex("--http localhost:0: resolved once, to (127\\.0\\.0\\.1|::1)\n"));
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

TEST(QuonHostValidate, TheModulesDebugLinesGoToALogOfTheirOwnEscaped) {
    scratch folder;
    program_run run = host({"validate", FAULTY_NONE_PATH, "--seed", "1", "--messages", "300"});
    run.environment["TMPDIR"] = folder.path();
    const program_result r = run.run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, ::testing::ContainsRegex("the module wrote [0-9]+ lines to standard error \\(escaped, with "
                                                "their checks\\): " + folder.path() + "/quon-validate-1-[0-9]+\\.log\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("faulty: parent command")));
    EXPECT_THAT(r.err, Not(HasSubstr("faulty: parent command")));
    std::string log;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        std::ifstream in(entry.path());
        log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_THAT(log, HasSubstr("parent.results: faulty: parent command \"_commands\"\n"));
    EXPECT_THAT(log, HasSubstr("random.sequences: faulty: parent command"));
    for (const char c : log) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "a raw byte " << int(c) << " in the log";

    const program_result verbose = host({"validate", FAULTY_NONE_PATH, "--seed", "1", "--messages", "300", "--verbose"}).run();
    EXPECT_EQ(verbose.exitCode, 0);
    EXPECT_THAT(verbose.err, HasSubstr("random.sequences: faulty: parent command"));
    EXPECT_THAT(verbose.out, HasSubstr("to standard error (escaped, with their checks): above\n"));
    for (const char c : verbose.err) ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "a raw byte " << int(c);
}

// systemd's side of Type=notify and WatchdogSec: a datagram socket named by
// NOTIFY_SOCKET, and the interval in WATCHDOG_USEC.
TEST(QuonHostServe, TellsSystemdItIsReadyThenFeedsTheWatchdogFromItsLoop) {
    if (!QUON_HOST_HAS_LIVE_PARTS) GTEST_SKIP() << "built without the live parts: there is no serve";
    scratch folder;
    const std::string path = folder.path() + "/notify";
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    program_run run = host({"serve", EXAMPLES_DIR "/walls/studio.toml", "--quiet"});
    run.environment["NOTIFY_SOCKET"] = path;
    run.environment["WATCHDOG_USEC"] = "200000";
    running_program serve(run);
    std::vector<std::string> said;
    const auto watchdogs = [&said] { return std::count(said.begin(), said.end(), "WATCHDOG=1"); };
    for (int waits = 0; waits < 300 && watchdogs() < 3; ++waits) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::recv(listener, buffer, sizeof buffer, 0);
        if (n > 0) said.emplace_back(buffer, static_cast<size_t>(n));
    }
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0) << serve.errors();
    ::close(listener);
    ASSERT_FALSE(said.empty());
    EXPECT_THAT(said.front(), StartsWith("READY=1\nSTATUS=3 displays"));
    EXPECT_GE(watchdogs(), 3);
}

// The man page names every option of every command, as --help lists them.
TEST(QuonHostManPage, NamesEveryOptionOfEveryCommand) {
    std::ifstream in(SOURCE_DIR "/docs/quon-host.1");
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(page.empty());
    for (const char* command : {"", "run", "shell", "validate", "serve", "check", "lineup"}) {
        std::vector<std::string> arguments;
        if (*command) arguments.push_back(command);
        arguments.push_back("--help");
        const program_result help = host(arguments).run();
        ASSERT_EQ(help.exitCode, 0) << command;
        if (*command) {
            EXPECT_THAT(page, HasSubstr(std::string(".B quon-host ") + command)) << command;
        }
        std::istringstream lines(help.out);
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find("--");
            if (line.rfind("  ", 0) != 0 || at == std::string::npos) continue;
            const std::string option = line.substr(at, line.find_first_of(" =", at) - at);
            // The man page escapes each '-' as troff wants it.
            std::string troff;
            for (const char c : option) troff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_THAT(page, HasSubstr(troff)) << command << ": " << option;
        }
    }
}

TEST(QuonHostServe, RefusesAWallSayingItsOwnErrorsAndThoseAgainstTheSystemAtOnce) {
    if (!QUON_HOST_HAS_LIVE_PARTS) GTEST_SKIP() << "built without the live parts: there is no serve";
    scratch folder;
    const std::string wall = folder.file("wall.toml", "[[display]]\nname = \"a\"\ninstance = \"nosuch\"\n\n"
                                                      "[[display]]\nname = \"b\"\ninstance = \"studio_a_mon_1\"\n"
                                                      "sourcedb = \"x\"\n");
    const program_result r = host({"serve", wall, "--quiet"}).run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, ::testing::ContainsRegex("wall.toml:3:12: display \"a\": instance \"nosuch\" is not in [^\n]*\n"
                                                "[^\n]*wall.toml:8:12: `sourcedb` takes a whole number"));
}

}  // namespace
