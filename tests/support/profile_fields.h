#pragma once

#include "db/profile.h"

class QWidget;

namespace trp::test {

// Types both profiles into the connection screen's ten fields (Text1 … Text10).
void FillProfileFields(QWidget& connection_screen, const Profile& profile1,
                       const Profile& profile2);

}  // namespace trp::test
