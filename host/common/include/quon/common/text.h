// Small text helpers the host uses everywhere: case folding for names the
// host matches without regard to case, trimming, and escaping for what
// reaches a terminal.
#ifndef QUON_COMMON_TEXT_H
#define QUON_COMMON_TEXT_H

#include <string>
#include <string_view>

namespace quon {

// ASCII letters folded to lower case; other bytes as they are.
std::string lowerCase(std::string text);
// Without blanks, tabs, CR and LF at either end.
std::string trimmed(std::string_view text);
// Line feeds, tabs, CR, quotes and backslashes as \n, \t, \r, \" and \\,
// other control characters (and DEL) as \xNN, so that a text shown in
// quotes on a terminal can neither end the quote nor drive the terminal.
std::string escaped(std::string_view text);
// The same without quoting '"' and '\\': for free text in a message.
std::string escapedControls(std::string_view text);

}  // namespace quon

#endif
