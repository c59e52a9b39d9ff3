#include "append/reconnection.h"

#include <algorithm>
#include <string_view>

#include "catalogue/event_pacer.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

// The longest an attempt to connect may take, so that the pauses stay what they say.
constexpr seconds kAttemptLimit{15};

}  // namespace

Loss LossOf(const std::exception_ptr& failure, bool wrote) {
    if (!failure) return Loss::None;
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& error) {
        const std::string_view state = error.sqlstate();
        if (state == "57P01") return Loss::Terminated;
        if (state == "57P02" || state == "57P03" || state.substr(0, 2) == "08") return Loss::Lost;
        if (state == "25006") return wrote ? Loss::Lost : Loss::None;
        // libpq's own: the connection went down without a word from the server.
        if (dynamic_cast<const BrokenConnection*>(&error) || state.empty()) return Loss::Lost;
        return Loss::None;
    } catch (...) {
        return Loss::None;
    }
}

bool Reconnect(Connection& destination, EventPacer& pacer, Clock::time_point lost_at,
               Clock::time_point deadline, const std::function<void(seconds)>& tell) {
    const std::string connection_string = destination.ConnectionString();
    seconds pause{1};
    auto next_try = Clock::now();
    auto told = Clock::time_point{};
    while (true) {
        if (pacer.Ending()) return false;
        const auto now = Clock::now();
        if (now - told >= seconds(1)) {
            tell(std::chrono::duration_cast<seconds>(now - lost_at));
            told = now;
        }
        if (now >= next_try) {
            const auto left = std::chrono::ceil<seconds>(deadline - now);
            if (left.count() <= 0) return false;
            const int limit = static_cast<int>(std::min(left, kAttemptLimit).count());
            try {
                destination.Close();
                destination.SetConnectionTimeout(limit);
                destination.Open(connection_string, &pacer);
                return true;
            } catch (const DbError&) {
            }
            next_try = Clock::now() + pause;
            pause = std::min(pause * 2, seconds(8));
        }
        if (Clock::now() >= deadline) return false;
        pacer.Pause(std::chrono::milliseconds(200));
    }
}

std::unique_ptr<Connection> OpenSessionLike(const Connection& like, EventPacer& pacer,
                                            int timeout) {
    auto session = std::make_unique<Connection>();
    session->SetMode(ConnectMode::ReadWrite);
    session->SetCommandTimeout(like.CommandTimeout());
    session->SetConnectionTimeout(timeout);
    try {
        session->Open(like.ConnectionString(), &pacer);
    } catch (const DbError&) {
        return nullptr;
    }
    if (PQsetnonblocking(session->Handle(), 1) != 0) return nullptr;
    return session;
}

}  // namespace trp
