// Every JSON line quon-host writes goes through here: field order kept,
// bytes that are not UTF-8 replaced so that every line parses.
#ifndef QUON_OUTPUT_JSON_LINES_H
#define QUON_OUTPUT_JSON_LINES_H

#include <nlohmann/json.hpp>
#include <string>

namespace quon {

using json = nlohmann::ordered_json;

// One line of JSON, without its line end.
std::string jsonLine(const json& value);

}  // namespace quon

#endif
