#pragma once

#include "db/profile.h"

namespace trp::test {

// Two profiles that a test sets as it likes; the operations read them when they run, as they
// read the connection screen's fields.
class FixedProfiles : public ProfileSource {
public:
    FixedProfiles() = default;
    FixedProfiles(Profile profile1, Profile profile2)
        : profile1(std::move(profile1)), profile2(std::move(profile2)) {}

    Profile Profile1() const override { return profile1; }
    Profile Profile2() const override { return profile2; }

    Profile profile1;
    Profile profile2;
};

}  // namespace trp::test
