// The module's only export.
#include "korvane.h"

#if defined(_WIN32)
#define QUON_MODULE_EXPORT __declspec(dllexport)
#else
#define QUON_MODULE_EXPORT __attribute__((visibility("default")))
#endif

// Creates one component; the host owns it and destroys it through its
// virtual destructor. Null when it cannot be created; nothing thrown
// inside reaches the host, and a failed construction sends nothing more.
extern "C" QUON_MODULE_EXPORT quon_client_callback* load_quon_client_script(quon_client_callback* host,
                                                                            const char* path) {
    return quon_script_helper::createForHost<Korvane>(host, path);
}
