#include "wall_toml.h"

#include "quon/common/duration.h"

namespace quon {

std::string where(const std::string& path, const toml::source_region& region) {
    return path + ":" + std::to_string(region.begin.line) + ":" + std::to_string(region.begin.column) + ": ";
}

// A whole number within low..high, or an error naming where.
std::optional<int> integerAt(const toml::node& node, const std::string& key, long long low, long long high,
                             const std::string& path, std::vector<std::string>& errors) {
    const std::optional<int64_t> value = node.value_exact<int64_t>();
    if (!value || *value < low || *value > high) {
        errors.push_back(where(path, node.source()) + "`" + key + "` takes a whole number from " +
                         std::to_string(low) + " to " + std::to_string(high));
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<std::string> textAt(const toml::node& node, const std::string& key, const std::string& path,
                                  std::vector<std::string>& errors) {
    const std::optional<std::string> value = node.value_exact<std::string>();
    if (!value) errors.push_back(where(path, node.source()) + "`" + key + "` takes a text");
    return value;
}

std::optional<bool> booleanAt(const toml::node& node, const std::string& key, const std::string& path,
                              std::vector<std::string>& errors) {
    const std::optional<bool> value = node.value_exact<bool>();
    if (!value) errors.push_back(where(path, node.source()) + "`" + key + "` takes true or false");
    return value;
}

std::optional<std::chrono::milliseconds> durationAt(const toml::node& node, const std::string& key, bool aboveZero,
                                                    const std::string& path, std::vector<std::string>& errors) {
    const std::optional<std::string> text = textAt(node, key, path, errors);
    if (!text) return std::nullopt;
    std::chrono::milliseconds value{};
    if (!parseDuration(*text, value) || (aboveZero && value.count() == 0)) {
        errors.push_back(where(path, node.source()) + "`" + key + "` = \"" + *text + "\" is not a duration" +
                         (aboveZero ? " above zero" : "") + " (\"500ms\", \"5s\", \"1m\")");
        return std::nullopt;
    }
    return value;
}

}  // namespace quon
