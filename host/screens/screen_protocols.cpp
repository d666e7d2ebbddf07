#include "quon/screens/screen_protocol.h"
#include "quon/screens/tsl31/tsl31_protocol.h"
#include "quon/screens/tsl5/tsl5_protocol.h"

namespace quon {

// A screen protocol is its folder, a line here and one in CMakeLists.txt.
const std::vector<const screen_protocol*>& screenProtocols() {
    static const std::vector<const screen_protocol*> all{
        &tsl5_protocol,
        &tsl31_protocol,
    };
    return all;
}

}  // namespace quon
