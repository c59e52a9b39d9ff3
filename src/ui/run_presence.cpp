#include "ui/run_presence.h"

#include <cmath>

#include "base/progress_text.h"

namespace trp {
namespace {

long long WholeSeconds(RunPresence::Clock::duration span) {
    return std::llround(std::chrono::duration<double>(span).count());
}

}  // namespace

RunPresence::RunPresence(DesktopView& view, std::function<Clock::time_point()> now)
    : view_(view), now_(std::move(now)) {}

void RunPresence::Begin(const QString& table) {
    running_ = true;
    table_ = table;
    began_ = now_();
    moving_ = pending_ = notified_ = false;
    settled_ = total_ = 0;
    status_.clear();
}

void RunPresence::Finish() {
    running_ = moving_ = pending_ = false;
    status_.clear();
    ShowTitle();
    if (!figures_.isEmpty()) {
        figures_.clear();
        view_.ShowFigures(figures_);
    }
    ShowLauncher({});
}

void RunPresence::RowsSettled(long long settled, long long total) {
    if (!running_) return;
    const Clock::time_point now = now_();
    const bool first = !moving_;
    if (first) {
        moving_ = true;
        rows_began_ = now;
    }
    settled_ = settled;
    total_ = total;
    pending_ = true;
    if (first || settled == total || now - published_ >= kInterval) Publish(now);
}

void RunPresence::Tick() {
    if (!pending_) return;
    const Clock::time_point now = now_();
    if (now - published_ >= kInterval) Publish(now);
}

void RunPresence::Publish(Clock::time_point now) {
    pending_ = false;
    published_ = now;
    ShowTitle();
    figures_ = QString::fromStdString(ProgressText(settled_, total_, now - rows_began_));
    view_.ShowFigures(figures_);
    const double progress =
        total_ > 0 ? static_cast<double>(settled_) / static_cast<double>(total_) : 1.0;
    ShowLauncher({progress, true, launcher_.urgent});
}

void RunPresence::ShowStatus(const QString& status) {
    if (!running_) return;
    status_ = status;
    ShowTitle();
}

void RunPresence::ShowTitle() {
    QString status = status_;
    if (status.isEmpty() && moving_) {
        // Rounded down, as the figures are: 100 % means every row.
        const long long percent = total_ > 0 ? 100 * settled_ / total_ : 100;
        status = QStringLiteral("%1 %").arg(percent);
    }
    if (status == title_status_) return;
    title_status_ = status;
    view_.ShowTitleStatus(status);
}

void RunPresence::ShowLauncher(const LauncherState& state) {
    if (state == launcher_) return;
    launcher_ = state;
    view_.ShowLauncher(state);
}

QString RunPresence::Body(bool so_far) const {
    const QString time = QString::fromStdString(DurationText(WholeSeconds(now_() - began_)));
    return so_far ? QStringLiteral("Table %1, %2 so far").arg(table_, time)
                  : QStringLiteral("Table %1, time taken %2").arg(table_, time);
}

void RunPresence::Waits(Waiting what) {
    if (!running_) return;
    // The desktop shows where the run stands while the box waits.
    if (pending_) Publish(now_());
    if (view_.WindowActive()) return;
    if (!notified_) {
        view_.Notify(what == Waiting::RefusedRow
                         ? QStringLiteral("A refused row's report waits for an answer")
                         : QStringLiteral("A failure's report waits for an answer"),
                     Body(true));
        notified_ = true;
    }
    LauncherState state = launcher_;
    state.urgent = true;
    ShowLauncher(state);
}

void RunPresence::Answered() {
    LauncherState state = launcher_;
    state.urgent = false;
    ShowLauncher(state);
}

void RunPresence::Ends(const QString& message) {
    if (!running_) return;
    if (pending_) Publish(now_());
    const bool away = !view_.WindowActive();
    if (away) view_.Notify(message, Body(false));
    ShowLauncher({0, false, away});
}

void RunPresence::WindowActivated() {
    notified_ = false;
    Answered();
}

}  // namespace trp
