#pragma once

namespace trp {

// Where a run stands on the destination.
struct AppendTally {
    long long settled = 0;    // source rows whose outcome is final: committed or reported
    long long added = 0;      // rows the destination took in committed transactions
    long long unchecked = 0;  // rows of a commit whose outcome could not be checked
};

}  // namespace trp
