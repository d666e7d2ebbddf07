#include "pe_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    put16(out, at, value);
    put16(out, at + 2, value >> 16);
}

constexpr uint32_t file_alignment = 0x200;

}  // namespace

uint32_t pe_builder::slot(const std::string& dll, const std::string& name) {
    uint32_t index = 0;
    for (auto& [library, names] : imports) {
        if (library == dll) {
            for (const std::string& n : names) {
                if (n == name) return imageBase + rdata_rva + index * 4;
                ++index;
            }
            names.push_back(name);
            // Slots of later DLLs move; tests add every import before coding.
            return imageBase + rdata_rva + index * 4;
        }
        index += static_cast<uint32_t>(names.size()) + 1;
    }
    imports.push_back({dll, {name}});
    return imageBase + rdata_rva + index * 4;
}

pe_builder& pe_builder::bytes(std::initializer_list<uint8_t> more) {
    code.insert(code.end(), more);
    return *this;
}

pe_builder& pe_builder::address(uint32_t value) {
    fixups.push_back(static_cast<uint32_t>(code.size()));
    code.resize(code.size() + 4);
    put32(code, code.size() - 4, value);
    return *this;
}

pe_builder& pe_builder::push(uint32_t value) {
    bytes({0x68});
    code.resize(code.size() + 4);
    put32(code, code.size() - 4, value);
    return *this;
}

pe_builder& pe_builder::pushAddress(uint32_t value) { return bytes({0x68}).address(value); }

pe_builder& pe_builder::callImport(const std::string& dll, const std::string& name) {
    return bytes({0xFF, 0x15}).address(slot(dll, name));
}

pe_builder& pe_builder::addEsp(uint8_t count) { return bytes({0x83, 0xC4, count}); }

std::vector<uint8_t> pe_builder::build() const {
    if (code.size() > 0x1000 || data.size() > 0x1000) throw std::length_error("pe_builder: code or data too large");
    // .rdata: the address tables, then the lookup tables, descriptors,
    // names, and the export directory.
    std::vector<uint8_t> rdata(0x1000);
    size_t at = 0;
    std::vector<uint32_t> iatOffsets;
    for (const auto& library : imports) {
        iatOffsets.push_back(static_cast<uint32_t>(at));
        at += (library.second.size() + 1) * 4;
    }
    const size_t lookupStart = at;
    at += at;  // the lookup tables mirror the address tables
    const size_t descriptors = at;
    at += (imports.size() + 1) * 20;
    auto addString = [&](const std::string& text) {
        const uint32_t offset = static_cast<uint32_t>(at);
        std::memcpy(rdata.data() + at, text.c_str(), text.size() + 1);
        at += text.size() + 1;
        return offset;
    };
    for (size_t i = 0; i < imports.size(); ++i) {
        const auto& [dll, names] = imports[i];
        const uint32_t lookup = static_cast<uint32_t>(lookupStart + iatOffsets[i]);
        for (size_t n = 0; n < names.size(); ++n) {
            uint32_t value;
            if (names[n][0] == '#') {
                value = 0x80000000u | static_cast<uint32_t>(std::stoul(names[n].substr(1)));
            } else {
                at += at & 1;
                value = rdata_rva + static_cast<uint32_t>(at);
                at += 2;  // hint 0
                addString(names[n]);
            }
            put32(rdata, iatOffsets[i] + n * 4, value);
            put32(rdata, lookup + n * 4, value);
        }
        const size_t d = descriptors + i * 20;
        put32(rdata, d, rdata_rva + lookup);
        put32(rdata, d + 12, rdata_rva + addString(dll));
        put32(rdata, d + 16, rdata_rva + iatOffsets[i]);
    }
    uint32_t exportDir = 0, exportSize = 0;
    if (!exports.empty()) {
        at = (at + 3) & ~size_t{3};
        exportDir = static_cast<uint32_t>(at);
        at += 40;
        const uint32_t functions = static_cast<uint32_t>(at);
        at += exports.size() * 4;
        const uint32_t names = static_cast<uint32_t>(at);
        at += exports.size() * 4;
        const uint32_t ordinals = static_cast<uint32_t>(at);
        at += exports.size() * 2;
        for (size_t i = 0; i < exports.size(); ++i) {
            put32(rdata, functions + i * 4, text_rva + exports[i].second);
            put32(rdata, names + i * 4, rdata_rva + addString(exports[i].first));
            put16(rdata, ordinals + i * 2, static_cast<uint32_t>(i));
        }
        put32(rdata, exportDir + 12, rdata_rva + addString("test.dll"));
        put32(rdata, exportDir + 16, 1);
        put32(rdata, exportDir + 20, static_cast<uint32_t>(exports.size()));
        put32(rdata, exportDir + 24, static_cast<uint32_t>(exports.size()));
        put32(rdata, exportDir + 28, rdata_rva + functions);
        put32(rdata, exportDir + 32, rdata_rva + names);
        put32(rdata, exportDir + 36, rdata_rva + ordinals);
        exportSize = static_cast<uint32_t>(at) - exportDir;
    }
    if (at > rdata.size()) throw std::length_error("pe_builder: tables too large");

    // One block per page of code holding fixups (all in .text's one page).
    std::vector<uint8_t> reloc;
    if (!fixups.empty()) {
        reloc.resize(8 + ((fixups.size() + 1) & ~size_t{1}) * 2);
        put32(reloc, 0, text_rva);
        put32(reloc, 4, static_cast<uint32_t>(reloc.size()));
        for (size_t i = 0; i < fixups.size(); ++i) put16(reloc, 8 + i * 2, 0x3000 | fixups[i]);
    }

    struct part {
        const char* name;
        uint32_t rva;
        const std::vector<uint8_t>* bytes;
        uint32_t flags;
    };
    std::vector<uint8_t> text = code;
    std::vector<uint8_t> dataBytes = data;
    dataBytes.resize(0x1000);
    if (!tlsCallbacks.empty()) {
        put32(dataBytes, 0xF00 + 12, dataAddress(0xF20));
        for (size_t i = 0; i < tlsCallbacks.size(); ++i)
            put32(dataBytes, 0xF20 + i * 4, codeAddress(tlsCallbacks[i]));
    }
    if (loadConfig) {
        put32(dataBytes, 0xE00, 72);
        put32(dataBytes, 0xE00 + 60, dataAddress(0xE80));
    }
    const part parts[] = {{".text", text_rva, &text, 0x60000020},
                          {".rdata", rdata_rva, &rdata, 0x40000040},
                          {".data", data_rva, &dataBytes, 0xC0000040},
                          {".reloc", reloc_rva, &reloc, 0x42000040}};
    const int sectionCount = reloc.empty() ? 3 : 4;

    std::vector<uint8_t> out(file_alignment);
    out[0] = 'M';
    out[1] = 'Z';
    put32(out, 0x3C, 0x40);
    std::memcpy(out.data() + 0x40, "PE\0\0", 4);
    const size_t coff = 0x44;
    put16(out, coff, 0x14C);
    put16(out, coff + 2, static_cast<uint32_t>(sectionCount));
    put16(out, coff + 16, 224);
    put16(out, coff + 18, 0x0102 | (dll ? 0x2000 : 0) | (fixups.empty() ? 1 : 0));
    const size_t opt = coff + 20;
    put16(out, opt, 0x10B);
    put32(out, opt + 16, noEntry ? 0 : text_rva + entryOffset);
    put32(out, opt + 28, imageBase);
    put32(out, opt + 32, 0x1000);
    put32(out, opt + 36, file_alignment);
    put32(out, opt + 56, reloc_rva + 0x1000);
    put32(out, opt + 60, file_alignment);
    put16(out, opt + 68, 3);
    put32(out, opt + 72, 0x100000);
    put32(out, opt + 92, 16);
    if (exportSize) {
        put32(out, opt + 96, rdata_rva + exportDir);
        put32(out, opt + 100, exportSize);
    }
    if (!imports.empty()) {
        put32(out, opt + 104, rdata_rva + static_cast<uint32_t>(descriptors));
        put32(out, opt + 108, static_cast<uint32_t>((imports.size() + 1) * 20));
    }
    if (!tlsCallbacks.empty()) {
        put32(out, opt + 96 + 9 * 8, data_rva + 0xF00);
        put32(out, opt + 100 + 9 * 8, 24);
    }
    if (loadConfig) {
        put32(out, opt + 96 + 10 * 8, data_rva + 0xE00);
        put32(out, opt + 100 + 10 * 8, 72);
    }
    if (!reloc.empty()) {
        put32(out, opt + 136, reloc_rva);
        put32(out, opt + 140, static_cast<uint32_t>(reloc.size()));
    }
    size_t header = opt + 224;
    for (int i = 0; i < sectionCount; ++i, header += 40) {
        const part& p = parts[i];
        const uint32_t rawSize = static_cast<uint32_t>((p.bytes->size() + file_alignment - 1) & ~size_t{file_alignment - 1});
        std::memcpy(out.data() + header, p.name, std::strlen(p.name));
        put32(out, header + 8, static_cast<uint32_t>(std::max<size_t>(p.bytes->size(), 1)));
        put32(out, header + 12, p.rva);
        put32(out, header + 16, rawSize);
        put32(out, header + 20, static_cast<uint32_t>(out.size()));
        put32(out, header + 36, p.flags);
        const size_t start = out.size();
        out.resize(start + rawSize);
        std::memcpy(out.data() + start, p.bytes->data(), p.bytes->size());
    }
    return out;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}
