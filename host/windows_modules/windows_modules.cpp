#include "quon/windows_modules/windows_modules.h"

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "quon/engine/module_cache.h"
#include "quon/win32/machine.h"
#include "windows_module.h"

namespace quon {

namespace {

// One thread: its cache's.
class windows_module_loader final : public module_loader {
public:
    bool takes(const std::string& path) const override {
        const auto known = modules_.find(path);
        return (known != modules_.end() && !known->second->broken()) || isWindowsModule(path);
    }

    load_function load(const std::string& path, std::string& error) override {
        auto& module = modules_[path];
        if (!module || module->broken()) {
            try {
                module = std::make_shared<windows_module>(path);
            } catch (const std::exception& e) {
                modules_.erase(path);
                error = e.what();
                return nullptr;
            }
        }
        return [module](quon_client_callback* host, const char* folder) { return module->create(host, folder); };
    }

private:
    // Shared with the components made from them, which may outlive a
    // module's place here once it faults.
    std::map<std::string, std::shared_ptr<windows_module>> modules_;
};

}  // namespace

void addWindowsModules(module_loaders& loaders) {
    loaders.push_back([] { return std::make_unique<windows_module_loader>(); });
}

std::string windowsModulesRuntime() { return win32::unicornInUse(); }

}  // namespace quon
