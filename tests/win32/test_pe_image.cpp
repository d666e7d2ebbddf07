// The PE32 reader on images made by pe_builder: what it reads, and a clear
// error for each kind of damage.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "pe_builder.h"
#include "quon/win32/pe_image.h"

namespace pe = quon::win32::pe;

namespace {

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t get32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Where pe_builder puts things in the file.
constexpr size_t optional_header = 0x58;
constexpr size_t section_table = optional_header + 224;
size_t directory(int index) { return optional_header + 96 + 8 * static_cast<size_t>(index); }
size_t sectionHeader(int index) { return section_table + 40 * static_cast<size_t>(index); }
size_t rdataInFile(const std::vector<uint8_t>& file) { return get32(file, sectionHeader(1) + 20); }

pe_builder sampleDll() {
    pe_builder b;
    b.imageBase = 0x10000000;
    b.dll = true;
    b.slot("msvcrt.dll", "malloc");
    b.slot("msvcrt.dll", "#12");
    b.slot("kernel32.dll", "OutputDebugStringA");
    b.bytes({0xB8}).address(b.dataAddress(0x10)).bytes({0xC3});  // mov eax, data+0x10; ret
    b.bytes({0xC2, 0x0C, 0x00});                                   // ret 12
    b.exports = {{"first", 0}, {"second", 6}};
    b.tlsCallbacks = {6};
    b.loadConfig = true;
    return b;
}

pe::read_result readBytes(const std::vector<uint8_t>& file) { return pe::readImage(file.data(), file.size()); }

}  // namespace

TEST(PeImage, ReadsHeadersSectionsImportsExportsRelocationsTlsAndLoadConfig) {
    const pe_builder builder = sampleDll();
    const pe::read_result read = readBytes(builder.build());
    ASSERT_TRUE(read.value) << read.error;
    const pe::image& image = *read.value;
    EXPECT_EQ(image.imageBase, 0x10000000u);
    EXPECT_TRUE(image.isDll());
    EXPECT_TRUE(image.relocatable());
    EXPECT_EQ(image.entryPoint, pe_builder::text_rva);
    ASSERT_EQ(image.sections.size(), 4u);
    EXPECT_EQ(image.sections[0].name, ".text");
    EXPECT_EQ(image.sections[2].rva, pe_builder::data_rva);
    EXPECT_EQ(image.mapped.size(), image.sizeOfImage);
    EXPECT_EQ(image.mapped[pe_builder::text_rva], 0xB8);

    ASSERT_EQ(image.imports.size(), 2u);
    EXPECT_EQ(image.imports[0].dll, "msvcrt.dll");
    ASSERT_EQ(image.imports[0].entries.size(), 2u);
    EXPECT_EQ(image.imports[0].entries[0].name, "malloc");
    EXPECT_FALSE(image.imports[0].entries[0].byOrdinal);
    EXPECT_TRUE(image.imports[0].entries[1].byOrdinal);
    EXPECT_EQ(image.imports[0].entries[1].ordinal, 12);
    EXPECT_EQ(image.imports[1].entries[0].name, "OutputDebugStringA");
    EXPECT_EQ(image.imports[1].entries[0].slotRva, pe_builder::rdata_rva + 12);

    ASSERT_NE(image.findExport("second"), nullptr);
    EXPECT_EQ(image.findExport("second")->rva, pe_builder::text_rva + 6);
    EXPECT_EQ(image.findExport(1u), image.findExport("first"));
    EXPECT_EQ(image.findExport("third"), nullptr);

    EXPECT_EQ(image.relocations, std::vector<uint32_t>{pe_builder::text_rva + 1});
    EXPECT_EQ(image.tlsCallbacks, std::vector<uint32_t>{0x10000000u + pe_builder::text_rva + 6});
    ASSERT_TRUE(image.loadConfig);
    EXPECT_EQ(image.loadConfig->securityCookie, 0x10000000u + pe_builder::data_rva + 0xE80);
}

TEST(PeImage, RelocateMovesEveryFixupByTheDistance) {
    pe::read_result read = readBytes(sampleDll().build());
    ASSERT_TRUE(read.value);
    pe::image& image = *read.value;
    pe::relocate(image.mapped, image.relocations, image.imageBase, 0x00520000);
    EXPECT_EQ(get32(image.mapped, pe_builder::text_rva + 1), 0x00520000u + pe_builder::data_rva + 0x10);
}

struct damage_case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* error;
};

void PrintTo(const damage_case& c, std::ostream* out) { *out << c.name; }

class PeImageDamage : public testing::TestWithParam<damage_case> {};

TEST_P(PeImageDamage, IsRefusedWithAnErrorNamingIt) {
    std::vector<uint8_t> file = sampleDll().build();
    GetParam().damage(file);
    const pe::read_result read = readBytes(file);
    EXPECT_FALSE(read.value);
    EXPECT_NE(read.error.find(GetParam().error), std::string::npos) << read.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PeImageDamage,
    testing::Values(
        damage_case{"Empty", [](auto& f) { f.clear(); }, "the DOS header at file offset 0x0 runs past the end"},
        damage_case{"NotMz", [](auto& f) { f[0] = 'X'; }, "no \"MZ\" signature"},
        damage_case{"HeaderPastEnd", [](auto& f) { f.resize(0x50); }, "the PE header at file offset 0x40 runs past"},
        damage_case{"NotPe", [](auto& f) { f[0x41] = 'X'; }, "no \"PE\" signature at file offset 0x40"},
        damage_case{"OtherMachine", [](auto& f) { f[0x44] = 0x64; f[0x45] = 0x86; }, "machine type 0x8664"},
        damage_case{"Pe32Plus", [](auto& f) { f[optional_header + 1] = 2; }, "is not PE32"},
        damage_case{"HugeImage", [](auto& f) { put32(f, optional_header + 56, 0x40000000); }, "SizeOfImage of"},
        damage_case{"TruncatedSections", [](auto& f) { f.resize(0x400); }, "raw data at file offset"},
        damage_case{"SectionOutsideImage", [](auto& f) { put32(f, sectionHeader(2) + 12, 0x9000); },
                    "section 2 (\".data\") at RVA 0x9000"},
        damage_case{"OverlappingSections", [](auto& f) { put32(f, sectionHeader(1) + 12, 0x1000); },
                    "overlaps section \".text\""},
        damage_case{"RelocationOutsideImage",
                    [](auto& f) { put32(f, directory(5), 0x4FF0); put32(f, directory(5) + 4, 0x100); },
                    "the base relocation table at RVA 0x4FF0"},
        damage_case{"RelocationTargetOutsideImage",
                    [](auto& f) { put32(f, get32(f, sectionHeader(3) + 20), 0x4FFF0); }, "outside the image"},
        damage_case{"RelocationBlockTooLong",
                    [](auto& f) { put32(f, get32(f, sectionHeader(3) + 20) + 4, 0x1000); }, "outside its table"},
        damage_case{"ImportsOutsideImage", [](auto& f) { put32(f, directory(1), 0x7000); },
                    "an import descriptor at RVA 0x7000"},
        damage_case{"ImportNameWithoutEnd",
                    [](auto& f) {
                        // The DLL name points at the last bytes of the image, all non-zero.
                        const size_t descriptor = rdataInFile(f) + (get32(f, directory(1)) - pe_builder::rdata_rva);
                        put32(f, descriptor + 12, 0x4FFC);
                        const size_t relocRaw = get32(f, sectionHeader(3) + 20);
                        put32(f, sectionHeader(3) + 8, 0x1000);
                        f.resize(relocRaw + 0x1000, 'x');
                        put32(f, sectionHeader(3) + 16, 0x1000);
                    },
                    "has no end within the image"},
        damage_case{"ExportTableOutsideImage",
                    [](auto& f) {
                        const size_t exports = rdataInFile(f) + (get32(f, directory(0)) - pe_builder::rdata_rva);
                        put32(f, exports + 28, 0x4FFC);
                    },
                    "the export address table at RVA 0x4FFC"},
        damage_case{"TooManyExports",
                    [](auto& f) {
                        const size_t exports = rdataInFile(f) + (get32(f, directory(0)) - pe_builder::rdata_rva);
                        put32(f, exports + 24, 70000);
                    },
                    "more than 65536"},
        damage_case{"ImportDescriptorsSharingALongTable",
                    [](auto& f) {
                        // 3,000 descriptors, each naming the whole .data section (zero-free words) as its table.
                        const size_t data = get32(f, sectionHeader(2) + 20);
                        for (size_t i = 0; i < 0x1000; i += 4) put32(f, data + i, pe_builder::data_rva + 0x10);
                        const size_t relocRaw = get32(f, sectionHeader(3) + 20);
                        f.resize(relocRaw + 0x10000, 0);
                        put32(f, sectionHeader(3) + 8, 0x10000);
                        put32(f, sectionHeader(3) + 16, 0x10000);
                        put32(f, optional_header + 56, pe_builder::reloc_rva + 0x10000);
                        put32(f, directory(5), 0);
                        for (size_t i = 0; i < 3000; ++i) {
                            const size_t d = relocRaw + i * 20;
                            put32(f, d, pe_builder::data_rva);
                            put32(f, d + 12, pe_builder::rdata_rva + 0x200);
                            put32(f, d + 16, pe_builder::data_rva);
                        }
                        put32(f, directory(1), pe_builder::reloc_rva);
                    },
                    "the import tables list more than 65536 functions"},
        damage_case{"TlsCallbackOutsideImage",
                    [](auto& f) { put32(f, get32(f, sectionHeader(2) + 20) + 0xF20, 0x20000000); },
                    "a TLS callback 0x20000000 lies outside the image"},
        damage_case{"EntryOutsideImage", [](auto& f) { put32(f, optional_header + 16, 0x80000); },
                    "the entry point 0x80000 lies outside the image"}),
    [](const testing::TestParamInfo<damage_case>& info) { return std::string(info.param.name); });
