#include "quon/routers/quartz/quartz_descriptor.h"

#include "quon/routers/quartz/quartz_client.h"

namespace quon::routers::quartz {

namespace {

// One letter; the protocol writes levels in capitals, a device file may not.
bool readLevel(const std::string& value, quartz_options& o, std::string& why) {
    const char letter = value.size() == 1 && value[0] >= 'a' && value[0] <= 'z'
                            ? static_cast<char>(value[0] - 'a' + 'A')
                        : value.size() == 1 ? value[0]
                                            : '\0';
    if (!isLevel(letter)) {
        why = "a level letter from A to Z (V, A, B, ... as the router names its levels)";
        return false;
    }
    o.level = letter;
    return true;
}

std::unique_ptr<router_client> makeClient(const router_settings& settings, const quartz_options& options) {
    return std::make_unique<quartz_client>(settings, options);
}

}  // namespace

protocol_descriptor descriptor() {
    return describeProtocol<quartz_options>(
        "quartz", default_port,
        {{"Level", &readLevel},
         {"AnswerWait", [](const std::string& v, quartz_options& o,
                           std::string& why) { return readMilliseconds(v, o.answerWait, why); }}},
        &makeClient);
}

}  // namespace quon::routers::quartz
