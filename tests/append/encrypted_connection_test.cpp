// Connections that must be encrypted and verified: the user's TLS settings (PGSSLMODE,
// PGSSLROOTCERT, the certificates in ~/.postgresql/) decide, through the real screens, against a
// server that takes TLS logins only.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "db/connection.h"
#include "screen_run.h"
#include "support/controls.h"
#include "support/scoped_environment.h"
#include "support/tls_server.h"
#include "ui/push_button.h"

namespace trp {
namespace {

using test::ScopedEnvironment;
using test::TlsOnlyServer;

const QString kSuccess = "Connection successful.";
const QString kFailure = "Could not connect. Please check with your administrator.";

class EncryptedConnectionTest : public test::ScreenRunTest {
protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<TlsOnlyServer>();
        server_->CreateDatabase("tls_one");
        server_->CreateDatabase("tls_two");
        // Same column types on both sides: the rows travel in COPY's binary format.
        const std::string columns =
            "(id integer PRIMARY KEY, name text, amount numeric(12,2), at timestamptz, "
            "payload bytea, active boolean)";
        server_->ExecAsUser("tls_one", "CREATE TABLE arrivals " + columns);
        server_->ExecAsUser("tls_two", "CREATE TABLE departures " + columns + R"sql(;
            INSERT INTO departures
            SELECT g, CASE WHEN g % 7 = 0 THEN NULL ELSE 'O''Brien Ærø #' || g END,
                   round(g * 13.37, 2), TIMESTAMPTZ '2024-02-29 12:00:00+01' + g * INTERVAL '1 h',
                   CASE WHEN g % 5 = 0 THEN NULL ELSE sha256(g::text::bytea) END, g % 3 = 0
            FROM generate_series(1, 600) AS g)sql");
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ScreenRunTest::SetUp();
        // Only what each test sets: no variable of the process, and libpq's default certificate
        // files looked up in an empty home folder.
        for (const std::string_view variable : kEncryptionVariables)
            environment_.Unset(std::string(variable));
        ASSERT_TRUE(empty_home_.isValid());
        environment_.Set("HOME", empty_home_.path().toStdString());
        SetProfiles(server_->UserProfile("tls_one"), server_->UserProfile("tls_two"));
    }

    // Presses "Test Connection" of both profiles and returns what the two boxes said.
    QStringList TestBothConnections() {
        shown_.clear();
        test::Control<PushButton>(ConnectionScreen(), "PushButton3")->click();
        test::Control<PushButton>(ConnectionScreen(), "PushButton6")->click();
        return Messages();
    }

    // Expects a connection that is verified against the test's authority, and none otherwise.
    void VerifyFull(const std::string& root_certificate) {
        environment_.Set("PGSSLMODE", "verify-full");
        environment_.Set("PGSSLROOTCERT", root_certificate);
    }

    static std::unique_ptr<TlsOnlyServer> server_;
    ScopedEnvironment environment_;
    QTemporaryDir empty_home_;
};

std::unique_ptr<TlsOnlyServer> EncryptedConnectionTest::server_;

TEST_F(EncryptedConnectionTest, VerifiedServerConnectsAndTakesEveryRowExactly) {
    VerifyFull(server_->Authority().CertificateFile());
    EXPECT_EQ(TestBothConnections(), QStringList({kSuccess, kSuccess}));

    server_->ExecAsUser("tls_one", "TRUNCATE arrivals");
    Press("arrivals", "departures");
    EXPECT_EQ(Reports(), QStringList());
    EXPECT_EQ(Messages(), QStringList({"Done."}));
    const auto arrived =
        test::QueryRows(server_->UserProfile("tls_one"), "SELECT * FROM arrivals ORDER BY id");
    const auto departed =
        test::QueryRows(server_->UserProfile("tls_two"), "SELECT * FROM departures ORDER BY id");
    ASSERT_EQ(arrived.size(), 600u);
    EXPECT_EQ(arrived, departed);
}

TEST_F(EncryptedConnectionTest, ServerOfAnotherAuthorityOrNoEncryptionIsRefused) {
    test::CertificateAuthority other("Another authority");
    VerifyFull(other.CertificateFile());
    EXPECT_EQ(TestBothConnections(), QStringList({kFailure, kFailure}));

    environment_.Unset("PGSSLROOTCERT");
    environment_.Set("PGSSLMODE", "disable");
    EXPECT_EQ(TestBothConnections(), QStringList({kFailure, kFailure}));
}

TEST_F(EncryptedConnectionTest, WithoutSettingsLibpqsDefaultStillEncryptsWhereTheServerCan) {
    // sslmode "prefer": encrypted, unverified; the server admits nothing else.
    EXPECT_EQ(TestBothConnections(), QStringList({kSuccess, kSuccess}));
}

TEST_F(EncryptedConnectionTest, CertificatesInTheUsersHomeFolderAreUsed) {
    const auto client = server_->Authority().Issue("client", TlsOnlyServer::kCertificateUser);
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(QDir(home.path()).mkpath(".postgresql"));
    const auto place = [&](const std::string& from, const QString& name) {
        ASSERT_TRUE(
            QFile::copy(QString::fromStdString(from), home.filePath(".postgresql/" + name)));
    };
    place(server_->Authority().CertificateFile(), "root.crt");
    environment_.Set("HOME", home.path().toStdString());
    environment_.Set("PGSSLMODE", "verify-full");
    SetProfiles(server_->CertificateProfile("tls_one"), server_->CertificateProfile("tls_two"));
    // The server verified against ~/.postgresql/root.crt, but no client certificate to log in.
    EXPECT_EQ(TestBothConnections(), QStringList({kFailure, kFailure}));

    place(client.certificate, "postgresql.crt");
    place(client.key, "postgresql.key");
    ASSERT_TRUE(QFile::setPermissions(home.filePath(".postgresql/postgresql.key"),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_EQ(TestBothConnections(), QStringList({kSuccess, kSuccess}));
}

}  // namespace
}  // namespace trp
