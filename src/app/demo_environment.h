#pragma once

#include <QString>
#include <memory>

class QTemporaryDir;

namespace trp {

class TemporaryCluster;

// The playground of the demo mode: a throwaway PostgreSQL server with two sample databases,
// "northwind_sales" and "northwind_archive", owned by a password-authenticated login role, and a
// settings file of its own whose two profiles point at them. The user's own settings are never
// read or written. Everything is stopped and removed again by the destructor.
class DemoEnvironment {
public:
    // Starts the server and fills the databases; throws std::runtime_error or DbError with the
    // tools' or the server's own message when that fails (nothing is left behind then).
    DemoEnvironment();
    ~DemoEnvironment();
    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    // The INI settings file holding the two demo profiles, in the store's usual format.
    QString SettingsFile() const;

private:
    std::unique_ptr<TemporaryCluster> cluster_;
    std::unique_ptr<QTemporaryDir> settings_directory_;
};

}  // namespace trp
