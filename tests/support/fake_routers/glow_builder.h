// glow_builder: Glow messages as an Ember+ provider sends them, for the
// fake provider and the tests of the Ember+ link. Each call returns BER; a
// builder writes every length definite or every container indefinite.
#ifndef QUON_TEST_GLOW_BUILDER_H
#define QUON_TEST_GLOW_BUILDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quon/routers/emberplus/emberplus_glow.h"

namespace quon::fake {

struct glow_builder {
    using path = routers::glow::path;
    bool indefinite = false;

    std::string wrap(std::uint8_t id, const std::string& content) const {
        return indefinite ? routers::ber::wrapIndefinite(id, content) : routers::ber::wrap(id, content);
    }
    std::string ctx(int n, const std::string& content) const { return wrap(routers::ber::context(n), content); }
    std::string app(int n, const std::string& content) const { return wrap(routers::ber::application(n), content); }
    // A Root of these RootElementCollection entries.
    std::string root(const std::string& entries) const { return app(0, app(11, entries)); }
    std::string entry(const std::string& element) const { return ctx(0, element); }
    std::string children(const std::string& entries) const { return ctx(2, app(4, entries)); }

    std::string nodeContents(const std::string& identifier, std::optional<bool> online = std::nullopt) const {
        std::string set = ctx(0, routers::ber::utf8(identifier));
        if (online) set += ctx(3, routers::ber::boolean(*online));
        return ctx(1, wrap(routers::ber::set, set));
    }
    // Node [APP 3] by number, or QualifiedNode [APP 10] by path.
    std::string node(std::uint32_t number, const std::string& fields) const {
        return app(3, ctx(0, routers::ber::integer(number)) + fields);
    }
    std::string qualifiedNode(const path& at, const std::string& fields) const {
        return app(10, ctx(0, routers::ber::relativeOid(at)) + fields);
    }
    std::string parameterContents(const std::string& identifier, const std::string& text) const {
        return ctx(1, wrap(routers::ber::set, ctx(0, routers::ber::utf8(identifier)) + ctx(2, routers::ber::utf8(text)) +
                                                ctx(5, routers::ber::integer(3)) + ctx(13, routers::ber::integer(3))));
    }
    std::string valueOnly(const std::string& text) const {
        return ctx(1, wrap(routers::ber::set, ctx(2, routers::ber::utf8(text))));
    }
    std::string parameter(std::uint32_t number, const std::string& fields) const {
        return app(1, ctx(0, routers::ber::integer(number)) + fields);
    }
    std::string qualifiedParameter(const path& at, const std::string& fields) const {
        return app(9, ctx(0, routers::ber::relativeOid(at)) + fields);
    }
    // MatrixContents; `labelBase` empty: no labels field.
    std::string matrixContents(const std::string& identifier, int targets, int sources, const path& labelBase = {},
                               const std::string& layer = "primary", int type = -1) const {
        std::string set = ctx(0, routers::ber::utf8(identifier));
        if (type >= 0) set += ctx(2, routers::ber::integer(type));
        set += ctx(4, routers::ber::integer(targets)) + ctx(5, routers::ber::integer(sources));
        if (!labelBase.empty())
            set += ctx(10, wrap(routers::ber::sequence,
                                entry(app(18, ctx(0, routers::ber::relativeOid(labelBase)) +
                                                  ctx(1, routers::ber::utf8(layer))))));
        return ctx(1, wrap(routers::ber::set, set));
    }
    std::string connection(std::int64_t target, const std::vector<std::uint32_t>& sources,
                           std::optional<int> disposition = std::nullopt, bool sourcesField = true) const {
        std::string fields = ctx(0, routers::ber::integer(target));
        if (sourcesField) fields += ctx(1, routers::ber::relativeOid(sources));
        if (disposition) fields += ctx(3, routers::ber::integer(*disposition));
        return app(16, fields);
    }
    // The connections field [5] of these Connection TLVs.
    std::string connections(const std::vector<std::string>& list) const {
        std::string entries;
        for (const std::string& c : list) entries += entry(c);
        return ctx(5, wrap(routers::ber::sequence, entries));
    }
    // A targets [3] or sources [4] field whose signals name a labelsLocation each.
    std::string signalsWithLocations(bool targets, const std::vector<std::pair<int, path>>& signals) const {
        std::string entries;
        for (const auto& [number, location] : signals)
            entries += entry(app(targets ? 14 : 15,
                                 ctx(0, routers::ber::integer(number)) +
                                     ctx(1, wrap(routers::ber::set, ctx(2, routers::ber::relativeOid(location))))));
        return ctx(targets ? 3 : 4, wrap(routers::ber::sequence, entries));
    }
    std::string matrix(std::uint32_t number, const std::string& fields) const {
        return app(13, ctx(0, routers::ber::integer(number)) + fields);
    }
    std::string qualifiedMatrix(const path& at, const std::string& fields) const {
        return app(17, ctx(0, routers::ber::relativeOid(at)) + fields);
    }
};

}  // namespace quon::fake

#endif
