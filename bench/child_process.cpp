#include "child_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace trp::bench {

ChildOutcome RunSelf(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::string name = "bench-child";
    argv.push_back(name.data());
    std::vector<std::string> copies = arguments;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(out[1]);
    ChildOutcome outcome;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        outcome.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    outcome.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.peak_rss_kb = usage.ru_maxrss;
    outcome.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                          usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    return outcome;
}

}  // namespace trp::bench
