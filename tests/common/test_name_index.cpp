// The flat name index against a plain map, over seeded runs of adds and
// erases that grow it, empty it and fill it again.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "quon/common/name_index.h"

namespace {

TEST(NameIndex, FindsWhatAPlainMapFindsThroughAddsAndErases) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 random(seed);
        // The names' bytes stay put: the index keeps views of them.
        std::vector<std::string> names;
        for (int i = 0; i < 3000; ++i) names.push_back("d" + std::to_string(i));
        names.push_back("");
        quon::name_index index;
        if (seed == 2) index.reserve(1000);
        std::unordered_map<std::string, std::uint64_t> expected;
        for (int step = 0; step < 40000; ++step) {
            // Mostly adds at first, mostly erases in the middle, then adds.
            const bool adding = (step / 10000) % 2 == 0 ? random() % 4 != 0 : random() % 4 == 0;
            const std::string& name = names[random() % names.size()];
            if (adding) {
                const bool in = expected.count(name) != 0;
                ASSERT_EQ(index.insert(name, static_cast<std::uint64_t>(step)), !in) << "seed " << seed << " step " << step;
                if (!in) expected[name] = static_cast<std::uint64_t>(step);
            } else {
                ASSERT_EQ(index.erase(name), expected.erase(name) == 1) << "seed " << seed << " step " << step;
            }
            ASSERT_EQ(index.size(), expected.size());
            if (step % 1000 == 999)
                for (const std::string& n : names) {
                    const auto found = expected.find(n);
                    const std::uint64_t* value = index.find(n);
                    ASSERT_EQ(value != nullptr, found != expected.end()) << n << ", seed " << seed << " step " << step;
                    if (value) {
                        EXPECT_EQ(*value, found->second) << n;
                    }
                }
        }
    }
}

}  // namespace
