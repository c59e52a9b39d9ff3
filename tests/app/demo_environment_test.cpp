#include "app/demo_environment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/temporary_cluster.h"
#include "append/refused_rows_file.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/db_error.h"
#include "db/profile.h"
#include "support/pg_fixture.h"
#include "support/program_run.h"
#include "support/server_access.h"

namespace trp {
namespace {

namespace fs = std::filesystem;

// Profile #1 (suffix "") or #2 (suffix "2") as the settings file holds it.
Profile StoredProfile(const QString& file, const QString& suffix) {
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup("Tessaline Row Porter Suite");
    auto value = [&](const char* key) {
        return settings.value(key + suffix).toString().toStdString();
    };
    return Profile{value("Server"), value("Port"), value("User"), value("Password"),
                   value("Database")};
}

std::string Scalar(const Profile& profile, const std::string& sql) {
    const auto rows = test::QueryRows(profile, sql);
    return rows.empty() || !rows[0][0] ? std::string("<null>") : *rows[0][0];
}

// The column types of a table, in column order.
std::string Shape(const Profile& profile, const std::string& table) {
    return Scalar(
        profile,
        "SELECT string_agg(data_type, ',' ORDER BY ordinal_position) "
        "FROM information_schema.columns WHERE table_schema = 'public' AND table_name = " +
            QuoteLiteral(table));
}

class DemoEnvironmentTest : public ::testing::Test {
protected:
    // One environment for the suite: starting a server takes a few seconds.
    static void SetUpTestSuite() { demo_ = std::make_unique<DemoEnvironment>(); }
    static void TearDownTestSuite() { demo_.reset(); }
    static Profile Sales() { return StoredProfile(demo_->SettingsFile(), ""); }
    static Profile Archive() { return StoredProfile(demo_->SettingsFile(), "2"); }

    static std::unique_ptr<DemoEnvironment> demo_;
};
std::unique_ptr<DemoEnvironment> DemoEnvironmentTest::demo_;

TEST_F(DemoEnvironmentTest, SettingsFileHoldsTwoProfilesOfOneServerKeptApartFromTheUsers) {
    const QString file = demo_->SettingsFile();
    ASSERT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(
        file.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)));
    // It holds a password: readable and writable by its owner only, in the server's folder,
    // which nobody else may enter.
    EXPECT_EQ(fs::status(file.toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(QFileInfo(file).absolutePath(), demo_->Directory());
    EXPECT_TRUE(QFileInfo(demo_->Directory()).fileName().startsWith("tessaline-demo-"));
    EXPECT_TRUE(test::OwnersAloneFolder(demo_->Directory().toStdString()));

    const Profile sales = Sales();
    const Profile archive = Archive();
    EXPECT_EQ(sales.database, "northwind_sales");
    EXPECT_EQ(archive.database, "northwind_archive");
    EXPECT_EQ(sales.server, archive.server);
    EXPECT_EQ(sales.port, archive.port);
    EXPECT_EQ(sales.user, archive.user);
    EXPECT_EQ(sales.password, archive.password);
    EXPECT_FALSE(sales.password.empty());
    EXPECT_NE(sales.user, TemporaryCluster::kSuperuser);
    EXPECT_NE(sales.port, "5432");

    // Written the way the user's store is: one section, the group name encoded in the file.
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains("[Tessaline%20Row%20Porter%20Suite]"));
}

TEST_F(DemoEnvironmentTest, BothDatabasesAnswerTheRoleOnlyWithItsPassword) {
    for (const Profile& profile : {Sales(), Archive()}) {
        EXPECT_EQ(Scalar(profile, "SELECT current_user || '@' || current_database()"),
                  profile.user + "@" + profile.database);
        // A wrong password, and the one the role had when it was fixed.
        for (const std::string& password :
             {profile.password + "x", std::string("demo-porter-pw")}) {
            Profile wrong = profile;
            wrong.password = password;
            EXPECT_NE(test::LoginError(wrong).find("password authentication failed"),
                      std::string::npos)
                << password;
        }
    }
}

TEST_F(DemoEnvironmentTest, NoSuperuserLoginOverTcp) {
    test::ExpectNoSuperuserOverTcp(Sales().port);
}

TEST_F(DemoEnvironmentTest, TablesHoldThePromisedRowsAndShapes) {
    const Profile sales = Sales();
    const Profile archive = Archive();
    EXPECT_EQ(Scalar(sales, "SELECT count(*) FROM customers"), "300");
    EXPECT_EQ(Scalar(sales, "SELECT count(*) FROM orders"), "400");
    EXPECT_EQ(Scalar(archive, "SELECT count(*) FROM customers"), "200");
    EXPECT_EQ(Scalar(archive, "SELECT count(*) FROM orders_2019"), "250");
    EXPECT_EQ(Scalar(archive, "SELECT count(*) FROM contacts"), "250");

    // Same shapes across the two databases, so appends between them work; the contacts table
    // has fewer columns, so an append with it is refused.
    const std::string customers = Shape(sales, "customers");
    EXPECT_EQ(customers, "integer,text,text,numeric,date,timestamp without time zone,boolean,text");
    EXPECT_EQ(Shape(archive, "customers"), customers);
    EXPECT_EQ(Shape(archive, "orders_2019"), Shape(sales, "orders"));
    EXPECT_EQ(Shape(archive, "contacts"), "integer,integer,text");

    // Tables belong to the demo role, so it can append to them.
    EXPECT_EQ(Scalar(archive,
                     "SELECT count(*) FROM pg_tables WHERE schemaname = 'public' "
                     "AND tableowner <> current_user"),
              "0");
}

TEST_F(DemoEnvironmentTest, SampleValuesCoverQuotesNonAsciiNullsAndBothBooleans) {
    const Profile sales = Sales();
    EXPECT_NE(Scalar(sales, "SELECT count(*) FROM customers WHERE name LIKE '%''%'"), "0");
    EXPECT_NE(Scalar(sales, "SELECT count(*) FROM customers WHERE name ~ '[^[:ascii:]]'"), "0");
    EXPECT_NE(Scalar(sales, "SELECT count(*) FROM customers WHERE city ~ '[^[:ascii:]]'"), "0");
    EXPECT_NE(Scalar(sales, "SELECT count(*) FROM orders WHERE comment LIKE '%''%'"), "0");
    EXPECT_EQ(Scalar(sales, "SELECT count(DISTINCT active) FROM customers"), "2");
    EXPECT_EQ(Scalar(sales,
                     "SELECT count(*) FILTER (WHERE city IS NULL) > 0"
                     " AND count(*) FILTER (WHERE last_order IS NULL) > 0"
                     " AND count(*) FILTER (WHERE active IS NULL) > 0"
                     " AND count(*) FILTER (WHERE notes IS NULL) > 0 FROM customers"),
              "t");
    EXPECT_EQ(Scalar(sales,
                     "SELECT count(*) FILTER (WHERE credit_limit <> trunc(credit_limit))"
                     " > 0 FROM customers"),
              "t");
    // Text survives the round trip in UTF-8.
    EXPECT_EQ(Scalar(sales, "SELECT count(*) > 0 FROM customers WHERE name LIKE 'Müller%'"), "t");
}

TEST(DemoEnvironmentLifetime, EachRunHasItsOwnPasswordAndLeavesNothingBehind) {
    QString file;
    QString directory;
    Profile first;
    const std::string refused_before = RefusedRowsFolder();
    {
        DemoEnvironment demo;
        file = demo.SettingsFile();
        directory = demo.Directory();
        first = StoredProfile(file, "");
        EXPECT_EQ(Scalar(first, "SELECT 1"), "1");
        // Refused rows of the demo's runs stay in its folder, and go with it.
        EXPECT_EQ(RefusedRowsFolder(), directory.toStdString() + "/tessaline-row-porter/refused");
        RefusedRowsFile refused(RefusedRowsFolder(), std::chrono::system_clock::now(), "orders",
                                {"id"});
        const RowValues row{std::string("1")};
        refused.Add(&row, 1, "23505", "duplicate key");
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(refused.Path())));
    }
    EXPECT_EQ(RefusedRowsFolder(), refused_before);
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_FALSE(QFileInfo::exists(directory));
    Connection connection;
    connection.SetConnectionTimeout(5);
    EXPECT_THROW(connection.Open(BuildConnectionString(first)), DbError);

    DemoEnvironment next;
    const Profile second = StoredProfile(next.SettingsFile(), "");
    EXPECT_EQ(Scalar(second, "SELECT 1"), "1");
    EXPECT_EQ(second.password.size(), first.password.size());
    EXPECT_NE(second.password, first.password);
    EXPECT_NE(next.Directory(), directory);
}

TEST(DemoEnvironmentProgram, GoesStraightToItsTablesWhateverEncryptionTheUserRequires) {
    // Settings that no plain loopback server satisfies, as a user who requires verified TLS or
    // GSSAPI of every server has them.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment environment = test::HeadlessEnvironment(home.path());
    environment.insert("PGSSLMODE", "verify-full");
    environment.insert("PGSSLROOTCERT", home.filePath("no-such-authority.crt"));
    environment.insert("PGGSSENCMODE", "require");
    environment.insert("PGCHANNELBINDING", "require");
    test::LogShownWindows(environment);
    test::RunningProgram program(QStringLiteral(TRP_PROGRAM_FILE),
                                 {"-platform", "offscreen", "--demo"}, environment);
    // Both demo profiles connect, so start-up moves on to the table selection screen.
    EXPECT_TRUE(program.WaitForErrorText(test::ShownWindow("Form2")))
        << program.ErrorsSoFar().toStdString();
    const test::ProgramResult ended = program.Terminate();
    EXPECT_TRUE(ended.exited) << ended.errors.toStdString();
    EXPECT_EQ(ended.exit_code, 0) << ended.errors.toStdString();
}

}  // namespace
}  // namespace trp
