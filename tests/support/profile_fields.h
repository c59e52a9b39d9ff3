#pragma once

#include "db/profile.h"

namespace trp {
class Form1;
}

namespace trp::test {

// Types both profiles into the connection screen's ten fields (Text1 … Text10).
void FillProfileFields(Form1& form1, const Profile& profile1, const Profile& profile2);

}  // namespace trp::test
