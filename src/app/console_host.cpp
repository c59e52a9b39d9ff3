#include "app/console_host.h"

#include <stdio_ext.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>

#include "base/number_text.h"
#include "base/program_end.h"
#include "base/progress_text.h"

namespace trp {
namespace {

// The terminal's width in characters, 0 when unknown.
int TerminalWidth(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace

std::string ConsoleLines(const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            lines += text[i];
            continue;
        }
        lines += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return lines;
}

int WriteAndFlush(std::FILE* stream, std::string_view text) {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (std::fflush(stream) == 0 && written) return 0;
    const int error = errno != 0 ? errno : EIO;
    __fpurge(stream);
    return error;
}

ConsoleHost::ConsoleHost(std::FILE* output, std::FILE* errors, bool terminal,
                         std::function<Clock::time_point()> now)
    : output_(output), errors_(errors), terminal_(terminal), now_(std::move(now)) {}

ConsoleHost::~ConsoleHost() {
    EndProgressLine();
}

void ConsoleHost::PrintError(const std::string& text) {
    WriteAndFlush(errors_, text);
}

void ConsoleHost::PrintOutput(const std::string& text) {
    if (output_error_ == 0) output_error_ = WriteAndFlush(output_, text);
    if (output_error_ != 0) unwritten_ += text;
}

void ConsoleHost::ShowMessage(const std::string& text) {
    EndProgressLine();
    moving_ = false;
    PrintOutput(ConsoleLines(text) + "\n");
}

void ConsoleHost::ShowMessageWithRefusedRows(const std::string& text,
                                             const std::string& informative,
                                             const std::string& /*folder*/) {
    EndProgressLine();
    moving_ = false;
    PrintOutput(ConsoleLines(text) + "\n" + ConsoleLines(informative) + "\n");
}

void ConsoleHost::Report(const std::string& text) {
    ++reports_;
    // The report takes the progress line's place; the line comes back below it.
    if (line_shown_) {
        PrintError("\r\033[K");
        line_shown_ = false;
    }
    PrintError(ConsoleLines(text) + "\n");
}

void ConsoleHost::ShowErrorBox(const std::string& text) {
    Report(text);
}

RowReportAnswer ConsoleHost::ShowRowErrorBox(const std::string& text) {
    Report(text);
    // Nobody is there to answer: the run goes on, and the row is kept in the refused-rows file.
    return RowReportAnswer::Ok;
}

void ConsoleHost::SetBusyPointer(bool /*busy*/) {}

// The rows come through RowsSettled, which carries the counts.
void ConsoleHost::SetProgress(double /*percent*/) {}

void ConsoleHost::RowsSettled(long long settled, long long total) {
    if (!moving_ && settled == 0) {
        moving_ = true;
        started_ = last_shown_ = now_();
    }
    settled_ = settled;
    total_ = total;
    ShowProgress(true);
}

void ConsoleHost::Reconnecting(int database, std::chrono::seconds so_far) {
    if (so_far.count() != 0 && so_far.count() - last_reconnecting_ < 10) return;
    last_reconnecting_ = so_far.count();
    EndProgressLine();
    PrintError("Database #" + std::to_string(database) + " was lost; reconnecting (" +
               DurationText(so_far.count()) + " so far)\u2026\n");
}

void ConsoleHost::Reconnected(int database, std::chrono::seconds took, long long next_row) {
    last_reconnecting_ = -10;
    EndProgressLine();
    PrintError(
        "Reconnected to database #" + std::to_string(database) + " after " +
        DurationText(took.count()) +
        (next_row > 0 ? "; going on at row " + WithThousands(next_row) + ".\n" : "; going on.\n"));
}

void ConsoleHost::ResetProgress() {
    EndProgressLine();
    moving_ = false;
}

void ConsoleHost::ProcessPendingEvents() {
    // Termination signals arrive through the event loop.
    QCoreApplication::processEvents();
    ShowProgress(false);
}

bool ConsoleHost::StopRequested() const {
    return ProgramEnding();
}

std::string ConsoleHost::CurrentProgress() const {
    return ProgressText(settled_, total_, now_() - started_);
}

void ConsoleHost::ShowProgress(bool changed) {
    if (!moving_) return;
    const Clock::time_point now = now_();
    if (!terminal_) {
        if (now - last_shown_ < kLogInterval) return;
        last_shown_ = now;
        PrintError(CurrentProgress() + "\n");
        return;
    }
    // The first and the last count at once, changes at most every kRedrawInterval, and the pace
    // and the time left at least once a second meanwhile.
    const bool due = !line_shown_ || (changed && settled_ == total_) ||
                     now - last_shown_ >= (changed ? std::chrono::milliseconds(kRedrawInterval)
                                                   : std::chrono::milliseconds(1000));
    if (!due) return;
    last_shown_ = now;
    std::string line = CurrentProgress();
    // A line longer than the terminal is wide would wrap, and "\r" would then go back to its
    // last part only.
    const int width = TerminalWidth(errors_);
    if (width > 1 && line.size() >= static_cast<std::size_t>(width))
        line.resize(static_cast<std::size_t>(width - 1));
    PrintError("\r" + line + "\033[K");
    line_shown_ = true;
}

void ConsoleHost::EndProgressLine() {
    if (!line_shown_) return;
    PrintError("\n");
    line_shown_ = false;
}

}  // namespace trp
