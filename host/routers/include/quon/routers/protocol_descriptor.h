// protocol_descriptor: a router protocol as the host knows it, in one
// value: its name (the device file's Protocol=), its port when Address=
// gives none, the [Router] keys it reads besides the ones every protocol
// reads (router_keys.h), each with its parser, and how it makes its client
// from them. The keys a device file is warned about and the keys parsed
// are one table, so they cannot disagree.
//
// Each protocol's folder (routers/<protocol>/) defines its descriptor;
// network_routers.cpp lists them, one line each. docs/architecture.md
// shows a whole one.
#ifndef QUON_ROUTERS_PROTOCOL_DESCRIPTOR_H
#define QUON_ROUTERS_PROTOCOL_DESCRIPTOR_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"

namespace quon::routers {

// One [Router] key of a protocol: its name as the documents spell it (the
// file's may differ in case) and its parser, which reads the value into the
// protocol's options, or says what the value must be ("a whole number from
// 0 to 15"; the reader puts the file, the line and the key before it).
template <class Options>
struct protocol_key {
    const char* name;
    bool (*read)(const std::string& value, Options& options, std::string& why);
};

// The options of a protocol that reads no key of its own.
struct no_options {};

// A [Router] key's value by its name (any case); null when the file has none.
using key_values = std::function<const std::string*(const std::string& name)>;

struct protocol_descriptor {
    std::string name;               // lower case, as Protocol= is matched
    std::uint16_t defaultPort = 0;  // when Address= gives no port
    std::vector<std::string> keys;  // its own keys, as spelt, in its table's order
    // When not empty, Address= may also be a URL of this scheme
    // ("http://host:port/path"); its path goes to router_settings::path.
    std::string urlScheme;
    // Reads its own keys from `values` and makes the client of one
    // connection. Null, with the key (as spelt in the table) and what its
    // value must be, when a value is wrong.
    std::function<std::unique_ptr<router_client>(const router_settings& settings, const key_values& values,
                                                 std::string& key, std::string& why)>
        makeClient;
};

// The descriptor of a protocol from its table: each key present is read,
// in the table's order, into Options as default-constructed; then
// make(settings, options) makes the client.
template <class Options>
protocol_descriptor describeProtocol(std::string name, std::uint16_t defaultPort,
                                     std::vector<protocol_key<Options>> keys,
                                     std::unique_ptr<router_client> (*make)(const router_settings&, const Options&)) {
    protocol_descriptor d;
    d.name = std::move(name);
    d.defaultPort = defaultPort;
    for (const protocol_key<Options>& k : keys) d.keys.emplace_back(k.name);
    d.makeClient = [keys, make](const router_settings& settings, const key_values& values, std::string& key,
                                std::string& why) -> std::unique_ptr<router_client> {
        Options options{};
        for (const protocol_key<Options>& k : keys) {
            const std::string* value = values(k.name);
            if (value && !k.read(*value, options, why)) {
                key = k.name;
                return nullptr;
            }
        }
        return make(settings, options);
    };
    return d;
}

// Parsers that protocols share. A whole decimal number from `low` to
// `high`; why: "a whole number from LOW to HIGH".
bool readWholeNumber(const std::string& value, long long low, long long high, long long& out, std::string& why);
// Milliseconds, 1 to 3600000 (an hour).
bool readMilliseconds(const std::string& value, std::chrono::milliseconds& out, std::string& why);

}  // namespace quon::routers

#endif
