#include "quon/validate/validator.h"

#include "checks.h"
#include "child_runner.h"

namespace quon {

const char* outcomeName(check_outcome outcome) {
    switch (outcome) {
        case check_outcome::passed: return "passed";
        case check_outcome::failed: return "failed";
        case check_outcome::crashed: return "crashed";
        case check_outcome::timed_out: return "timed out";
        case check_outcome::skipped: return "skipped";
    }
    return "";
}

const char* outcomeLabel(check_outcome outcome) {
    switch (outcome) {
        case check_outcome::passed: return "PASS";
        case check_outcome::failed: return "FAIL";
        case check_outcome::crashed: return "CRASH";
        case check_outcome::timed_out: return "TIMEOUT";
        case check_outcome::skipped: return "SKIP";
    }
    return "";
}

int runValidator(const validator_options& options, validation_listener& listener) {
    listener.started(options);
    std::vector<check_result> results;
    // Every other check needs the module loaded; when it is not, they are
    // skipped with the reason the load check gave.
    std::string notLoaded;
    for (const check& k : checks()) {
        check_result r;
        if (!notLoaded.empty()) {
            r = check_result{k.id, k.description, check_outcome::skipped, notLoaded, 0};
        } else {
            r = runInChild(k, options);
            if (std::string(k.id) == "load.rtld-now" && r.outcome != check_outcome::passed)
                notLoaded = std::string("load.rtld-now ") + outcomeName(r.outcome) + ": " + r.detail;
        }
        listener.checked(r);
        results.push_back(r);
    }
    listener.finished(options, results);
    for (const check_result& r : results)
        if (r.outcome != check_outcome::passed) return 1;
    return 0;
}

}  // namespace quon
