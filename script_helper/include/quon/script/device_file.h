// The device file as every reader of it sees it: its name for a device
// number, and a value read the way the component reads it. The host reads
// device files through these too, so that host and component never
// disagree about a file.
#ifndef QUON_DEVICE_FILE_H
#define QUON_DEVICE_FILE_H

#include <stddef.h>

// Writes "dev_NNN.ini" (at least three digits) for `device` into `out`.
void deviceFileName(int device, char* out, size_t space);

// Reads `key` of `section` of the file at `path` as the Windows profile
// reader does: the value, or `fallback` when the file, the section or the
// key is missing; cut to fit `space` with its terminator. Returns the
// characters placed.
unsigned readProfileValue(const char* section, const char* key, const char* fallback, char* out, size_t space,
                          const char* path);

#endif
