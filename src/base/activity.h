#pragma once

namespace trp {

// The long operations that process pending events while they run. A press that would start an
// operation meanwhile is ignored (nothing is disabled), so that no operation runs inside itself
// or inside a conflicting one: a listing started during a listing would double the lists.
// Probing: the connection screen's connection tests and "Next >", which keep the screen alive
// while they connect.
enum class Activity { Listing, Append, Probing };

// Marks an operation as running for its lifetime.
class ActivityScope {
public:
    explicit ActivityScope(Activity activity);
    ~ActivityScope();
    ActivityScope(const ActivityScope&) = delete;
    ActivityScope& operator=(const ActivityScope&) = delete;

    static bool Running(Activity activity);
    static bool AnyRunning();

private:
    Activity activity_;
};

}  // namespace trp
