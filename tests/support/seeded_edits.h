// Texts near the usual ones: each of `rounds` a usual text with one to three
// characters of `alphabet` put in, over or out at random places, from a
// seed that repeats every choice. For tests that hold two readings alike.
#ifndef QUON_TESTS_SEEDED_EDITS_H
#define QUON_TESTS_SEEDED_EDITS_H

#include <random>
#include <string>
#include <vector>

namespace quon::test {

inline std::vector<std::string> seededEdits(const std::vector<std::string>& usual, const std::string& alphabet,
                                            int rounds, unsigned seed) {
    std::vector<std::string> texts;
    std::mt19937 random(seed);
    for (int round = 0; round < rounds; ++round) {
        std::string text = usual[random() % usual.size()];
        for (int edits = 1 + static_cast<int>(random() % 3); edits > 0; --edits) {
            const size_t at = random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0:
                    if (at < text.size()) text[at] = c;
                    break;
                case 1: text.insert(text.begin() + static_cast<long>(at), c); break;
                default:
                    if (at < text.size()) text.erase(at, 1);
                    break;
            }
        }
        texts.push_back(text);
    }
    return texts;
}

}  // namespace quon::test

#endif
