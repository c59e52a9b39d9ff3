#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace trp {

class TemporaryCluster;

// The playground of the demo mode: a throwaway PostgreSQL server with two sample databases,
// "northwind_sales" and "northwind_archive", owned by a login role whose password is drawn anew
// for every run, and a settings file of its own whose two profiles point at them. Server and
// settings file share one folder that only its owner can enter; the user's own settings are
// never read or written. While it lives, the rows its runs refuse are kept in that folder too
// (XDG_STATE_HOME points there), not among the user's. Everything is stopped and removed again,
// and XDG_STATE_HOME restored, by the destructor. From the start the process ignores the user's
// TLS and GSSAPI variables (IgnoreUsersEncryptionSettings).
class DemoEnvironment {
public:
    // Starts the server and fills the databases; throws std::runtime_error or DbError with the
    // tools' or the server's own message when that fails (nothing is left behind then).
    DemoEnvironment();
    ~DemoEnvironment();
    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    // The demo's folder (mode 0700): the server's data, log and socket, and the settings file.
    QString Directory() const;
    // The INI settings file (mode 0600) holding the two demo profiles and with them the role's
    // password, in the store's usual format.
    QString SettingsFile() const;

private:
    std::unique_ptr<TemporaryCluster> cluster_;
    std::optional<QByteArray> state_home_before_;  // XDG_STATE_HOME as it was, if it was set
};

}  // namespace trp
