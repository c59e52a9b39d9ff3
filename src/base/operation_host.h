#pragma once

#include <chrono>
#include <string>

#include "base/progress_text.h"

namespace trp {

// The answers to the report of a row the destination refused.
enum class RowReportAnswer {
    Ok,             // go on with the next row
    StopAppending,  // end the run here
    IgnoreAll,      // go on, and report no further refused row of this run
};

// What a long-running piece of work may ask of the screen that started it. The screens implement
// it with message boxes, the pointer and the progress bar; tests implement it with a recorder.
class OperationHost {
public:
    virtual ~OperationHost() = default;

    // A modal message with one OK button, no icon and the application title.
    virtual void ShowMessage(const std::string& text) = 0;
    // A modal box titled "Application Error" with the warning icon (the error report).
    virtual void ShowErrorBox(const std::string& text) = 0;
    // The error report of a row the destination refused during an append, with two more buttons:
    // "OK" goes on with the next row (so do Escape and the box's close button), "Stop Appending"
    // ends the run, "Ignore All" goes on without reporting the run's further refused rows.
    virtual RowReportAnswer ShowRowErrorBox(const std::string& text) = 0;
    // Whether ShowRowErrorBox waits for someone to answer it (a box on the screen) rather than
    // answering at once (a console, where nobody is there to answer).
    virtual bool RowReportsWait() const { return true; }
    // The last message of a run that refused rows: `text` as ShowMessage shows it, `informative`
    // below it, and a second button, "Show Refused Rows", that opens `folder` in the desktop's
    // file manager and closes the box as OK does.
    virtual void ShowMessageWithRefusedRows(const std::string& text, const std::string& informative,
                                            const std::string& folder) = 0;
    // The screen's pointer: busy (the hourglass) or back to the default.
    virtual void SetBusyPointer(bool busy) = 0;
    // The progress bar's value, 0 to 100.
    virtual void SetProgress(double percent) = 0;
    // The same progress in rows: `settled` of the source's `total` have their final outcome
    // (committed or reported). Told once with 0 as the rows begin to move, then with each step
    // the bar takes. The bar needs only the percentage; a console shows rows and their pace.
    virtual void RowsSettled(long long /*settled*/, long long /*total*/) {}
    // A status that takes the place of the run's percentage where the desktop shows it (the
    // window title) while it lasts, such as "Reconnecting to database #2 (0:12)"; empty gives
    // the percentage back.
    virtual void ShowRunStatus(const std::string& /*status*/) {}
    // Database #`database`, the destination, was lost and is being reconnected, `so_far` since
    // the loss (told about once a second); then it is back after `took`, and the run goes on at
    // the source's row `next_row` (0: several writers go on, each where it was). The screens say
    // so where the percentage stands meanwhile.
    virtual void Reconnecting(int database, std::chrono::seconds so_far) {
        ShowRunStatus("Reconnecting to database #" + std::to_string(database) + " (" +
                      DurationText(so_far.count()) + ")");
    }
    virtual void Reconnected(int /*database*/, std::chrono::seconds /*took*/,
                             long long /*next_row*/) {
        ShowRunStatus({});
    }
    // The progress bar back at rest: value 0 and the text "Progress Bar".
    virtual void ResetProgress() = 0;
    // Lets the event loop handle what is pending (repaints, clicks, the close box).
    virtual void ProcessPendingEvents() = 0;
    // True once the program is ending (a screen was closed during the work): the work stops at
    // its next safe point, keeping what it has committed.
    virtual bool StopRequested() const { return false; }
};

}  // namespace trp
