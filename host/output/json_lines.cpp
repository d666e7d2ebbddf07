#include "quon/output/json_lines.h"

namespace quon {

std::string jsonLine(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace quon
