// Runs a program the way a user does: arguments, environment, a working
// folder and standard input, with its output and exit code collected. A
// program still running after the time limit is killed, and the result
// says so, so that a hang fails a test instead of stalling it.
#ifndef QUON_TEST_PROGRAM_RUN_H
#define QUON_TEST_PROGRAM_RUN_H

#include <map>
#include <string>
#include <vector>

struct program_result {
    int exitCode = -1;  // -1 when it did not exit by itself
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct program_run {
    std::string program;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;  // set on top of the test's own
    std::vector<std::string> unset;                  // removed from the environment
    std::string folder;                              // the working folder; empty: the test's
    std::string input;                               // written to a pipe on standard input, then closed
    double timeoutSeconds = 60;

    program_result run() const;
};

#endif
