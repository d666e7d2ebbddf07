#include "quon/validate/validator.h"

#include <cstdio>

#include "checks.h"
#include "quon/common/text.h"
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

namespace {

// Files a check's standard error: each line escaped (the random run's texts
// may hold any byte), headed by the check's id. Returns the lines.
long fileDebugLines(const std::string& checkId, const std::string& output, const validator_options& options,
                    std::FILE*& log) {
    long lines = 0;
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        if (!options.verbose && !log) log = std::fopen(options.debugLog.c_str(), "w");
        std::FILE* to = options.verbose ? stderr : log;
        if (to) std::fprintf(to, "%s: %s\n", checkId.c_str(), escapedBytes(output.substr(at, end - at)).c_str());
        ++lines;
        at = end + 1;
    }
    return lines;
}

}  // namespace

int runValidator(const validator_options& options, validation_listener& listener) {
    listener.started(options);
    std::FILE* log = nullptr;
    std::vector<check_result> results;
    // Every other check needs the module loaded; when it is not, they are
    // skipped with the reason the load check gave.
    std::string notLoaded;
    for (const check& k : checks()) {
        check_result r;
        if (!notLoaded.empty()) {
            r = check_result{k.id, k.description, check_outcome::skipped, notLoaded, 0};
        } else {
            std::string output;
            r = runInChild(k, options, output);
            r.debugLines = fileDebugLines(k.id, output, options, log);
            if (std::string(k.id) == "load.rtld-now" && r.outcome != check_outcome::passed)
                notLoaded = std::string("load.rtld-now ") + outcomeName(r.outcome) + ": " + r.detail;
        }
        listener.checked(r);
        results.push_back(r);
    }
    if (log) std::fclose(log);
    listener.finished(options, results);
    for (const check_result& r : results)
        if (r.outcome != check_outcome::passed) return 1;
    return 0;
}

}  // namespace quon
