#include "ui/progress_bar.h"

#include <algorithm>
#include <cmath>

namespace trp {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    // Tenths of a percent, so that small steps still move the bar.
    setRange(0, 1000);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setPercent(double value) {
    percent_ = value;
    const int scaled = static_cast<int>(std::lround(std::clamp(value, 0.0, 100.0) * 10));
    if (scaled != this->value()) setValue(scaled);
}

void ProgressBar::setBarText(const QString& text) {
    bar_text_ = text;
    update();
}

}  // namespace trp
