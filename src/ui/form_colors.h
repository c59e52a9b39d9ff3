#pragma once

class QWidget;

namespace trp {

// The colour pass: the screen's background and that of each of its option buttons, check boxes,
// frames and labels take the button-face colour. Other controls keep their colours.
void SetFormColors(QWidget& screen);

}  // namespace trp
