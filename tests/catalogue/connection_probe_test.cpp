#include "catalogue/connection_probe.h"

#include <gtest/gtest.h>

#include "base/error_report.h"
#include "support/loopback_port.h"
#include "support/pg_fixture.h"
#include "support/recording_host.h"

namespace trp {
namespace test {
bool operator==(const RecordingHost::Event& a, const RecordingHost::Event& b) {
    return a.kind == b.kind && a.text == b.text;
}
}  // namespace test
namespace {

using test::PgTest;
using test::RecordingHost;

class ConnectionProbeTest : public PgTest {
protected:
    void SetUp() override { CreateDatabase("probe"); }

    // The messages and pointer changes of one connection test.
    std::vector<RecordingHost::Event> Test(const Profile& profile) {
        RecordingHost host;
        TestConnection(profile, LocationText("Form1", "PushButton3_Click"), host);
        return host.events;
    }

    static std::vector<RecordingHost::Event> Answer(const char* message) {
        return {{RecordingHost::Event::Busy, {}},
                {RecordingHost::Event::Message, message},
                {RecordingHost::Event::NotBusy, {}}};
    }
};

TEST_F(ConnectionProbeTest, AGoodProfileConnects) {
    EXPECT_TRUE(CheckPostgreSQLConnection(UserProfile("probe")));
    EXPECT_TRUE(CheckPostgreSQLConnection2(UserProfile("probe")));
    EXPECT_EQ(Test(UserProfile("probe")), Answer("Connection successful."));
}

TEST_F(ConnectionProbeTest, WrongPasswordPortOrDatabaseCannotConnect) {
    Profile wrong_password = UserProfile("probe");
    wrong_password.password = "not it";
    Profile wrong_port = UserProfile("probe");
    wrong_port.port = std::string("1");
    Profile missing_database = UserProfile("no_such_database");
    for (const Profile& profile : {wrong_password, wrong_port, missing_database}) {
        EXPECT_FALSE(CheckConnection(profile)) << profile.port << " " << profile.database;
        EXPECT_EQ(Test(profile),
                  Answer("Could not connect. Please check with your administrator."));
    }
}

TEST_F(ConnectionProbeTest, AnyTextInAnyFieldGivesTheFailureMessage) {
    const std::string odd[] = {"",
                               std::string(10000, 'x'),
                               "Ünïcødé",
                               "a\tb\nc\x01",
                               std::string("nul\0inside", 10),
                               "abc",
                               "99999",
                               "-1",
                               "pa;ss}{",
                               " localhost "};
    for (const std::string& text : odd) {
        for (int field = 0; field < 5; ++field) {
            Profile profile = UserProfile("probe");
            std::string* fields[] = {&profile.server, &profile.port, &profile.user,
                                     &profile.password, &profile.database};
            if (field == 0 && text == "Ünïcødé") continue;  // a name lookup, not our input handling
            *fields[field] = text;
            EXPECT_EQ(Test(profile),
                      Answer("Could not connect. Please check with your administrator."))
                << "field " << field << " = " << text.substr(0, 20);
        }
    }
}

TEST_F(ConnectionProbeTest, ASilentServerIsGivenUpAndAnsweredFalse) {
    // The server takes the connection and never says a word: the probe gives up on it at the
    // connection time-out instead of waiting for ever.
    test::LoopbackPort silent;
    Profile profile = UserProfile("probe");
    profile.port = silent.Port();
    EXPECT_FALSE(CheckConnection(profile));
    EXPECT_TRUE(silent.Contacted());
}

}  // namespace
}  // namespace trp
