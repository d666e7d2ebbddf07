// A wall file of any contents: the quick reading, where it reads the file
// at all, reads what the full reading does, and parseWall says what the
// full reading says.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "quon/live/wall_file.h"
#include "wall_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string path = "walls/wall.toml";
    quon::wall full, parsed, quick;
    std::vector<std::string> fullErrors, parseErrors;
    const bool fullRead = quon::wall_reading::full(text, path, full, fullErrors);
    const std::string expected = quon::test::described(fullRead, full, fullErrors);
    FUZZ_CHECK(quon::test::described(quon::parseWall(text, path, parsed, parseErrors), parsed, parseErrors) == expected);
    if (quon::wall_reading::quick(text, path, quick)) FUZZ_CHECK(quon::test::described(true, quick, {}) == expected);
    return 0;
}
