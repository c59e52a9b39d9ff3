#include "app/form_colors.h"

namespace trp {

// Placeholder: the appearance is being built.
void SetFormColors(QWidget&) {}

}  // namespace trp
