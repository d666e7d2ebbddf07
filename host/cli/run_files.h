// quon-host run and the demo: scenario scripts, each on a fresh system.
#ifndef QUON_CLI_RUN_FILES_H
#define QUON_CLI_RUN_FILES_H

#include "options.h"

namespace quon {

// Sets VX_ROOT and VX_SYSTEM to the sample system when neither is set, so
// that the host and the modules it loads read the same files. False, with
// a message printed, when only one of them is set.
bool useSampleSystemUnlessSet();
// The configured system, its warnings printed to stderr.
system_description readConfiguredSystem(output_format format);
// Prints a host warning: to stderr as text, or to stdout as a JSON line.
void printWarning(output_format format, const std::string& text);

// serve's lines carry the time they were written: a text line starts with
// it, a JSON line has "time". Under systemd, whose journal stamps every line
// itself, a text line does not (JOURNAL_STREAM names the stream).
void stampOutput(bool on);
// "2026-12-08T15:04:05.250Z " when text lines are stamped, else empty.
std::string lineStamp();
// Whether standard output or standard error is the journal's stream.
bool writingToJournal();

// Runs the scripts. `narrate` prints the whole transcript (the demo);
// otherwise a PASS or FAIL line a script and a summary. Returns the exit code.
int runFiles(const host_options& options, bool narrate);

}  // namespace quon

#endif
