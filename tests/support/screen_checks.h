#pragma once

#include <string>
#include <vector>

class QWidget;

namespace trp::test {

// The metric twin of Arial that a Debian desktop has (fonts-liberation), and whether it is
// installed here.
inline constexpr const char* kArialTwin = "Liberation Sans";
bool ArialTwinInstalled();

// The names of the labels, push buttons, option buttons and frames of a shown screen whose
// caption is wider than the room the control gives it: the text measured by the font's metrics
// against the control's width less what the style draws around the text.
std::vector<std::string> CutOffCaptions(const QWidget& screen);

// The names of the controls the focus goes to as the user presses Tab `presses` times, from
// the control that has the focus now.
std::vector<std::string> FocusAfterTabs(int presses);

}  // namespace trp::test
