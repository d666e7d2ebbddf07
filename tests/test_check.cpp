// quon-host check: a wall file against a system on disk, through the
// command line, as before a deploy. Every wall that cannot work is an error
// naming the wall file's line and column; all of them are listed at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_run.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

class Check : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quon-check-test-XXXXXX";
        root = mkdtemp(pattern);
        folder = root + "/vx/main/config/system";
        fs::create_directories(folder);
        // Router 1 on a port where nothing listens: down, which is no error.
        std::ofstream(folder + "/dev_001.ini") << "[Router]\nName=Main\nProtocol=videohub\nAddress=127.0.0.1:1\n"
                                                  "[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
        std::ofstream(folder + "/dev_002.ini") << "[Router]\nName=Odd\nProtocol=carrier-pigeon\n"
                                                  "[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n";
        std::ofstream(folder + "/instances.ini") << "[Instances]\nmon1=1 3\nfar=1 40\n";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    program_result check(const std::string& wall, const std::string& system = "main") const {
        std::ofstream(root + "/wall.toml") << wall;
        program_run run;
        run.program = QUON_HOST_PATH;
        run.arguments = {"check", root + "/wall.toml"};
        run.environment = {{"VX_ROOT", root + "/vx"}, {"VX_SYSTEM", system}};
        return run.run();
    }

    std::string root;
    std::string folder;
};

TEST_F(Check, AWallThatCanWorkPassesEvenWithItsRouterDown) {
    const program_result r = check(
        "[[display]]\nname = \"a\"\ninstance = \"MON1\"\n\n[[display]]\nname = \"b\"\nmatrix = 1\ndestination = 16\n");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 2 displays, no errors"));
}

struct refusal {
    const char* name;
    const char* display;   // the lines of one [[display]] after its name
    const char* expected;  // "line:column: what", after the file's path
};

void PrintTo(const refusal& r, std::ostream* out) { *out << r.name; }

class CheckRefuses : public Check, public ::testing::WithParamInterface<refusal> {};

TEST_P(CheckRefuses, ADisplayThatCannotWorkNamingItsLineAndColumn) {
    const program_result r = check(std::string("[[display]]\nname = \"a\"\n") + GetParam().display);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml:" + std::string(GetParam().expected))) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 error\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Walls, CheckRefuses,
    ::testing::Values(
        refusal{"unknown_instance", "instance = \"mon9\"\n",
                "3:12: display \"a\": instance \"mon9\" is not in "},
        refusal{"instance_beyond_the_router", "instance = \"far\"\n",
                "3:12: display \"a\": destination 40 is not one of router 1's 16 destinations (DatabaseSize_1)"},
        refusal{"matrix_without_device_file", "matrix = 3\ndestination = 1\n",
                "3:10: display \"a\": matrix 3: router 3 has no device file ("},
        refusal{"matrix_without_router", "matrix = 2\ndestination = 1\n",
                "3:10: display \"a\": matrix 2: router 2: "},
        refusal{"destination_beyond_the_router", "matrix = 1\ndestination = 17\n",
                "4:15: display \"a\": destination 17 is not one of router 1's 16 destinations"},
        refusal{"matrix_without_destination", "matrix = 1\n", "1:1: display \"a\": `matrix` without `destination`"},
        refusal{"destination_without_matrix", "destination = 1\n",
                "1:1: display \"a\": `destination` without `matrix`"},
        refusal{"neither", "", "1:1: display \"a\": neither `instance` nor `matrix` and `destination`"},
        refusal{"missing_module", "instance = \"mon1\"\nmodule = \"NoSuch.so\"\n",
                "4:10: display \"a\": module "}),
    [](const ::testing::TestParamInfo<refusal>& info) { return info.param.name; });

TEST_F(Check, AComponentOfItsOwnNeedsNoRouterOnlyItsModuleAndLayouts) {
    std::ofstream(root + "/wall.toml") << "[[display]]\nname = \"cam\"\n"
                                       << "module = \"" << QUON_TALLY_PATH << "\"\n"
                                       << "parent = [\"tally=1\"]\n";
    program_run run;
    run.program = QUON_HOST_PATH;
    run.arguments = {"--panels", QUON_TALLY_PANELS, "check", root + "/wall.toml"};
    run.environment = {{"VX_ROOT", root + "/vx"}, {"VX_SYSTEM", "main"}};
    const program_result r = run.run();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 display, no errors"));
}

TEST_F(Check, ListsEveryErrorAtOnce) {
    const program_result r = check(
        "[[display]]\nname = \"a\"\ninstance = \"mon9\"\n\n"
        "[[display]]\nname = \"b\"\nmatrix = 3\ndestination = 1\n\n"
        "[[display]]\nname = \"c\"\nmatrix = 1\ndestination = 99\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("wall.toml:3:12: display \"a\""));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:7:10: display \"b\""));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:13:15: display \"c\""));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 3 errors"));
}

TEST_F(Check, TallyMappingsAndTiesNameOnlyRoutersAndPointsTheSystemHas) {
    const program_result r = check(
        "[[tally_in]]\nname = \"m\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
        "[[tally_in.map]]\nindex = 1\nmatrix = 3\ndestination = 1\n"
        "[[tally_in.map]]\nindex = 2\ncount = 8\nmatrix = 1\nsource = 10\n"
        "[[tally_in.output]]\nmatrix = 1\nsource = 16\n"
        "[[tally_in.output]]\nbus = \"preview\"\nmatrix = 1\nsource = 40\n"
        "[[on_air]]\nmatrix = 1\ndestination = 30\n"
        "[[tie]]\nfrom = { matrix = 1, destination = 17 }\nto = { matrix = 1, source = 16 }\n");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml:6:10: tally input \"m\": matrix 3: router 3 has no device file"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:10:9: tally input \"m\": sources 10 to 17; router 1 has 16 "
                                 "(DatabaseSize_0)"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:24:36: tie: destination 17 is not one of router 1's 16 destinations"));
    // A source carries one picture: a mixer's bus or a tie's.
    EXPECT_THAT(r.out, HasSubstr("wall.toml:15:10: output of tally input \"m\": source 16 of matrix 1 is fed by a "
                                 "[[tie]] too (at "));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:19:10: output of tally input \"m\": source 40 is not one of router 1's "
                                 "16 sources"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:22:15: on_air: destination 30 is not one of router 1's 16 destinations"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 6 errors"));
}

TEST_F(Check, ABadPairAddressIsAnErrorAtItsPlace) {
    const program_result r = check("[pair]\nactive_address = \"192.0.2.300\"\n\n[[display]]\nname = \"a\"\ninstance = \"mon1\"\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("wall.toml:2:18: `active_address` = \"192.0.2.300\" is not a numeric IPv4 or IPv6 address\n"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 error\n"));
}

TEST_F(Check, AGoodPairAddressIsNoError) {
    const program_result r = check("[pair]\nactive_address = \"2001:db8::50\"\n\n[[display]]\nname = \"a\"\ninstance = \"mon1\"\n");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST_F(Check, AMissingSystemFolderIsOneErrorNotABlankWall) {
    const program_result r = check("[[display]]\nname = \"a\"\ninstance = \"mon1\"\n", "nosuch");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("vx/nosuch/config/system: the system folder cannot be read"));
    EXPECT_THAT(r.out, HasSubstr(": 1 error\n"));
}

TEST_F(Check, AWallFileThatIsNotTomlIsAnError) {
    const program_result r = check("[[display]\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("wall.toml:1:"));
}

TEST_F(Check, AWallFileThatCannotBeReadSaysWhy) {
    program_run run;
    run.program = QUON_HOST_PATH;
    std::ofstream(root + "/plain") << "";
    run.arguments = {"check", root + "/plain/wall.toml"};
    run.environment = {{"VX_ROOT", root + "/vx"}, {"VX_SYSTEM", "main"}};
    const program_result r = run.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("plain/wall.toml: cannot be read: Not a directory"));
}

TEST_F(Check, ADisplayNamedTwiceIsOneError) {
    const program_result r = check(
        "[[display]]\nname = \"a\"\ninstance = \"mon1\"\n\n[[display]]\nname = \"a\"\ninstance = \"mon1\"\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("wall.toml:6:8: display \"a\" named twice\n"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 error\n"));
    EXPECT_EQ(r.err.find("\"a\""), std::string::npos) << r.err;
}

// Stored files may hold keys of their own: one far from every key is no
// typo, and a key of another protocol is no typo either.
TEST_F(Check, ARouterKeyNoProtocolMeansIsWarnedWithFileLineAndTheKeysThatExist) {
    std::ofstream(folder + "/dev_001.ini") << "[Router]\nName=Main\nProtocol=videohub\nAddress=127.0.0.1:1\n"
                                              "Colour=blue\nMatrix=2\n"
                                              "[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
    const program_result r = check("[[display]]\nname = \"a\"\ninstance = \"mon1\"\n");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* key : {"5: [Router] Colour", "6: [Router] Matrix"})
        EXPECT_THAT(r.err, HasSubstr("dev_001.ini:" + std::string(key) + ": not a key of Protocol=videohub (Name, "
                                     "Protocol, Address, CaFile, ConnectTimeout, KeepAlive, KeepAliveWait, Silence, "
                                     "RetryFirst, RetryCap, Resync); ignored"));
}

struct device_refusal {
    const char* name;
    const char* router;    // the [Router] lines after Name
    const char* expected;  // after the device file's path
};

void PrintTo(const device_refusal& r, std::ostream* out) { *out << r.name; }

class CheckRefusesDeviceFile : public Check, public ::testing::WithParamInterface<device_refusal> {};

// Whatever the wall: a router that is not what its file means is refused
// before it is used.
TEST_P(CheckRefusesDeviceFile, ARouterThatWouldNotBeWhatItsFileMeans) {
    std::ofstream(folder + "/dev_001.ini") << "[Router]\nName=Main\n" << GetParam().router
                                           << "[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
    const program_result r = check("[[display]]\nname = \"a\"\ninstance = \"mon1\"\n");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("dev_001.ini:" + std::string(GetParam().expected) + "\n")) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 error\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, CheckRefusesDeviceFile,
    ::testing::Values(
        device_refusal{"misspelt_protocol", "Protocl=videohub\nAddress=127.0.0.1:1\n",
                       "3: [Router] unknown key Protocl; did you mean Protocol?"},
        device_refusal{"misspelt_key_of_its_protocol", "Protocol=videohub\nAddress=127.0.0.1:1\nKeepAlve=200\n",
                       "5: [Router] unknown key KeepAlve; did you mean KeepAlive?"},
        device_refusal{"misspelt_key_of_another_protocol", "Protocol=videohub\nAddress=127.0.0.1:1\nMatrx=2\n",
                       "5: [Router] unknown key Matrx; did you mean Matrix?"},
        device_refusal{"address_without_protocol", "Address=127.0.0.1:1\n",
                       "3: [Router] Address= without Protocol=: a router on the network needs its protocol "
                       "(emberplus, nmos, quartz, swp08, videohub); a simulated router has no address"}),
    [](const ::testing::TestParamInfo<device_refusal>& info) { return info.param.name; });

TEST_F(Check, ARoutersDeviceFileErrorIsSaidOnceForEveryUseOfTheRouter) {
    std::ofstream(folder + "/dev_001.ini") << "[Router]\nName=Main\nProtocol=videohub\nAdress=127.0.0.1:1\n"
                                              "[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
    const program_result r = check(
        "[[display]]\nname = \"a\"\ninstance = \"mon1\"\n\n[[display]]\nname = \"b\"\nmatrix = 1\ndestination = 2\n"
        "[[tally_in]]\nname = \"m\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
        "[[tally_in.map]]\nindex = 1\nmatrix = 1\nsource = 1\n"
        "[[tie]]\nfrom = { matrix = 1, destination = 16 }\nto = { matrix = 1, source = 16 }\n");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("dev_001.ini:4: [Router] unknown key Adress; did you mean Address?\n"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml:3:12: display \"a\": instance \"mon1\" (1 3): router 1: " + folder +
                                 "/dev_001.ini:3: Protocol=videohub needs Address=host:port in [Router]; router 1 "
                                 "left out; 4 more displays, tally maps and ties use router 1\n"));
    const std::string all = r.out + r.err;
    EXPECT_EQ(all.find("needs Address"), all.rfind("needs Address")) << all;
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 2 errors\n"));
}

TEST_F(Check, SaysTheFilesOwnErrorsAndThoseAgainstTheSystemInOneRun) {
    const program_result r = check(
        "[[display]]\nname = \"a\"\ninstance = \"mon9\"\numd = { index = 1 }\n\n"
        "[[display]]\nname = \"b\"\nmatrix = \"x\"\ndestination = 1\n\n"
        "[[display]]\nname = \"c\"\nmatrix = 3\ndestination = 1\nmodul = \"x\"\n");
    EXPECT_EQ(r.exitCode, 1);
    // In file order; display b's matrix is said once, where it was read.
    EXPECT_THAT(r.out, ::testing::ContainsRegex("wall.toml:3:12: display \"a\": instance \"mon9\"[^\n]*\n"
                                                "[^\n]*wall.toml:4:7: no `to` for display \"a\"[^\n]*\n"
                                                "[^\n]*wall.toml:8:10: `matrix` takes a whole number[^\n]*\n"
                                                "[^\n]*wall.toml:13:10: display \"c\": matrix 3: router 3 has no "
                                                "device file[^\n]*\n"
                                                "[^\n]*wall.toml:15:1: unknown key `modul`"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 5 errors\n"));
}

TEST_F(Check, AWrongToInUmdIsOneErrorNotOneForEveryDisplay) {
    const program_result r = check(
        "[umd]\nto = \"tsl5+udp://127.0.0.1:70000\"\n\n"
        "[[display]]\nname = \"a\"\ninstance = \"mon1\"\numd = { index = 1 }\n\n"
        "[[display]]\nname = \"b\"\ninstance = \"mon1\"\numd = { index = 2 }\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("wall.toml:2:6: `to` = \"tsl5+udp://127.0.0.1:70000\" names a port out of range "
                                 "(1 to 65535)\n"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 error\n"));
}

TEST_F(Check, WarnsOfAStateSheetWithoutItsTally) {
    const program_result r = check(
        "[[display]]\nname = \"a\"\ninstance = \"mon1\"\nstatesheet = \"umd_alrm\"\n\n"
        "[[display]]\nname = \"b\"\ninstance = \"mon1\"\nstatesheet = \"umd_alarm\"\n\n"
        "[tally.umd_alarm]\nleft = \"red\"\n");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr("wall.toml:4:14: display \"a\": state sheet \"umd_alrm\" has no [tally.umd_alrm]; "
                                 "its lamps stay off"));
    EXPECT_THAT(r.err, Not(HasSubstr("display \"b\"")));
}

TEST_F(Check, RefusesAPanelLayoutServeCannotRead) {
    const std::string panels = root + "/panels";
    fs::create_directories(panels);
    std::ofstream(panels + "/umdMimic.quon_ui") << "control myMimic\n  text =\nthis is no layout line\n";
    std::ofstream(root + "/wall.toml") << "[[display]]\nname = \"a\"\ninstance = \"mon1\"\n";
    program_run run;
    run.program = QUON_HOST_PATH;
    run.arguments = {"check", "--panels", panels, root + "/wall.toml"};
    run.environment = {{"VX_ROOT", root + "/vx"}, {"VX_SYSTEM", "main"}};
    const program_result r = run.run();
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("wall.toml:1:1: display \"a\": layout \"" + panels + "/umdMimic.quon_ui\": line 3"));
    EXPECT_THAT(r.out, HasSubstr("wall.toml: 1 error\n"));
}

TEST_F(Check, ADeviceFileErrorNamesItsFileAndLine) {
    std::ofstream(folder + "/dev_003.ini") << "[Router]\nName=Far\nProtocol=videohub\nAddress=127.0.0.1:99999\n"
                                              "[Database]\nDatabaseSize_0=4\nDatabaseSize_1=4\n";
    const program_result r = check("[[display]]\nname = \"a\"\nmatrix = 3\ndestination = 1\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, HasSubstr("wall.toml:3:10: display \"a\": matrix 3: router 3: " + folder +
                                 "/dev_003.ini:4: Address=127.0.0.1:99999: port 99999 is out of range (a port is at "
                                 "most 65535); router 3 left out\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("dev_003.ini"))) << "said once, as the error";
}

}  // namespace
