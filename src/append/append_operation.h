#pragma once

#include <optional>
#include <string>

#include "connection/profile.h"

namespace trp {

class OperationHost;

// What "Start Appending" reads from the screens when it is pressed; a run keeps it throughout.
struct AppendRequest {
    std::optional<std::string> table1;  // the selected table of database #1 (List1), if any
    std::optional<std::string> table2;  // the selected table of database #2 (List2), if any
    bool option1 = true;  // Option1: rows of the List2 table go into the List1 table
    Profile profile1;
    Profile profile2;
};

// The append operation behind "Start Appending", under its own error trap. It reports through
// the host: messages, error reports, the busy pointer, the progress bar, pending events.
void RunAppend(const AppendRequest& request, OperationHost& host);

}  // namespace trp
