#include "quon/engine/module_cache.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>

namespace quon {

namespace {

const char* machineName(unsigned machine) {
    switch (machine) {
        case EM_386: return "i386";
        case EM_X86_64: return "x86-64";
        case EM_ARM: return "32-bit ARM";
        case EM_AARCH64: return "aarch64";
        case EM_RISCV: return "RISC-V";
        case EM_PPC64: return "64-bit PowerPC";
        case EM_S390: return "s390";
        case EM_MIPS: return "MIPS";
        default: return nullptr;
    }
}

unsigned thisMachine() {
#if defined(__x86_64__)
    return EM_X86_64;
#elif defined(__i386__)
    return EM_386;
#elif defined(__aarch64__)
    return EM_AARCH64;
#elif defined(__arm__)
    return EM_ARM;
#else
    return EM_NONE;
#endif
}

}  // namespace

std::string foreignMachine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[20] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return std::string();
    if (header[0] != 0x7f || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return std::string();
    // e_machine sits at byte 18 in both ELF classes, in the file's byte order.
    const unsigned machine = header[5] == ELFDATA2MSB ? (header[18] << 8) | header[19] : header[18] | (header[19] << 8);
    const unsigned self = thisMachine();
    const bool otherClass = header[4] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32);
    if (machine == self && !otherClass) return std::string();
    const char* theirs = machineName(machine);
    const char* ours = machineName(self);
    return std::string(theirs ? std::string("an ") + theirs : "a machine " + std::to_string(machine)) + " module" +
           (otherClass && machine == self ? (header[4] == ELFCLASS64 ? " (64-bit)" : " (32-bit)") : "") +
           "; this host is " + (ours ? ours : "another machine") + (sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)");
}

bool isWindowsModule(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char dos[64] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t at = dos[60] | (dos[61] << 8) | (dos[62] << 16) | (static_cast<uint32_t>(dos[63]) << 24);
    char signature[4] = {};
    return in.seekg(at) && in.read(signature, sizeof signature) && std::memcmp(signature, "PE\0\0", 4) == 0;
}

module_cache::module_cache(const module_loaders& loaders) {
    for (const auto& make : loaders) loaders_.push_back(make());
}

module_cache::~module_cache() {
    for (auto& entry : handles_) dlclose(entry.second);
}

load_function module_cache::load(const std::string& path, std::string& error) {
    void* handle = nullptr;
    const auto known = handles_.find(path);
    if (known != handles_.end()) {
        handle = known->second;
    } else {
        // A path is one loader's or dlopen's for as long as it stays
        // loaded: the shared objects are looked up first.
        for (const auto& loader : loaders_)
            if (loader->takes(path)) return loader->load(path, error);
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            error = path + ": no such module file";
            return nullptr;
        }
        if (S_ISDIR(info.st_mode)) {
            error = path + ": a folder, not a module file";
            return nullptr;
        }
        if (isWindowsModule(path)) {
            error = path + ": a 32-bit Windows module; this quon-host runs them only as a 64-bit x86-64 program";
            return nullptr;
        }
        // A name without a slash would make dlopen search its library path.
        const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const std::string machine = foreignMachine(path);
            const char* reason = dlerror();
            error = path + ": cannot be loaded: " + (!machine.empty() ? machine : reason ? reason : "unknown reason");
            return nullptr;
        }
        handles_.emplace(path, handle);
    }
    void* symbol = dlsym(handle, "load_quon_client_script");
    if (!symbol) {
        error = path + ": does not export load_quon_client_script";
        return nullptr;
    }
    return reinterpret_cast<quon_client_callback* (*)(quon_client_callback*, const char*)>(symbol);
}

}  // namespace quon
