// Writes small PE32 images for the runner's tests and the reader's seed
// corpus: one code section assembled by hand, imports, exports and base
// relocations, laid out at fixed RVAs so that code can name its import
// slots and data before the image is written. Test-only; any thread.
#ifndef QUON_TEST_PE_BUILDER_H
#define QUON_TEST_PE_BUILDER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct pe_builder {
    static constexpr uint32_t text_rva = 0x1000;   // code, 0x1000 bytes
    static constexpr uint32_t rdata_rva = 0x2000;  // import and export tables
    static constexpr uint32_t data_rva = 0x3000;   // 0x1000 writable bytes, zero unless set
    static constexpr uint32_t reloc_rva = 0x4000;

    uint32_t imageBase = 0x400000;
    bool dll = false;
    uint32_t entryOffset = 0;  // into the code; no entry point for a DLL when `noEntry`
    bool noEntry = false;
    std::vector<uint8_t> code;
    std::vector<uint8_t> data;
    std::vector<std::pair<std::string, std::vector<std::string>>> imports;  // "#N": by ordinal
    std::vector<std::pair<std::string, uint32_t>> exports;                 // name, code offset
    std::vector<uint32_t> fixups;                                          // code offsets of absolute addresses
    std::vector<uint32_t> tlsCallbacks;  // code offsets; the TLS directory lands at data offset 0xF00
    bool loadConfig = false;             // a load configuration at data offset 0xE00

    // The virtual address (at imageBase) of an import's slot; the import is
    // added when new.
    uint32_t slot(const std::string& dll, const std::string& name);
    uint32_t dataAddress(uint32_t offset) const { return imageBase + data_rva + offset; }
    uint32_t codeAddress(uint32_t offset) const { return imageBase + text_rva + offset; }

    // Assembly helpers, each appending to `code`.
    pe_builder& bytes(std::initializer_list<uint8_t> more);
    pe_builder& address(uint32_t value);  // an absolute address, with its fixup
    pe_builder& push(uint32_t value);
    pe_builder& pushAddress(uint32_t value);
    pe_builder& callImport(const std::string& dll, const std::string& name);
    pe_builder& addEsp(uint8_t bytes);

    std::vector<uint8_t> build() const;
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

#endif
