#pragma once

#include <QString>
#include <chrono>
#include <functional>

namespace trp {

// What the desktop's launcher or taskbar entry shows of a run.
struct LauncherState {
    double progress = 0;  // 0 to 1
    bool progress_visible = false;
    bool urgent = false;  // a box waits for the user, who is in another window
    bool operator==(const LauncherState&) const = default;
};

// Where a run shows itself beyond the screen's bar: the window title, the bar's tooltip, the
// desktop's notifications and its launcher.
class DesktopView {
public:
    virtual ~DesktopView() = default;
    // True while the screen, or a box over it, is the active window.
    virtual bool WindowActive() const = 0;
    // A status put before the screen's own title ("37 %"); empty gives the title back.
    virtual void ShowTitleStatus(const QString& status) = 0;
    // The run's figures as the bar's tooltip and accessible description; empty at rest.
    virtual void ShowFigures(const QString& figures) = 0;
    // A notification that takes the place of the one shown before.
    virtual void Notify(const QString& summary, const QString& body) = 0;
    virtual void ShowLauncher(const LauncherState& state) = 0;
};

// What a box that waits for an answer is about.
enum class Waiting { RefusedRow, Failure };

// How one run at a time shows its course outside the bar, for a user who may be in another
// window. Its percentage goes before the window title, unless another status takes its place;
// its figures become the bar's tooltip; its progress goes to the launcher. These change at most
// every kInterval, the first count and the last at once, so a fast run sends no more than a few
// a second. While the window is not the active one, the first box that waits gets a
// notification and the launcher's urgent mark; further boxes get none until the user has been
// back, and the run's last message gets one of its own.
class RunPresence {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{250};

    explicit RunPresence(DesktopView& view, std::function<Clock::time_point()> now = &Clock::now);

    // A run into `table` (as the lists show it) begins, and ends when the scope goes.
    class Scope {
    public:
        Scope(RunPresence& presence, const QString& table) : presence_(presence) {
            presence_.Begin(table);
        }
        ~Scope() { presence_.Finish(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        RunPresence& presence_;
    };

    bool Running() const { return running_; }
    // `settled` of `total` rows have their outcome; the first call starts the pace's clock.
    void RowsSettled(long long settled, long long total);
    // A status in the place of the percentage while it is not empty.
    void ShowStatus(const QString& status);
    // Shows what an earlier count held back, once its time has come.
    void Tick();
    // A box waits for an answer; Answered when it is closed.
    void Waits(Waiting what);
    void Answered();
    // The run's last message is about to be shown.
    void Ends(const QString& message);
    // The screen or one of its boxes became the active window.
    void WindowActivated();

private:
    void Begin(const QString& table);
    void Finish();
    void Publish(Clock::time_point now);
    void ShowTitle();
    void ShowLauncher(const LauncherState& state);
    // "Table orders, time taken 0:42"; `so_far` while the run goes on.
    QString Body(bool so_far) const;

    DesktopView& view_;
    std::function<Clock::time_point()> now_;
    bool running_ = false;
    QString table_;
    Clock::time_point began_;
    // The rows, once they move.
    bool moving_ = false;
    bool pending_ = false;  // a count not shown yet
    long long settled_ = 0;
    long long total_ = 0;
    Clock::time_point rows_began_;
    Clock::time_point published_;
    QString status_;
    // What the view shows.
    QString title_status_;
    QString figures_;
    LauncherState launcher_;
    // A notification went out since the user was last in the window.
    bool notified_ = false;
};

}  // namespace trp
