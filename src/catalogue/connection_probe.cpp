#include "catalogue/connection_probe.h"

#include <new>
#include <optional>
#include <stdexcept>

#include "base/activity.h"
#include "base/error_trap.h"
#include "base/operation_host.h"
#include "catalogue/event_pacer.h"
#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {

bool CheckConnection(const Profile& profile, SocketWaiter* waiter) {
    Connection connection;
    try {
        connection.Open(BuildConnectionString(profile), waiter);
        return true;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const WaitAbandoned&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

void TestConnection(const Profile& profile, const std::string& location, OperationHost& host) {
    const ActivityScope probing(Activity::Probing);
    ErrorTrap trap(location, host);
    std::optional<Connection> connection;
    trap.Step(100, [&] { connection.emplace(); });
    // From here on a failure is the test's answer, not an error report.
    try {
        host.SetBusyPointer(true);
        EventPacer pacer(host);
        Existing(connection).Open(BuildConnectionString(profile), &pacer);
        host.ShowMessage(kConnectionSuccessful);
        host.SetBusyPointer(false);
    } catch (const WaitAbandoned&) {
        // The program is ending: nothing more is shown.
    } catch (...) {
        host.ShowMessage(kCouldNotConnect);
        host.SetBusyPointer(false);
    }
}

}  // namespace trp
