// 32-bit Windows component modules (DLLs in the Microsoft C++ ABI, told by
// their PE signature), run on win32/'s emulated x86 CPU: each module its
// own process, with its own heap, the DLLs it imports found beside it.
// Built where the runner is (64-bit hosts); a program that has it
// registers it with its engines.
//
// Threading: a loader and its modules belong to the thread of the engine
// whose cache made it.
#ifndef QUON_WINDOWS_MODULES_WINDOWS_MODULES_H
#define QUON_WINDOWS_MODULES_WINDOWS_MODULES_H

#include <string>

#include "quon/engine/module_loader.h"

namespace quon {

// Adds the Windows module loader to `loaders`. Each cache's loader keeps
// the modules it loaded until the cache is destroyed, or until one faults
// (module_fault): a broken module is loaded afresh when next asked for,
// and its components keep the broken one until they are deleted.
void addWindowsModules(module_loaders& loaders);

// What the modules run on, for --version: "Unicorn 2.1.1 (PATH)", loading
// it if no module has yet, or why it cannot be loaded.
std::string windowsModulesRuntime();

}  // namespace quon

#endif
