#pragma once

#include <QString>
#include <optional>

#include "app/command_line.h"
#include "append/append_operation.h"
#include "db/profile.h"

namespace trp {

class ProfileStore;

// The two profiles as the connection screen loads them from the store: the same keys, and the
// same texts for missing keys ("localhost" and "5432" for server and port, else empty).
class StoredProfiles : public ProfileSource {
public:
    explicit StoredProfiles(const ProfileStore& store) : store_(store) {}
    Profile Profile1() const override;
    Profile Profile2() const override;

private:
    const ProfileStore& store_;
};

// Why the settings file at `path` cannot be used by a command, or nothing when it can: it must
// be a file this user can read that nobody else can read or write, since it holds passwords.
// Looked at before the store opens it (the store would narrow a looser mode silently).
std::optional<QString> SettingsFileProblem(const QString& path);

// The exit status of `append` for a run that ended as `outcome`.
int AppendExitStatus(const AppendOutcome& outcome);

// The last message of a run the program's end stopped, as a stop the user chose shows it: the
// rows appended of the source's (or that none were, when the source was not counted yet).
std::string EndingMessage(const AppendOutcome& outcome);

// Runs `append` or `tables` as the command line says, without a display: under a
// QCoreApplication, with termination signals ending the run. `argc` must outlive the
// application. Returns the program's exit status.
int RunCommand(const CommandLine& command_line, int& argc, char** argv);

}  // namespace trp
