// Small text helpers the host uses everywhere: case folding for names the
// host matches without regard to case, trimming, and escaping for what
// reaches a terminal.
#ifndef QUON_COMMON_TEXT_H
#define QUON_COMMON_TEXT_H

#include <chrono>
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
// The time in UTC, "2026-12-08T15:04:05Z"; empty for the epoch (never).
std::string utcText(std::chrono::system_clock::time_point time);

}  // namespace quon

#endif
