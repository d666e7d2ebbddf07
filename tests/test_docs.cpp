// The docs kept true: the tables of docs/scenarios.md and docs/base.md list the host
// command words, the scenario verbs and the trace kinds of the code, in its
// order and wording; those of docs/serve.md and docs/umd.md the router and
// receiver states and which of them are up; every example file under docs/examples appears in the
// docs as it stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quon/engine/host_commands.h"
#include "quon/engine/host_events.h"
#include "quon/engine/router_state.h"
#include "quon/scenario/scenario.h"
#ifdef QUON_HAVE_SCREENS
#include "quon/screens/receiver_state.h"
#endif

using namespace quon;

namespace {

const std::string docs_folder = QUON_DOCS_FOLDER;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string withoutTrailingBlanks(const std::string& line) {
    const size_t end = line.find_last_not_of(" \t\r");
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

// The text as the docs hold it in a Markdown code block: every line
// indented by four blanks; blank lines and ends of lines without blanks.
std::string asIndentedBlock(const std::string& text) {
    std::string block;
    for (const std::string& line : linesOf(text)) {
        const std::string kept = withoutTrailingBlanks(line);
        block += (kept.empty() ? "" : "    " + kept) + "\n";
    }
    return block;
}

std::string withoutTrailingBlanksOnLines(const std::string& text) {
    std::string out;
    for (const std::string& line : linesOf(text)) out += withoutTrailingBlanks(line) + "\n";
    return out;
}

std::string trimmedCell(const std::string& cell) {
    const size_t first = cell.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return cell.substr(first, cell.find_last_not_of(' ') - first + 1);
}

// The cells of a Markdown table row; "\|" is a bar inside a cell.
std::vector<std::string> cellsOf(const std::string& row) {
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 1; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
            cell += '|';
            ++i;
        } else if (row[i] == '|') {
            cells.push_back(trimmedCell(cell));
            cell.clear();
        } else {
            cell += row[i];
        }
    }
    return cells;
}

std::string withoutBackquotes(const std::string& cell) {
    if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') return cell.substr(1, cell.size() - 2);
    return cell;
}

// The rows (their cells) of every table whose first heading is `heading`,
// tables taken in the order of the document.
std::vector<std::vector<std::string>> tableRows(const std::string& document, const std::string& heading) {
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    bool wanted = false;
    for (const std::string& raw : linesOf(document)) {
        const std::string line = withoutTrailingBlanks(raw);
        if (line.empty() || line[0] != '|') {
            inTable = false;
            continue;
        }
        const std::vector<std::string> row = cellsOf(line);
        if (row.empty()) continue;
        if (!inTable) {
            inTable = true;
            wanted = row[0] == heading;
            continue;
        }
        if (row[0].find_first_not_of("-:") == std::string::npos) continue;  // the rule under the heading
        if (wanted) rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> firstCells(const std::string& document, const std::string& heading) {
    std::vector<std::string> cells;
    for (const std::vector<std::string>& row : tableRows(document, heading)) cells.push_back(withoutBackquotes(row[0]));
    return cells;
}

std::string listed(const std::vector<std::string>& items) {
    std::string all;
    for (const std::string& item : items) all += "\n  " + item;
    return all;
}

class ScenariosDoc : public ::testing::Test {
protected:
    void SetUp() override {
        document = readText(docs_folder + "/scenarios.md");
        ASSERT_FALSE(document.empty()) << docs_folder << "/scenarios.md cannot be read";
    }
    std::string document;
};

TEST_F(ScenariosDoc, CommandTableListsEveryHostCommandAsTheCodeShapesIt) {
    std::vector<std::string> shapes;
    for (const host_command_info& info : hostCommands()) shapes.push_back(info.shape);
    const std::vector<std::string> rows = firstCells(document, "Command");
    EXPECT_EQ(rows, shapes) << "the table \"Command\" lists:" << listed(rows) << "\nthe code has:" << listed(shapes);
}

TEST_F(ScenariosDoc, CommandTableSaysWhatTheHostDoesAsTheCodeTableDoes) {
    std::vector<std::string> meanings, documented;
    for (const host_command_info& info : hostCommands()) meanings.push_back(std::string(info.shape) + ": " + info.meaning);
    for (const std::vector<std::string>& row : tableRows(document, "Command"))
        documented.push_back(withoutBackquotes(row[0]) + ": " + (row.size() > 1 ? row[1] : "(no cell)"));
    EXPECT_EQ(documented, meanings) << "the table \"Command\" says:" << listed(documented)
                                    << "\nthe code has:" << listed(meanings);
}

TEST_F(ScenariosDoc, LineTablesListEveryVerbAndExpectationAsTheCodeWritesItsUsage) {
    std::vector<std::string> usages;
    for (const verb_info& verb : verbs()) usages.push_back(verb.usage);
    const std::vector<std::string> rows = firstCells(document, "Line");
    EXPECT_EQ(rows, usages) << "the tables \"Line\" list:" << listed(rows) << "\nthe code has:" << listed(usages);
}

TEST_F(ScenariosDoc, TraceLegendListsEveryKindOfTraceLine) {
    std::vector<std::string> kinds;
    for (int kind = static_cast<int>(trace_kind::parent); kind <= static_cast<int>(trace_kind::router); ++kind)
        kinds.push_back(traceKindName(static_cast<trace_kind>(kind)));
    const std::vector<std::string> rows = firstCells(document, "Kind");
    EXPECT_EQ(rows, kinds) << "the table \"Kind\" lists:" << listed(rows) << "\nthe code has:" << listed(kinds);
}

// docs/base.md: the table of the base's operations lists every command
// word as the host's table shapes it, and says which replies the base
// reads and hands back as the host's table does.
TEST(BaseDoc, OperationTableListsEveryHostCommandAndWhichRepliesAreHandedBack) {
    const std::string document = readText(docs_folder + "/base.md");
    ASSERT_FALSE(document.empty()) << docs_folder << "/base.md cannot be read";
    std::vector<std::string> shapes;
    std::vector<std::string> handedBack;
    for (const host_command_info& info : hostCommands()) {
        shapes.push_back(info.shape);
        handedBack.push_back(std::string(info.shape) + ": " + (info.replyRead ? "yes" : "no"));
    }
    std::vector<std::string> rows;
    std::vector<std::string> documented;
    for (const std::vector<std::string>& row : tableRows(document, "Command")) {
        rows.push_back(withoutBackquotes(row[0]));
        documented.push_back(withoutBackquotes(row[0]) + ": " + (row.size() > 2 ? row[2] : "(no cell)"));
    }
    EXPECT_EQ(rows, shapes) << "base.md's table \"Command\" lists:" << listed(rows)
                            << "\nthe code has:" << listed(shapes);
    EXPECT_EQ(documented, handedBack) << "base.md's column \"Reply handed back\" says:" << listed(documented)
                                      << "\nthe code has:" << listed(handedBack);
}

// A table of states, its name and whether each is up, as the code's table
// gives them: "name: yes" or "name: no", in order.
std::vector<std::string> stateRows(const std::string& document, const std::string& heading) {
    std::vector<std::string> rows;
    for (const std::vector<std::string>& row : tableRows(document, heading))
        rows.push_back(withoutBackquotes(row[0]) + ": " + (row.size() > 1 ? row[1] : "(no cell)"));
    return rows;
}

TEST(ServeDoc, RouterStateTableListsEveryStateAndWhetherItIsUp) {
    const std::string document = readText(docs_folder + "/serve.md");
    ASSERT_FALSE(document.empty()) << docs_folder << "/serve.md cannot be read";
    std::vector<std::string> states;
    for (const router_state_name& s : router_states) states.push_back(std::string(s.name) + ": " + (s.up ? "yes" : "no"));
    const std::vector<std::string> rows = stateRows(document, "Router state");
    EXPECT_EQ(rows, states) << "the table \"Router state\" lists:" << listed(rows) << "\nthe code has:" << listed(states);
}

#ifdef QUON_HAVE_SCREENS
TEST(UmdDoc, ReceiverStateTableListsEveryStateAndWhetherItIsUp) {
    const std::string document = readText(docs_folder + "/umd.md");
    ASSERT_FALSE(document.empty()) << docs_folder << "/umd.md cannot be read";
    std::vector<std::string> states;
    for (const umd_receiver_state_name& s : umd_receiver_states)
        states.push_back(std::string(s.name) + ": " + (s.up ? "yes" : "no"));
    const std::vector<std::string> rows = stateRows(document, "State");
    EXPECT_EQ(rows, states) << "the table \"State\" lists:" << listed(rows) << "\nthe code has:" << listed(states);
}
#endif

struct shown_file {
    const char* document;  // under docs/
    const char* file;      // under docs/examples/
};

TEST(DocsExamples, EveryExampleFileAppearsInItsDocumentAsItStands) {
    const shown_file shown[] = {
        {"scenarios.md", "vx/demo/config/system/dev_001.ini"},
        {"scenarios.md", "vx/demo/config/system/instances.ini"},
        {"scenarios.md", "panels/umdMimic.quon_ui"},
        {"scenarios.md", "example.quon"},
        {"scenarios.md", "example.trace"},
        {"scenarios.md", "json.quon"},
        {"scenarios.md", "json.jsonl"},
        {"korvane.md", "korvane_settings.quon"},
        {"korvane.md", "korvane_settings.trace"},
        {"korvane.md", "korvane_watch.quon"},
        {"korvane.md", "korvane_watch.trace"},
    };
    for (const shown_file& s : shown) {
        const std::string text = readText(docs_folder + "/" + s.document);
        const std::string content = readText(docs_folder + "/examples/" + s.file);
        ASSERT_FALSE(text.empty()) << s.document << " cannot be read";
        ASSERT_FALSE(content.empty()) << s.file << " cannot be read";
        // Anchored at a line start, so that the block's first line is a whole line.
        const std::string document = "\n" + withoutTrailingBlanksOnLines(text);
        const std::string block = asIndentedBlock(content);
        EXPECT_NE(document.find("\n" + block), std::string::npos)
            << s.document << " does not show examples/" << s.file << " as it stands; it should hold:\n"
            << block;
    }
}

// docs/architecture.md: its table of folders lists every part of the host,
// and each word's code names are names the code has.
class ArchitectureDoc : public ::testing::Test {
protected:
    void SetUp() override {
        document = readText(docs_folder + "/architecture.md");
        ASSERT_FALSE(document.empty()) << docs_folder << "/architecture.md cannot be read";
    }
    std::string document;
    const std::filesystem::path source = std::filesystem::path(docs_folder) / "..";
};

TEST_F(ArchitectureDoc, TheFolderTableListsEveryPartOfTheHost) {
    const std::vector<std::string> listed = firstCells(document, "Folder");
    ASSERT_FALSE(listed.empty());
    for (const auto& entry : std::filesystem::directory_iterator(source / "host"))
        if (entry.is_directory() && std::filesystem::exists(entry.path() / "CMakeLists.txt")) {
            const std::string folder = entry.path().filename().string() + "/";
            EXPECT_NE(std::find(listed.begin(), listed.end(), folder), listed.end()) << folder << " is not in the table";
        }
}

TEST_F(ArchitectureDoc, EachWordNamesCodeThatExists) {
    std::string code;
    for (const char* folder : {"host", "include", "win32"})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(source / folder)) {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() && (extension == ".h" || extension == ".cpp")) code += readText(entry.path().string());
        }
    const std::vector<std::vector<std::string>> rows = tableRows(document, "Word");
    ASSERT_GT(rows.size(), 10u);
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 3u) << row[0];
        for (size_t at = row[2].find('`'); at != std::string::npos; at = row[2].find('`', row[2].find('`', at + 1) + 1)) {
            std::string name = row[2].substr(at + 1, row[2].find('`', at + 1) - at - 1);
            if (const size_t scope = name.rfind("::"); scope != std::string::npos) name = name.substr(scope + 2);
            EXPECT_NE(code.find(name), std::string::npos) << row[0] << ": no " << name << " in the code";
        }
    }
}

TEST_F(ArchitectureDoc, TheListenerTableListsEveryEventOfTheEngine) {
    const std::string header =
        readText((source / "host/engine/include/quon/engine/host_listener.h").string());
    std::string handlers;
    for (const std::vector<std::string>& row : tableRows(document, "Handler")) handlers += row[0] + "\n";
    ASSERT_FALSE(handlers.empty());
    int events = 0;
    for (size_t at = header.find("virtual "); at != std::string::npos; at = header.find("virtual ", at + 1)) {
        const size_t open = header.find('(', at);
        const size_t start = header.find_last_of(" ~", open) + 1;
        const std::string name = header.substr(start, open - start);
        if (header[start - 1] == '~' || name == "wantsTrace") continue;
        ++events;
        const bool listed = handlers.find("`" + name + "(") != std::string::npos ||
                            handlers.find("`" + name + "`") != std::string::npos;
        EXPECT_TRUE(listed) << name << " is not in the listener table";
    }
    EXPECT_GT(events, 10);
}

// The helpers above decide what the checks see; they are pinned down here
// so that a check cannot pass by reading nothing.
TEST(DocsTableReader, TakesFirstCellsOfTheTablesUnderAHeading) {
    const std::string document =
        "| Line | What |\n|---|---|\n| `a b` | x |\n| `c yes\\|no` | y |\n\ntext\n\n"
        "| Other | What |\n|---|---|\n| `z` | w |\n\n| Line | Holds |\n|---|---|\n| `d` | e |\n";
    EXPECT_EQ(firstCells(document, "Line"), (std::vector<std::string>{"a b", "c yes|no", "d"}));
    EXPECT_EQ(firstCells(document, "Other"), (std::vector<std::string>{"z"}));
    EXPECT_TRUE(firstCells(document, "Missing").empty());
}

TEST(DocsTableReader, IndentsABlockAsMarkdownDoes) {
    EXPECT_EQ(asIndentedBlock("a\n\nb  \n"), "    a\n\n    b\n");
    EXPECT_EQ(asIndentedBlock("last line without end"), "    last line without end\n");
}

}  // namespace
