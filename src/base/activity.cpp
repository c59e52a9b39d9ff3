#include "base/activity.h"

namespace trp {
namespace {

// Everything runs on the one user-interface thread.
int running[3] = {0, 0, 0};

int& Count(Activity activity) {
    return running[static_cast<int>(activity)];
}

}  // namespace

ActivityScope::ActivityScope(Activity activity) : activity_(activity) {
    ++Count(activity_);
}
ActivityScope::~ActivityScope() {
    --Count(activity_);
}

bool ActivityScope::Running(Activity activity) {
    return Count(activity) > 0;
}
bool ActivityScope::AnyRunning() {
    return Running(Activity::Listing) || Running(Activity::Append) || Running(Activity::Probing);
}

}  // namespace trp
