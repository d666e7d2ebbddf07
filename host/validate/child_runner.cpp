#include "child_runner.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace quon {

namespace {

using clock_type = std::chrono::steady_clock;
// The most of a module's standard error kept from one check.
constexpr size_t max_debug_bytes = 16 << 20;

}  // namespace

// Runs one check in a child process and turns what happens into a result.
check_result runInChild(const check& k, const validator_options& options, std::string& output) {
    check_result result{k.id, k.description, check_outcome::skipped, "", 0};
    int channel[2];
    if (pipe(channel) != 0) {
        result.outcome = check_outcome::skipped;
        result.detail = "no pipe for the child";
        return result;
    }
    // What the module writes to standard error lands here, not amid the
    // report: runValidator escapes it and files it.
    std::FILE* debug = std::tmpfile();
    std::fflush(stdout);
    std::fflush(stderr);
    const clock_type::time_point start = clock_type::now();
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (debug) dup2(fileno(debug), STDERR_FILENO);
        std::string report;
        try {
            prepareSystem();
            check_context c{options, ""};
            k.run(c);
            report = "P" + c.detail;
        } catch (const check_failed& f) {
            report = "F" + f.why;
        } catch (const std::exception& e) {
            report = std::string("Fan exception left the module: ") + e.what();
        } catch (...) {
            report = "Fan exception left the module";
        }
        removeSystem();
        const ssize_t written = write(channel[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
    }
    close(channel[1]);
    if (child < 0) {
        close(channel[0]);
        if (debug) std::fclose(debug);
        result.outcome = check_outcome::skipped;
        result.detail = "cannot start a child process";
        return result;
    }
    const double limit = options.timeoutSeconds + (k.sequence ? options.messages / 500.0 : 0);
    std::string report;
    bool timedOut = false;
    for (;;) {
        const double left = limit - std::chrono::duration<double>(clock_type::now() - start).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{channel[0], POLLIN, 0};
        // At most a minute a wait, so that the milliseconds always fit an int.
        if (poll(&p, 1, static_cast<int>(std::min(left, 60.0) * 1000) + 1) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(channel[0], buffer, sizeof buffer);
        if (n <= 0) break;
        report.append(buffer, static_cast<size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    if (timedOut) kill(child, SIGKILL);
    waitpid(child, &status, 0);
    result.milliseconds = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
    if (debug) {
        std::rewind(debug);
        char buffer[65536];
        size_t n = 0;
        while (output.size() < max_debug_bytes && (n = std::fread(buffer, 1, sizeof buffer, debug)) > 0)
            output.append(buffer, n);
        std::fclose(debug);
    }
    if (timedOut) {
        result.outcome = check_outcome::timed_out;
        result.detail = "no result within " + std::to_string(static_cast<long>(limit)) + " s";
    } else if (WIFSIGNALED(status)) {
        result.outcome = check_outcome::crashed;
        result.detail =
            std::string("signal ") + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    } else if (report.empty() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.outcome = check_outcome::crashed;
        result.detail = "the check ended without a result (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    } else {
        result.outcome = report[0] == 'P' ? check_outcome::passed : check_outcome::failed;
        result.detail = report.substr(1);
    }
    return result;
}

}  // namespace quon
