#pragma once

#include <string>

#include "db/profile.h"

namespace trp {

class OperationHost;
class SocketWaiter;

// Whether a connection opens with the profile: silent, with the data-access defaults
// (15 seconds to connect). Every connection failure answers false; only a failure to create the
// connection itself (out of memory) passes to the caller, and so does a wait that `waiter`
// abandons (WaitAbandoned: the program is ending).
bool CheckConnection(const Profile& profile, SocketWaiter* waiter = nullptr);

inline bool CheckPostgreSQLConnection(const Profile& profile1, SocketWaiter* waiter = nullptr) {
    return CheckConnection(profile1, waiter);
}
inline bool CheckPostgreSQLConnection2(const Profile& profile2, SocketWaiter* waiter = nullptr) {
    return CheckConnection(profile2, waiter);
}

inline constexpr const char* kConnectionSuccessful = "Connection successful.";
inline constexpr const char* kCouldNotConnect =
    "Could not connect. Please check with your administrator.";

// The "Test Connection" command: the busy pointer, one attempt to connect, one message saying
// how it went, and the default pointer once the message is closed. Only the creation of the
// connection (line 100) runs under the error trap of `location`. The screen stays alive while it
// connects; once the program is ending, the test ends without a word.
void TestConnection(const Profile& profile, const std::string& location, OperationHost& host);

}  // namespace trp
