#include "app/demo_environment.h"

#include <QTemporaryDir>
#include <stdexcept>

#include "app/temporary_cluster.h"

namespace trp {

// Stand-in until the demo environment lands: the demo mode reports that it is unavailable.
DemoEnvironment::DemoEnvironment() {
    throw std::runtime_error("the demo mode is not available in this build");
}
DemoEnvironment::~DemoEnvironment() = default;
QString DemoEnvironment::SettingsFile() const { return {}; }

}  // namespace trp
