#include "app/temporary_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "connection/connection.h"
#include "connection/connection_string.h"

namespace trp {
namespace {

namespace fs = std::filesystem;

bool RunningAsRoot() { return geteuid() == 0; }

// Runs a program with its output appended to `log`; returns its exit status.
int Run(std::vector<std::string> argv, const std::string& log) {
    if (RunningAsRoot()) argv.insert(argv.begin(), {"runuser", "-u", "postgres", "--"});
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("could not start " + argv.front());
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("no free loopback port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void HandToPostgres(const std::string& path) {
    if (!RunningAsRoot()) return;
    const passwd* account = getpwnam("postgres");
    if (!account) throw std::runtime_error("running as root needs the \"postgres\" user");
    if (chown(path.c_str(), account->pw_uid, account->pw_gid) != 0)
        throw std::runtime_error("could not hand " + path + " to the postgres user");
}

}  // namespace

std::string PostgresBinDirectory() {
    for (const char* candidate : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin",
                                  "/usr/lib/postgresql/17/bin", "/usr/local/pgsql/bin"}) {
        if (fs::exists(fs::path(candidate) / "initdb")) return candidate;
    }
    return "";
}

TemporaryCluster::TemporaryCluster() {
    bin_ = PostgresBinDirectory();
    if (bin_.empty()) throw std::runtime_error("PostgreSQL's server programs are not installed");

    std::string pattern = (fs::temp_directory_path() / "tessaline-pg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("could not create a temporary directory");
    directory_ = pattern;
    fs::permissions(directory_, fs::perms::owner_all);
    HandToPostgres(directory_);

    const std::string data = directory_ + "/data";
    const std::string log = directory_ + "/server.log";
    const std::string password_file = directory_ + "/pw";
    {
        std::ofstream(password_file) << kSuperuserPassword << '\n';
    }
    HandToPostgres(password_file);
    {
        std::ofstream(log).flush();
    }
    HandToPostgres(log);

    if (Run({bin_ + "/initdb", "-D", data, "-U", kSuperuser, "--pwfile=" + password_file,
             "--auth-host=scram-sha-256", "--auth-local=trust", "-E", "UTF8", "--locale=C.UTF-8",
             "--no-sync"},
            log) != 0) {
        const std::string output = ReadFile(log);
        fs::remove_all(directory_);
        throw std::runtime_error("initdb failed:\n" + output);
    }
    fs::remove(password_file);

    for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
        port_ = FreeLoopbackPort();
        const std::string settings = "-c listen_addresses=" + host_ + " -p " +
                                     std::to_string(port_) + " -k " + directory_ +
                                     " -c fsync=off -c synchronous_commit=off"
                                     " -c full_page_writes=off -c max_connections=60";
        started_ = Run({bin_ + "/pg_ctl", "-D", data, "-l", log, "-w", "-t", "60", "-o", settings,
                        "start"},
                       log) == 0;
    }
    if (!started_) {
        const std::string output = ReadFile(log);
        fs::remove_all(directory_);
        throw std::runtime_error("the PostgreSQL server did not start:\n" + output);
    }
}

TemporaryCluster::~TemporaryCluster() { Stop(); }

void TemporaryCluster::Stop() noexcept {
    try {
        if (started_) {
            Run({bin_ + "/pg_ctl", "-D", directory_ + "/data", "-m", "immediate", "-w", "stop"},
                "/dev/null");
            started_ = false;
        }
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    } catch (...) {
        // Nothing more can be done for a server that will not stop.
    }
}

Profile TemporaryCluster::AdminProfile(const std::string& database) const {
    return Profile{host_, std::to_string(port_), kSuperuser, kSuperuserPassword, database};
}

void TemporaryCluster::Execute(const std::string& database, const std::string& sql) const {
    Connection connection;
    connection.SetCommandTimeout(0);
    connection.Open(BuildConnectionString(AdminProfile(database)));
    connection.Execute(sql);
}

}  // namespace trp
