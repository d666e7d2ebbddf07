#include "quon/routers/held_state.h"

#include "quon/routers/router_connection.h"

namespace quon::routers {

held_state::news held_state::take(const act::crosspoint& crosspoint) {
    const int* known = routes_.find(crosspoint.destination);
    if (known && *known == crosspoint.source) return crosspoint.newsOnlyIfChanged ? news::none : news::same;
    routes_[crosspoint.destination] = crosspoint.source;
    return news::changed;
}

bool held_state::take(const act::label& label) {
    if (label.database != source_labels && label.database != destination_labels) return false;
    auto& held = labels_[static_cast<std::size_t>(label.database)];
    const std::string* known = held.find(label.index);
    if (known && *known == label.text) return false;
    held[label.index] = label.text;
    return true;
}

const std::string* held_state::label(int database, int index) const {
    if (database != source_labels && database != destination_labels) return nullptr;
    return labels_[static_cast<std::size_t>(database)].find(index);
}

std::optional<int> held_state::source(int destination) const {
    const int* known = routes_.find(destination);
    if (!known) return std::nullopt;
    return *known;
}

}  // namespace quon::routers
