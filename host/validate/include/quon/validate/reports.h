// The reports of quon-host validate, as listeners: text for people (a
// line a check and a summary), or one JSON object at the end.
#ifndef QUON_VALIDATE_REPORTS_H
#define QUON_VALIDATE_REPORTS_H

#include <cstdio>

#include "quon/validate/validator.h"

namespace quon {

class text_report : public validation_listener {
public:
    explicit text_report(std::FILE* out) : out_(out) {}
    void started(const validator_options& options) override;
    void checked(const check_result& result) override;
    void finished(const validator_options& options, const std::vector<check_result>& results) override;

private:
    std::FILE* out_;
};

class json_report : public validation_listener {
public:
    explicit json_report(std::FILE* out) : out_(out) {}
    void finished(const validator_options& options, const std::vector<check_result>& results) override;

private:
    std::FILE* out_;
};

}  // namespace quon

#endif
