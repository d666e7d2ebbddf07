// The commands components send the host: each word's effect on the
// component's panels, the parent panel, the instances, the watches and
// polls and the timers, and the reply. The words and their fields are
// host_commands.h; the reading is command_parser.h.
#include <algorithm>
#include <cstring>

#include "engine_slots.h"
#include "quon/engine/command_parser.h"
#include "quon/engine/engine_components.h"
#include "quon_message_types.h"

namespace quon {

char* engine_components::fromComponentChecked(slot& s, void* data, int type) {
    if (type == QUON_MSG_COMMAND) {
        if (data && s.contract.isFinished())
            listeners_.traceReply(s.name, QUON_MSG_COMMAND, trace_kind::command, static_cast<const char*>(data),
                                  nullptr);
        if (!s.contract.command(static_cast<const char*>(data))) return nullptr;
        return execute(s, static_cast<const char*>(data));
    }
    s.contract.report(violation_kind::wrong_message_type, "message type " + std::to_string(type) + " sent to the host");
    return nullptr;
}

char* engine_components::execute(slot& s, const char* commandText) {
    const std::string_view text = commandText;
    ++totals_.commands;
    if (!listeners_.empty()) {
        scratch_.assign(text.data(), text.size());
        for (host_listener* l : listeners_) l->commandSent(s.name, scratch_);
    }
    // The three commands of a revertive go straight to their effect, each
    // read as the full reading reads it (the parsers' test holds them
    // alike), with no warning unless a name is not found (then the long
    // way says so). A "TP" to the control and property of the display's
    // last is taken by its shape.
    if (s.put && commandText[0] == 'T' && putAgain(s, text)) {
        traceCommand(s, text, nullptr);
        return nullptr;
    }
    if (std::string_view notification; command_reading::quickNotification(text, notification)) {
        notifyParent(s, notification);
        traceCommand(s, text, nullptr);
        traceNotified(s, notification);
        return nullptr;
    }
    if (int numbers[host_command::max_fields]; command_reading::quickRouterName(text, numbers)) {
        char* const reply = routerName(s, numbers);
        traceCommand(s, text, reply);
        return reply;
    }
    host_command c;
    std::string parseError;
    if (!parseHostCommand(text, c, parseError)) {
        listeners_.traceReply(s.name, QUON_MSG_COMMAND, trace_kind::command, text, nullptr);
        listeners_.warn(s.name, "malformed command " + quoted(std::string(text)) + ": " + parseError);
        return nullptr;
    }
    if (c.info->word == host_word::TP && putText(s, c)) {
        traceCommand(s, text, nullptr);
        return nullptr;
    }
    return perform(s, text, c);
}

void engine_components::traceCommand(const slot& s, std::string_view text, const char* reply) const {
    if (listeners_.tracing()) listeners_.traceReply(s.name, QUON_MSG_COMMAND, trace_kind::command, text, reply);
}

char* engine_components::routerName(slot& s, const int (&numbers)[host_command::max_fields]) {
    if (const std::string* name = links_.routers->entryName(numbers[0], numbers[1], numbers[2])) {
        static const host_command_info& rn = hostCommand(host_word::RN);
        return s.contract.give(rn, *name);
    }
    return nullptr;
}

bool engine_components::putText(slot& s, const host_command& c) {
    panel_state* panel = s.panel(c.texts[1]);
    const int control = panel ? panel->layout().find(c.texts[2]) : -1;
    if (control < 0) return false;
    const std::string_view field = c.texts[0];
    const size_t equals = static_cast<size_t>(std::find(field.begin(), field.end(), '=') - field.begin());
    const std::string_view property = field.substr(0, equals);
    const panel_template::control& layout = panel->layout().controls[static_cast<size_t>(control)];
    const int name = layout.find(property);
    tellPropertyChanged(s, *panel, control,
                        name >= 0 ? panel->setAt(control, static_cast<size_t>(name), field.substr(equals + 1))
                                  : panel->set(control, property, field.substr(equals + 1)));
    // The next is taken by its shape (putAgain) where the reading is sure
    // to split it alike: no blank in the panel's or control's id, so the
    // last two "' '" of a text that ends with them are theirs.
    const auto blank = [](const std::string& id) { return id.find(' ') != std::string::npos; };
    if (s.firstPanel && panel == &*s.firstPanel && name >= 0 && !blank(panel->id()) && !blank(layout.id))
        s.put = &layouts_.shape(panel->id(), panel->layout(), control, static_cast<size_t>(name));
    return true;
}

bool engine_components::putAgain(slot& s, std::string_view text) {
    const put_shape& shape = *s.put;
    const size_t head = shape.head.size(), tail = shape.tail.size();
    if (text.size() < head + tail || std::memcmp(text.data(), shape.head.data(), head) != 0 ||
        std::memcmp(text.data() + text.size() - tail, shape.tail.data(), tail) != 0)
        return false;
    panel_state& panel = *s.firstPanel;
    tellPropertyChanged(s, panel, shape.control,
                        panel.setAt(shape.control, shape.name, text.substr(head, text.size() - head - tail)));
    return true;
}

void engine_components::tellPropertyChanged(const slot& s, const panel_state& panel, int control,
                                            std::pair<const std::string*, const std::string*> set) {
    if (listeners_.empty()) return;
    const property_change change{s.name, panel.id(), panel.layout().controls[static_cast<size_t>(control)].id,
                                 *set.first, *set.second};
    for (host_listener* l : listeners_) l->propertyChanged(change);
}

void engine_components::notifyParent(slot& s, std::string_view notification) {
    if (listeners_.empty()) return;
    scratch_.assign(notification.data(), notification.size());
    for (host_listener* l : listeners_) l->parentNotified(s.name, scratch_);
}

void engine_components::traceNotified(const slot& s, std::string_view notification) const {
    if (listeners_.tracing())
        listeners_.note(s.name, trace_kind::notify, "parent panel receives \"" + escaped(notification) + "\"");
}

void engine_components::watchCommand(slot& s, const host_command& c, std::string& warning) {
    const host_word word = c.info->word;
    const int router = c.numbers[0];
    if (!links_.routers->has(router)) {
        warning = "no router " + std::to_string(router);
        // Kept, so that the wall can say what the display watches and why
        // it shows nothing of it.
        if (word == host_word::RR) {
            s.absent = slot::absent_watch{router, c.numbers[1], c.numbers[2]};
            for (host_listener* l : listeners_) l->watched(s.name, router, c.numbers[1], c.numbers[2], c.add);
        } else if (word == host_word::RU && s.absent && s.absent->router == router) {
            s.absent.reset();
        }
        return;
    }
    if (word == host_word::RR) {
        s.absent.reset();
        watchers_.watch(s.seq, router, c.numbers[1], c.numbers[2], c.add);
        for (host_listener* l : listeners_) l->watched(s.name, router, c.numbers[1], c.numbers[2], c.add);
        links_.tally->follow(s.seq);
    } else if (word == host_word::RU) {
        watchers_.unwatch(s.seq, router);
        links_.tally->follow(s.seq);
    } else {
        links_.routers->poll(router, c.numbers[1], c.numbers[2], s.seq);
    }
}

char* engine_components::perform(slot& s, std::string_view text, const host_command& c) {
    char* result = nullptr;
    std::string warning;
    const host_command_info& word = *c.info;
    switch (word.word) {
        case host_word::AS: s.contract.finished(); break;
        case host_word::PS: {
            std::string layoutError;
            const std::string path(c.texts[1]);
            if (const panel_template* layout = layouts_.load(path, layoutError)) {
                // The reply is the panel id, the host's own text: the
                // interned copy lives as long as the engine.
                const std::string& id = layouts_.intern(c.texts[0]);
                if (panel_state* loaded = s.panel(id)) {
                    *loaded = panel_state(id, *layout);
                    if (s.firstPanel && loaded == &*s.firstPanel) s.put = nullptr;
                } else if (!s.firstPanel)
                    s.firstPanel.emplace(id, *layout);
                else
                    (s.morePanels ? *s.morePanels : *(s.morePanels = std::make_unique<std::vector<panel_state>>()))
                        .emplace_back(id, *layout);
                for (host_listener* l : listeners_) l->panelShown(s.name, *s.panel(id));
                s.contract.keep(id.c_str(), word);
                result = const_cast<char*>(id.c_str());
            } else {
                warning = "layout " + quoted(path) + ": " + layoutError;
            }
            break;
        }
        case host_word::TP:
            if (!putText(s, c))
                warning =
                    "no control " + quoted(std::string(c.texts[2])) + " on panel " + quoted(std::string(c.texts[1]));
            break;
        case host_word::TG: {
            panel_state* panel = s.panel(c.texts[0]);
            const int control = panel ? panel->layout().find(c.texts[1]) : -1;
            if (control < 0) {
                warning =
                    "no control " + quoted(std::string(c.texts[1])) + " on panel " + quoted(std::string(c.texts[0]));
            } else if (c.texts[2] == "all") {
                std::string all;
                panel->forEach(control, [&all](const std::string& name, const std::string& value) {
                    all += (all.empty() ? "" : "\n") + name + "=" + value;
                });
                result = s.contract.give(word, all);
            } else {
                const std::string* v = panel->property(control, c.texts[2]);
                result = s.contract.give(word, std::string(c.texts[2]) + "=" + (v ? *v : ""));
            }
            break;
        }
        case host_word::XI: {
            const panel_state* panel = s.panel(c.texts[0]);
            if (!panel) {
                warning = "no panel " + quoted(std::string(c.texts[0]));
            } else {
                std::string ids;
                for (const panel_template::control& control : panel->layout().controls)
                    if (control.id.compare(0, c.texts[1].size(), c.texts[1]) == 0)
                        ids += (ids.empty() ? "" : ",") + control.id;
                result = s.contract.give(word, ids);
            }
            break;
        }
        case host_word::HN: notifyParent(s, c.texts[0]); break;
        case host_word::SD: {
            const std::string name = lowerCase(std::string(c.texts[0]));
            const auto instance =
                std::lower_bound(instances_.begin(), instances_.end(), name,
                                 [](const auto& entry, const std::string& n) { return entry.first < n; });
            if (instance != instances_.end() && instance->first == name)
                result = s.contract.give(word, instance->second);
            break;
        }
        case host_word::RN: result = routerName(s, c.numbers); break;
        case host_word::RR:
        case host_word::RU:
        case host_word::RP: watchCommand(s, c, warning); break;
        case host_word::ET:
            if (c.numberCount == 1) {
                links_.clock->timers().stop(s.seq, c.numbers[0]);
            } else if (c.numbers[1] < 1) {
                warning =
                    "timer interval " + std::to_string(c.numbers[1]) + " is not a positive number of milliseconds";
            } else {
                links_.clock->timers().start(s.seq, c.numbers[0], c.numbers[1], links_.clock->time());
            }
            break;
    }

    traceCommand(s, text, result);
    if (!warning.empty()) listeners_.warn(s.name, warning);
    if (word.word == host_word::HN) traceNotified(s, c.texts[0]);
    return result;
}

}  // namespace quon
