#include "app/screen_host.h"

#include <QCoreApplication>

#include "app/error_report.h"
#include "app/message_box.h"
#include "app/pointer_state.h"
#include "app/program_end.h"
#include "app/progress_bar.h"

namespace trp {

namespace {

QString ReportTitle() {
    return QString::fromUtf8(kErrorReportTitle.data(), kErrorReportTitle.size());
}

}  // namespace

void ScreenHost::ShowMessage(const std::string& text) {
    MessageBox::Show(QString::fromStdString(text), MessageBox::Icon::None, {}, &screen_);
}

void ScreenHost::ShowErrorBox(const std::string& text) {
    MessageBox::Show(QString::fromStdString(text), MessageBox::Icon::Warning, ReportTitle(),
                     &screen_);
}

bool ScreenHost::ShowRowErrorBox(const std::string& text) {
    return MessageBox::ShowOfferingStop(QString::fromStdString(text), MessageBox::Icon::Warning,
                                        ReportTitle(),
                                        &screen_) == MessageBox::Choice::StopAppending;
}

void ScreenHost::SetBusyPointer(bool busy) {
    pointer_.Set(busy ? PointerState::kBusy : PointerState::kDefault);
}

void ScreenHost::SetProgress(double percent) {
    if (bar_) bar_->setPercent(percent);
}

void ScreenHost::ResetProgress() {
    if (!bar_) return;
    bar_->setPercent(0);
    bar_->setBarText(QStringLiteral("Progress Bar"));
}

void ScreenHost::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}

bool ScreenHost::StopRequested() const {
    return ProgramEnding();
}

}  // namespace trp
