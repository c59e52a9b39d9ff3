#include "ui/screen_host.h"

#include <QCoreApplication>

#include "base/error_report.h"
#include "base/program_end.h"
#include "ui/message_box.h"
#include "ui/pointer_state.h"
#include "ui/progress_bar.h"
#include "ui/run_presence.h"

namespace trp {

namespace {

QString ReportTitle() {
    return QString::fromUtf8(kErrorReportTitle.data(), kErrorReportTitle.size());
}

// A box of a run, open while this lives: the run's presence learns that it waits (a report
// about `what`, or the run's last message) and when it is answered.
class RunBox {
public:
    RunBox(RunPresence* presence, Waiting what) : presence_(Running(presence)) {
        if (presence_) presence_->Waits(what);
    }
    RunBox(RunPresence* presence, const std::string& last_message) : presence_(Running(presence)) {
        if (presence_) presence_->Ends(QString::fromStdString(last_message));
    }
    ~RunBox() {
        if (presence_) presence_->Answered();
    }
    RunBox(const RunBox&) = delete;
    RunBox& operator=(const RunBox&) = delete;

private:
    static RunPresence* Running(RunPresence* presence) {
        return presence && presence->Running() ? presence : nullptr;
    }
    RunPresence* presence_;
};

}  // namespace

void ScreenHost::ShowMessage(const std::string& text) {
    const RunBox box(presence_, text);
    MessageBox::Show(QString::fromStdString(text), MessageBox::Icon::None, {}, &screen_);
}

void ScreenHost::ShowErrorBox(const std::string& text) {
    const RunBox box(presence_, Waiting::Failure);
    MessageBox::Show(QString::fromStdString(text), MessageBox::Icon::Warning, ReportTitle(),
                     &screen_);
}

RowReportAnswer ScreenHost::ShowRowErrorBox(const std::string& text) {
    const RunBox box(presence_, Waiting::RefusedRow);
    switch (MessageBox::ShowOfferingStop(QString::fromStdString(text), MessageBox::Icon::Warning,
                                         ReportTitle(), &screen_)) {
        case MessageBox::Choice::StopAppending:
            return RowReportAnswer::StopAppending;
        case MessageBox::Choice::IgnoreAll:
            return RowReportAnswer::IgnoreAll;
        default:
            return RowReportAnswer::Ok;
    }
}

void ScreenHost::ShowMessageWithRefusedRows(const std::string& text, const std::string& informative,
                                            const std::string& folder) {
    const RunBox box(presence_, text);
    MessageBox::ShowWithRefusedRows(QString::fromStdString(text),
                                    QString::fromStdString(informative),
                                    QString::fromStdString(folder), &screen_);
}

void ScreenHost::SetBusyPointer(bool busy) {
    pointer_.Set(busy ? PointerState::kBusy : PointerState::kDefault);
}

void ScreenHost::SetProgress(double percent) {
    if (bar_) bar_->setPercent(percent);
}

void ScreenHost::RowsSettled(long long settled, long long total) {
    if (presence_) presence_->RowsSettled(settled, total);
}

void ScreenHost::ShowRunStatus(const std::string& status) {
    if (presence_) presence_->ShowStatus(QString::fromStdString(status));
}

void ScreenHost::ResetProgress() {
    if (!bar_) return;
    bar_->setPercent(0);
    bar_->setBarText(QStringLiteral("Progress Bar"));
}

void ScreenHost::ProcessPendingEvents() {
    QCoreApplication::processEvents();
    if (presence_) presence_->Tick();
}

bool ScreenHost::StopRequested() const {
    return ProgramEnding();
}

}  // namespace trp
