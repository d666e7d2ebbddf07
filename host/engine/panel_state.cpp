#include "quon/engine/panel_state.h"

#include <sys/stat.h>

namespace quon {

int panel_template::find(std::string_view id) const {
    for (size_t c = 0; c < controls.size(); ++c)
        if (controls[c].id == id) return static_cast<int>(c);
    return -1;
}

int panel_template::control::find(std::string_view name) const {
    for (size_t p = 0; p < names.size(); ++p)
        if (names[p] == name) return static_cast<int>(p);
    return -1;
}

panel_state::panel_state(const std::string& id, const panel_template& layout) : id_(&id), layout_(&layout) {}

panel_state::change* panel_state::changeOf(size_t at) {
    if (changed_.at == at) return &changed_;
    if (moreChanged_)
        for (change& c : *moreChanged_)
            if (c.at == at) return &c;
    return nullptr;
}

const std::string& panel_state::valueAt(size_t at) const {
    const change* own = changeOf(at);
    return own ? own->value : layout_->initial[at];
}

const std::string* panel_state::property(int control, std::string_view name) const {
    const panel_template::control& c = layout_->controls[static_cast<size_t>(control)];
    for (size_t p = 0; p < c.names.size(); ++p)
        if (c.names[p] == name) return &valueAt(c.first + p);
    if (added_)
        for (const added& a : *added_)
            if (a.control == control && a.name == name) return &a.value;
    return nullptr;
}

std::pair<const std::string*, const std::string*> panel_state::set(int control, std::string_view name,
                                                                   std::string_view value) {
    const int p = layout_->controls[static_cast<size_t>(control)].find(name);
    if (p >= 0) return setAt(control, static_cast<size_t>(p), value);
    if (!added_) added_ = std::make_unique<std::vector<added>>();
    for (added& a : *added_)
        if (a.control == control && a.name == name) {
            a.value.assign(value.data(), value.size());
            return {&a.name, &a.value};
        }
    added_->push_back(added{control, std::string(name), std::string(value)});
    return {&added_->back().name, &added_->back().value};
}

std::pair<const std::string*, const std::string*> panel_state::setAt(int control, size_t name, std::string_view value) {
    const panel_template::control& c = layout_->controls[static_cast<size_t>(control)];
    const size_t at = c.first + name;
    change* own = changeOf(at);
    const std::string& initial = layout_->initial[at];
    if (initial == value) {
        if (own) {
            std::vector<change>* more = moreChanged_.get();
            if (more && !more->empty()) {
                *own = std::move(more->back());
                more->pop_back();
            } else {
                changed_ = change{static_cast<size_t>(-1), {}};
            }
        }
        return {&c.names[name], &initial};
    }
    if (!own) {
        if (changed_.at == static_cast<size_t>(-1)) {
            changed_.at = at;
            changed_.value.assign(value.data(), value.size());
            return {&c.names[name], &changed_.value};
        }
        if (!moreChanged_) moreChanged_ = std::make_unique<std::vector<change>>();
        moreChanged_->push_back(change{at, std::string(value)});
        return {&c.names[name], &moreChanged_->back().value};
    }
    // A name of the same length or shorter, as a display's nearly always
    // is, is written in place.
    std::string& kept = own->value;
    if (value.size() <= kept.size()) {
        std::char_traits<char>::copy(&kept[0], value.data(), value.size());
        kept.erase(value.size());  // sets the length in place, no call into the library
    } else {
        kept.clear();
        kept.append(value.data(), value.size());
    }
    return {&c.names[name], &kept};
}

void panel_state::forEach(int control, const std::function<void(const std::string&, const std::string&)>& visit) const {
    const panel_template::control& c = layout_->controls[static_cast<size_t>(control)];
    for (size_t p = 0; p < c.names.size(); ++p) visit(c.names[p], valueAt(c.first + p));
    if (added_)
        for (const added& a : *added_)
            if (a.control == control) visit(a.name, a.value);
}

const panel_template* layout_library::load(const std::string& path, std::string& error) {
    const auto known = byPath_.find(path);
    // Within a batch a file asked about once is taken as it was then.
    if (batch_ && known != byPath_.end() && known->second.checkedIn == batch_) return known->second.layout;
    struct stat info;
    const bool failed = ::stat(path.c_str(), &info) != 0;
    const int64_t modified = failed ? 0 : static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    const std::uintmax_t size = failed ? 0 : static_cast<std::uintmax_t>(info.st_size);
    if (!failed && known != byPath_.end() && known->second.size == size && known->second.modified == modified) {
        known->second.checkedIn = batch_;
        return known->second.layout;
    }
    panel_layout parsed;
    if (!loadLayout(path, parsed, error)) return nullptr;
    auto layout = std::make_unique<panel_template>();
    for (control_state& control : parsed.controls) {
        panel_template::control c;
        c.id = std::move(control.id);
        c.first = layout->initial.size();
        for (auto& [name, value] : control.properties) {
            c.names.push_back(std::move(name));
            layout->initial.push_back(std::move(value));
        }
        layout->controls.push_back(std::move(c));
    }
    layouts_.push_back(std::move(layout));
    // A file whose size or time cannot be read is read again each time.
    if (failed)
        byPath_.erase(path);
    else
        byPath_[path] = entry{size, modified, batch_, layouts_.back().get()};
    return layouts_.back().get();
}

void layout_library::openBatch() { batch_ = ++batches_; }

void layout_library::closeBatch() { batch_ = 0; }

const std::string& layout_library::intern(std::string_view id) { return *ids_.emplace(id).first; }

const put_shape& layout_library::shape(const std::string& id, const panel_template& layout, int control, size_t name) {
    const auto [at, added] = shapes_.try_emplace({&id, &layout, control, name});
    if (added) {
        const panel_template::control& c = layout.controls[static_cast<size_t>(control)];
        at->second = put_shape{"TP '" + c.names[name] + "=", "' '" + id + "' '" + c.id + "'", control, name};
    }
    return at->second;
}

}  // namespace quon
