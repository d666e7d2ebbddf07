// Reads the built Korvane.dll: its export table, its version resource and
// the signature record in its initialised data. It uses the C runtime and
// the Windows API only, as there is no C++ standard library in the
// Microsoft ABI build.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "check.h"

namespace {

text_list exportedNames(HMODULE module) {
    text_list names;
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameTable = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* nameOrdinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.push_back(reinterpret_cast<const char*>(base + nameTable[i]));
    // An empty slot of the address table is no export: lld-link numbers
    // ordinals from a base of 0 and leaves slot 0 empty.
    for (DWORD slot = 0; slot < exports->NumberOfFunctions; ++slot) {
        bool named = false;
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) named = named || nameOrdinals[i] == slot;
        if (functions[slot] != 0 && !named)
            names.push_back("(ordinal " + decimal(static_cast<long>(exports->Base + slot)) + " without a name)");
    }
    return names;
}

text versionString(const char* info, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const text key = text("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(info, key.c_str(), &value, &length) || !value) return "(missing)";
    return static_cast<const char*>(value);
}

// The whole file, or none of it.
struct file_bytes {
    char* data = nullptr;
    size_t size = 0;
    file_bytes() = default;
    file_bytes(const file_bytes&) = delete;
    file_bytes& operator=(const file_bytes&) = delete;
    ~file_bytes() { free(data); }
};

bool readFile(const char* path, file_bytes& out) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD size = GetFileSize(file, nullptr);
    out.data = static_cast<char*>(malloc(size ? size : 1));
    DWORD read = 0;
    const bool ok = out.data && size != INVALID_FILE_SIZE && ReadFile(file, out.data, size, &read, nullptr) && read == size;
    CloseHandle(file);
    out.size = ok ? size : 0;
    return ok;
}

// Offset of the first `needle` in the file, or -1.
long find(const file_bytes& file, const char* needle) {
    const size_t length = strlen(needle);
    for (size_t i = 0; i + length <= file.size; ++i)
        if (memcmp(file.data + i, needle, length) == 0) return static_cast<long>(i);
    return -1;
}

// The section of the file that holds `offset`, or null.
const IMAGE_SECTION_HEADER* sectionAt(const file_bytes& file, size_t offset) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(file.data + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (offset >= section->PointerToRawData && offset < section->PointerToRawData + section->SizeOfRawData)
            return section;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    check_results check;
    const char* path = argc > 1 ? argv[1] : "Korvane.dll";

    HMODULE module = LoadLibraryA(path);
    check.expect(module != nullptr, text("LoadLibraryA(") + path + ")");
    if (!module) return check.finish();
    check.expectLines(exportedNames(module), lines("load_quon_client_script"),
                      "the export table holds exactly load_quon_client_script");
    check.expect(GetProcAddress(module, "load_quon_client_script") != nullptr,
                 "GetProcAddress finds the undecorated name");

    const DWORD infoSize = GetFileVersionInfoSizeA(path, nullptr);
    char* info = infoSize ? static_cast<char*>(malloc(infoSize)) : nullptr;
    check.expect(info && GetFileVersionInfoA(path, 0, infoSize, info), "the DLL carries a version resource");
    if (info) {
        check.expectEqual(versionString(info, "FileDescription"),
                          "UMD style display for a single layer matrix destination", "FileDescription");
        check.expectEqual(versionString(info, "FileVersion"), "1, 0, 0, 1", "FileVersion");
        check.expectEqual(versionString(info, "ProductVersion"), "1, 0, 0, 1", "ProductVersion");
        check.expectEqual(versionString(info, "InternalName"), "Korvane", "InternalName");
        check.expectEqual(versionString(info, "OriginalFilename"), "Korvane", "OriginalFilename");
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        check.expect(VerQueryValueA(info, "\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
                         fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000001,
                     "the fixed file version is 1.0.0.1");
        free(info);
    }

    file_bytes file;
    check.expect(readFile(path, file), "the DLL file is read");
    const char* const signature =
        "QUON_SIG,name=quon_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,author=";
    const long found = find(file, signature);
    check.expect(found >= 0, "the signature record is in the file");
    if (found >= 0) {
        const size_t offset = static_cast<size_t>(found);
        const char* end = static_cast<const char*>(memchr(file.data + offset, '\0', file.size - offset));
        check.expect(end && static_cast<size_t>(end - (file.data + offset)) > strlen(signature),
                     "the signature names an author and ends in NUL");
        const IMAGE_SECTION_HEADER* section = sectionAt(file, offset);
        check.expect(section && (section->Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA) &&
                         !(section->Characteristics & IMAGE_SCN_MEM_EXECUTE),
                     "the signature lies in initialised data");
    }
    FreeLibrary(module);
    return check.finish();
}
