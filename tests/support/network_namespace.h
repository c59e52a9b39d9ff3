#pragma once

// Hosts of the tests' own on a link of their own: a network namespace joined to this one by a
// pair of virtual links (iproute2's ip, as root). A server started in the namespace has an
// address there; the test can make its packets vanish, as when a cable is pulled, and bring them
// back. Where the machine allows no namespaces, Ready() is false and Complaint() says why: the
// test skips then.
//
//     NetworkNamespace network;                 // a server's own host
//     TemporaryCluster server(..., ServerNetwork{network.There(), network.Here() + "/32",
//                                                network.Launcher()});
//     network.Cut();  ...  network.Mend();
//
//     SilentHost silent;                         // an address whose every packet vanishes
//     "host=" + silent.Address() + ",127.0.0.1 port=" + silent.Port() + ",5432"

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace trp::test {

// Whether a mount has the folder (an absolute path without links) as its mount point.
bool IsMountPoint(const std::string& folder);

// `ip netns add` makes its folder a mount point (a bind mount of the folder on itself) when it
// is not one yet, and `ip netns del` leaves that mount behind; inside a chroot the folder and the
// mount are the host's. This undoes it at the end, but only when it appeared meanwhile and no
// namespace is left in the folder: another one's mount inside keeps the folder busy, and the
// kernel then refuses the unmount.
class NamespaceFolderMount {
public:
    explicit NamespaceFolderMount(const std::string& folder);
    ~NamespaceFolderMount();
    NamespaceFolderMount(const NamespaceFolderMount&) = delete;
    NamespaceFolderMount& operator=(const NamespaceFolderMount&) = delete;

private:
    std::string folder_;
    bool existed_ = false;
    bool was_mount_point_ = false;
};

// A network namespace joined to this one by a pair of virtual links, removed again at the end.
class NetworkNamespace {
public:
    NetworkNamespace();
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    bool Ready() const { return ready_; }
    const QString& Complaint() const { return complaint_; }
    // The command prefix that runs a program inside the namespace.
    std::vector<std::string> Launcher() const;
    // This side's address on the link, and the namespace's.
    const std::string& Here() const { return here_; }
    const std::string& There() const { return there_; }
    // From now on every packet between the two sides vanishes, and nothing says so: each side
    // sends to a link-layer address nobody has. The link stays up, so the packets stay on it
    // rather than taking another route.
    bool Cut();
    // The packets flow again.
    bool Mend();

private:
    QString name_;
    QString outside_;
    QString inside_;
    std::string here_;
    std::string there_;
    bool ready_ = false;
    QString complaint_;
    // Goes after the namespace itself, also when the test was skipped or failed part-way.
    std::optional<NamespaceFolderMount> folder_mount_;
};

// An address:port that never answers: a connection's SYN is dropped, as by a pulled cable, so a
// client waits for its own time-out (the kernel's gives up after about 127 s).
class SilentHost {
public:
    SilentHost();
    bool Ready() const { return ready_; }
    const QString& Complaint() const { return network_.Complaint(); }
    const std::string& Address() const { return network_.There(); }
    // Any port will do: nothing there answers.
    std::string Port() const { return "5432"; }

private:
    NetworkNamespace network_;
    bool ready_ = false;
};

}  // namespace trp::test
