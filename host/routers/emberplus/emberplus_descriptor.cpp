#include "quon/routers/emberplus/emberplus_descriptor.h"

#include "quon/routers/emberplus/emberplus_client.h"

namespace quon::routers::emberplus {

namespace {

std::unique_ptr<router_client> makeClient(const router_settings& settings, const emberplus_options& options) {
    return std::make_unique<emberplus_client>(settings, options);
}

}  // namespace

protocol_descriptor descriptor() {
    return describeProtocol<emberplus_options>(
        "emberplus", s101::default_port,
        {// A path, not a number: the matrix is found by walking the provider's tree.
         {"Matrix", [](const std::string& v, emberplus_options& o,
                       std::string& why) { return parseMatrixPath(v, o.matrix, why); }},
         {"AnswerWait", [](const std::string& v, emberplus_options& o,
                           std::string& why) { return readMilliseconds(v, o.answerWait, why); }}},
        &makeClient);
}

}  // namespace quon::routers::emberplus
