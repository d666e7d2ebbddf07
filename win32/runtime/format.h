// The printf family's formatting, as msvcrt.dll does it, over arguments in
// emulated memory (a va_list is the address of the first one).
#ifndef QUON_WIN32_FORMAT_H
#define QUON_WIN32_FORMAT_H

#include <cstdint>
#include <string>

#include "quon/win32/machine.h"

namespace quon::win32 {

// The text `format` (an emulated address) gives with the arguments from
// `arguments` on. A conversion the runner does not format (%n, wide
// texts) is a machine_fault naming it.
std::string formatText(const machine& cpu, uint32_t format, uint32_t arguments);

// msvcrt's _snprintf/_vsnprintf: writes at most `count` bytes of `text` to
// `buffer`, a terminator only when there is room for it; returns the length,
// or -1 when the text did not fit.
int32_t storeTruncated(machine& cpu, uint32_t buffer, uint32_t count, const std::string& text);

}  // namespace quon::win32

#endif
