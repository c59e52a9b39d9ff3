#include "support/pgbouncer.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QThread>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/loopback_socket.h"
#include "db/connection.h"
#include "support/pg_fixture.h"

namespace trp::test {
namespace {

constexpr const char* kServerAccount = "postgres";
constexpr int kStartSeconds = 30;

// Writes a file that only the owner of its folder (PgBouncer's account) may read.
void WritePrivateFile(const std::string& folder, const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    struct stat owner {};
    if (!out || stat(folder.c_str(), &owner) != 0 ||
        chown(path.c_str(), owner.st_uid, owner.st_gid) != 0 || chmod(path.c_str(), 0600) != 0)
        throw std::runtime_error("could not write " + path);
}

// A value in the auth file's double quotes, in which a double quote is doubled.
std::string AuthFileQuoted(const std::string& value) {
    std::string quoted = "\"";
    for (char c : value) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + '"';
}

}  // namespace

std::string PgBouncerProgram() {
    for (const char* candidate : {"/usr/sbin/pgbouncer", "/usr/bin/pgbouncer"})
        if (access(candidate, X_OK) == 0) return candidate;
    return "";
}

PgBouncer::PgBouncer(TemporaryCluster& server, PoolMode mode, std::vector<Login> logins)
    : server_(server), mode_(mode), logins_(std::move(logins)) {
    if (PgBouncerProgram().empty())
        throw std::runtime_error("PgBouncer is not installed; install the package \"pgbouncer\"");
    if (!folder_.isValid())
        throw std::runtime_error("no temporary folder for PgBouncer: " +
                                 folder_.errorString().toStdString());
    if (logins_.empty()) logins_.push_back({kTestUser, TestPassword()});

    const passwd* account = nullptr;
    if (geteuid() == 0) {
        account = getpwnam(kServerAccount);
        if (!account)
            throw std::runtime_error("running as root, PgBouncer needs the \"postgres\" account");
        // The folder (mode 0700) and everything in it belong to the account PgBouncer runs as.
        if (chown(folder_.path().toLocal8Bit().constData(), account->pw_uid, account->pw_gid) != 0)
            throw std::runtime_error("could not hand PgBouncer's folder to the postgres account");
    }
    std::string users;
    for (const Login& login : logins_)
        users += AuthFileQuoted(login.user) + " " + AuthFileQuoted(login.password) + "\n";
    WritePrivateFile(folder_.path().toStdString(), PathOf("users.txt"), users);

    process_.setProgram(QString::fromStdString(PgBouncerProgram()));
    process_.setArguments({QString::fromStdString(PathOf("pgbouncer.ini"))});
    process_.setWorkingDirectory(folder_.path());
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QString::fromStdString(PathOf("pgbouncer.log")),
                                   QIODevice::Append);
    process_.setStandardErrorFile(QString::fromStdString(PathOf("pgbouncer.log")),
                                  QIODevice::Append);
    const uid_t uid = account ? account->pw_uid : 0;
    const gid_t gid = account ? account->pw_gid : 0;
    process_.setChildProcessModifier([uid, gid, as_account = account != nullptr] {
        // Only async-signal-safe calls here, between fork and exec.
        if (as_account && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
        // Set after the change of account, which would clear it: the pooler goes with the tests.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
    });

    // A port found free may be taken by someone else before PgBouncer binds it.
    for (int attempt = 1; !Start(); ++attempt) {
        if (attempt == 5) throw std::runtime_error("PgBouncer found no free port:\n" + Log());
    }
}

PgBouncer::~PgBouncer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();  // SIGTERM: PgBouncer closes every connection and exits at once
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(-1);
    }
}

std::string PgBouncer::PathOf(const std::string& file) const {
    return folder_.filePath(QString::fromStdString(file)).toStdString();
}

void PgBouncer::Restart() {
    process_.terminate();  // SIGTERM: PgBouncer closes every connection and exits at once
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(-1);
    }
    if (!Start(port_)) throw std::runtime_error("PgBouncer's port was taken while it restarted");
}

bool PgBouncer::Start(int port) {
    port_ = port != 0 ? port : FreeLoopbackPort();
    const std::string pool_mode = mode_ == PoolMode::Session ? "session" : "transaction";
    std::string settings = "[databases]\n";
    settings += "* = host=" + server_.Host() + " port=" + std::to_string(server_.Port()) + "\n";
    settings += "\n[pgbouncer]\n";
    settings += "listen_addr = " + host_ + "\n";
    settings += "listen_port = " + std::to_string(port_) + "\n";
    settings += "unix_socket_dir = " + folder_.path().toStdString() + "\n";
    settings += "pool_mode = " + pool_mode + "\n";
    settings += "auth_type = scram-sha-256\n";
    settings += "auth_file = " + PathOf("users.txt") + "\n";
    WritePrivateFile(folder_.path().toStdString(), PathOf("pgbouncer.ini"), settings);
    const size_t log_before = Log().size();
    process_.start();
    if (!process_.waitForStarted(-1))
        throw std::runtime_error("PgBouncer could not be started: " +
                                 process_.errorString().toStdString());
    const std::string address = host_ + ":" + std::to_string(port_);
    const QDeadlineTimer deadline(kStartSeconds * 1000);
    while (true) {
        const std::string log = Log().substr(std::min(log_before, Log().size()));
        if (log.find("listening on " + address) != std::string::npos) return true;
        // PgBouncer stays up on its Unix socket alone when the port is taken.
        if (log.find("cannot listen on " + address) != std::string::npos) {
            process_.kill();
            process_.waitForFinished(-1);
            return false;
        }
        if (process_.waitForFinished(50))
            throw std::runtime_error("PgBouncer ended at once:\n" + Log());
        if (deadline.hasExpired()) {
            process_.kill();
            process_.waitForFinished(-1);
            throw std::runtime_error("PgBouncer did not come up within " +
                                     std::to_string(kStartSeconds) + " s:\n" + Log());
        }
    }
}

Profile PgBouncer::ProfileFor(const std::string& database) const {
    return ProfileFor(database, logins_.front());
}

Profile PgBouncer::ProfileFor(const std::string& database, const Login& login) const {
    return Profile{host_, std::to_string(port_), login.user, login.password, database};
}

void PgBouncer::StopServer() {
    server_.StopServer();
}

void PgBouncer::StartServer() {
    server_.StartServer();
}

void PgBouncer::RestartServer() {
    StopServer();
    StartServer();
}

int PgBouncer::TerminateServerSessions(const std::string& database) {
    const std::string sessions =
        " FROM pg_stat_activity WHERE backend_type = 'client backend' AND pid <> "
        "pg_backend_pid() AND datname = " +
        QuoteLiteral(database);
    // Waits (up to 10 s) until each session has ended, so that what follows meets them gone;
    // before 14 pg_terminate_backend cannot wait, so this asks until they are.
    const bool waits = server_.Version() >= 14;
    const Rows ended = QueryRows(server_.AdminProfile("postgres"),
                                 "SELECT count(*) FILTER (WHERE pg_terminate_backend(pid" +
                                     std::string(waits ? ", 10000" : "") + "))" + sessions);
    const QDeadlineTimer deadline(10000);
    while (!waits && !deadline.hasExpired() &&
           QueryRows(server_.AdminProfile("postgres"), "SELECT count(*)" + sessions)[0][0] != "0")
        QThread::msleep(20);
    return std::stoi(ended.at(0).at(0).value_or("0"));
}

std::string PgBouncer::Log() const {
    std::ifstream in(PathOf("pgbouncer.log"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace trp::test
