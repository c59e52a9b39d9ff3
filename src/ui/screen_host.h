#pragma once

#include "base/operation_host.h"

class QWidget;

namespace trp {

class PointerState;
class ProgressBar;
class RunPresence;

// The OperationHost of a screen: message boxes through MessageBox over the screen, the screen's
// pointer state, its progress bar (if it has one) and the application's event loop. A screen that
// runs appends also tells the desktop through its RunPresence how the run goes.
class ScreenHost : public OperationHost {
public:
    ScreenHost(QWidget& screen, PointerState& pointer, ProgressBar* bar = nullptr,
               RunPresence* presence = nullptr)
        : screen_(screen), pointer_(pointer), bar_(bar), presence_(presence) {}

    void ShowMessage(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
    RowReportAnswer ShowRowErrorBox(const std::string& text) override;
    void ShowMessageWithRefusedRows(const std::string& text, const std::string& informative,
                                    const std::string& folder) override;
    void SetBusyPointer(bool busy) override;
    void SetProgress(double percent) override;
    void RowsSettled(long long settled, long long total) override;
    void ShowRunStatus(const std::string& status) override;
    void ResetProgress() override;
    void ProcessPendingEvents() override;
    bool StopRequested() const override;

private:
    QWidget& screen_;
    PointerState& pointer_;
    ProgressBar* bar_;
    RunPresence* presence_;
};

}  // namespace trp
