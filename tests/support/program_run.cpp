#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

program_result program_run::run() const {
    program_result result;
    char outPath[] = "/tmp/quon-run-out-XXXXXX";
    char errPath[] = "/tmp/quon-run-err-XXXXXX";
    const int outFile = mkstemp(outPath);
    const int errFile = mkstemp(errPath);
    int stdinPipe[2];
    if (outFile < 0 || errFile < 0 || pipe(stdinPipe) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(stdinPipe[0], STDIN_FILENO);
        dup2(outFile, STDOUT_FILENO);
        dup2(errFile, STDERR_FILENO);
        close(stdinPipe[0]);
        close(stdinPipe[1]);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
        for (const std::string& name : unset) unsetenv(name.c_str());
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(stdinPipe[0]);
    // A writer that the child stops reading must not hang the test.
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = write(stdinPipe[1], input.data() + written, input.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(stdinPipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    close(outFile);
    close(errFile);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    std::remove(outPath);
    std::remove(errPath);
    return result;
}
