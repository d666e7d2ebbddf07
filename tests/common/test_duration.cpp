// The one way to write a duration.
#include <gtest/gtest.h>

#include "case_name.h"
#include "quon/common/duration.h"

namespace {

struct duration_case {
    const char* text;
    bool parses;
    long long milliseconds;
};

class Duration : public testing::TestWithParam<duration_case> {};

TEST_P(Duration, IsAWholeNumberAndMillisecondsSecondsOrMinutes) {
    std::chrono::milliseconds value{-1};
    EXPECT_EQ(quon::parseDuration(GetParam().text, value), GetParam().parses);
    EXPECT_EQ(value.count(), GetParam().parses ? GetParam().milliseconds : -1) << "untouched unless it parses";
}

INSTANTIATE_TEST_SUITE_P(Texts, Duration,
                         testing::Values(duration_case{"500ms", true, 500}, duration_case{"5s", true, 5000},
                                         duration_case{"2m", true, 120000}, duration_case{"0s", true, 0},
                                         duration_case{"1000000000ms", true, 1000000000}, duration_case{"1000000001ms", false, 0},
                                         duration_case{"5", false, 0}, duration_case{"5 s", false, 0},
                                         duration_case{"s", false, 0}, duration_case{"-5s", false, 0},
                                         duration_case{"+5s", false, 0}, duration_case{"5h", false, 0},
                                         duration_case{"1.5s", false, 0}, duration_case{"9999999999s", false, 0},
                                         duration_case{"", false, 0}),
    [](const testing::TestParamInfo<duration_case>& info) { return caseName(info.param.text); });

}  // namespace
