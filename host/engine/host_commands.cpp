#include "quon/engine/host_commands.h"

#include <array>

namespace quon {

const std::vector<host_command_info>& hostCommands() {
    static const std::vector<host_command_info> table = {
        {host_word::PS, "PS", field_kind::texts, 2, 3, false, "PS 'panel' 'file' ['extra']",
         "loads the layout as that panel of the component; replies the panel id (the host's text, not "
         "handed back), or null"},
        {host_word::TP, "TP", field_kind::texts, 3, 3, false, "TP 'property=value' 'panel' 'control'",
         "sets the property (a new one is added)"},
        {host_word::TG, "TG", field_kind::texts, 3, 3, true, "TG 'panel' 'control' 'property'",
         "replies `property=value` (`property=` for a property the control lacks); for `all`, every "
         "property as `name=value` lines joined by line feeds; null for an unknown panel or control"},
        {host_word::XI, "XI", field_kind::texts, 2, 2, true, "XI 'panel' 'prefix'",
         "the ids of the panel's controls that begin with the prefix, comma-separated, in layout order"},
        {host_word::HN, "HN", field_kind::texts, 1, 1, false, "HN 'text'",
         "the component's parent panel receives the text (shown and recorded)"},
        {host_word::SD, "SD", field_kind::texts, 1, 1, true, "SD 'instance'",
         "`device index` from `instances.ini` (names ignore letter case), or null"},
        {host_word::RN, "RN", field_kind::numbers, 3, 3, true, "RN device database index",
         "the entry's name, or null"},
        {host_word::RR, "RR", field_kind::numbers, 3, 3, false, "RR device first last ['ADD']",
         "the component's registrations on the router become first..last; with `'ADD'` first..last is "
         "added to them"},
        {host_word::RU, "RU", field_kind::numbers, 1, 1, false, "RU device",
         "drops the component's registrations on the router"},
        {host_word::RP, "RP", field_kind::numbers, 3, 3, false, "RP device first last",
         "one revertive per polled destination (first..last, cut to the router), when the router "
         "answers"},
        {host_word::ET, "ET", field_kind::numbers, 1, 2, false, "ET id [interval]",
         "with an interval: starts (or restarts) a timer that delivers type 4 every `interval` "
         "milliseconds of host time; without: stops it"},
        {host_word::AS, "AS", field_kind::none, 0, 0, false, "AS",
         "the component's last command; anything after it is a protocol violation"},
    };
    return table;
}

const host_command_info* findHostCommand(std::string_view word) {
    // Every word is two capitals; this runs for every command a component
    // sends, so the words are indexed by their letters once.
    static const std::array<const host_command_info*, 26 * 26> byLetters = [] {
        std::array<const host_command_info*, 26 * 26> index{};
        for (const host_command_info& info : hostCommands())
            index[static_cast<size_t>((info.text[0] - 'A') * 26 + (info.text[1] - 'A'))] = &info;
        return index;
    }();
    if (word.size() != 2 || word[0] < 'A' || word[0] > 'Z' || word[1] < 'A' || word[1] > 'Z') return nullptr;
    return byLetters[static_cast<size_t>((word[0] - 'A') * 26 + (word[1] - 'A'))];
}

const host_command_info& hostCommand(host_word word) { return hostCommands()[static_cast<size_t>(word)]; }

}  // namespace quon
