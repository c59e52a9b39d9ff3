#include "ui/screen_host.h"

#include <QCoreApplication>

#include "base/error_report.h"
#include "base/program_end.h"
#include "ui/message_box.h"
#include "ui/pointer_state.h"
#include "ui/progress_bar.h"

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

RowReportAnswer ScreenHost::ShowRowErrorBox(const std::string& text) {
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
