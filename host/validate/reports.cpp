#include "quon/validate/reports.h"

#include "quon/common/text.h"
#include "quon/output/json_lines.h"

namespace quon {

void text_report::started(const validator_options& options) {
    std::fprintf(out_, "validating %s\nseed %llu (repeat with --seed %llu)\n", escapedControls(options.module).c_str(),
                 static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(options.seed));
}

void text_report::checked(const check_result& r) {
    const std::string detail = escapedBytes(r.detail);
    std::fprintf(out_, "%-9s %-26s %s%s%s (%.0f ms)\n", outcomeLabel(r.outcome), r.id.c_str(), r.description.c_str(),
                 detail.empty() ? "" : "\n          ", detail.c_str(), r.milliseconds);
}

void text_report::finished(const validator_options& options, const std::vector<check_result>& results) {
    int passed = 0, failed = 0, skipped = 0;
    for (const check_result& r : results)
        (r.outcome == check_outcome::passed ? passed : r.outcome == check_outcome::skipped ? skipped : failed)++;
    long lines = 0;
    for (const check_result& r : results) lines += r.debugLines;
    if (lines > 0)
        std::fprintf(out_, "the module wrote %s to standard error (escaped, with their checks): %s\n",
                     counted(static_cast<size_t>(lines), "line").c_str(),
                     options.verbose ? "above" : escapedControls(options.debugLog).c_str());
    std::fprintf(out_, "%d passed, %d failed, %d skipped\n", passed, failed, skipped);
}

void json_report::finished(const validator_options& options, const std::vector<check_result>& results) {
    json checks = json::array();
    bool all = true;
    for (const check_result& r : results) {
        all = all && r.outcome == check_outcome::passed;
        checks.push_back({{"id", r.id},
                          {"description", r.description},
                          {"result", outcomeName(r.outcome)},
                          {"detail", r.detail},
                          {"debug_lines", r.debugLines},
                          {"ms", static_cast<double>(static_cast<long long>(r.milliseconds * 10)) / 10}});
    }
    const json report = {{"module", options.module},
                         {"seed", options.seed},
                         {"messages", options.messages},
                         {"checks", checks},
                         {"debug_log", options.verbose ? "" : options.debugLog},
                         {"passed", all}};
    std::fprintf(out_, "%s\n", jsonLine(report).c_str());
}

}  // namespace quon
