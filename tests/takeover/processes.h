// The processes of a run: shell commands, programs spawned in their own
// process group with a log, and the files they leave.
#ifndef QUON_TESTS_TAKEOVER_PROCESSES
#define QUON_TESTS_TAKEOVER_PROCESSES

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quon::takeover {

inline int shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void must(const std::string& command) {
    if (shell(command) != 0) throw std::runtime_error("failed: " + command);
}

inline bool onPath(const std::string& program) { return shell("command -v " + program) == 0; }

// Starts `arguments` in its own process group with standard output and
// error appended to `log`; the process id.
inline pid_t spawn(const std::vector<std::string>& arguments, const std::string& log,
            const std::map<std::string, std::string>& environment = {}) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        if (in >= 0) dup2(in, 0);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

inline void reap(pid_t pid) {
    if (pid > 0) waitpid(pid, nullptr, 0);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace quon::takeover

#endif
