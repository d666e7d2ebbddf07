// The module's only export: the host calls it to create each component.
#include "tally.h"

#if defined(_WIN32)
#define TALLY_EXPORT __declspec(dllexport)
#else
#define TALLY_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TALLY_EXPORT quon_client_callback* load_quon_client_script(quon_client_callback* host, const char* path) {
    return quon_script_helper::createForHost<Tally>(host, path);
}
