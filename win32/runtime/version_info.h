// version.dll's view of an image's version resource (internal).
#ifndef QUON_WIN32_VERSION_INFO_H
#define QUON_WIN32_VERSION_INFO_H

#include <cstdint>
#include <string>
#include <vector>

#include "quon/win32/machine.h"

namespace quon::win32 {

// The version resource of the image file at `path`; false when it has none.
bool readVersionResource(const std::string& path, std::vector<uint8_t>& out);
// What GetFileVersionInfoSizeA says: the resource, then as much room for
// the ANSI copies of its texts that VerQueryValueA makes.
uint32_t versionBlockSize(const std::vector<uint8_t>& resource);
std::vector<uint8_t> versionBlock(const std::vector<uint8_t>& resource);
// VerQueryValueA on a block in emulated memory: "\" for the fixed file
// information, "\StringFileInfo\LANG\NAME" for a text (an ANSI copy),
// "\VarFileInfo\Translation". Writes the value's address and length.
bool queryVersionValue(machine& cpu, uint32_t block, const std::string& path, uint32_t valueOut, uint32_t lengthOut);

}  // namespace quon::win32

#endif
