// The panels of the components, as the engine keeps them. A layout file is
// the same for every display that loads it, so its controls and property
// names are read once (panel_template, shared and never changed), and each
// display keeps only the values it changed (panel_state): a wall of many
// displays holds the names and the initial values once, and the property
// update of a revertive touches the display's values and the shared names,
// nothing else.
//
// Not thread-safe: the engine's one thread.
#ifndef QUON_ENGINE_PANEL_STATE_H
#define QUON_ENGINE_PANEL_STATE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "quon/engine/panel_layout.h"

namespace quon {

struct panel_template {
    struct control {
        std::string id;
        std::vector<std::string> names;  // the layout's properties, in order
        size_t first = 0;                // where its values start in a panel_state
        // The layout's property `name`, an index of `names`, or -1.
        int find(std::string_view name) const;
    };
    std::vector<control> controls;
    std::vector<std::string> initial;  // every control's values, in order
    // The control `id`, or -1.
    int find(std::string_view id) const;
};

// One loaded panel of one component.
class panel_state {
public:
    panel_state(const std::string& id, const panel_template& layout);

    const std::string& id() const { return *id_; }
    const panel_template& layout() const { return *layout_; }

    // The value of a control's property, or null. `control` is an index of
    // layout().controls.
    const std::string* property(int control, std::string_view name) const;
    // Sets (or adds) a property; returns the name and value as kept, valid
    // until the panel changes again.
    std::pair<const std::string*, const std::string*> set(int control, std::string_view name, std::string_view value);
    // The same for the layout's property `name`, an index of the control's
    // names.
    std::pair<const std::string*, const std::string*> setAt(int control, size_t name, std::string_view value);
    // Every property of a control, in order: the layout's, then those added.
    void forEach(int control, const std::function<void(const std::string&, const std::string&)>& visit) const;

private:
    struct added {
        int control;
        std::string name;
        std::string value;
    };
    // The value of the layout's property `at` (an index of
    // layout().initial): this panel's own, or the layout's.
    const std::string& valueAt(size_t at) const;

    const std::string* id_;         // interned by the layout_library
    const panel_template* layout_;  // owned by the layout_library
    // The layout's properties whose value this panel changed, by their
    // index of layout().initial, in no order: a display changes one or two
    // of its layout's values, so it keeps those alone, not a copy of all;
    // the first in place (`at` npos: none), where a revertive finds it with
    // the display's other fields, any others after it (none while the first
    // place is free). A value set back to the layout's is dropped.
    struct change {
        size_t at;
        std::string value;
    };
    // The change of property `at`, or null.
    change* changeOf(size_t at);
    const change* changeOf(size_t at) const { return const_cast<panel_state*>(this)->changeOf(at); }
    change changed_{static_cast<size_t>(-1), {}};
    std::unique_ptr<std::vector<change>> moreChanged_;
    // Properties the layout lacks, in the order set; none until the first.
    std::unique_ptr<std::vector<added>> added_;
};

// A "TP" to one property of one control of a panel, as every such text
// begins ("TP 'name=") and ends ("' 'panel' 'control'"): a display that
// puts the same property at each revertive compares its texts with these
// two, and what lies between is the value.
struct put_shape {
    std::string head;
    std::string tail;
    int control;  // an index of the layout's controls
    size_t name;  // an index of that control's names
};

// The layouts read so far, the panel ids seen and the put shapes asked
// for, each kept once for the engine's life.
class layout_library {
public:
    // The layout of the file at `path`, read again only when the file
    // changed (its size or time); null with the reason in `error`.
    const panel_template* load(const std::string& path, std::string& error);
    // Between these, each file's size and time are asked once: a wall's
    // displays made together load their layouts as from one look at the
    // folder, not one look (a system call) per display.
    void openBatch();
    void closeBatch();
    // The one copy of a panel id.
    const std::string& intern(std::string_view id);
    // The one put shape of property `name` of `control` of `layout` on the
    // panel `id` (as intern() keeps it).
    const put_shape& shape(const std::string& id, const panel_template& layout, int control, size_t name);

private:
    struct entry {
        std::uintmax_t size = 0;
        int64_t modified = 0;
        uint64_t checkedIn = 0;  // the batch that last asked, or 0
        const panel_template* layout = nullptr;
    };
    std::unordered_map<std::string, entry> byPath_;
    // Every layout ever read: panels made from an older version of a file
    // keep pointing at theirs.
    std::vector<std::unique_ptr<panel_template>> layouts_;
    std::unordered_set<std::string> ids_;
    std::map<std::tuple<const std::string*, const panel_template*, int, size_t>, put_shape> shapes_;
    uint64_t batches_ = 0;
    uint64_t batch_ = 0;  // the open batch, or 0
};

}  // namespace quon

#endif
