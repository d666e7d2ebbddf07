// The system folder as the host reads it: device files and instances.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "quon/engine/system_files.h"
#include "temp_system.h"

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using namespace quon;

namespace {

TEST(SystemFiles, ReadsRoutersAndInstances) {
    temp_system system;
    system.writeDevice(3,
                       "[Router]\nName=Main\nAnswers=No\n[Database]\nDatabaseSize_1=16\n[Database_0]\n1=CAM 1\nx=bad\n"
                       "[Crosspoints]\n1=4\n2=x\n");
    system.writeFile("instances.ini", "[Instances]\nUMD_A=3 1\n");
    system.writeFile("dev_x.ini", "[Database]\nDatabaseSize_1=3\n");
    const system_description d = readSystem(system.folder());
    ASSERT_EQ(d.routers.size(), 1u);
    EXPECT_EQ(d.routers[0].device, 3);
    EXPECT_EQ(d.routers[0].name, "Main");
    EXPECT_FALSE(d.routers[0].answers);
    EXPECT_EQ(d.routers[0].databaseSizes.at(1), 16);
    EXPECT_EQ(d.routers[0].entryNames.at(0).at(1), "CAM 1");
    EXPECT_EQ(d.routers[0].crosspoints.at(1), 4);
    EXPECT_EQ(d.instances.at("umd_a"), "3 1");
    EXPECT_THAT(d.warnings, ElementsAre(HasSubstr("dev_003.ini:8: [Database_0] x: not an index"),
                                        HasSubstr("dev_003.ini:11: [Crosspoints] 2=x: not destination=source"),
                                        HasSubstr("dev_x.ini: not a device file name the component reads")));
    EXPECT_FALSE(readSystem("/nonexistent").warnings.empty());
}

// The host reads every size the way the component does (the profile
// reader keeps an inline comment in the value; the number stops at the
// first character that is not a digit), and warns about what it cannot use.
TEST(SystemFiles, ReadsSizesAsTheComponentDoes) {
    struct size_case {
        const char* value;
        int size;             // -1: not registered
        const char* warning;  // empty: none
    };
    const size_case cases[] = {
        {"64      ; database 1: destinations", 64, ""},
        {"+64", 64, ""},
        {" 12abc", 12, ""},
        {"\"16\"", 16, ""},
        {"lots", -1, "DatabaseSize_1=lots: not a number (the component reads 0)"},
        {"", -1, "DatabaseSize_1=: not a number"},
        {"-3", -1, "DatabaseSize_1=-3: negative"},
        {"99999999999", 65536, "above the 65536 entries the host holds"},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.value);
        temp_system system;
        system.writeDevice(1, std::string("[Database]\nDatabaseSize_0=4\nDatabaseSize_1=") + c.value + "\n");
        system.writeFile("instances.ini", "[Instances]\n");
        const system_description d = readSystem(system.folder());
        ASSERT_EQ(d.routers.size(), 1u);
        if (c.size < 0)
            EXPECT_EQ(d.routers[0].databaseSizes.count(1), 0u);
        else
            EXPECT_EQ(d.routers[0].databaseSizes.at(1), c.size);
        if (*c.warning)
            EXPECT_THAT(d.warnings, ElementsAre(AllOf(HasSubstr("dev_001.ini:3: "), HasSubstr(c.warning))));
        else
            EXPECT_THAT(d.warnings, IsEmpty());
    }
}

TEST(SystemFiles, NamesDeviceFilesAsTheComponentDoes) {
    temp_system system;
    system.writeDevice(2, "[Database]\nDatabaseSize_1=2\n");
    system.writeFile("dev_1.ini", "[Database]\nDatabaseSize_1=3\n");
    system.writeFile("dev_1000.ini", "[Database]\nDatabaseSize_1=3\n");
    system.writeFile("instances.ini", "[Instances]\n");
    std::filesystem::create_directories(system.folder() + "/dev_004.ini");
    const system_description d = readSystem(system.folder());
    std::vector<int> devices;
    for (const router_description& r : d.routers) devices.push_back(r.device);
    EXPECT_THAT(devices, ElementsAre(2, 1000));
    EXPECT_THAT(d.warnings, ElementsAre(HasSubstr("dev_004.ini: a folder, not a device file"),
                                        HasSubstr("dev_1.ini: the component reads device 1 from dev_001.ini")));
}

TEST(SystemFiles, WarnsAboutAMissingOrUnusableInstancesFile) {
    temp_system missing;
    EXPECT_THAT(readSystem(missing.folder()).warnings, ElementsAre(HasSubstr("instances.ini: missing")));
    temp_system folder;
    std::filesystem::create_directories(folder.folder() + "/instances.ini");
    EXPECT_THAT(readSystem(folder.folder()).warnings, ElementsAre(HasSubstr("instances.ini: a folder")));
}

}  // namespace
