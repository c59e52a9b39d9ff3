#pragma once

#include <string>
#include <vector>

#include "base/operation_host.h"

namespace trp::test {

// An OperationHost that remembers everything it was asked to show, in order.
class RecordingHost : public OperationHost {
public:
    struct Event {
        enum Kind { Message, ErrorBox, Busy, NotBusy, Progress, ProgressReset, Events } kind;
        std::string text;
        double value = 0;
        // The last message of a run that refused rows: its second line and the folder its
        // "Show Refused Rows" button opens.
        std::string informative{};
        std::string folder{};
    };

    void ShowMessage(const std::string& text) override { events.push_back({Event::Message, text}); }
    void ShowErrorBox(const std::string& text) override {
        events.push_back({Event::ErrorBox, text});
    }
    // A refused row's report, answered "Stop Appending" when it is the `stop_at_row_report`-th
    // (counting from 1), "Ignore All" when it is the `ignore_all_at_row_report`-th, and "OK"
    // otherwise.
    RowReportAnswer ShowRowErrorBox(const std::string& text) override {
        events.push_back({Event::ErrorBox, text});
        ++row_reports;
        if (row_reports == stop_at_row_report) return RowReportAnswer::StopAppending;
        if (row_reports == ignore_all_at_row_report) return RowReportAnswer::IgnoreAll;
        return RowReportAnswer::Ok;
    }
    // Recorded as a message, with its second line and folder.
    void ShowMessageWithRefusedRows(const std::string& text, const std::string& informative,
                                    const std::string& folder) override {
        events.push_back({Event::Message, text, 0, informative, folder});
    }
    void SetBusyPointer(bool busy) override {
        events.push_back({busy ? Event::Busy : Event::NotBusy, {}});
    }
    void SetProgress(double percent) override { events.push_back({Event::Progress, {}, percent}); }
    void ResetProgress() override { events.push_back({Event::ProgressReset, {}}); }
    void ProcessPendingEvents() override { ++pending_event_calls; }

    std::vector<std::string> Texts(Event::Kind kind) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }
    std::vector<std::string> Messages() const { return Texts(Event::Message); }
    std::vector<std::string> ErrorReports() const { return Texts(Event::ErrorBox); }

    // The bar's values, in order.
    std::vector<double> Progress() const {
        std::vector<double> out;
        for (const auto& e : events)
            if (e.kind == Event::Progress) out.push_back(e.value);
        return out;
    }

    std::vector<Event> events;
    long long pending_event_calls = 0;
    int row_reports = 0;
    int stop_at_row_report = 0;
    int ignore_all_at_row_report = 0;
};

}  // namespace trp::test
