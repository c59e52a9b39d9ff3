#pragma once

#include "base/operation_host.h"

class QWidget;

namespace trp {

class PointerState;
class ProgressBar;

// The OperationHost of a screen: message boxes through MessageBox over the screen, the screen's
// pointer state, its progress bar (if it has one) and the application's event loop.
class ScreenHost : public OperationHost {
public:
    ScreenHost(QWidget& screen, PointerState& pointer, ProgressBar* bar = nullptr)
        : screen_(screen), pointer_(pointer), bar_(bar) {}

    void ShowMessage(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
    RowReportAnswer ShowRowErrorBox(const std::string& text) override;
    void ShowMessageWithRefusedRows(const std::string& text, const std::string& informative,
                                    const std::string& folder) override;
    void SetBusyPointer(bool busy) override;
    void SetProgress(double percent) override;
    void ResetProgress() override;
    void ProcessPendingEvents() override;
    bool StopRequested() const override;

private:
    QWidget& screen_;
    PointerState& pointer_;
    ProgressBar* bar_;
};

}  // namespace trp
