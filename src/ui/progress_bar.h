#pragma once

#include <QProgressBar>

namespace trp {

// The progress bar of the table selection screen: range 0 to 100, a floating-point value, and a
// text of its own shown on the bar ("Progress Bar" at rest).
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void setPercent(double value);
    double percent() const { return percent_; }
    void setBarText(const QString& text);
    QString barText() const { return bar_text_; }
    QString text() const override { return bar_text_; }

private:
    double percent_ = 0;
    QString bar_text_ = QStringLiteral("Progress Bar");
};

}  // namespace trp
