#pragma once

#include <QString>

#include "ui/desktop_bus.h"
#include "ui/run_presence.h"

class QWidget;

namespace trp {

class ProgressBar;

// The DesktopView of a screen with a progress bar: the screen's title ("37 % – Tessaline Row
// Porter Suite"), the bar's tooltip and accessible description, and the session bus. The boxes'
// titles and the bar's own text stay as they are.
class ScreenDesktop : public DesktopView {
public:
    ScreenDesktop(QWidget& screen, ProgressBar& bar);

    bool WindowActive() const override;
    void ShowTitleStatus(const QString& status) override;
    void ShowFigures(const QString& figures) override;
    void Notify(const QString& summary, const QString& body) override;
    void ShowLauncher(const LauncherState& state) override;

private:
    // Brings the box that waits, or else the screen, to the front.
    void Raise();

    QWidget& screen_;
    ProgressBar& bar_;
    QString own_title_;  // the title behind a status
    bool titled_ = false;
    DesktopBus bus_;
};

}  // namespace trp
