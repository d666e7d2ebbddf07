// The module cache: shared objects of its own, every other kind through
// the loaders it is given, asked first.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "quon/engine/module_cache.h"
#include "temp_system.h"

namespace {

using quon::load_function;
using quon::module_cache;
using quon::module_loader;
using quon::module_loaders;

// Takes the paths that end in ".fake", read or not; `refuse` makes it
// say why it cannot load them.
class fake_loader final : public module_loader {
public:
    explicit fake_loader(int& made) { ++made; }
    bool takes(const std::string& path) const override {
        return path.size() > 5 && path.compare(path.size() - 5, 5, ".fake") == 0;
    }
    load_function load(const std::string& path, std::string& error) override {
        if (path.find("refuse") != std::string::npos) {
            error = path + ": refused";
            return nullptr;
        }
        return [](quon_client_callback*, const char*) -> quon_client_callback* { return nullptr; };
    }
};

module_loaders fakes(int& made) {
    return {[&made] { return std::make_unique<fake_loader>(made); }};
}

// Headers of a PE image that end at its signature.
std::string peHeaders() {
    std::string bytes = "MZ" + std::string(62, '\0') + std::string("PE\0\0", 4);
    bytes[60] = 64;
    return bytes;
}

TEST(ModuleCache, AsksItsLoadersBeforeLookingAtTheFile) {
    int made = 0;
    module_cache cache(fakes(made));
    std::string error;
    EXPECT_TRUE(cache.load("/nonexistent/Module.fake", error)) << error;
    EXPECT_FALSE(cache.load("/nonexistent/refuse.fake", error));
    EXPECT_EQ(error, "/nonexistent/refuse.fake: refused");
    EXPECT_FALSE(cache.load("/nonexistent/Module.so", error));
    EXPECT_EQ(error, "/nonexistent/Module.so: no such module file");
}

TEST(ModuleCache, MakesLoadersOfItsOwn) {
    int made = 0;
    const module_loaders loaders = fakes(made);
    module_cache one(loaders), two(loaders);
    EXPECT_EQ(made, 2);
}

TEST(ModuleCache, SaysAWindowsModuleNeedsALoaderForIt) {
    temp_system system;
    system.writeFile("Module.dll", peHeaders());
    const std::string path = system.folder() + "/Module.dll";
    module_cache cache;
    std::string error;
    EXPECT_FALSE(cache.load(path, error));
    EXPECT_EQ(error, path + ": a 32-bit Windows module; this quon-host runs them only as a 64-bit x86-64 program");
}

}  // namespace
