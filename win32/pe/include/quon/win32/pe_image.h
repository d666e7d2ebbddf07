// A PE32 image (the 32-bit x86 Windows program and DLL format) read from
// bytes: no I/O, no emulation. `readImage` checks every table it describes
// against the file and the image, so a loader may trust what it returns.
// Plain values; any thread.
#ifndef QUON_WIN32_PE_IMAGE_H
#define QUON_WIN32_PE_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quon::win32::pe {

struct section {
    std::string name;
    uint32_t rva = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;  // IMAGE_SCN_* bits
};

// One function an image takes from a DLL, and the slot of its import
// address table the loader fills with the function's address.
struct import_entry {
    std::string name;          // empty when imported by ordinal
    uint16_t ordinal = 0;      // by ordinal: the ordinal; by name: the hint
    bool byOrdinal = false;
    uint32_t slotRva = 0;
};

struct import_library {
    std::string dll;
    std::vector<import_entry> entries;
};

struct export_entry {
    uint32_t ordinal = 0;      // biased by the directory's ordinal base
    uint32_t rva = 0;
    std::string name;          // empty for an export by ordinal only
    std::string forwarder;     // "DLL.name" when the export forwards
};

struct exports_table {
    std::string dll;
    std::vector<export_entry> entries;  // empty slots of the address table left out
};

// The parts of the load configuration a loader uses (virtual addresses at
// the preferred base, 0 when absent).
struct load_config {
    uint32_t size = 0;
    uint32_t securityCookie = 0;
    uint32_t safeHandlerTable = 0;
    uint32_t safeHandlerCount = 0;
    std::vector<uint32_t> safeHandlers;  // RVAs
};

constexpr uint16_t characteristic_dll = 0x2000;
constexpr uint16_t characteristic_relocs_stripped = 0x0001;
// Images larger than this are refused rather than mapped.
constexpr uint32_t max_image_size = 16u << 20;

struct image {
    uint32_t imageBase = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t entryPoint = 0;   // RVA; 0 when there is none
    uint32_t sectionAlignment = 0;
    uint16_t characteristics = 0;
    uint32_t stackReserve = 0;
    std::vector<section> sections;
    std::vector<uint32_t> relocations;   // RVAs of 32-bit absolute fixups
    std::vector<import_library> imports;
    exports_table exports;
    std::vector<uint32_t> tlsCallbacks;  // virtual addresses at the preferred base
    std::optional<load_config> loadConfig;
    uint32_t resourceRva = 0;   // the resource directory, 0 when none
    uint32_t resourceSize = 0;
    // The image as mapped at its preferred base: headers and sections at
    // their RVAs, zero elsewhere; sizeOfImage bytes.
    std::vector<uint8_t> mapped;

    bool isDll() const { return (characteristics & characteristic_dll) != 0; }
    bool relocatable() const { return (characteristics & characteristic_relocs_stripped) == 0; }
    // The export of that name or ordinal, or null.
    const export_entry* findExport(const std::string& name) const;
    const export_entry* findExport(uint32_t ordinal) const;
    // The section holding the RVA, or null.
    const section* sectionAt(uint32_t rva) const;
};

struct read_result {
    std::optional<image> value;
    std::string error;  // what is wrong, and where, when there is no value
};

read_result readImage(const uint8_t* bytes, std::size_t size);

// The data of the first resource of `type` (first name, first language)
// in an image read by readImage, as {RVA, size}; nullopt when there is none
// or the resource tree is damaged (`error` then says how).
std::optional<std::pair<uint32_t, uint32_t>> findResource(const image& read, uint32_t type, std::string& error);

// Moves `mapped` (an image's bytes) from `from` to `to`: adds the difference
// to every fixup. The fixups were checked by readImage.
void relocate(std::vector<uint8_t>& mapped, const std::vector<uint32_t>& relocations, uint32_t from, uint32_t to);

}  // namespace quon::win32::pe

#endif
