// Small text helpers the host uses everywhere: case folding for names the
// host matches without regard to case, trimming, and escaping for what
// reaches a terminal.
#ifndef QUON_COMMON_TEXT_H
#define QUON_COMMON_TEXT_H

#include <chrono>
#include <cstddef>
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
// The same with every byte above 0x7F as \xNN too: ASCII only, for texts
// of any bytes (a module's random run) whose encoding is unknown.
std::string escapedBytes(std::string_view text);
// The host's one text policy, applied where a text comes in (a device
// file's names, a router's labels) and again, as a safety net, by each
// output: a text that is valid UTF-8 is UTF-8 (strict: no overlong forms,
// no surrogates, nothing past U+10FFFF); any other text is Windows-1252,
// the code page of the production platform's files, its five unassigned
// bytes kept as the C1 controls browsers decode them to. The component,
// the screens, the page and the trace then show one text for one name.
bool isUtf8(std::string_view text);
std::u32string systemCharacters(std::string_view text);
// The same text as UTF-8; a valid UTF-8 text comes back as it is.
std::string systemText(std::string_view text);
void appendUtf8(std::string& out, char32_t character);

// "1 error", "2 errors": a count and its noun, plural by adding "s".
std::string counted(std::size_t count, const char* noun);

// The time in UTC, "2026-12-08T15:04:05Z"; empty for the epoch (never).
std::string utcText(std::chrono::system_clock::time_point time);
// The same to the millisecond, "2026-12-08T15:04:05.250Z", for a time stamp.
std::string utcMillisText(std::chrono::system_clock::time_point time);

}  // namespace quon

#endif
