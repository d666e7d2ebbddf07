#include "quon/routers/swp08/swp08_descriptor.h"

#include "quon/routers/swp08/swp08_client.h"

namespace quon::routers::swp08 {

namespace {

// The wire numbers a matrix or a level from 0, the client from 1.
bool readWireNumber(const std::string& value, int& out, std::string& why) {
    long long number = 0;
    if (!readWholeNumber(value, 0, 15, number, why)) return false;
    out = static_cast<int>(number) + 1;
    return true;
}

bool readNameLength(const std::string& value, swp08_options& o, std::string& why) {
    long long length = 0;
    if (!readWholeNumber(value, 4, 12, length, why)) return false;
    if (!nameLengthCode(static_cast<int>(length))) {
        why = "4, 8 or 12";
        return false;
    }
    o.nameLength = static_cast<int>(length);
    return true;
}

std::unique_ptr<router_client> makeClient(const router_settings& settings, const swp08_options& options) {
    return std::make_unique<swp08_client>(settings, options);
}

}  // namespace

protocol_descriptor descriptor() {
    return describeProtocol<swp08_options>(
        "swp08", default_port,
        {{"Matrix",
          [](const std::string& v, swp08_options& o, std::string& why) { return readWireNumber(v, o.matrix, why); }},
         {"Level",
          [](const std::string& v, swp08_options& o, std::string& why) { return readWireNumber(v, o.level, why); }},
         {"NameLength", &readNameLength},
         {"AnswerWait", [](const std::string& v, swp08_options& o,
                           std::string& why) { return readMilliseconds(v, o.answerWait, why); }}},
        &makeClient);
}

}  // namespace quon::routers::swp08
