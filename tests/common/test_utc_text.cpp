// Times as lines are stamped: UTC, to the second or the millisecond, the
// same whatever came before.
#include <gtest/gtest.h>

#include "quon/common/text.h"

namespace {

using namespace std::chrono;

TEST(UtcText, EachTimeIsWrittenAsItselfWhateverWasWrittenBefore) {
    const system_clock::time_point epoch{};
    const struct {
        system_clock::time_point time;
        const char* second;
        const char* millisecond;
    } cases[] = {
        {epoch + seconds(1796774400), "2026-12-09T00:00:00Z", "2026-12-09T00:00:00.000Z"},
        {epoch + seconds(1796774400) + milliseconds(999), "2026-12-09T00:00:00Z", "2026-12-09T00:00:00.999Z"},
        {epoch + seconds(1796774401) + milliseconds(7), "2026-12-09T00:00:01Z", "2026-12-09T00:00:01.007Z"},
        {epoch + seconds(1796774400) + milliseconds(5), "2026-12-09T00:00:00Z", "2026-12-09T00:00:00.005Z"},
        {epoch + seconds(1), "1970-01-01T00:00:01Z", "1970-01-01T00:00:01.000Z"},
        {epoch, "", ""},
    };
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& c : cases) {
            EXPECT_EQ(quon::utcText(time_point_cast<seconds>(c.time)), c.second);
            EXPECT_EQ(quon::utcMillisText(c.time), c.millisecond);
        }
}

}  // namespace
