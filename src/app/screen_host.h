#pragma once

#include "app/operation_host.h"

namespace trp {

class PointerState;
class ProgressBar;

// The OperationHost of a screen: message boxes through MessageBox, the screen's pointer state,
// its progress bar (if it has one) and the application's event loop.
class ScreenHost : public OperationHost {
public:
    explicit ScreenHost(PointerState& pointer, ProgressBar* bar = nullptr)
        : pointer_(pointer), bar_(bar) {}

    void ShowMessage(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
    void SetBusyPointer(bool busy) override;
    void SetProgress(double percent) override;
    void ResetProgress() override;
    void ProcessPendingEvents() override;
    bool StopRequested() const override;

private:
    PointerState& pointer_;
    ProgressBar* bar_;
};

}  // namespace trp
