#include "quon/routers/router_keys.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <filesystem>

#include "quon/common/endpoint.h"
#include "quon/common/text.h"
#include "quon/tcp/ca_file.h"

namespace quon::routers {

namespace {

// The keys every protocol reads besides Address (which is required).
const std::vector<protocol_key<router_settings>>& sharedKeys() {
    static const std::vector<protocol_key<router_settings>> keys = {
        // Found and loaded once every key is read (readRouterKeys), as it
        // needs the device file's folder and an https:// Address.
        {"CaFile",
         [](const std::string& v, router_settings& s, std::string& why) {
             s.caFile = v;
             if (!v.empty()) return true;
             why = "the path of a file of CA certificates (PEM)";
             return false;
         }},
        {"ConnectTimeout", [](const std::string& v, router_settings& s,
                              std::string& why) { return readMilliseconds(v, s.connectTimeout, why); }},
        {"KeepAlive", [](const std::string& v, router_settings& s,
                         std::string& why) { return readMilliseconds(v, s.keepAliveInterval, why); }},
        {"KeepAliveWait", [](const std::string& v, router_settings& s,
                             std::string& why) { return readMilliseconds(v, s.keepAliveWait, why); }},
        {"Silence", [](const std::string& v, router_settings& s,
                       std::string& why) { return readMilliseconds(v, s.silenceLimit, why); }},
        {"RetryFirst", [](const std::string& v, router_settings& s,
                          std::string& why) { return readMilliseconds(v, s.backOffFirst, why); }},
        {"RetryCap", [](const std::string& v, router_settings& s,
                        std::string& why) { return readMilliseconds(v, s.backOffCap, why); }},
        {"Resync", [](const std::string& v, router_settings& s,
                      std::string& why) { return readMilliseconds(v, s.resyncInterval, why); }},
    };
    return keys;
}

// The router's state file, dev_NNN.state, in the state folder: systemd's
// StateDirectory= (the packaged unit's, as its service may write nowhere
// else) when serve runs under it, else the system folder beside the
// device file. What it holds, when there is one, is what the router's link
// learnt, kept through a restart.
bool readState(const std::string& devicePath, router_settings& s, std::string& error) {
    if (devicePath.empty()) return true;
    const std::filesystem::path device(devicePath);
    std::filesystem::path folder = device.has_parent_path() ? device.parent_path() : ".";
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
        const std::string first(state, std::strcspn(state, ":"));  // the first of several
        folder = first;
    }
    s.stateFile = (folder / device.stem()).string() + ".state";
    std::ifstream in(s.stateFile, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return true;
        error = s.stateFile + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = s.stateFile + ": cannot be read";
        return false;
    }
    s.remembered = text.str();
    return true;
}

// A URL scheme that has a form over TLS, and that form's port where the
// URL gives none.
struct tls_scheme {
    const char* plain;
    const char* secure;
    std::uint16_t port;
};
constexpr tls_scheme tls_schemes[] = {{"http", "https", 443}};

// Reads "host:port", "[v6]:port" or a bare host (the port left as it is);
// for a protocol that takes URLs, also "<scheme>://" before them and a path
// after, or the scheme's form over TLS, which sets tls (and its own port).
bool parseAddress(const std::string& text, const std::string& scheme, router_settings& s, std::string& error) {
    std::string authority = text;
    std::vector<std::pair<std::string, const tls_scheme*>> prefixes;
    if (!scheme.empty()) prefixes.emplace_back(scheme + "://", nullptr);
    for (const tls_scheme& t : tls_schemes)
        if (scheme == t.plain) prefixes.emplace_back(std::string(t.secure) + "://", &t);
    s.tls = false;
    for (const auto& [prefix, secure] : prefixes) {
        if (lowerCase(text.substr(0, prefix.size())) != prefix) continue;
        authority = text.substr(prefix.size());
        const std::size_t slash = authority.find('/');
        if (slash != std::string::npos) {
            s.path = authority.substr(slash);
            authority.resize(slash);
        }
        if (secure) {
            s.tls = true;
            s.port = secure->port;
        }
        break;
    }
    endpoint_text where;
    if (!parseEndpoint(authority, where, error)) {
        error = "Address=" + text + ": " + error;
        return false;
    }
    if (where.host.empty()) {
        error = "Address=" + text + ": no host";
        return false;
    }
    if (where.port && *where.port == 0) {
        error = "Address=" + text + ": the port is a number from 1 to 65535";
        return false;
    }
    s.host = where.host;
    if (where.port) s.port = *where.port;
    return true;
}

std::string keyError(const router_description& d, const std::string& key, const std::string& why) {
    const std::string lower = lowerCase(key);
    return d.place(lower) + "[Router] " + d.spelling(lower) + "=" + d.settings.at(lower) + ": " + why;
}

}  // namespace

std::unique_ptr<router_client> readRouterKeys(const router_description& d, const protocol_descriptor& protocol,
                                              router_settings& settings, std::string& error) {
    const key_values values = [&d](const std::string& name) -> const std::string* {
        const auto value = d.settings.find(lowerCase(name));
        return value == d.settings.end() ? nullptr : &value->second;
    };
    const std::string* address = values("Address");
    if (!address) {
        error = d.place("protocol") + "Protocol=" + d.protocol + " needs Address=host:port in [Router]";
        return nullptr;
    }
    settings.port = protocol.defaultPort;
    if (!parseAddress(*address, protocol.urlScheme, settings, error)) {
        error = d.place("address") + error;
        return nullptr;
    }
    std::string why;
    for (const protocol_key<router_settings>& k : sharedKeys()) {
        const std::string* value = values(k.name);
        if (value && !k.read(*value, settings, why)) {
            error = keyError(d, k.name, why);
            return nullptr;
        }
    }
    if (!settings.caFile.empty()) {
        if (!settings.tls) {
            error = keyError(d, "CaFile", "read only with an https:// Address=");
            return nullptr;
        }
        // Beside the device file, as a user who names a file there expects.
        std::filesystem::path file(settings.caFile);
        if (file.is_relative()) file = std::filesystem::absolute(d.path).parent_path() / file;
        settings.caFile = file.lexically_normal().string();
        const std::string problem = tcp::caFileProblem(settings.caFile);
        if (!problem.empty()) {
            error = keyError(d, "CaFile", settings.caFile + " " + problem);
            return nullptr;
        }
    }
    if (!readState(d.path, settings, error)) return nullptr;
    // What the components use wins over what the router's names suggest.
    const auto sources = d.databaseSizes.find(0);
    settings.sources = sources == d.databaseSizes.end() ? 0 : std::max(sources->second, 0);
    settings.destinations = d.destinations();
    std::string key;
    std::unique_ptr<router_client> client = protocol.makeClient(settings, values, key, why);
    if (!client) error = keyError(d, key, why);
    return client;
}

std::vector<std::string> keysOf(const protocol_descriptor& protocol) {
    std::vector<std::string> keys = {"Address"};
    for (const protocol_key<router_settings>& k : sharedKeys()) keys.emplace_back(k.name);
    keys.insert(keys.end(), protocol.keys.begin(), protocol.keys.end());
    return keys;
}

}  // namespace quon::routers
