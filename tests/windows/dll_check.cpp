// Reads the built Korvane.dll: its export table, its version resource and
// the signature record in its initialised data.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "check.h"

namespace {

std::vector<std::string> exportedNames(HMODULE module) {
    std::vector<std::string> names;
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameTable = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.push_back(reinterpret_cast<const char*>(base + nameTable[i]));
    if (exports->NumberOfFunctions != exports->NumberOfNames) names.push_back("(exports by ordinal only)");
    return names;
}

std::string versionString(const std::vector<char>& info, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), &value, &length) || !value) return "(missing)";
    return static_cast<const char*>(value);
}

// The section of the file that holds `offset`, or null.
const IMAGE_SECTION_HEADER* sectionAt(const std::vector<char>& file, size_t offset) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(file.data() + dos->e_lfanew);
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
    check.expect(module != nullptr, std::string("LoadLibraryA(") + path + ")");
    if (!module) return check.finish();
    const std::vector<std::string> names = exportedNames(module);
    check.expectLines(names, {"load_quon_client_script"}, "the export table holds exactly load_quon_client_script");
    check.expect(GetProcAddress(module, "load_quon_client_script") != nullptr,
                 "GetProcAddress finds the undecorated name");

    std::vector<char> info(GetFileVersionInfoSizeA(path, nullptr));
    check.expect(!info.empty() && GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()),
                 "the DLL carries a version resource");
    if (!info.empty()) {
        check.expectEqual(versionString(info, "FileDescription"),
                          "UMD style display for a single layer matrix destination", "FileDescription");
        check.expectEqual(versionString(info, "FileVersion"), "1, 0, 0, 1", "FileVersion");
        check.expectEqual(versionString(info, "ProductVersion"), "1, 0, 0, 1", "ProductVersion");
        check.expectEqual(versionString(info, "InternalName"), "Korvane", "InternalName");
        check.expectEqual(versionString(info, "OriginalFilename"), "Korvane", "OriginalFilename");
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        check.expect(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
                         fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000001,
                     "the fixed file version is 1.0.0.1");
    }

    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string signature = "QUON_SIG,name=quon_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,author=";
    const auto found = std::search(file.begin(), file.end(), signature.begin(), signature.end());
    check.expect(found != file.end(), "the signature record is in the file");
    if (found != file.end()) {
        const size_t offset = static_cast<size_t>(found - file.begin());
        const auto end = std::find(found, file.end(), '\0');
        check.expect(end != file.end() && end - found > static_cast<long>(signature.size()),
                     "the signature names an author and ends in NUL");
        const IMAGE_SECTION_HEADER* section = sectionAt(file, offset);
        check.expect(section && (section->Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA) &&
                         !(section->Characteristics & IMAGE_SCN_MEM_EXECUTE),
                     "the signature lies in initialised data");
    }
    FreeLibrary(module);
    return check.finish();
}
