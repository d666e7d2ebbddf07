#include "quon/win32/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quon::win32::pe {

namespace {

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// A failed read: the message says what is wrong and where.
struct bad_image {
    std::string what;
};

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Reads of the file, each checked against its end.
struct file_view {
    const uint8_t* bytes;
    std::size_t size;

    const uint8_t* at(uint64_t offset, uint64_t length, const char* what) const {
        if (offset > size || length > size - offset)
            throw bad_image{std::string(what) + " at file offset " + hex(static_cast<uint32_t>(offset)) +
                            " runs past the end of the file (" + std::to_string(size) + " bytes)"};
        return bytes + offset;
    }
};

// Reads of the mapped image by RVA, each checked against its size.
struct image_view {
    const std::vector<uint8_t>& bytes;

    const uint8_t* at(uint64_t rva, uint64_t length, const std::string& what) const {
        if (rva > bytes.size() || length > bytes.size() - rva)
            throw bad_image{what + " at RVA " + hex(static_cast<uint32_t>(rva)) + " (" + std::to_string(length) +
                            " bytes) lies outside the image (" + std::to_string(bytes.size()) + " bytes)"};
        return bytes.data() + rva;
    }
    uint32_t word(uint64_t rva, const std::string& what) const { return u32(at(rva, 4, what)); }
    std::string name(uint32_t rva, const std::string& what) const {
        const uint8_t* start = at(rva, 1, what);
        const void* end = std::memchr(start, 0, bytes.size() - rva);
        if (!end) throw bad_image{what + " at RVA " + hex(rva) + " has no end within the image"};
        return std::string(reinterpret_cast<const char*>(start), static_cast<const uint8_t*>(end) - start);
    }
};

struct directory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

// More than any real image has; a file claiming more is refused rather than
// read at length (import descriptors may share one long lookup table).
constexpr uint32_t max_imports = 65536;
constexpr uint32_t max_exports = 65536;
constexpr uint32_t max_tls_callbacks = 1024;

enum directory_index : uint32_t { dir_export = 0, dir_import = 1, dir_resource = 2, dir_reloc = 5, dir_tls = 9, dir_load_config = 10 };

void readSections(const file_view& file, image& out, uint32_t tableOffset, uint16_t count) {
    const uint8_t* table = file.at(tableOffset, uint64_t{count} * 40, "the section table");
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* h = table + i * 40;
        section s;
        s.name.assign(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 8));
        s.virtualSize = u32(h + 8);
        s.rva = u32(h + 12);
        s.rawSize = u32(h + 16);
        s.rawOffset = u32(h + 20);
        s.characteristics = u32(h + 36);
        const std::string what = "section " + std::to_string(i) + " (\"" + s.name + "\")";
        const uint32_t mappedSize = s.virtualSize ? s.virtualSize : s.rawSize;
        if (s.rva < out.sizeOfHeaders || uint64_t{s.rva} + mappedSize > out.sizeOfImage)
            throw bad_image{what + " at RVA " + hex(s.rva) + " of " + std::to_string(mappedSize) +
                            " bytes lies outside the image (headers " + std::to_string(out.sizeOfHeaders) +
                            " bytes, image " + std::to_string(out.sizeOfImage) + " bytes)"};
        const uint32_t copied = std::min(s.rawSize, mappedSize);
        if (copied) {
            const uint8_t* raw = file.at(s.rawOffset, copied, (what + "'s raw data").c_str());
            std::memcpy(out.mapped.data() + s.rva, raw, copied);
        }
        for (const section& other : out.sections)
            if (s.rva < other.rva + std::max(other.virtualSize, 1u) && other.rva < s.rva + std::max(mappedSize, 1u))
                throw bad_image{what + " overlaps section \"" + other.name + "\""};
        out.sections.push_back(s);
    }
}

void readRelocations(const image_view& view, image& out, directory dir) {
    const uint8_t* blocks = view.at(dir.rva, dir.size, "the base relocation table");
    uint32_t offset = 0;
    while (offset + 8 <= dir.size) {
        const uint32_t page = u32(blocks + offset);
        const uint32_t blockSize = u32(blocks + offset + 4);
        const std::string where = "the base relocation block at RVA " + hex(dir.rva + offset);
        if (blockSize < 8 || blockSize > dir.size - offset)
            throw bad_image{where + " has a size of " + std::to_string(blockSize) + " bytes, outside its table"};
        for (uint32_t entry = offset + 8; entry + 2 <= offset + blockSize; entry += 2) {
            const uint16_t value = u16(blocks + entry);
            const unsigned type = value >> 12;
            const uint32_t target = page + (value & 0xFFF);
            if (type == 0) continue;  // padding
            if (type != 3)
                throw bad_image{where + " holds a fixup of type " + std::to_string(type) +
                                ", which a 32-bit x86 image does not use"};
            if (uint64_t{target} + 4 > out.sizeOfImage)
                throw bad_image{where + " fixes RVA " + hex(target) + ", outside the image"};
            out.relocations.push_back(target);
        }
        offset += blockSize;
    }
}

void readImports(const image_view& view, image& out, directory dir) {
    uint32_t count = 0;
    for (uint32_t rva = dir.rva;; rva += 20) {
        const uint8_t* d = view.at(rva, 20, "an import descriptor");
        const uint32_t lookup = u32(d), nameRva = u32(d + 12), slots = u32(d + 16);
        if (nameRva == 0 && slots == 0) break;
        import_library library;
        library.dll = view.name(nameRva, "the name of an imported DLL");
        const std::string what = "an import from " + library.dll;
        if (slots == 0) throw bad_image{what + " has no import address table"};
        const uint32_t table = lookup ? lookup : slots;
        for (uint32_t i = 0;; ++i) {
            const uint32_t value = view.word(uint64_t{table} + i * 4, what + "'s lookup table");
            view.at(uint64_t{slots} + i * 4, 4, what + "'s address table");
            if (value == 0) break;
            if (++count > max_imports)
                throw bad_image{"the import tables list more than " + std::to_string(max_imports) + " functions"};
            import_entry entry;
            entry.slotRva = slots + i * 4;
            if (value & 0x80000000u) {
                entry.byOrdinal = true;
                entry.ordinal = static_cast<uint16_t>(value);
            } else {
                entry.ordinal = u16(view.at(value, 2, what + "'s hint"));
                entry.name = view.name(value + 2, what + "'s function name");
            }
            library.entries.push_back(std::move(entry));
        }
        out.imports.push_back(std::move(library));
    }
}

void readExports(const image_view& view, image& out, directory dir) {
    const uint8_t* d = view.at(dir.rva, 40, "the export directory");
    const uint32_t base = u32(d + 16), count = u32(d + 20), names = u32(d + 24);
    const uint32_t functions = u32(d + 28), nameTable = u32(d + 32), ordinalTable = u32(d + 36);
    out.exports.dll = u32(d + 12) ? view.name(u32(d + 12), "the export directory's DLL name") : std::string();
    if (count > max_exports || names > max_exports)
        throw bad_image{"the export directory lists " + std::to_string(std::max(count, names)) +
                        " functions, more than " + std::to_string(max_exports)};
    const uint8_t* addresses = view.at(functions, uint64_t{count} * 4, "the export address table");
    const uint8_t* nameRvas = view.at(nameTable, uint64_t{names} * 4, "the export name table");
    const uint8_t* nameOrdinals = view.at(ordinalTable, uint64_t{names} * 2, "the export ordinal table");
    std::vector<std::string> slotNames(count);
    for (uint32_t i = 0; i < names; ++i) {
        const uint16_t slot = u16(nameOrdinals + i * 2);
        if (slot >= count)
            throw bad_image{"export name " + std::to_string(i) + " points at slot " + std::to_string(slot) +
                            " of an address table of " + std::to_string(count)};
        slotNames[slot] = view.name(u32(nameRvas + i * 4), "an export name");
    }
    for (uint32_t slot = 0; slot < count; ++slot) {
        const uint32_t rva = u32(addresses + slot * 4);
        if (rva == 0) continue;
        export_entry entry;
        entry.ordinal = base + slot;
        entry.rva = rva;
        entry.name = slotNames[slot];
        if (rva >= dir.rva && rva - dir.rva < dir.size)
            entry.forwarder = view.name(rva, "a forwarded export's target");
        else if (rva >= out.sizeOfImage)
            throw bad_image{"export " + (entry.name.empty() ? "#" + std::to_string(entry.ordinal) : entry.name) +
                            " points at RVA " + hex(rva) + ", outside the image"};
        out.exports.entries.push_back(std::move(entry));
    }
}

uint32_t toRva(const image& out, uint32_t va, const std::string& what) {
    if (va < out.imageBase || va - out.imageBase >= out.sizeOfImage)
        throw bad_image{what + " " + hex(va) + " lies outside the image"};
    return va - out.imageBase;
}

void readTls(const image_view& view, image& out, directory dir) {
    const uint8_t* d = view.at(dir.rva, 24, "the TLS directory");
    const uint32_t callbacks = u32(d + 12);
    if (callbacks == 0) return;
    for (uint32_t rva = toRva(out, callbacks, "the TLS callback table");; rva += 4) {
        const uint32_t va = view.word(rva, "the TLS callback table");
        if (va == 0) break;
        if (out.tlsCallbacks.size() == max_tls_callbacks)
            throw bad_image{"the TLS callback table lists more than " + std::to_string(max_tls_callbacks) + " callbacks"};
        toRva(out, va, "a TLS callback");
        out.tlsCallbacks.push_back(va);
    }
}

void readLoadConfig(const image_view& view, image& out, directory dir) {
    const uint32_t size = view.word(dir.rva, "the load configuration");
    load_config config;
    config.size = size;
    view.at(dir.rva, size, "the load configuration");
    if (size >= 64) config.securityCookie = view.word(dir.rva + 60, "the load configuration");
    if (size >= 72) {
        config.safeHandlerTable = view.word(dir.rva + 64, "the load configuration");
        config.safeHandlerCount = view.word(dir.rva + 68, "the load configuration");
        if (config.safeHandlerCount) {
            const uint32_t table = toRva(out, config.safeHandlerTable, "the safe exception handler table");
            const uint8_t* entries =
                view.at(table, uint64_t{config.safeHandlerCount} * 4, "the safe exception handler table");
            for (uint32_t i = 0; i < config.safeHandlerCount; ++i) config.safeHandlers.push_back(u32(entries + i * 4));
        }
    }
    out.loadConfig = std::move(config);
}

image read(const file_view& file) {
    const uint8_t* dos = file.at(0, 64, "the DOS header");
    if (dos[0] != 'M' || dos[1] != 'Z') throw bad_image{"no \"MZ\" signature at the start: not a Windows image"};
    const uint32_t peOffset = u32(dos + 0x3C);
    const uint8_t* pe = file.at(peOffset, 24, "the PE header");
    if (std::memcmp(pe, "PE\0\0", 4) != 0)
        throw bad_image{"no \"PE\" signature at file offset " + hex(peOffset) + ": not a PE image"};
    const uint16_t machine = u16(pe + 4);
    if (machine != 0x14C) throw bad_image{"machine type " + hex(machine) + " is not 32-bit x86 (0x14C)"};
    const uint16_t sectionCount = u16(pe + 6);
    const uint16_t optionalSize = u16(pe + 20);
    image out;
    out.characteristics = u16(pe + 22);
    if (optionalSize < 96) throw bad_image{"the optional header is " + std::to_string(optionalSize) + " bytes, too short for PE32"};
    const uint8_t* opt = file.at(uint64_t{peOffset} + 24, optionalSize, "the optional header");
    if (u16(opt) != 0x10B) throw bad_image{"optional header magic " + hex(u16(opt)) + " is not PE32 (0x10B)"};
    out.entryPoint = u32(opt + 16);
    out.imageBase = u32(opt + 28);
    out.sectionAlignment = u32(opt + 32);
    out.sizeOfImage = u32(opt + 56);
    out.sizeOfHeaders = u32(opt + 60);
    out.stackReserve = u32(opt + 72);
    const uint32_t directoryCount = std::min<uint32_t>(u32(opt + 92), (optionalSize - 96) / 8);
    if (out.sizeOfImage == 0 || out.sizeOfImage > max_image_size)
        throw bad_image{"SizeOfImage of " + std::to_string(out.sizeOfImage) + " bytes is outside 1 byte to " +
                        std::to_string(max_image_size >> 20) + " MiB"};
    if (out.imageBase % 0x10000 != 0 || uint64_t{out.imageBase} + out.sizeOfImage > 0x80000000u)
        throw bad_image{"ImageBase " + hex(out.imageBase) + " is not a 64 KiB boundary in the lower 2 GiB"};
    if (out.sizeOfHeaders > out.sizeOfImage) throw bad_image{"SizeOfHeaders is larger than SizeOfImage"};
    if (out.entryPoint >= out.sizeOfImage)
        throw bad_image{"the entry point " + hex(out.entryPoint) + " lies outside the image"};
    out.mapped.assign(out.sizeOfImage, 0);
    const uint32_t headerBytes = static_cast<uint32_t>(std::min<std::size_t>(out.sizeOfHeaders, file.size));
    std::memcpy(out.mapped.data(), file.bytes, headerBytes);
    readSections(file, out, peOffset + 24 + optionalSize, sectionCount);

    directory dirs[16];
    for (uint32_t i = 0; i < std::min<uint32_t>(directoryCount, 16); ++i) {
        dirs[i].rva = u32(opt + 96 + i * 8);
        dirs[i].size = u32(opt + 100 + i * 8);
    }
    const image_view view{out.mapped};
    if (dirs[dir_reloc].rva) readRelocations(view, out, dirs[dir_reloc]);
    if (dirs[dir_import].rva) readImports(view, out, dirs[dir_import]);
    if (dirs[dir_export].rva) readExports(view, out, dirs[dir_export]);
    if (dirs[dir_tls].rva) readTls(view, out, dirs[dir_tls]);
    if (dirs[dir_load_config].rva) readLoadConfig(view, out, dirs[dir_load_config]);
    if (dirs[dir_resource].rva) {
        view.at(dirs[dir_resource].rva, dirs[dir_resource].size, "the resource directory");
        out.resourceRva = dirs[dir_resource].rva;
        out.resourceSize = dirs[dir_resource].size;
    }
    return out;
}

}  // namespace

read_result readImage(const uint8_t* bytes, std::size_t size) {
    try {
        return read_result{read(file_view{bytes, size}), {}};
    } catch (const bad_image& bad) {
        return read_result{std::nullopt, bad.what};
    }
}

const export_entry* image::findExport(const std::string& name) const {
    for (const export_entry& e : exports.entries)
        if (e.name == name) return &e;
    return nullptr;
}

const export_entry* image::findExport(uint32_t ordinal) const {
    for (const export_entry& e : exports.entries)
        if (e.ordinal == ordinal) return &e;
    return nullptr;
}

const section* image::sectionAt(uint32_t rva) const {
    for (const section& s : sections)
        if (rva >= s.rva && rva - s.rva < std::max(s.virtualSize, s.rawSize)) return &s;
    return nullptr;
}

std::optional<std::pair<uint32_t, uint32_t>> findResource(const image& read, uint32_t type, std::string& error) {
    if (!read.resourceRva) return std::nullopt;
    try {
        const image_view view{read.mapped};
        const uint32_t root = read.resourceRva;
        // Each level: a directory of named entries, then entries by number;
        // the first level picks the type, the next two the first entry.
        uint32_t directoryOffset = 0;
        for (int level = 0; level < 3; ++level) {
            const uint8_t* d = view.at(uint64_t{root} + directoryOffset, 16, "a resource directory");
            const uint32_t count = uint32_t{u16(d + 12)} + u16(d + 14);
            const uint8_t* entries = view.at(uint64_t{root} + directoryOffset + 16, uint64_t{count} * 8, "a resource directory");
            const uint8_t* chosen = nullptr;
            for (uint32_t i = 0; i < count && !chosen; ++i)
                if (level > 0 || (u32(entries + i * 8) == type)) chosen = entries + i * 8;
            if (!chosen) return std::nullopt;
            const uint32_t next = u32(chosen + 4);
            const bool subdirectory = (next & 0x80000000u) != 0;
            if (level < 2 && !subdirectory) throw bad_image{"a resource directory entry ends the tree too early"};
            if (level == 2) {
                if (subdirectory) throw bad_image{"the resource tree is deeper than three levels"};
                const uint8_t* data = view.at(uint64_t{root} + next, 16, "a resource data entry");
                view.at(u32(data), u32(data + 4), "a resource's data");
                return std::make_pair(u32(data), u32(data + 4));
            }
            directoryOffset = next & 0x7FFFFFFFu;
        }
    } catch (const bad_image& bad) {
        error = bad.what;
    }
    return std::nullopt;
}

void relocate(std::vector<uint8_t>& mapped, const std::vector<uint32_t>& relocations, uint32_t from, uint32_t to) {
    const uint32_t delta = to - from;
    for (const uint32_t rva : relocations) {
        uint8_t* p = mapped.data() + rva;
        const uint32_t value = u32(p) + delta;
        p[0] = static_cast<uint8_t>(value);
        p[1] = static_cast<uint8_t>(value >> 8);
        p[2] = static_cast<uint8_t>(value >> 16);
        p[3] = static_cast<uint8_t>(value >> 24);
    }
}

}  // namespace quon::win32::pe
