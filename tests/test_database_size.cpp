#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "bare_component.h"
#include "quon/script/profile_file.h"
#include "quon/script/quon_script_helper.h"
#include "temp_system.h"

namespace {

struct file_case {
    const char* contents;
    int database1;
};

TEST(DatabaseSize, ReadsTheKeyAsTheWindowsReaderDoes) {
    const file_case cases[] = {
        {"[Database]\nDatabaseSize_1=64\n", 64},
        {"[Database]\r\nDatabaseSize_1=64\r\n", 64},
        {"[database]\ndatabasesize_1=64\n", 64},
        {"  [ Database ]  \n  DatabaseSize_1  =  64  \n", 64},
        {"[Database]\nDatabaseSize_1=\"64\"\n", 64},
        {"[Database]\nDatabaseSize_1='64'\n", 64},
        {"[Database]\nDatabaseSize_1=\n", 0},
        {"[Database]\nDatabaseSize_1=64 rows\n", 64},
        {"[Database]\nDatabaseSize_1=abc\n", 0},
        {"[Database]\nDatabaseSize_1=-5\n", -5},
        {"[Database]\nDatabaseSize_1=99999999999\n", 2147483647},
        {"[Database]\n;DatabaseSize_1=64\n", 0},
        {"[Other]\nDatabaseSize_1=64\n", 0},
        {"DatabaseSize_1=64\n", 0},
        {"[Database]\nDatabaseSize_10=64\n", 0},
        {"[Database]\nDatabaseSize_1=8\nDatabaseSize_1=9\n", 8},
        {"[Database]\nDatabaseSize_0=32\n[Router]\nDatabaseSize_1=5\n[Database]\nDatabaseSize_1=7\n", 0},
        {"", 0},
        // A UTF-8 byte-order mark, as common Windows editors save it, is
        // not part of the first line; only the file's first bytes are one.
        {"\xEF\xBB\xBF[Database]\nDatabaseSize_1=64\n", 64},
        {"\xEF\xBB\xBF[Database]\r\nDatabaseSize_1=64\r\n", 64},
        {"\xEF\xBB\xBF  [Database]\nDatabaseSize_1=64\n", 64},
        {"\xEF\xBB\xBF\n[Database]\nDatabaseSize_1=64\n", 64},
        {"\xEF\xBB\xBF", 0},
        {"[Database]\n\xEF\xBB\xBF"
         "DatabaseSize_1=64\n",
         0},
    };
    temp_system system;
    bare_component reader;
    for (const file_case& c : cases) {
        SCOPED_TRACE(c.contents);
        system.writeDevice(7, c.contents);
        EXPECT_EQ(reader.databaseSize(7, 1), c.database1);
    }
}

TEST(DatabaseSize, FindsTheFileByDeviceNumber) {
    temp_system system;
    bare_component reader;
    system.writeDevice(7, "[Database]\nDatabaseSize_1=64\n");
    system.writeDevice(1234, "[Database]\nDatabaseSize_1=12\nDatabaseSize_0=3\n");
    EXPECT_EQ(reader.databaseSize(7, 1), 64);
    EXPECT_EQ(reader.databaseSize(7, 2), 0);
    EXPECT_EQ(reader.databaseSize(1234, 1), 12);
    EXPECT_EQ(reader.databaseSize(1234, 0), 3);
    EXPECT_EQ(reader.databaseSize(8, 1), 0);
    // Every call sees the file as it is now.
    system.writeDevice(7, "[Database]\nDatabaseSize_1=16\n");
    EXPECT_EQ(reader.databaseSize(7, 1), 16);
}

// A file old enough to be kept between calls is read again once it changed:
// rewritten in place at the same size, replaced by another file, removed.
TEST(DatabaseSize, ReadsAKeptFileAgainOnceItChanged) {
    temp_system system;
    bare_component reader;
    const auto pastTheWindows = [](int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    };
    system.writeDevice(7, "[Database]\nDatabaseSize_1=64\n");
    pastTheWindows(150);  // a file is kept once it is 100 ms old
    EXPECT_EQ(reader.databaseSize(7, 1), 64);
    EXPECT_EQ(reader.databaseSize(7, 1), 64);
    pastTheWindows(5);  // a kept file is looked at again after a millisecond
    system.writeDevice(7, "[Database]\nDatabaseSize_1=32\n");
    EXPECT_EQ(reader.databaseSize(7, 1), 32);

    pastTheWindows(150);
    EXPECT_EQ(reader.databaseSize(7, 1), 32);
    pastTheWindows(5);
    const std::string path = system.folder() + "/dev_007.ini";
    std::ofstream(path + ".new") << "[Database]\nDatabaseSize_1=48\n";
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    EXPECT_EQ(reader.databaseSize(7, 1), 48);

    pastTheWindows(150);
    EXPECT_EQ(reader.databaseSize(7, 1), 48);
    pastTheWindows(5);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(reader.databaseSize(7, 1), 0);
}

// lookup() keeps the sections it was asked for, shared() the whole file;
// each answers from what the other kept, and both read a changed file anew.
TEST(ProfileFile, KeptSectionsAndAKeptWholeFileAnswerAlike) {
    temp_system system;
    const std::string path = system.folder() + "/dev_007.ini";
    const auto ask = [&path](const char* section, const char* key) {
        std::string value;
        return profile_file::lookup(path, section, key, value) == profile_file::lookup_result::found ? value
                                                                                                      : "(none)";
    };
    system.writeDevice(7, "[Router]\nName=R\n[Database]\nDatabaseSize_1=64\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // a file is kept once it is 100 ms old
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(ask("database", "DatabaseSize_1"), "64");
        EXPECT_EQ(ask("Router", "name"), "R");
        EXPECT_EQ(ask("Names", "x"), "(none)");
    }
    const std::shared_ptr<const profile_file> whole = profile_file::shared(path);
    ASSERT_TRUE(whole);
    EXPECT_EQ(*whole->value("Router", "Name"), "R");
    EXPECT_EQ(ask("Database", "DatabaseSize_1"), "64");

    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a kept file is looked at again after 1 ms
    system.writeDevice(7, "[Router]\nName=S\n[Database]\nDatabaseSize_1=32\n");
    EXPECT_EQ(ask("Database", "DatabaseSize_1"), "32");
    EXPECT_EQ(ask("Router", "Name"), "S");
    EXPECT_EQ(*profile_file::shared(path)->value("Router", "Name"), "S");
}

TEST(DatabaseSize, NeedsBothEnvironmentVariables) {
    temp_system system;
    bare_component reader;
    system.writeDevice(7, "[Database]\nDatabaseSize_1=64\n");
    const std::string root = std::getenv("VX_ROOT");
    unsetenv("VX_ROOT");
    EXPECT_EQ(reader.databaseSize(7, 1), 0);
    setenv("VX_ROOT", root.c_str(), 1);
    unsetenv("VX_SYSTEM");
    EXPECT_EQ(reader.databaseSize(7, 1), 0);
    setenv("VX_SYSTEM", "main", 1);
    EXPECT_EQ(reader.databaseSize(7, 1), 64);
}

TEST(DatabaseSize, TreatsAPathTooLongAsUnreadable) {
    temp_system system;
    bare_component reader;
    setenv("VX_SYSTEM", std::string(300, 's').c_str(), 1);
    EXPECT_EQ(reader.databaseSize(7, 1), 0);
    setenv("VX_SYSTEM", std::string(240, 's').c_str(), 1);
    EXPECT_EQ(reader.databaseSize(7, 1), 0);
}

TEST(ProfileFile, CutsLongValuesToTheReservedSpace) {
    temp_system system;
    bare_component reader;
    system.writeDevice(7, "[Database]\nDatabaseSize_1=" + std::string(300, '1') + "\n");
    EXPECT_EQ(reader.databaseSize(7, 1), 2147483647);
}

TEST(ProfileFile, KeepsSectionsAndEntriesInOrder) {
    const profile_file file = profile_file::parse("; comment\n[A]\nx = 1\ny=\"two words\"\n[B]\nnot an entry\nz=3=4\n");
    ASSERT_EQ(file.sections().size(), 2u);
    EXPECT_EQ(*file.value("a", "X"), "1");
    EXPECT_EQ(*file.value("A", "y"), "two words");
    EXPECT_EQ(*file.value("B", "z"), "3=4");
    EXPECT_EQ(file.value("B", "not an entry"), nullptr);
    EXPECT_EQ(file.value("C", "x"), nullptr);
}

TEST(ProfileFile, ReadsTheFirstSectionAfterAByteOrderMark) {
    const profile_file file = profile_file::parse("\xEF\xBB\xBF[A]\nx=1\n[B]\ny=2\n");
    ASSERT_EQ(file.sections().size(), 2u);
    EXPECT_EQ(file.sections()[0].name, "A");
    EXPECT_EQ(*file.value("A", "x"), "1");
    EXPECT_EQ(*file.value("B", "y"), "2");
}

}  // namespace
