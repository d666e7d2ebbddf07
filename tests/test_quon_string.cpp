#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "quon_string.h"
#include "quon_stringlist.h"

namespace {

std::vector<std::string> items(const quon_stringlist& list) {
    std::vector<std::string> out;
    for (quon_stringlistIterator i = list.begin(); i != list.end(); ++i) out.push_back(static_cast<const char*>(*i));
    return out;
}

struct number_case {
    const char* text;
    int toInt;
    int firstInt;
};

TEST(QuonString, ReadsNumbersAsDocumented) {
    const number_case cases[] = {
        {"4", 4, 4},
        {"-3", -3, -3},
        {"+7", 7, 7},
        {"  12", 12, 12},
        {"64 rows", 64, 64},
        {"x40y", -1, 40},
        {"a-5", -1, -5},
        {"a - 5", -1, 5},
        {"", -1, -1},
        {"abc", -1, -1},
        {"-", -1, -1},
        {"99999999999", INT_MAX, INT_MAX},
        {"-99999999999", INT_MIN, INT_MIN},
        {"2147483647", INT_MAX, INT_MAX},
        {"-2147483648", INT_MIN, INT_MIN},
    };
    for (const number_case& c : cases) {
        EXPECT_EQ(quon_string(c.text).toInt(), c.toInt) << c.text;
        EXPECT_EQ(quon_string(c.text).firstInt(), c.firstInt) << c.text;
    }
}

TEST(QuonString, FormatsIntegersWithoutFill) {
    EXPECT_STREQ(quon_string(1, 0, 0, 10), "1");
    EXPECT_STREQ(quon_string(-2147483647 - 1, 0, 0, 10), "-2147483648");
    EXPECT_STREQ(quon_string(0, 0, 0, 10), "0");
    EXPECT_STREQ(quon_string(255, '0', 4, 16), "00ff");
    EXPECT_STREQ(quon_string(7, 0, 3, 10), "  7");
}

TEST(QuonString, ArgFillsTheLowestMarkerInTurn) {
    EXPECT_STREQ(quon_string("%1=%2").arg("myMatrix").arg(12, 0, 0, 10), "myMatrix=12");
    EXPECT_STREQ(quon_string("%2 then %1").arg("a").arg("b"), "b then a");
    EXPECT_STREQ(quon_string("%1 and %1").arg("x"), "x and x");
    EXPECT_STREQ(quon_string("no marker").arg("x"), "no marker");
    EXPECT_STREQ(quon_string("100%").arg("x"), "100%");
    EXPECT_STREQ(quon_string("%1").arg(""), "");
}

TEST(QuonString, SplitsAtTheFirstSeparator) {
    quon_string left, right;
    EXPECT_EQ(quon_string("value=2=3").split('=', left, right), 5);
    EXPECT_STREQ(left, "value");
    EXPECT_STREQ(right, "2=3");
    EXPECT_EQ(quon_string("nothing").split('=', left, right), -1);
    EXPECT_STREQ(left, "nothing");
    EXPECT_STREQ(right, "");
    quon_string self("a=b");
    self.split('=', self, right);
    EXPECT_STREQ(self, "a");
    EXPECT_STREQ(right, "b");
}

TEST(QuonString, ComparesExactlyAndConcatenates) {
    EXPECT_TRUE(quon_string("abc") == "abc");
    EXPECT_FALSE(quon_string("abc") == "ABC");
    EXPECT_FALSE(quon_string("abc") == "abcd");
    EXPECT_TRUE(quon_string("") == nullptr);
    EXPECT_TRUE(quon_string("a") != quon_string("b"));
    EXPECT_FALSE(quon_string("a") != quon_string("a"));
    quon_string s = quon_string("a") + "b" + quon_string("c");
    s = "<" + s;
    s += s;
    EXPECT_STREQ(s, "<abc<abc");
    EXPECT_EQ(s.length(), 8);
    s = static_cast<const char*>(s) + 1;  // assigning from its own characters
    EXPECT_STREQ(s, "abc<abc");
}

TEST(QuonString, KeepsLongTextsWhole) {
    const std::string longText(1000, 'x');
    quon_string s(longText.c_str());
    quon_string copy = s;
    copy += s;
    EXPECT_EQ(copy.length(), 2000);
    EXPECT_EQ(std::string(copy), longText + longText);
}

TEST(QuonStringList, SplitsKeepingEmptyItems) {
    EXPECT_EQ(items(quon_stringlist("alm_1,alm_2", ',')), (std::vector<std::string>{"alm_1", "alm_2"}));
    EXPECT_EQ(items(quon_stringlist("a,,b,", ',')), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(items(quon_stringlist("single", ',')), (std::vector<std::string>{"single"}));
    EXPECT_TRUE(items(quon_stringlist("", ',')).empty());
}

TEST(QuonStringList, JoinsWithTheSeparator) {
    quon_stringlist list;
    EXPECT_STREQ(list.toString('\n'), "");
    for (int i = 0; i < 10; ++i) list << quon_string(i, 0, 0, 10);
    EXPECT_STREQ(list.toString('\n'), "0\n1\n2\n3\n4\n5\n6\n7\n8\n9");
    quon_stringlist copy(list);
    copy << "x";
    EXPECT_EQ(items(copy).size(), 11u);
    EXPECT_EQ(items(list).size(), 10u);
}

}  // namespace
