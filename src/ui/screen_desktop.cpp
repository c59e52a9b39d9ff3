#include "ui/screen_desktop.h"

#include <QApplication>
#include <QCursor>
#include <QToolTip>
#include <QWidget>

#include "ui/progress_bar.h"

namespace trp {

ScreenDesktop::ScreenDesktop(QWidget& screen, ProgressBar& bar)
    : screen_(screen), bar_(bar), bus_(QDBusConnection::sessionBus(), [this] { Raise(); }) {}

bool ScreenDesktop::WindowActive() const {
    // A box over the screen is a window of its own, whose parent is the screen.
    for (const QWidget* window = QApplication::activeWindow(); window;
         window = window->parentWidget())
        if (window == &screen_) return true;
    return false;
}

void ScreenDesktop::ShowTitleStatus(const QString& status) {
    if (status.isEmpty()) {
        if (titled_) screen_.setWindowTitle(own_title_);
        titled_ = false;
        return;
    }
    if (!titled_) own_title_ = screen_.windowTitle();
    titled_ = true;
    screen_.setWindowTitle(status + QStringLiteral(" – ") + own_title_);
}

void ScreenDesktop::ShowFigures(const QString& figures) {
    const QString before = bar_.toolTip();
    bar_.setToolTip(figures);
    bar_.setAccessibleDescription(figures);
    // The bar's tooltip on show keeps its text unless told the new one.
    if (QToolTip::isVisible() && !before.isEmpty() && QToolTip::text() == before) {
        if (figures.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(QCursor::pos(), figures, &bar_);
    }
}

void ScreenDesktop::Notify(const QString& summary, const QString& body) {
    bus_.Notify(summary, body);
}

void ScreenDesktop::ShowLauncher(const LauncherState& state) {
    bus_.ShowLauncher(state);
}

void ScreenDesktop::Raise() {
    // A screen the user has left for the other one stays hidden.
    if (screen_.isVisible()) {
        screen_.showNormal();
        screen_.raise();
        screen_.activateWindow();
    }
    if (QWidget* box = QApplication::activeModalWidget()) {
        box->raise();
        box->activateWindow();
    }
}

}  // namespace trp
