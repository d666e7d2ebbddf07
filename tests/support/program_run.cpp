#include "program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <thread>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

#ifdef QUON_TARGET_EMULATOR
// The first bytes of an ELF file: its class, byte order and machine.
std::string machineOf(const std::string& path) {
    char header[20] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(header, sizeof header) || std::string(header, 4) != "\x7f" "ELF") return {};
    return std::string(header + 4, 2) + std::string(header + 18, 2);
}
#endif

// The command that starts `how`'s program: the program itself, or, where
// this build's programs run through an emulator (QUON_TARGET_EMULATOR: the
// emulator and its options joined by |, set where this machine cannot run
// them), that emulator when the program is of this program's machine, as
// CTest runs the test itself. A program of another machine (cmake) runs as
// it is.
std::vector<std::string> commandOf(const program_run& how) {
    std::vector<std::string> command;
#ifdef QUON_TARGET_EMULATOR
    static const std::string ownMachine = machineOf("/proc/self/exe");
    const bool relative = !how.folder.empty() && how.program.rfind('/', 0) != 0;
    if (!ownMachine.empty() && machineOf(relative ? how.folder + "/" + how.program : how.program) == ownMachine) {
        std::istringstream list(QUON_TARGET_EMULATOR);
        for (std::string part; std::getline(list, part, '|');) command.push_back(part);
    }
#endif
    command.push_back(how.program);
    command.insert(command.end(), how.arguments.begin(), how.arguments.end());
    return command;
}

// Starts `how` with the given descriptors as its standard input, output and
// error; `unused` are the parent's ends, closed in the child.
pid_t spawn(const program_run& how, int in, int out, int err, std::initializer_list<int> unused) {
    std::vector<std::string> command = commandOf(how);
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    for (int fd : unused) close(fd);
    if (!how.folder.empty() && chdir(how.folder.c_str()) != 0) _exit(126);
    for (const std::string& name : how.unset) unsetenv(name.c_str());
    for (const auto& [name, value] : how.environment) setenv(name.c_str(), value.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
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
    const pid_t child = spawn(*this, stdinPipe[0], outFile, errFile, {stdinPipe[0], stdinPipe[1]});
    close(stdinPipe[0]);
    // A writer that the child stops reading must not hang the test.
    ::signal(SIGPIPE, SIG_IGN);
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

running_program::running_program(const program_run& how) {
    char errPath[] = "/tmp/quon-run-err-XXXXXX";
    const int errFile = mkstemp(errPath);
    errPath_ = errPath;
    int in[2], out[2];
    if (errFile < 0 || pipe(in) != 0 || pipe(out) != 0) return;
    const pid_t child = spawn(how, in[0], out[1], errFile, {in[0], in[1], out[0], out[1]});
    close(errFile);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    out_ = out[0];
    pid_ = child;
    ::signal(SIGPIPE, SIG_IGN);
}

running_program::~running_program() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) close(input_);
    if (out_ >= 0) close(out_);
    std::remove(errPath_.c_str());
}

void running_program::write(const std::string& text) {
    if (input_ >= 0 && ::write(input_, text.data(), text.size()) < 0) closeInput();
}

void running_program::closeInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

std::optional<std::string> running_program::readLine(double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            seen_ += line + "\n";
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            continue;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

bool running_program::waitFor(const std::string& text, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        const std::optional<std::string> line = readLine(left);
        if (!line) return false;
        if (line->find(text) != std::string::npos) return true;
    }
}

bool running_program::waitForError(const std::string& text, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (errors().find(text) != std::string::npos) return true;
        readLine(0.05);
    }
    return errors().find(text) != std::string::npos;
}

void running_program::signal(int number) {
    if (pid_ > 0) kill(pid_, number);
}

int running_program::wait(double timeoutSeconds) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    for (;;) {
        // Keep its output flowing so that it never blocks on a full pipe.
        while (out_ >= 0) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0) break;
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                close(out_);
                out_ = -1;
                break;
            }
            pending_.append(buffer, static_cast<size_t>(n));
        }
        if (waitpid(pid_, &status, WNOHANG) == pid_) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string running_program::output() {
    while (readLine(out_ >= 0 ? 0.2 : 0)) {
    }
    return seen_ + pending_;
}

std::string running_program::errors() { return slurp(errPath_); }
