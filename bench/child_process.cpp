#include "child_process.h"

#include <sys/resource.h>

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace trp::bench {
namespace {

// The last line a child writes: its own peak memory and processor time.
constexpr const char* kUsageLine = "\nchild-usage ";

void PrintOwnUsage() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s%ld %.6f\n", kUsageLine, PeakResidentKb(),
                usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                    usage.ru_stime.tv_usec / 1e6);
    std::fflush(stdout);
}

}  // namespace

long PeakResidentKb() {
    // Not getrusage's ru_maxrss: Linux carries the parent's resident size at the fork over into
    // it, so a child of a large parent would seem large itself.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

void ReportOwnUsageAtExit() {
    std::atexit(PrintOwnUsage);
}

ChildOutcome RunSelf(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) list << QString::fromStdString(argument);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = std::chrono::steady_clock::now();
    child.start(QStringLiteral("/proc/self/exe"), list);
    if (!child.waitForStarted(-1))
        throw std::runtime_error("could not start a child: " + child.errorString().toStdString());
    child.waitForFinished(-1);
    ChildOutcome outcome;
    outcome.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.succeeded = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    outcome.output = child.readAllStandardOutput().toStdString();
    const auto at = outcome.output.rfind(kUsageLine);
    if (at != std::string::npos) {
        std::istringstream usage(outcome.output.substr(at + std::string(kUsageLine).size()));
        usage >> outcome.peak_rss_kb >> outcome.cpu_seconds;
        outcome.output.erase(at);
    }
    return outcome;
}

}  // namespace trp::bench
