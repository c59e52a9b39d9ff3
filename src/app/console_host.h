#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "base/operation_host.h"

namespace trp {

// A box's text as a console prints it: its line breaks (CR LF, or CR alone) as LF.
std::string ConsoleLines(const std::string& text);

// Writes `text` to `stream` and flushes it, so that a failure shows now rather than at the exit.
// Returns 0, or the errno of the write that failed; what stayed buffered is then dropped, so that
// the exit does not try again behind a report of the loss.
int WriteAndFlush(std::FILE* stream, std::string_view text);

// The OperationHost of the commands, which run without a screen. Every error report goes to
// standard error with the box's text, and a refused row's report is answered "OK"; progress goes
// there too, redrawn in place on a terminal, else one plain line about every kLogInterval. The
// last message, and the note on refused rows below it, go to standard output, and nothing else.
class ConsoleHost : public OperationHost {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLogInterval{10};
    // A terminal's line is redrawn at most this often, and at least once a second.
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    // `terminal`: `errors` is a terminal. `now` is the clock the pace is measured by.
    ConsoleHost(std::FILE* output, std::FILE* errors, bool terminal,
                std::function<Clock::time_point()> now = &Clock::now);
    ~ConsoleHost() override;
    ConsoleHost(const ConsoleHost&) = delete;
    ConsoleHost& operator=(const ConsoleHost&) = delete;

    void ShowMessage(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
    RowReportAnswer ShowRowErrorBox(const std::string& text) override;
    bool RowReportsWait() const override { return false; }
    void ShowMessageWithRefusedRows(const std::string& text, const std::string& informative,
                                    const std::string& folder) override;
    void SetBusyPointer(bool busy) override;
    void SetProgress(double percent) override;
    void RowsSettled(long long settled, long long total) override;
    void ResetProgress() override;
    // On standard error: when the loss is noticed and every ten seconds after, and once back.
    void Reconnecting(int database, std::chrono::seconds so_far) override;
    void Reconnected(int database, std::chrono::seconds took, long long next_row) override;
    void ProcessPendingEvents() override;
    bool StopRequested() const override;

    // The error reports printed so far, refused rows' included.
    int Reports() const { return reports_; }

    // Writes `text` to standard output, unless a write there failed before: once something is
    // lost, what follows it would mislead.
    void PrintOutput(const std::string& text);
    // The errno of the first write standard output could not take, 0 while none failed.
    int OutputError() const { return output_error_; }
    // What standard output did not get, from the first failed write on.
    const std::string& UnwrittenOutput() const { return unwritten_; }

private:
    // On standard error, whose failures can be reported nowhere.
    void PrintError(const std::string& text);
    void Report(const std::string& text);
    // Shows the progress when it is due (`changed`: the rows moved on).
    void ShowProgress(bool changed);
    // Ends the terminal's progress line, so that what follows starts on a line of its own.
    void EndProgressLine();
    std::string CurrentProgress() const;

    std::FILE* output_;
    std::FILE* errors_;
    bool terminal_;
    std::function<Clock::time_point()> now_;
    bool moving_ = false;                // rows are moving: between the first count and the end
    bool line_shown_ = false;            // the terminal shows a progress line not yet ended
    long long last_reconnecting_ = -10;  // seconds into a loss when it was last said
    long long settled_ = 0;
    long long total_ = 0;
    Clock::time_point started_;
    Clock::time_point last_shown_;
    int reports_ = 0;
    int output_error_ = 0;
    std::string unwritten_;
};

}  // namespace trp
