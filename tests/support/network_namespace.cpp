#include "support/network_namespace.h"

#include <sys/mount.h>
#include <unistd.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace trp::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIp = "/usr/sbin/ip";
// Where ip keeps the names of network namespaces.
constexpr const char* kNamespaceFolder = "/run/netns";
// A link-layer address that no interface has (locally administered), so frames sent to it are
// dropped by the link's other end.
constexpr const char* kNobodysAddress = "02:00:5e:00:00:01";

// Runs ip with the arguments; false when it fails, with what it said in `complaint`.
bool Ip(const QStringList& arguments, QString* complaint = nullptr) {
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(kIp, arguments);
    const bool done =
        ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    if (!done && complaint)
        *complaint = "ip " + arguments.join(' ') + ": " + QString::fromLocal8Bit(ip.readAll());
    return done;
}

}  // namespace

bool IsMountPoint(const std::string& folder) {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount_point;
        fields >> id >> parent >> device >> root >> mount_point;
        // Blanks, tabs, line ends and backslashes in the path are written as \ooo.
        std::string path;
        for (std::size_t at = 0; at < mount_point.size(); ++at) {
            if (mount_point[at] == '\\' && at + 3 < mount_point.size()) {
                path += static_cast<char>(std::stoi(mount_point.substr(at + 1, 3), nullptr, 8));
                at += 3;
            } else {
                path += mount_point[at];
            }
        }
        if (path == folder) return true;
    }
    return false;
}

NamespaceFolderMount::NamespaceFolderMount(const std::string& folder) : folder_(folder) {
    std::error_code failed;
    const fs::path real = fs::weakly_canonical(folder, failed);
    if (!failed) folder_ = real.string();
    existed_ = fs::exists(folder_, failed);
    was_mount_point_ = IsMountPoint(folder_);
}

NamespaceFolderMount::~NamespaceFolderMount() {
    std::error_code failed;
    if (was_mount_point_ || !IsMountPoint(folder_) || !fs::is_empty(folder_, failed) || failed)
        return;
    if (::umount2(folder_.c_str(), UMOUNT_NOFOLLOW) == 0 && !existed_) fs::remove(folder_, failed);
}

NetworkNamespace::NetworkNamespace() {
    // Names and addresses of their own (10.100.0.0 to 10.254.249.255), so runs side by side do
    // not meet.
    const quint32 tag = QRandomGenerator::system()->bounded(1u, 38750u);
    name_ = QStringLiteral("trp-ns-%1").arg(tag);
    outside_ = QStringLiteral("trpo%1").arg(tag);
    inside_ = QStringLiteral("trpi%1").arg(tag);
    const QString net = QStringLiteral("10.%1.%2.").arg(100 + tag / 250).arg(tag % 250);
    here_ = (net + "1").toStdString();
    there_ = (net + "2").toStdString();
    if (geteuid() != 0 || access(kIp, X_OK) != 0) {
        complaint_ = "ip needs root and /usr/sbin/ip";
        return;
    }
    folder_mount_.emplace(kNamespaceFolder);
    ready_ = Ip({"netns", "add", name_}, &complaint_) &&
             Ip({"link", "add", outside_, "type", "veth", "peer", "name", inside_}, &complaint_) &&
             Ip({"link", "set", inside_, "netns", name_}, &complaint_) &&
             Ip({"addr", "add", net + "1/30", "dev", outside_}, &complaint_) &&
             Ip({"link", "set", outside_, "up"}, &complaint_) &&
             Ip({"-n", name_, "addr", "add", net + "2/30", "dev", inside_}, &complaint_) &&
             Ip({"-n", name_, "link", "set", inside_, "up"}, &complaint_) &&
             Ip({"-n", name_, "link", "set", "lo", "up"}, &complaint_);
}

NetworkNamespace::~NetworkNamespace() {
    Ip({"link", "del", outside_});
    Ip({"netns", "del", name_});
}

std::vector<std::string> NetworkNamespace::Launcher() const {
    return {kIp, "netns", "exec", name_.toStdString()};
}

// Taking a link down would not do: its routes go with it, and packets to the namespace's address
// would leave by the machine's default route instead.
bool NetworkNamespace::Cut() {
    return Ip({"neigh", "replace", QString::fromStdString(there_), "lladdr", kNobodysAddress, "dev",
               outside_, "nud", "permanent"},
              &complaint_) &&
           Ip({"-n", name_, "neigh", "replace", QString::fromStdString(here_), "lladdr",
               kNobodysAddress, "dev", inside_, "nud", "permanent"},
              &complaint_);
}

bool NetworkNamespace::Mend() {
    return Ip({"neigh", "del", QString::fromStdString(there_), "dev", outside_}, &complaint_) &&
           Ip({"-n", name_, "neigh", "del", QString::fromStdString(here_), "dev", inside_},
              &complaint_);
}

SilentHost::SilentHost() {
    ready_ = network_.Ready() && network_.Cut();
}

}  // namespace trp::test
