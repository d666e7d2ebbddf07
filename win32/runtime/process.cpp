#include "quon/win32/process.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "runtime.h"

namespace fs = std::filesystem;

namespace quon::win32 {

namespace {

constexpr uint32_t dll_process_detach = 0;
constexpr uint32_t dll_process_attach = 1;
const char* const native_dlls[] = {"msvcrt.dll", "kernel32.dll", "version.dll"};

std::string withDll(std::string name) {
    name = lowerCase(name);
    if (name.find('.') == std::string::npos) name += ".dll";
    return name;
}

bool isNativeDll(const std::string& name) {
    const std::string lower = withDll(name);
    return std::find(std::begin(native_dlls), std::end(native_dlls), lower) != std::end(native_dlls);
}

std::string joined(const std::vector<std::string>& chain, const std::string& last) {
    std::string text;
    for (const std::string& link : chain) text += fs::path(link).filename().string() + " -> ";
    return text + last;
}

}  // namespace

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string hostPath(const std::string& windowsPath) {
    std::string path = windowsPath;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        if (path[0] != 'Z' && path[0] != 'z') return {};
        path = path.substr(2);
        if (path.empty()) path = "/";
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string windowsPath(const std::string& hostPath) {
    std::string path = hostPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return !hostPath.empty() && hostPath[0] == '/' ? "Z:" + path : path;
}

process::process(process_options options)
    : options_(std::move(options)),
      cpu_(std::make_unique<machine>()),
      heap_(std::make_unique<heap>(*cpu_)),
      runtime_(std::make_unique<runtime>(*this)) {
    for (const char* dll : native_dlls) {
        // A handle for LoadLibraryA and GetProcAddress: a small region of
        // its own, named for reports.
        const uint32_t base = cpu_->reserve(0x1000, dll);
        cpu_->protect(base, 0x1000, 0);
        cpu_->addModule(dll, base, 0x1000);
        nativeHandles_[dll] = base;
    }
}

process::~process() = default;

process::module* process::find(uint32_t base) {
    for (auto& m : modules_)
        if (m->base == base) return m.get();
    return nullptr;
}

process::module* process::findByPath(const std::string& path) {
    for (auto& m : modules_)
        if (m->path == path) return m.get();
    return nullptr;
}

std::string process::locate(const std::string& name, const std::string& besideDirectory) const {
    const std::string path = hostPath(name);
    if (path.empty()) return {};
    if (path.find('/') != std::string::npos) return fs::exists(path) ? path : std::string();
    // The program's folder, the importing image's, then the working folder;
    // Windows file names are matched without regard to case.
    for (const std::string& folder : {programDirectory_, besideDirectory, std::string(".")}) {
        if (folder.empty()) continue;
        std::error_code error;
        if (fs::exists(fs::path(folder) / path, error)) return (fs::path(folder) / path).string();
        for (const auto& entry : fs::directory_iterator(folder, error))
            if (lowerCase(entry.path().filename().string()) == lowerCase(path)) return entry.path().string();
    }
    return {};
}

uint32_t process::load(const std::string& path) {
    std::vector<std::string> chain;
    return loadModule(path, chain);
}

uint32_t process::loadByName(const std::string& name, const std::string& besideDirectory,
                             std::vector<std::string>& chain) {
    if (isNativeDll(name)) return nativeHandles_.at(withDll(name));
    const std::string path = locate(name, besideDirectory);
    if (path.empty())
        throw load_error(joined(chain, name) + ": " + name + " is not found (looked in the program's folder, " +
                         "the importing image's folder and the working folder)");
    return loadModule(path, chain);
}

uint32_t process::loadModule(const std::string& path, std::vector<std::string>& chain) {
    std::error_code error;
    const std::string canonical = fs::weakly_canonical(path, error).string();
    if (std::find(chain.begin(), chain.end(), canonical) != chain.end())
        throw load_error("import loop: " + joined(chain, fs::path(path).filename().string()));
    if (module* loaded = findByPath(canonical)) {
        ++loaded->loads;
        return loaded->base;
    }
    std::ifstream in(canonical, std::ios::binary);
    if (!in) throw load_error(path + ": cannot be read");
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pe::read_result read = pe::readImage(bytes.data(), bytes.size());
    if (!read.value) throw load_error(path + ": " + read.error);

    auto m = std::make_unique<module>();
    m->path = canonical;
    m->name = fs::path(canonical).filename().string();
    m->image = std::move(*read.value);
    pe::image& image = m->image;
    m->size = image.sizeOfImage;
    m->dll = image.isDll();
    m->base = cpu_->reserve(image.sizeOfImage, m->name, image.imageBase);
    if (!m->base) throw load_error(path + ": no room for its " + std::to_string(image.sizeOfImage) + " bytes");
    if (m->base != image.imageBase) {
        if (!image.relocatable()) {
            cpu_->release(m->base);
            throw load_error(path + ": its preferred base is taken and it carries no relocations");
        }
        pe::relocate(image.mapped, image.relocations, image.imageBase, m->base);
    }
    const uint32_t base = m->base;
    cpu_->write(base, image.mapped.data(), image.mapped.size());
    cpu_->addModule(m->name, base, m->size);
    m->entry = image.entryPoint ? base + image.entryPoint : 0;
    for (const uint32_t callback : image.tlsCallbacks) m->tlsCallbacks.push_back(callback - image.imageBase + base);
    module& loaded = *m;
    modules_.push_back(std::move(m));

    chain.push_back(canonical);
    const std::string folder = fs::path(canonical).parent_path().string();
    try {
        for (const pe::import_library& library : image.imports) {
            const bool native = isNativeDll(library.dll);
            const uint32_t dependency = native ? 0 : loadByName(library.dll, folder, chain);
            if (dependency) loaded.dependencies.push_back(dependency);
            for (const pe::import_entry& entry : library.entries) {
                const std::string name = entry.byOrdinal ? "#" + std::to_string(entry.ordinal) : entry.name;
                const uint32_t address = native ? nativeExport(library.dll, name) : exportAddress(dependency, name);
                if (!address)
                    throw load_error(joined(chain, library.dll) + ": " + loaded.name + " imports " + name + " from " +
                                     library.dll + ", which does not export it");
                cpu_->write32(base + entry.slotRva, address);
            }
        }
    } catch (...) {
        chain.pop_back();
        const std::vector<uint32_t> dependencies = loaded.dependencies;
        cpu_->removeModule(base);
        cpu_->release(base);
        modules_.erase(std::find_if(modules_.begin(), modules_.end(), [&](auto& p) { return p.get() == &loaded; }));
        for (const uint32_t dependency : dependencies) unload(dependency);
        throw;
    }
    chain.pop_back();

    // The sections' protections, now that the loader's writes are done.
    cpu_->protect(base, image.sizeOfHeaders ? image.sizeOfHeaders : 1, machine::readable);
    for (const pe::section& s : image.sections) {
        uint32_t access = 0;
        if (s.characteristics & 0x40000000u) access |= machine::readable;
        if (s.characteristics & 0x80000000u) access |= machine::writable | machine::readable;
        if (s.characteristics & 0x20000000u) access |= machine::executable | machine::readable;
        const uint32_t size = std::max(s.virtualSize, s.rawSize);
        if (size) cpu_->protect(base + s.rva, size, access);
    }
    image.mapped.clear();
    image.mapped.shrink_to_fit();

    if (loaded.dll) {
        uint32_t ok = 1;
        callEntry(loaded, dll_process_attach);
        if (loaded.entry) ok = cpu_->get(reg::eax);
        if (!ok) {
            unload(base);
            throw load_error(path + ": its DllMain refused to load (returned FALSE)");
        }
    }
    return base;
}

void process::callEntry(module& m, uint32_t reason) {
    for (const uint32_t callback : m.tlsCallbacks)
        cpu_->call(callback, {m.base, reason, 0}, convention::stdcall_call);
    if (m.entry && m.dll) {
        const uint32_t result = cpu_->call(m.entry, {m.base, reason, 0}, convention::stdcall_call);
        cpu_->set(reg::eax, result);
    }
}

bool process::unload(uint32_t base) {
    module* m = find(base);
    if (!m) return std::any_of(nativeHandles_.begin(), nativeHandles_.end(),
                               [&](const auto& native) { return native.second == base; });
    if (--m->loads > 0) return true;
    if (m->dll) callEntry(*m, dll_process_detach);
    const std::vector<uint32_t> dependencies = m->dependencies;
    cpu_->removeModule(base);
    cpu_->release(base);
    modules_.erase(std::find_if(modules_.begin(), modules_.end(), [&](auto& p) { return p.get() == m; }));
    for (const uint32_t dependency : dependencies) unload(dependency);
    return true;
}

uint32_t process::nativeExport(const std::string& dll, const std::string& name) {
    const std::string key = withDll(dll) + "!" + name;
    auto cached = nativeStubs_.find(key);
    if (cached != nativeStubs_.end()) return cached->second;
    uint32_t address;
    if (const runtime::native* native = runtime_->find(key)) {
        address = cpu_->addNative(key, native->popBytes, native->function, native->leaf);
        if (!native->code.empty()) address = cpu_->addRoutine(key, native->code, address);
    } else {
        address = cpu_->addNative(
            key, 0, [key](native_call&) { throw machine_fault("the runner does not emulate " + key); }, true);
    }
    nativeStubs_[key] = address;
    return address;
}

uint32_t process::exportAddress(uint32_t base, const std::string& exportName) {
    std::string name = exportName;
    // Forwarders are followed a few steps at most: a loop of them ends.
    for (int step = 0; step < 8 && !name.empty(); ++step) {
        for (const auto& [dll, handle] : nativeHandles_)
            if (handle == base) return nativeExport(dll, name);
        module* m = find(base);
        if (!m) return 0;
        const pe::export_entry* entry =
            name[0] == '#' ? m->image.findExport(static_cast<uint32_t>(std::strtoul(name.c_str() + 1, nullptr, 10)))
                           : m->image.findExport(name);
        if (!entry) return 0;
        if (entry->forwarder.empty()) return base + entry->rva;
        const size_t dot = entry->forwarder.find('.');
        if (dot == std::string::npos) return 0;
        std::vector<std::string> chain;
        base = loadByName(entry->forwarder.substr(0, dot), fs::path(m->path).parent_path().string(), chain);
        name = entry->forwarder.substr(dot + 1);
    }
    return 0;
}

int process::runProgram(const std::string& path, const std::vector<std::string>& arguments) {
    std::error_code error;
    programDirectory_ = fs::weakly_canonical(path, error).parent_path().string();
    const uint32_t base = load(path);
    module* program = find(base);
    if (program->dll) throw load_error(path + ": a DLL, not a program");
    if (!program->entry) throw load_error(path + ": has no entry point");
    cpu_->write32(cpu_->processBlock() + 8, base);
    std::vector<std::string> argv{windowsPath(path)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    runtime_->setArguments(argv);
    int code;
    try {
        code = static_cast<int>(cpu_->call(program->entry, {}));
    } catch (const program_exit& exit) {
        code = exit.code;
    }
    return code;
}

std::vector<std::string> process::emulatedFunctions() const { return runtime_->names(); }

void process::shutDown() {
    for (auto it = modules_.rbegin(); it != modules_.rend(); ++it)
        if ((*it)->dll) callEntry(**it, dll_process_detach);
    heap_->check();
}

}  // namespace quon::win32
