#include "checks.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

#include "quon/engine/module_cache.h"
#include "quon/validate/contract_host.h"
#include "quon_message_types.h"
#include "quon_records.h"

extern char** environ;

namespace quon {

namespace {

using clock_type = std::chrono::steady_clock;

void require(bool ok, const std::string& why) {
    if (!ok) throw check_failed{why};
}

void requireClean(const contract_host& host, const std::string& when) {
    if (!host.violations().empty()) throw check_failed{when + ": " + host.violations().front().text};
}

// Each check runs in a child of its own, so one cache a check is enough;
// the modules stay loaded until the child ends.
load_function loadModule(const validator_options& options) {
    static module_cache modules(options.modules);
    std::string error;
    const load_function load = modules.load(options.module, error);
    if (!load) throw check_failed{error};
    return load;
}

}  // namespace

void prepareSystem() {
    const std::string root = "/tmp/quon-validate-" + std::to_string(getpid());
    const std::string folder = root + "/main/config/system";
    std::filesystem::create_directories(folder);
    for (int device = 1; device <= 3; ++device) {
        char name[32];
        std::snprintf(name, sizeof name, "/dev_%03d.ini", device);
        std::ofstream(folder + name) << "[Database]\nDatabaseSize_0=16\nDatabaseSize_1=16\n";
    }
    setenv("VX_ROOT", root.c_str(), 1);
    setenv("VX_SYSTEM", "main", 1);
}

void removeSystem() {
    std::error_code ignored;
    std::filesystem::remove_all("/tmp/quon-validate-" + std::to_string(getpid()), ignored);
}

namespace {

// One component's life on a contract host.
class life {
public:
    life(load_function load, contract_host& host) : host_(host) {
        component_ = load(&host, "panels");
        require(component_ != nullptr, "load_quon_client_script returned no component");
    }
    ~life() {
        if (component_) end();
    }
    void end() {
        delete component_;
        component_ = nullptr;
        host_.componentDestroyed();
    }
    // A parent command; checks the result and hands it back.
    void parent(const char* text, std::string* reply = nullptr) {
        char* result = component_->callback(const_cast<char*>(text), QUON_MSG_PARENT);
        host_.parentReplied(text, result);
        if (!result) return;
        if (reply) *reply = result;
        component_->callback(result, QUON_MSG_RELEASE);
    }
    char* deliver(void* data, int type) { return component_->callback(data, type); }

private:
    contract_host& host_;
    quon_client_callback* component_ = nullptr;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) out.push_back(line);
    return out;
}

// ---- the checks -------------------------------------------------------


void checkLoads(check_context& c) { loadModule(c.options); }

void checkCreateDestroy(check_context& c) {
    const load_function load = loadModule(c.options);
    contract_host host;
    const clock_type::time_point start = clock_type::now();
    for (int i = 0; i < 100; ++i) {
        life component(load, host);
        component.end();
        requireClean(host, "create and destroy");
    }
    const double each = std::chrono::duration<double, std::micro>(clock_type::now() - start).count() / 100;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f us per create and destroy", each);
    c.detail = text;
    require(each < 100000, "creating and destroying a component takes " + std::string(text));
}

void checkUnknownTypes(check_context& c) {
    const load_function load = loadModule(c.options);
    contract_host host;
    life component(load, host);
    host.clearCommands();
    for (int type : {0, -1, 8, 9, 1000, INT_MAX, INT_MIN}) {
        for (void* data : {static_cast<void*>(nullptr), static_cast<void*>(const_cast<char*>("x"))}) {
            require(component.deliver(data, type) == nullptr,
                    "message type " + std::to_string(type) + " returned a text");
        }
    }
    require(component.deliver(nullptr, QUON_MSG_RELEASE) == nullptr, "type 5 with null returned a text");
    require(host.commands().empty(), "an unknown message type made it send \"" +
                                         (host.commands().empty() ? std::string() : host.commands().front()) + "\"");
    component.end();
    requireClean(host, "unknown message types");
}

// The component's own command and event lists, as "name" items.
std::vector<std::string> advertised(load_function load) {
    contract_host host;
    life component(load, host);
    std::string commands, events;
    component.parent("_commands", &commands);
    component.parent("_events", &events);
    std::vector<std::string> names;
    for (const std::string& l : lines(commands)) names.push_back(l.substr(0, l.find('=')));
    for (const std::string& l : lines(events)) names.push_back(l.substr(0, l.find('=')));
    return names;
}

void checkParentResults(check_context& c) {
    const load_function load = loadModule(c.options);
    const std::vector<std::string> names = advertised(load);
    contract_host host;
    life component(load, host);
    std::vector<std::string> texts = {"", "_commands", "_events", "return=all", "=", ".", "a.b.c=d", "x=%1%2"};
    for (const std::string& name : names) {
        texts.push_back(name);
        texts.push_back(name + "=1");
        texts.push_back(name + "=-2147483648");
        texts.push_back(name + "=");
        texts.push_back("return=" + name);
    }
    component.parent(nullptr);
    for (const std::string& t : texts) component.parent(t.c_str());
    component.end();
    requireClean(host, "parent commands");
    c.detail = std::to_string(texts.size() + 1) + " parent commands";
}

void checkRepliesHandedBack(check_context& c) {
    const load_function load = loadModule(c.options);
    const std::vector<std::string> names = advertised(load);
    std::mt19937_64 random(c.options.seed ^ 0x5eed);
    for (contract_host::replies kind :
         {contract_host::replies::text, contract_host::replies::null, contract_host::replies::random}) {
        contract_host host;
        host.setReplies(kind, &random);
        life component(load, host);
        for (const std::string& name : names) {
            component.parent((name + "=1").c_str());
            component.parent((name + "=2").c_str());
        }
        component.parent("instance=a");
        component.parent("instance=b");
        revertiveRecord revertive{1, 0, 2, 5};
        component.deliver(&revertive, QUON_MSG_REVERTIVE);
        databaseRecord database{1, 0, 5};
        component.deliver(&database, QUON_MSG_DATABASE);
        component.deliver(reinterpret_cast<void*>(1), QUON_MSG_TIMER);
        component.end();
        requireClean(host, kind == contract_host::replies::text   ? "with text replies"
                           : kind == contract_host::replies::null ? "with null replies"
                                                                  : "with random replies");
    }
}

void checkTeardown(check_context& c) {
    const load_function load = loadModule(c.options);
    const std::vector<std::string> names = advertised(load);
    contract_host host;
    for (int round = 0; round < 4; ++round) {
        life component(load, host);
        for (size_t i = 0; i < names.size() && round > 0; ++i)
            component.parent((names[i] + "=" + std::to_string(round)).c_str());
        if (round > 1) {
            revertiveRecord revertive{round - 1, 0, round - 1, 3};
            component.deliver(&revertive, QUON_MSG_REVERTIVE);
        }
        component.end();
        requireClean(host, "teardown after round " + std::to_string(round));
    }
}

void checkWellFormed(check_context& c) {
    const load_function load = loadModule(c.options);
    contract_host host;
    std::mt19937_64 random(c.options.seed ^ 0xf0);
    host.setReplies(contract_host::replies::random, &random);
    life component(load, host);
    const std::vector<std::string> names = advertised(load);
    for (const std::string& name : names)
        for (const char* value : {"1", "999", "1000", "-1", "x", "it's", "' '", "%1"})
            component.parent((name + "=" + value).c_str());
    component.end();
    requireClean(host, "command texts");
    c.detail = std::to_string(host.commands().size()) + " command texts";
}

// Seeded random message sequences over many lives.
class sequence_generator {
public:
    sequence_generator(uint64_t seed, std::vector<std::string> names) : random_(seed), names_(std::move(names)) {}

    int32_t boundary() {
        static const int32_t values[] = {0, 1, 2, 3, -1, 16, 17, 999, 1000, INT32_MAX, INT32_MIN};
        return random_() % 3 ? values[random_() % (sizeof values / sizeof values[0])] : static_cast<int32_t>(random_());
    }
    std::string parentText() {
        switch (random_() % 6) {
            case 0: return "";
            case 1: return std::string(1 << 20, 'x');
            case 2: {
                std::string junk(random_() % 64, ' ');
                for (char& ch : junk) ch = static_cast<char>(1 + random_() % 255);
                return junk;
            }
            default:
                if (names_.empty()) return "x=1";
                const std::string& name = names_[random_() % names_.size()];
                switch (random_() % 4) {
                    case 0: return "return=" + name;
                    case 1: return name;
                    default: return name + "=" + std::to_string(boundary());
                }
        }
    }
    uint64_t next() { return random_(); }

private:
    std::mt19937_64 random_;
    std::vector<std::string> names_;
};

void checkRandomSequences(check_context& c) {
    const load_function load = loadModule(c.options);
    sequence_generator generate(c.options.seed, advertised(load));
    std::mt19937_64 replies(c.options.seed ^ 0xabcdef);
    contract_host host;
    host.setReplies(contract_host::replies::random, &replies);
    long lives = 0;
    long sent = 0;
    while (sent < c.options.messages) {
        life component(load, host);
        ++lives;
        const long length = 1 + static_cast<long>(generate.next() % 2000);
        for (long i = 0; i < length && sent < c.options.messages; ++i, ++sent) {
            const std::string where =
                "message " + std::to_string(sent) + " (seed " + std::to_string(c.options.seed) + ")";
            char* result = nullptr;
            switch (generate.next() % 10) {
                case 0:
                case 1: {
                    const std::string text = generate.parentText();
                    component.parent(generate.next() % 50 ? text.c_str() : nullptr);
                    break;
                }
                case 2:
                case 3: {
                    revertiveRecord r{generate.boundary(), generate.boundary(), generate.boundary(),
                                      generate.boundary()};
                    if (generate.next() % 2)
                        r = revertiveRecord{1 + static_cast<int32_t>(generate.next() % 3), 0,
                                            1 + static_cast<int32_t>(generate.next() % 17),
                                            static_cast<int32_t>(generate.next() % 20)};
                    result = component.deliver(&r, QUON_MSG_REVERTIVE);
                    break;
                }
                case 4:
                    result = component.deliver(
                        reinterpret_cast<void*>(static_cast<intptr_t>(generate.next() % 3 ? 1 : generate.boundary())),
                        QUON_MSG_TIMER);
                    break;
                case 5: {
                    databaseRecord d{generate.boundary(), generate.boundary(), generate.boundary()};
                    result = component.deliver(&d, QUON_MSG_DATABASE);
                    break;
                }
                case 6: {
                    static const char* const ids[] = {"AckAll", "ActionAll", "myMimic", ""};
                    const char* empty = "";
                    parentCommandRecord event{};
                    event.command = generate.next() % 2 ? "alarm" : empty;
                    event.value = generate.next() % 2 ? "ack" : "2";
                    for (const char*& s : event.sub) s = empty;
                    buttonRecord b{};
                    b.id = ids[generate.next() % 4];
                    b.event = &event;
                    result = component.deliver(&b, QUON_MSG_BUTTON);
                    break;
                }
                case 7:
                    result = component.deliver(reinterpret_cast<void*>(static_cast<intptr_t>(generate.boundary())),
                                               QUON_MSG_VALUE);
                    break;
                case 8: result = component.deliver(nullptr, QUON_MSG_RELEASE); break;
                default: {
                    const int types[] = {0, -1, 8, 1000, INT_MIN};
                    result = component.deliver(const_cast<char*>("x"), types[generate.next() % 5]);
                    break;
                }
            }
            require(result == nullptr, where + ": a message other than a parent command returned a text");
            requireClean(host, where);
        }
        component.end();
        requireClean(host,
                     "teardown of life " + std::to_string(lives) + " (seed " + std::to_string(c.options.seed) + ")");
    }
    c.detail = std::to_string(sent) + " messages over " + std::to_string(lives) + " lives";
}

std::vector<std::string> environmentNow() {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) entries.push_back(*e);
    std::sort(entries.begin(), entries.end());
    return entries;
}

void checkProcessState(check_context& c) {
    const load_function load = loadModule(c.options);
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    const std::vector<std::string> environment = environmentNow();
    {
        contract_host host;
        life component(load, host);
        for (const std::string& name : advertised(load)) component.parent((name + "=1").c_str());
        revertiveRecord r{1, 0, 1, 2};
        component.deliver(&r, QUON_MSG_REVERTIVE);
    }
    require(locale == std::setlocale(LC_ALL, nullptr), "the process locale changed");
    require(environment == environmentNow(), "the environment changed");
}

}  // namespace

const std::vector<check>& checks() {
    static const std::vector<check> table = {
    {"load.rtld-now", "the module loads with RTLD_NOW and exports load_quon_client_script", checkLoads, false},
    {"lifecycle.create-destroy", "a component is created and destroyed quickly, cleanly, 100 times", checkCreateDestroy,
     false},
    {"dispatch.unknown-types", "unknown message types return null and send nothing; type 5 with null is ignored",
     checkUnknownTypes, false},
    {"parent.results", "parent command results are null or non-empty texts, released when handed back",
     checkParentResults, false},
    {"ownership.replies", "every reply the component reads is handed back exactly once, and no other",
     checkRepliesHandedBack, false},
    {"teardown.as-last", "\"AS\" ends every teardown and nothing follows it", checkTeardown, false},
    {"commands.well-formed", "every command text is a known command word with the fields its grammar allows",
     checkWellFormed, false},
    {"random.sequences", "seeded random message sequences over many lives keep every rule above", checkRandomSequences,
     true},
    {"process.unchanged", "the component leaves the process locale and environment unchanged", checkProcessState,
     false},
};
    return table;
}

}  // namespace quon
