// docs/routers.md names, for each freedom a protocol leaves, the test case
// that shows it is taken: each such name in a protocol's section must be a
// case of that protocol's tests. Header only; for the protocols' test
// programs.
#ifndef QUON_TESTS_ROUTERS_DOCS_CASES_H
#define QUON_TESTS_ROUTERS_DOCS_CASES_H

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace quon::test {

inline std::string docsFileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every `CaseName` the section "## heading" of docs/routers.md gives is a
// case in one of `testFiles` (paths from the source folder); the section
// names more than `fewest`.
inline void expectDocsCasesAreTests(const std::string& heading, const std::vector<std::string>& testFiles,
                                    int fewest) {
    const std::string docs = docsFileText(QUON_SOURCE_DIR "/docs/routers.md");
    const std::size_t start = docs.find("\n## " + heading + "\n");
    ASSERT_NE(start, std::string::npos) << heading;
    const std::string section = docs.substr(start, docs.find("\n## ", start + 1) - start);
    std::string tests;
    for (const std::string& file : testFiles) tests += docsFileText(QUON_SOURCE_DIR "/" + file);
    const std::regex caseName("`([A-Z][a-z]+[A-Z][A-Za-z0-9]*)`");
    int named = 0;
    for (std::sregex_iterator it(section.begin(), section.end(), caseName), end; it != end; ++it) {
        const std::string name = (*it)[1];
        ++named;
        EXPECT_TRUE(std::regex_search(tests, std::regex("[ ,{(\"]" + name + "[,)\"]")))
            << name << " is named in docs/routers.md but is no case";
    }
    EXPECT_GT(named, fewest);
}

}  // namespace quon::test

#endif
