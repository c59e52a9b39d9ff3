#pragma once

// One run of the campaign: the `append` command against the draw's scene, the fault injected at
// the drawn moment, the run ended as drawn, and then everything a user relies on checked.
#include <string>
#include <vector>

#include "campaign/draw.h"
#include "campaign/world.h"

namespace trp::campaign {

struct RunResult {
    std::vector<std::string> violations;
    bool fault_injected = false;  // false when the run ended before the drawn moment came
    std::string last_message;     // what the command printed last on standard output
    int exit_code = -1;
    double seconds = 0;
};

RunResult RunOnce(World& world, const Draw& draw, const std::string& program);

}  // namespace trp::campaign
