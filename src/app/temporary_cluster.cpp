#include "app/temporary_cluster.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/loopback_socket.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/db_error.h"

namespace trp {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServerAccount = "postgres";
// Only there to keep a hung tool from hanging the program for good; initdb and pg_ctl's own
// wait (60 s) normally end far sooner.
constexpr int kToolTimeoutMs = 5 * 60 * 1000;

bool RunningAsRoot() {
    return geteuid() == 0;
}

// runuser by its absolute path: root's PATH need not hold /usr/sbin.
std::string RunuserPath() {
    for (const char* candidate : {"/usr/sbin/runuser", "/sbin/runuser"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces the file's text; an existing file keeps its owner and mode.
void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("could not write " + path);
}

// Runs one of PostgreSQL's programs (as the server account when running as root) and returns
// its output. Throws naming `step`, with the program's own output, when it fails.
std::string RunTool(const std::string& step, const std::string& program,
                    const QStringList& arguments, const std::string& working_directory,
                    const std::vector<std::string>& launcher = {}) {
    QString executable = QString::fromStdString(program);
    QStringList all_arguments = arguments;
    if (RunningAsRoot()) {
        all_arguments = QStringList{"-u", kServerAccount, "--", executable} + arguments;
        executable = QString::fromStdString(RunuserPath());
    }
    if (!launcher.empty()) {
        QStringList prefix;
        for (const std::string& part : launcher) prefix << QString::fromStdString(part);
        all_arguments = prefix.mid(1) + QStringList{executable} + all_arguments;
        executable = prefix.front();
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // The server account must be able to enter the working folder.
    process.setWorkingDirectory(QString::fromStdString(working_directory));
    process.start(executable, all_arguments);
    if (!process.waitForStarted(-1)) {
        throw std::runtime_error(step + " failed: " + executable.toStdString() +
                                 " could not be started: " + process.errorString().toStdString());
    }
    const bool finished = process.waitForFinished(kToolTimeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished(-1);
    }
    const std::string output = QString::fromLocal8Bit(process.readAll()).toStdString();
    if (!finished) throw std::runtime_error(step + " did not finish:\n" + output);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(step + " failed:\n" + output);
    return output;
}

std::string ServerSettings(const std::string& host, int port, const std::string& socket_directory,
                           TemporaryCluster::Durability durability) {
    std::string settings =
        "\n# The throwaway server's own settings.\n"
        "listen_addresses = " +
        ServerSettingText(host) + "\n" + "port = " + std::to_string(port) + "\n" +
        // Double quotes keep a folder name with commas or blanks one entry of the list.
        "unix_socket_directories = " + ServerSettingText('"' + socket_directory + '"') + "\n" +
        "unix_socket_permissions = 0700\n" +
        // The default from 14 on; before, roles made with a plain password would get MD5.
        "password_encryption = 'scram-sha-256'\n";
    if (durability == TemporaryCluster::Durability::Fast) {
        settings +=
            "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
            "max_connections = 60\n";
    }
    return settings;
}

// Who may log in, replacing initdb's defaults. The first matching line decides; a login that
// matches none is refused.
std::string AccessRules(const std::string& clients) {
    return std::string(
               "# The superuser logs in (and copies the server for a standby) only through the\n"
               "# Unix socket in the server's own folder, which only the folder's owner and root\n"
               "# can reach. Over TCP only the members of the login group get in, with their\n"
               "# passwords; nobody else gets in at all.\n"
               "local  all  ") +
           TemporaryCluster::kSuperuser + "  trust\nlocal  replication  " +
           TemporaryCluster::kSuperuser + "  trust\nhost   all  +" +
           TemporaryCluster::kTcpLoginGroup + "  " + clients + "  scram-sha-256\n";
}

bool HasServerPrograms(const std::string& bin) {
    return access((bin + "/initdb").c_str(), X_OK) == 0 &&
           access((bin + "/pg_ctl").c_str(), X_OK) == 0;
}

// The account the server runs as when root (PostgreSQL refuses root); nullptr otherwise.
const passwd* ServerAccount() {
    if (!RunningAsRoot()) return nullptr;
    const passwd* account = getpwnam(kServerAccount);
    if (!account) {
        throw std::runtime_error(
            "running as root, the server needs the \"postgres\" account, which the package "
            "\"postgresql-15\" creates");
    }
    if (RunuserPath().empty()) {
        throw std::runtime_error(
            "running as root, the server is started through /usr/sbin/runuser, which is "
            "missing; install the package \"util-linux\"");
    }
    return account;
}

}  // namespace

void IgnoreUsersEncryptionSettings() {
    for (const std::string_view variable : kEncryptionVariables)
        unsetenv(std::string(variable).c_str());
    setenv("PGSSLMODE", "disable", 1);
    setenv("PGGSSENCMODE", "disable", 1);
}

std::string PostgresBinDirectory() {
    for (const char* candidate : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin",
                                  "/usr/lib/postgresql/17/bin", "/usr/local/pgsql/bin"}) {
        if (HasServerPrograms(candidate)) return candidate;
    }
    return "";
}

std::string PostgresBinDirectory(int version) {
    for (const std::string& candidate :
         {"/usr/lib/postgresql/" + std::to_string(version) + "/bin",
          PostgresReleaseCache() + "/" + std::to_string(version) + "/native/bin"}) {
        if (HasServerPrograms(candidate)) return candidate;
    }
    return "";
}

std::string PostgresReleaseCache() {
    if (const char* set = std::getenv("TRP_POSTGRES_RELEASES"); set && *set) return set;
    if (RunningAsRoot()) return "/var/cache/tessaline-row-porter/postgresql";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/') return std::string(cache) + "/tessaline-row-porter/postgresql";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.cache/tessaline-row-porter/postgresql";
}

std::string ServerSettingText(std::string_view value) {
    std::string quoted = "'";
    for (const char c : value) {
        // The settings file reads a backslash as an escape, unlike an SQL literal.
        if (c == '\'' || c == '\\') quoted += c;
        quoted += c;
    }
    return quoted + '\'';
}

std::string RandomPassword(int length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string password;
    for (int i = 0; i < length; ++i)
        password += kAlphabet[QRandomGenerator::system()->bounded(int(sizeof kAlphabet - 1))];
    return password;
}

TemporaryCluster::TemporaryCluster(Durability durability, const std::string& folder_prefix,
                                   ServerNetwork network, int version)
    : network_(std::move(network)), durability_(durability), host_(network_.address) {
    bin_ = version == 0 ? PostgresBinDirectory() : PostgresBinDirectory(version);
    if (bin_.empty() && version != 0) {
        throw std::runtime_error("PostgreSQL " + std::to_string(version) +
                                 "'s server programs (initdb, pg_ctl) are neither installed nor "
                                 "in " +
                                 PostgresReleaseCache() + "/" + std::to_string(version) +
                                 "/native/bin, where scripts/test.sh puts them");
    }
    if (bin_.empty()) {
        throw std::runtime_error(
            "PostgreSQL's server programs (initdb, pg_ctl) are not installed; install the "
            "package \"postgresql-15\"");
    }
    MakeFolder(folder_prefix);
    try {
        RunTool(
            "creating the server's data folder (initdb)", bin_ + "/initdb",
            {"-D", QString::fromStdString(DataDirectory()), "-U", kSuperuser, "--auth-local=trust",
             "--auth-host=reject", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
            directory_);
        WriteFile(DataDirectory() + "/pg_hba.conf", AccessRules(network_.clients));
        StartOnAFreePort();
        Connection admin = AdminConnection("postgres");
        admin.Execute("CREATE ROLE " + admin.QuoteIdentifier(kTcpLoginGroup) + " NOLOGIN");
    } catch (...) {
        Remove();
        throw;
    }
}

TemporaryCluster::TemporaryCluster(StandbyOf standby)
    : network_(standby.primary.network_),
      durability_(standby.primary.durability_),
      host_(standby.primary.host_),
      bin_(standby.primary.bin_) {
    const TemporaryCluster& primary = standby.primary;
    // The newest pg_basebackup copies older servers too; the release packages bring none.
    std::string basebackup = bin_ + "/pg_basebackup";
    if (access(basebackup.c_str(), X_OK) != 0)
        basebackup = PostgresBinDirectory() + "/pg_basebackup";
    if (access(basebackup.c_str(), X_OK) != 0) {
        throw std::runtime_error(
            "a standby is copied by pg_basebackup, which is not installed; install the package "
            "\"postgresql-client-15\"");
    }
    MakeFolder(fs::path(primary.directory_).filename().string() + "-standby");
    try {
        // -R: the copy starts as a standby that streams from the primary's socket.
        RunTool("copying the primary (pg_basebackup)", basebackup,
                {"-D", QString::fromStdString(DataDirectory()), "-h",
                 QString::fromStdString(primary.directory_), "-p", QString::number(primary.port_),
                 "-U", kSuperuser, "-R", "-X", "stream", "-c", "fast", "--no-sync"},
                directory_);
        StartOnAFreePort();
    } catch (...) {
        Remove();
        throw;
    }
}

std::unique_ptr<TemporaryCluster> TemporaryCluster::MakeStandby() const {
    return std::unique_ptr<TemporaryCluster>(new TemporaryCluster(StandbyOf{*this}));
}

void TemporaryCluster::Promote() {
    RunTool("promoting the standby (pg_ctl promote)", bin_ + "/pg_ctl",
            {"-D", QString::fromStdString(DataDirectory()), "-w", "-t", "60", "promote"},
            directory_, network_.launcher);
}

bool TemporaryCluster::InRecovery() const {
    return AdminConnection("postgres").Execute("SELECT pg_is_in_recovery()").Value(0) ==
           std::optional<std::string>("t");
}

void TemporaryCluster::MakeFolder(const std::string& folder_prefix) {
    const passwd* account = ServerAccount();
    folder_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/" +
                                              QString::fromStdString(folder_prefix) + "-XXXXXX");
    if (!folder_->isValid()) {
        throw std::runtime_error("could not create a temporary folder for the server: " +
                                 folder_->errorString().toStdString());
    }
    directory_ = folder_->path().toStdString();
    // QTemporaryDir made it 0700; as root it goes to the account the server runs as.
    if (account && chown(directory_.c_str(), account->pw_uid, account->pw_gid) != 0) {
        Remove();
        throw std::runtime_error("could not hand " + directory_ + " to the postgres account");
    }
}

void TemporaryCluster::StartOnAFreePort() {
    // A port found free may be taken by someone else before the server binds it. The settings
    // go after those already in the file (initdb's, or a primary's), so they are the ones that
    // count.
    const std::string conf_file = DataDirectory() + "/postgresql.conf";
    const std::string earlier_settings = ReadFile(conf_file);
    for (int attempt = 1;; ++attempt) {
        port_ = FreeLoopbackPort();
        WriteFile(conf_file,
                  earlier_settings + ServerSettings(host_, port_, directory_, durability_));
        try {
            StartServer();
            break;
        } catch (const std::runtime_error& e) {
            const bool port_taken =
                std::string(e.what()).find("Address already in use") != std::string::npos;
            if (attempt == 5 || !port_taken) throw;
        }
    }
    version_ =
        std::stoi(
            AdminConnection("postgres").Execute("SHOW server_version_num").Value(0).value_or("0")) /
        10000;
}

TemporaryCluster::~TemporaryCluster() {
    Remove();
}

void TemporaryCluster::StartServer() {
    // Earlier starts wrote to the same log; only this one's lines tell what went wrong.
    const size_t log_before = ReadFile(LogFile()).size();
    try {
        RunTool("starting the PostgreSQL server (pg_ctl start)", bin_ + "/pg_ctl",
                {"-D", QString::fromStdString(DataDirectory()), "-l",
                 QString::fromStdString(LogFile()), "-w", "-t", "60", "start"},
                directory_, network_.launcher);
    } catch (const std::runtime_error& e) {
        std::string text = e.what();
        if (!text.ends_with('\n')) text += '\n';
        const std::string log = ReadFile(LogFile());
        throw std::runtime_error(text + "server log:\n" +
                                 log.substr(std::min(log_before, log.size())));
    }
}

void TemporaryCluster::StopServer(bool fast) {
    RunTool("stopping the PostgreSQL server (pg_ctl stop)", bin_ + "/pg_ctl",
            {"-D", QString::fromStdString(DataDirectory()), "-m", fast ? "fast" : "immediate", "-w",
             "stop"},
            directory_);
}

void TemporaryCluster::Remove() noexcept {
    try {
        std::error_code ignored;
        // Also a server whose start was given up may be running.
        if (fs::exists(DataDirectory() + "/postmaster.pid", ignored)) StopServer();
    } catch (...) {
        // Nothing more can be done for a server that will not stop.
    }
    folder_.reset();
}

Profile TemporaryCluster::AdminProfile(const std::string& database) const {
    return Profile{directory_, std::to_string(port_), kSuperuser, "", database};
}

Connection TemporaryCluster::AdminConnection(const std::string& database) const {
    Connection connection;
    connection.SetCommandTimeout(0);
    connection.Open(BuildConnectionString(AdminProfile(database)));
    // The server's housekeeping is nothing the user asked about: no notices such as "database
    // ... does not exist, skipping" on standard error; warnings and errors still come.
    connection.Execute("SET client_min_messages = warning");
    return connection;
}

void TemporaryCluster::Execute(const std::string& database, const std::string& sql) const {
    AdminConnection(database).Execute(sql);
}

void TemporaryCluster::CreateLoginRole(const std::string& name, const std::string& password,
                                       const std::string& options) const {
    Connection admin = AdminConnection("postgres");
    // Only the SCRAM verifier reaches the server, so the password appears in no server log.
    const PgMemoryPtr<char> verifier(
        PQencryptPasswordConn(admin.Handle(), password.c_str(), name.c_str(), "scram-sha-256"));
    if (!verifier) throw DbError(ErrorText(admin.Handle()));
    admin.Execute("CREATE ROLE " + admin.QuoteIdentifier(name) + " LOGIN " + options +
                  " PASSWORD " + QuoteLiteral(verifier.get()) + " IN ROLE " +
                  admin.QuoteIdentifier(kTcpLoginGroup));
}

void TemporaryCluster::CreateDatabase(const std::string& name, const std::string& owner) const {
    Connection admin = AdminConnection("postgres");
    const std::string database = admin.QuoteIdentifier(name);
    if (version_ >= 13) {
        admin.Execute("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)");
    } else {
        // DROP DATABASE waits a few seconds for the sessions it finds to end.
        admin.Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = " +
                      admin.QuoteLiteral(name));
        admin.Execute("DROP DATABASE IF EXISTS " + database);
    }
    admin.Execute("CREATE DATABASE " + database + " OWNER " + admin.QuoteIdentifier(owner));
}

}  // namespace trp
