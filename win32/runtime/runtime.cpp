#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "format.h"
#include "quon/script/profile_file.h"
#include "runtime.h"
#include "version_info.h"

namespace quon::win32 {

namespace {

constexpr uint32_t invalid_handle = 0xFFFFFFFF;
constexpr uint32_t error_file_not_found = 2;
constexpr uint32_t error_path_not_found = 3;
constexpr uint32_t error_access_denied = 5;
constexpr uint32_t error_invalid_handle = 6;
constexpr uint32_t error_file_exists = 80;
constexpr uint32_t error_already_exists = 183;
constexpr uint32_t error_resource_missing = 1813;

uint32_t errorFor(int error) {
    switch (error) {
        case ENOENT: return error_file_not_found;
        case ENOTDIR: return error_path_not_found;
        case EEXIST: return error_file_exists;
        default: return error_access_denied;
    }
}

std::string upperName(const std::string& entry) {
    std::string name = entry.substr(0, entry.find('='));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

// Sets NAME=VALUE in an environment list (Windows names ignore case); an
// empty value removes it.
void setVariable(std::vector<std::string>& environment, const std::string& name, const std::string* value) {
    const std::string key = upperName(name);
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&](const std::string& e) { return upperName(e) == key; }),
                      environment.end());
    if (value) environment.push_back(name + "=" + *value);
}

// GetPrivateProfileStringA's copy: at most size-1 bytes and a terminator;
// a list (of sections or keys) ends in two terminators, cut to size-2.
uint32_t copyProfileText(machine& cpu, uint32_t buffer, uint32_t size, const std::string& text, bool list) {
    if (size == 0) return 0;
    if (!list) {
        const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(text.size()), size - 1);
        cpu.write(buffer, text.data(), length);
        cpu.write(buffer + length, "", 1);
        return length;
    }
    if (size < 2) {
        cpu.write(buffer, "", 1);
        return 0;
    }
    if (text.size() + 1 <= size) {
        // Each name with its NUL; the count leaves out only the list's last NUL.
        cpu.write(buffer, text.data(), text.size());
        cpu.write(buffer + static_cast<uint32_t>(text.size()), "\0", text.empty() ? 2 : 1);
        return static_cast<uint32_t>(text.size());
    }
    cpu.write(buffer, text.data(), size - 2);
    cpu.write(buffer + size - 2, "\0", 2);
    return size - 2;
}

// Bytes of a C runtime function, on the native stack when they are few
// (most calls copy a few dozen bytes; a heap allocation would cost more).
class block {
public:
    explicit block(std::size_t size) : size_(size) {
        if (size > sizeof small_) large_.resize(size);
    }
    uint8_t* data() { return size_ > sizeof small_ ? large_.data() : small_; }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    uint8_t small_[4096];
    std::vector<uint8_t> large_;
};

}  // namespace

process::runtime::runtime(process& owner) : owner_(owner), cpu_(*owner.cpu_) {
    crtEnvironment_ = owner.options_.environment;
    processEnvironment_ = owner.options_.environment;
    addCRuntime();
    addKernel();
    addVersion();
    addExceptions();
}

const process::runtime::native* process::runtime::find(const std::string& key) const {
    auto found = table_.find(key);
    return found == table_.end() ? nullptr : &found->second;
}

std::vector<std::string> process::runtime::names() const {
    std::vector<std::string> all;
    for (const auto& entry : table_) all.push_back(entry.first);
    return all;
}

void process::runtime::add(const std::string& dll, const std::string& name, uint32_t popBytes,
                           native_function function, bool leaf) {
    table_[dll + "!" + name] = native{popBytes, std::move(function), leaf, {}};
}

void process::runtime::addCode(const std::string& dll, const std::string& name, std::vector<uint8_t> code) {
    table_.at(dll + "!" + name).code = std::move(code);
}

uint32_t process::runtime::copyString(const std::string& text) {
    const uint32_t address = owner_.heap_->allocate(static_cast<uint32_t>(text.size() + 1), 0, true);
    if (!address) throw machine_fault("the heap has no room for the runtime's own texts");
    cpu_.writeString(address, text);
    return address;
}

void process::runtime::setLastError(uint32_t code) { cpu_.write32(cpu_.threadBlock() + 0x34, code); }

void process::runtime::setArguments(const std::vector<std::string>& arguments) {
    argc_ = static_cast<uint32_t>(arguments.size());
    argv_ = owner_.heap_->allocate((argc_ + 1) * 4, 0, true);
    for (uint32_t i = 0; i < argc_; ++i) cpu_.write32(argv_ + i * 4, copyString(arguments[i]));
    cpu_.write32(argv_ + argc_ * 4, 0);
    envp_ = owner_.heap_->allocate(static_cast<uint32_t>(crtEnvironment_.size() + 1) * 4, 0, true);
    for (size_t i = 0; i < crtEnvironment_.size(); ++i)
        cpu_.write32(envp_ + static_cast<uint32_t>(i) * 4, copyString(crtEnvironment_[i]));
    cpu_.write32(envp_ + static_cast<uint32_t>(crtEnvironment_.size()) * 4, 0);
}

void process::runtime::addCRuntime() {
    const std::string crt = "msvcrt.dll";
    heap& memory = *owner_.heap_;
    add(crt, "malloc", 0, [&memory](native_call& c) { c.result = memory.allocate(c.arg(0), c.returnAddress()); });
    add(crt, "free", 0, [&memory](native_call& c) { memory.free(c.arg(0), c.returnAddress()); });
    add(crt, "memcpy", 0, [](native_call& c) {
        // Read whole, then written: overlapping blocks copy as memmove does.
        block bytes(c.arg(2));
        c.cpu().read(c.arg(1), bytes.data(), bytes.size());
        c.cpu().write(c.arg(0), bytes.data(), bytes.size());
        c.result = c.arg(0);
    });
    // The string library copies a few dozen bytes at a time, 25 copies a
    // revertive, where a trap into native code costs several times the
    // copy: up to 256 bytes are copied as emulated code, more natively.
    // ESI and EDI wait in EDX and EAX (a routine pushes nothing); a
    // destination inside the source's bytes is copied from the end, as
    // memmove does, like the native copy.
    addCode(crt, "memcpy", {
        0x8B, 0x4C, 0x24, 0x0C,              // mov ecx, [esp+12]
        0x81, 0xF9, 0x00, 0x01, 0x00, 0x00,  // cmp ecx, 256
        0x77, 0x3A,                          // ja long
        0x89, 0xF8,                          // mov eax, edi
        0x89, 0xF2,                          // mov edx, esi
        0x8B, 0x7C, 0x24, 0x04,              // mov edi, [esp+4]
        0x8B, 0x74, 0x24, 0x08,              // mov esi, [esp+8]
        0x29, 0xF7,                          // sub edi, esi
        0x39, 0xCF,                          // cmp edi, ecx
        0x8D, 0x3C, 0x37,                    // lea edi, [edi+esi]
        0x72, 0x17,                          // jb backward
        0xC1, 0xE9, 0x02,                    // shr ecx, 2
        0xF3, 0xA5,                          // rep movsd
        0x8B, 0x4C, 0x24, 0x0C,              // mov ecx, [esp+12]
        0x83, 0xE1, 0x03,                    // and ecx, 3
        0xF3, 0xA4,                          // rep movsb
        0x89, 0xC7,                          // done: mov edi, eax
        0x89, 0xD6,                          // mov esi, edx
        0x8B, 0x44, 0x24, 0x04,              // mov eax, [esp+4]
        0xC3,                                // ret
        0x8D, 0x74, 0x0E, 0xFF,              // backward: lea esi, [esi+ecx-1]
        0x8D, 0x7C, 0x0F, 0xFF,              // lea edi, [edi+ecx-1]
        0xFD,                                // std
        0xF3, 0xA4,                          // rep movsb
        0xFC,                                // cld
        0xEB, 0xE9,                          // jmp done
        0xE9, 0x00, 0x00, 0x00, 0x00,        // long: jmp to the native memcpy
    });
    add(crt, "memset", 0, [](native_call& c) {
        c.cpu().fill(c.arg(0), static_cast<uint8_t>(c.arg(1)), c.arg(2));
        c.result = c.arg(0);
    });
    add(crt, "memchr", 0, [](native_call& c) {
        block bytes(c.arg(2));
        c.cpu().read(c.arg(0), bytes.data(), bytes.size());
        const void* found = std::memchr(bytes.data(), static_cast<uint8_t>(c.arg(1)), bytes.size());
        c.result = found ? c.arg(0) + static_cast<uint32_t>(static_cast<const uint8_t*>(found) - bytes.data()) : 0;
    });
    add(crt, "memcmp", 0, [](native_call& c) {
        block a(c.arg(2)), b(c.arg(2));
        c.cpu().read(c.arg(0), a.data(), a.size());
        c.cpu().read(c.arg(1), b.data(), b.size());
        const int order = std::memcmp(a.data(), b.data(), a.size());
        c.result = static_cast<uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0);
    });
    add(crt, "strlen", 0, [](native_call& c) { c.result = static_cast<uint32_t>(c.cpu().readString(c.arg(0)).size()); });
    // Called many times a message with short texts, where its trap into
    // native code would cost several times its loop: the first 256 bytes
    // are counted as emulated code, four at a time once aligned (an aligned
    // word never reaches into the next page), a longer text natively (a
    // loop over a MiB of text would cost far more than the trap).
    addCode(crt, "strlen", {
        0x8B, 0x44, 0x24, 0x04,              // mov eax, [esp+4]
        0xA8, 0x03,                          // align: test al, 3
        0x74, 0x08,                          // jz words
        0x80, 0x38, 0x00,                    // cmp byte [eax], 0
        0x74, 0x32,                          // je end
        0x40,                                // inc eax
        0xEB, 0xF4,                          // jmp align
        0x8B, 0x08,                          // words: mov ecx, [eax]
        0x8D, 0x91, 0xFF, 0xFE, 0xFE, 0xFE,  // lea edx, [ecx-0x01010101]
        0xF7, 0xD1,                          // not ecx
        0x21, 0xCA,                          // and edx, ecx
        0x81, 0xE2, 0x80, 0x80, 0x80, 0x80,  // and edx, 0x80808080: a zero byte's top bit
        0x75, 0x13,                          // jnz found
        0x83, 0xC0, 0x04,                    // add eax, 4
        0x89, 0xC1,                          // mov ecx, eax
        0x2B, 0x4C, 0x24, 0x04,              // sub ecx, [esp+4]
        0x81, 0xF9, 0x00, 0x01, 0x00, 0x00,  // cmp ecx, 256
        0x72, 0xDB,                          // jb words
        0xEB, 0x0D,                          // jmp long
        0x0F, 0xBC, 0xD2,                    // found: bsf edx, edx (the first zero byte's bit)
        0xC1, 0xEA, 0x03,                    // shr edx, 3
        0x01, 0xD0,                          // add eax, edx
        0x2B, 0x44, 0x24, 0x04,              // end: sub eax, [esp+4]
        0xC3,                                // ret
        0xE9, 0x00, 0x00, 0x00, 0x00,        // long: jmp to the native strlen
    });
    add(crt, "strcmp", 0, [](native_call& c) {
        const int order = c.cpu().readString(c.arg(0)).compare(c.cpu().readString(c.arg(1)));
        c.result = static_cast<uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0);
    });
    add(crt, "puts", 0, [this](native_call& c) {
        const std::string line = c.cpu().readString(c.arg(0)) + "\n";
        if (owner_.options_.standardOutput) owner_.options_.standardOutput(line);
        c.result = 0;
    });
    add(crt, "_snprintf", 0, [](native_call& c) {
        const std::string text = formatText(c.cpu(), c.arg(2), c.stackPointer() + 16);
        c.result = static_cast<uint32_t>(storeTruncated(c.cpu(), c.arg(0), c.arg(1), text));
    });
    add(crt, "_vsnprintf", 0, [](native_call& c) {
        const std::string text = formatText(c.cpu(), c.arg(2), c.arg(3));
        c.result = static_cast<uint32_t>(storeTruncated(c.cpu(), c.arg(0), c.arg(1), text));
    });
    add(crt, "getenv", 0, [this](native_call& c) {
        const std::string key = upperName(c.cpu().readString(c.arg(0)));
        c.result = 0;
        for (const std::string& entry : crtEnvironment_) {
            if (upperName(entry) != key) continue;
            // The same block for as long as the variable keeps its value.
            auto cached = crtStrings_.find(key);
            if (cached == crtStrings_.end() || c.cpu().readString(cached->second) != entry)
                cached = crtStrings_.insert_or_assign(key, copyString(entry)).first;
            c.result = cached->second + static_cast<uint32_t>(key.size()) + 1;
        }
    });
    add(crt, "_putenv", 0, [this](native_call& c) {
        const std::string entry = c.cpu().readString(c.arg(0));
        const size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) {
            c.result = static_cast<uint32_t>(-1);
            return;
        }
        const std::string value = entry.substr(equals + 1);
        setVariable(crtEnvironment_, entry.substr(0, equals), value.empty() ? nullptr : &value);
        c.result = 0;
    });
    add(crt, "__getmainargs", 0, [this](native_call& c) {
        c.cpu().write32(c.arg(0), argc_);
        c.cpu().write32(c.arg(1), argv_);
        c.cpu().write32(c.arg(2), envp_);
        c.result = 0;
    });
    add(crt, "exit", 0, [](native_call& c) { throw program_exit{static_cast<int>(c.arg(0))}; });
    add(crt, "abort", 0, [](native_call& c) {
        throw machine_fault("abort() was called from " + c.cpu().describe(c.returnAddress()));
    });
    add(crt, "_purecall", 0, [](native_call&) { throw machine_fault("a pure virtual function was called"); });
}

void process::runtime::addKernel() {
    const std::string k32 = "kernel32.dll";
    add(k32, "OutputDebugStringA", 4, [this](native_call& c) {
        std::string text = c.cpu().readString(c.arg(0));
        if (owner_.options_.debugOutput) owner_.options_.debugOutput(text);
    });
    add(k32, "GetPrivateProfileStringA", 24, [](native_call& c) {
        machine& cpu = c.cpu();
        const uint32_t sectionAddress = c.arg(0), keyAddress = c.arg(1), fallbackAddress = c.arg(2);
        const uint32_t buffer = c.arg(3), size = c.arg(4);
        const std::string path = hostPath(cpu.readString(c.arg(5)));
        // A wall's displays ask one router's file at once: they share a reading.
        std::shared_ptr<const profile_file> shared = path.empty() ? nullptr : profile_file::shared(path);
        profile_file unshared;
        const bool readable = shared || (!path.empty() && profile_file::load(path, unshared));
        const profile_file& file = shared ? *shared : unshared;
        if (!sectionAddress || !keyAddress) {
            // The section names, or the keys of a section, each ended by a NUL.
            std::string list;
            if (!sectionAddress) {
                for (const profile_section& s : file.sections()) list += s.name + '\0';
            } else if (const profile_section* s = file.section(cpu.readString(sectionAddress))) {
                for (const profile_entry& e : s->entries) list += e.key + '\0';
            }
            c.result = copyProfileText(cpu, buffer, size, list, true);
            return;
        }
        const std::string* value = readable ? file.value(cpu.readString(sectionAddress), cpu.readString(keyAddress))
                                            : nullptr;
        std::string text;
        if (value) {
            text = *value;
        } else if (fallbackAddress) {
            // The default loses its trailing blanks.
            text = cpu.readString(fallbackAddress);
            while (!text.empty() && text.back() == ' ') text.pop_back();
        }
        c.result = copyProfileText(cpu, buffer, size, text, false);
    });
    add(k32, "GetCurrentProcessId", 0, [](native_call& c) { c.result = static_cast<uint32_t>(getpid()); });
    add(k32, "GetTempPathA", 8, [](native_call& c) {
        const char* temp = std::getenv("TMPDIR");
        std::string path = windowsPath(temp && *temp ? temp : "/tmp");
        if (path.back() != '\\') path += '\\';
        if (path.size() + 1 > c.arg(0)) {
            c.result = static_cast<uint32_t>(path.size() + 1);
            return;
        }
        c.cpu().writeString(c.arg(1), path);
        c.result = static_cast<uint32_t>(path.size());
    });
    add(k32, "SetEnvironmentVariableA", 8, [this](native_call& c) {
        const std::string name = c.cpu().readString(c.arg(0));
        const std::string value = c.arg(1) ? c.cpu().readString(c.arg(1)) : std::string();
        setVariable(processEnvironment_, name, c.arg(1) ? &value : nullptr);
        c.result = 1;
    });
    add(k32, "CreateDirectoryA", 8, [this](native_call& c) {
        const std::string path = hostPath(c.cpu().readString(c.arg(0)));
        if (!path.empty() && ::mkdir(path.c_str(), 0777) == 0) {
            c.result = 1;
            return;
        }
        setLastError(errno == EEXIST ? error_already_exists : path.empty() ? error_path_not_found : errorFor(errno));
        c.result = 0;
    });
    add(k32, "CreateFileA", 28, [this](native_call& c) {
        const std::string path = hostPath(c.cpu().readString(c.arg(0)));
        const uint32_t access = c.arg(1), disposition = c.arg(4);
        const bool reads = access & 0x80000000u, writes = access & 0x40000000u;
        int flags = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
        switch (disposition) {
            case 1: flags |= O_CREAT | O_EXCL; break;   // CREATE_NEW
            case 2: flags |= O_CREAT | O_TRUNC; break;  // CREATE_ALWAYS
            case 3: break;                              // OPEN_EXISTING
            case 4: flags |= O_CREAT; break;            // OPEN_ALWAYS
            case 5: flags |= O_TRUNC; break;            // TRUNCATE_EXISTING
            default: throw machine_fault("CreateFileA: creation disposition " + std::to_string(disposition) + " is unknown");
        }
        const int fd = path.empty() ? -1 : ::open(path.c_str(), flags | O_CLOEXEC, 0666);
        if (fd < 0) {
            setLastError(path.empty() ? error_path_not_found : errorFor(errno));
            c.result = invalid_handle;
            return;
        }
        files_[nextHandle_] = fd;
        c.result = nextHandle_;
        nextHandle_ += 4;
    });
    auto file = [this](uint32_t handle) {
        auto found = files_.find(handle);
        if (found == files_.end()) setLastError(error_invalid_handle);
        return found == files_.end() ? -1 : found->second;
    };
    add(k32, "ReadFile", 20, [file](native_call& c) {
        const int fd = file(c.arg(0));
        if (fd < 0) return;
        std::vector<uint8_t> bytes(c.arg(2));
        const ssize_t got = ::read(fd, bytes.data(), bytes.size());
        if (got < 0) return;
        c.cpu().write(c.arg(1), bytes.data(), static_cast<size_t>(got));
        if (c.arg(3)) c.cpu().write32(c.arg(3), static_cast<uint32_t>(got));
        c.result = 1;
    });
    add(k32, "WriteFile", 20, [file](native_call& c) {
        const int fd = file(c.arg(0));
        if (fd < 0) return;
        std::vector<uint8_t> bytes(c.arg(2));
        c.cpu().read(c.arg(1), bytes.data(), bytes.size());
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0) return;
        if (c.arg(3)) c.cpu().write32(c.arg(3), static_cast<uint32_t>(put));
        c.result = 1;
    });
    add(k32, "GetFileSize", 8, [file](native_call& c) {
        const int fd = file(c.arg(0));
        struct stat status {};
        if (fd < 0 || ::fstat(fd, &status) != 0) {
            c.result = invalid_handle;
            return;
        }
        const uint64_t size = static_cast<uint64_t>(status.st_size);
        if (c.arg(1)) c.cpu().write32(c.arg(1), static_cast<uint32_t>(size >> 32));
        c.result = static_cast<uint32_t>(size);
    });
    add(k32, "CloseHandle", 4, [this](native_call& c) {
        auto found = files_.find(c.arg(0));
        if (found == files_.end()) {
            setLastError(error_invalid_handle);
            return;
        }
        ::close(found->second);
        files_.erase(found);
        c.result = 1;
    });
    add(k32, "LoadLibraryA", 4, [this](native_call& c) {
        const std::string name = c.cpu().readString(c.arg(0));
        std::vector<std::string> chain;
        try {
            c.result = owner_.loadByName(name, owner_.programDirectory_, chain);
        } catch (const load_error& error) {
            // What Windows would only hint at with an error code is worth a line.
            if (owner_.options_.debugOutput) owner_.options_.debugOutput("LoadLibraryA: " + std::string(error.what()));
            setLastError(error_file_not_found);
            c.result = 0;
        }
    }, false);  // DllMain runs
    add(k32, "GetProcAddress", 8, [this](native_call& c) {
        const uint32_t name = c.arg(1);
        const std::string exportName = name < 0x10000 ? "#" + std::to_string(name) : c.cpu().readString(name);
        c.result = owner_.exportAddress(c.arg(0), exportName);
        if (!c.result) setLastError(127);  // ERROR_PROC_NOT_FOUND
    }, false);  // a forwarder may load a DLL
    add(k32, "FreeLibrary", 4, [this](native_call& c) { c.result = owner_.unload(c.arg(0)) ? 1 : 0; }, false);
}

void process::runtime::addVersion() {
    const std::string version = "version.dll";
    auto resource = [](machine& cpu, uint32_t pathAddress, std::vector<uint8_t>& out) {
        const std::string path = hostPath(cpu.readString(pathAddress));
        return !path.empty() && readVersionResource(path, out);
    };
    add(version, "GetFileVersionInfoSizeA", 8, [this, resource](native_call& c) {
        std::vector<uint8_t> bytes;
        if (c.arg(1)) c.cpu().write32(c.arg(1), 0);
        if (!resource(c.cpu(), c.arg(0), bytes)) {
            setLastError(error_resource_missing);
            return;
        }
        c.result = versionBlockSize(bytes);
    });
    add(version, "GetFileVersionInfoA", 16, [this, resource](native_call& c) {
        std::vector<uint8_t> bytes;
        if (!resource(c.cpu(), c.arg(0), bytes)) {
            setLastError(error_resource_missing);
            return;
        }
        const std::vector<uint8_t> block = versionBlock(bytes);
        c.cpu().write(c.arg(3), block.data(), std::min<size_t>(block.size(), c.arg(2)));
        c.result = 1;
    });
    add(version, "VerQueryValueA", 16, [](native_call& c) {
        c.result = queryVersionValue(c.cpu(), c.arg(0), c.cpu().readString(c.arg(1)), c.arg(2), c.arg(3)) ? 1 : 0;
    });
}

void process::runtime::addExceptions() {
    add("msvcrt.dll", "_CxxThrowException", 8, [this](native_call& c) { throwException(c); }, false);
    add("msvcrt.dll", "__CxxFrameHandler3", 0, [this](native_call& c) { frameHandler(c); }, false);
}

}  // namespace quon::win32
