#include "support/tls_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/pg_fixture.h"

namespace trp::test {
namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text,
               std::ios::openmode mode = std::ios::trunc) {
    std::ofstream out(path, std::ios::out | mode);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("could not write " + path);
}

// Runs openssl in `folder`; throws with its output when it fails.
void Openssl(const std::string& folder, const QStringList& arguments) {
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.setStandardInputFile(QProcess::nullDevice());
    openssl.setWorkingDirectory(QString::fromStdString(folder));
    openssl.start("openssl", arguments);
    const bool finished = openssl.waitForFinished(60000);
    const std::string output = QString::fromLocal8Bit(openssl.readAll()).toStdString();
    if (!finished || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        throw std::runtime_error("openssl " + arguments.join(' ').toStdString() + " failed (" +
                                 openssl.errorString().toStdString() +
                                 "; is the package "
                                 "\"openssl\" installed?):\n" +
                                 output);
    }
}

// openssl's request settings, so that nothing depends on the system's openssl.cnf.
std::string RequestConfig(const std::string& common_name, const std::string& ip_address) {
    std::string config =
        "[req]\ndistinguished_name = subject\nprompt = no\n"
        "[subject]\nCN = " +
        common_name +
        "\n"
        "[authority]\nbasicConstraints = critical,CA:TRUE\n"
        "keyUsage = critical,keyCertSign,cRLSign\nsubjectKeyIdentifier = hash\n"
        "[leaf]\nbasicConstraints = critical,CA:FALSE\n";
    if (!ip_address.empty()) config += "subjectAltName = IP:" + ip_address + "\n";
    return config;
}

const QStringList kNewKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};

// A copy of `source` in the server's folder, owned as the folder is (by the server's account when
// running as root), readable by its owner alone: the server refuses a key others can read.
std::string HandToServer(const TemporaryCluster& cluster, const std::string& source,
                         const std::string& name) {
    const std::string target = cluster.Directory() + "/" + name;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    struct stat folder {};
    if (stat(cluster.Directory().c_str(), &folder) != 0 ||
        chown(target.c_str(), folder.st_uid, folder.st_gid) != 0 ||
        chmod(target.c_str(), 0600) != 0)
        throw std::runtime_error("could not hand " + target + " to the server's account");
    return target;
}

}  // namespace

CertificateAuthority::CertificateAuthority(const std::string& name) {
    if (!folder_.isValid())
        throw std::runtime_error("no temporary folder: " + folder_.errorString().toStdString());
    WriteText(PathOf("authority.cnf"), RequestConfig(name, ""));
    certificate_ = PathOf("authority.crt");
    key_ = PathOf("authority.key");
    Openssl(folder_.path().toStdString(),
            QStringList{"req", "-x509", "-config", "authority.cnf", "-extensions", "authority",
                        "-days", "2", "-keyout", "authority.key", "-out", "authority.crt"} +
                kNewKey);
}

std::string CertificateAuthority::PathOf(const std::string& file) const {
    return folder_.filePath(QString::fromStdString(file)).toStdString();
}

CertificateAuthority::Issued CertificateAuthority::Issue(const std::string& stem,
                                                         const std::string& common_name,
                                                         const std::string& ip_address) {
    const QString name = QString::fromStdString(stem);
    WriteText(PathOf(stem + ".cnf"), RequestConfig(common_name, ip_address));
    Openssl(folder_.path().toStdString(),
            QStringList{"req", "-new", "-config", name + ".cnf", "-keyout", name + ".key", "-out",
                        name + ".csr"} +
                kNewKey);
    Openssl(folder_.path().toStdString(),
            {"x509", "-req", "-in", name + ".csr", "-CA", "authority.crt", "-CAkey",
             "authority.key", "-set_serial", QString::number(next_serial_++), "-days", "2",
             "-extfile", name + ".cnf", "-extensions", "leaf", "-out", name + ".crt"});
    const Issued issued{PathOf(stem + ".crt"), PathOf(stem + ".key")};
    // libpq refuses a client key that others may read.
    if (chmod(issued.key.c_str(), 0600) != 0)
        throw std::runtime_error("could not restrict " + issued.key);
    return issued;
}

TlsOnlyServer::TlsOnlyServer() : authority_("Tessaline test authority") {
    const CertificateAuthority::Issued certificate =
        authority_.Issue("server", "127.0.0.1", "127.0.0.1");
    cluster_ =
        std::make_unique<TemporaryCluster>(TemporaryCluster::Durability::Fast, "tessaline-tls");
    if (cluster_->Host() != "127.0.0.1")
        throw std::runtime_error("the server's certificate is for 127.0.0.1 only");
    const std::string certificate_file =
        HandToServer(*cluster_, certificate.certificate, "server.crt");
    const std::string key_file = HandToServer(*cluster_, certificate.key, "server.key");
    const std::string client_authority =
        HandToServer(*cluster_, authority_.CertificateFile(), "client-authority.crt");
    WriteText(cluster_->DataDirectory() + "/postgresql.conf",
              "\n# Encrypted connections, and client certificates from the test's authority.\n"
              "ssl = on\nssl_cert_file = " +
                  ServerSettingText(certificate_file) +
                  "\nssl_key_file = " + ServerSettingText(key_file) +
                  "\nssl_ca_file = " + ServerSettingText(client_authority) + "\n",
              std::ios::app);
    const std::string clients = "127.0.0.1/32";
    WriteText(cluster_->DataDirectory() + "/pg_hba.conf",
              std::string("# Over TCP, TLS only.\nlocal    all  ") + TemporaryCluster::kSuperuser +
                  "  trust\nhostssl  all  " + kCertificateUser + "  " + clients +
                  "  cert\nhostssl  all  +" + TemporaryCluster::kTcpLoginGroup + "  " + clients +
                  "  scram-sha-256\n");
    // StopServer is a crash: what the fast server has not written out yet would be lost.
    cluster_->Execute("postgres", "CHECKPOINT");
    cluster_->StopServer();
    cluster_->StartServer();
    cluster_->CreateLoginRole(kTestUser, TestPassword());
    // Its password is never used: the `cert` line admits it by its certificate alone.
    cluster_->CreateLoginRole(kCertificateUser, RandomPassword());
}

void TlsOnlyServer::CreateDatabase(const std::string& name) const {
    cluster_->CreateDatabase(name, kTestUser);
}

void TlsOnlyServer::ExecAsUser(const std::string& database, const std::string& sql) const {
    cluster_->Execute(database, std::string("SET ROLE ") + kTestUser + ";\n" + sql);
}

Profile TlsOnlyServer::UserProfile(const std::string& database) const {
    return Profile{cluster_->Host(), std::to_string(cluster_->Port()), kTestUser, TestPassword(),
                   database};
}

Profile TlsOnlyServer::CertificateProfile(const std::string& database) const {
    return Profile{cluster_->Host(), std::to_string(cluster_->Port()), kCertificateUser, "",
                   database};
}

}  // namespace trp::test
