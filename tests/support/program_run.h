// Runs a program the way a user does: arguments, environment, a working
// folder and standard input, with its output and exit code collected. A
// program still running after the time limit is killed, and the result
// says so, so that a hang fails a test instead of stalling it. Where the
// build's programs run through an emulator (qemu-i386 for the 32-bit build
// on a kernel that runs none), a program of the build's machine is started
// through it.
#ifndef QUON_TEST_PROGRAM_RUN_H
#define QUON_TEST_PROGRAM_RUN_H

#include <map>
#include <optional>
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

// A program left running while the test talks to it: lines to its
// standard input, lines read from its standard output, a signal to end it.
// Its standard error is collected apart. Killed at destruction if still
// running.
class running_program {
public:
    explicit running_program(const program_run& how);
    ~running_program();
    running_program(const running_program&) = delete;
    running_program& operator=(const running_program&) = delete;

    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }
    void write(const std::string& text);
    void closeInput();
    // The next line of its output, or nullopt when none came in time.
    std::optional<std::string> readLine(double timeoutSeconds = 20);
    // Reads lines until one contains `text`; every line read is kept in
    // output(). False when none did in time.
    bool waitFor(const std::string& text, double timeoutSeconds = 20);
    // Waits until its standard error holds `text`, reading its output
    // meanwhile. False when it did not in time.
    bool waitForError(const std::string& text, double timeoutSeconds = 20);
    void signal(int number);
    // Waits for it to exit; the exit code, or -1 when it was killed or did
    // not end in time (it is then killed).
    int wait(double timeoutSeconds = 20);
    // Everything read from standard output so far, and what remained.
    std::string output();
    std::string errors();

private:
    int pid_ = -1;
    int input_ = -1;
    int out_ = -1;
    std::string errPath_;
    std::string pending_;
    std::string seen_;
};
