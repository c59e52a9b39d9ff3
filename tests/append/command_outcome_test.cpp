// The command line appends as the screen does: the same source appended once through the screens
// and once by `tessaline-row-porter append` (the real program, without a display) leaves the
// same rows in the destination, the same reports, the same last message and the same refused
// rows, on each way the rows can travel.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <string>

#include "app/command_line.h"
#include "screen_run.h"
#include "support/command_run.h"

namespace trp {
namespace {

// Values a text format finds hard to carry; every 500th row breaks the destination's check.
constexpr const char* kSource =
    "CREATE TABLE src (id int, note text, qty int);"
    "INSERT INTO src SELECT g, CASE g % 6 WHEN 0 THEN NULL WHEN 1 THEN ''"
    "  WHEN 2 THEN 'O''Brien, \"q\"' || E'\\n' || 'x' WHEN 3 THEN 'Grüße 東京'"
    "  WHEN 4 THEN E'tab\\there \\\\ |mysepz123|' ELSE 'row ' || g END,"
    " CASE WHEN g % 500 = 0 THEN -g ELSE g END FROM generate_series(1, 3000) g";

enum class Path { BinaryCopy, TextCopy, Inserts, InsideServer };

std::string DestinationFor(Path path) {
    const std::string note = path == Path::TextCopy ? "varchar(100)" : "text";
    std::string sql = "CREATE TABLE dst (id int, note " + note +
                      ", qty int CONSTRAINT positive CHECK (qty >= 0));";
    if (path == Path::Inserts)
        sql +=
            "CREATE FUNCTION noop() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NEW; END "
            "$$; CREATE TRIGGER noop BEFORE INSERT ON dst FOR EACH ROW EXECUTE FUNCTION noop();";
    return sql;
}

// What a run left and said.
struct Outcome {
    test::Rows rows;
    QStringList reports;
    QStringList last;  // the last message and, when rows were refused, the note below it
    std::string refused_rows;
};

class CommandOutcomeTest : public test::ScreenRunTest, public ::testing::WithParamInterface<Path> {
protected:
    void SetUp() override {
        test::ScreenRunTest::SetUp();
        ASSERT_TRUE(home_.isValid());
    }
    // Database #2 is the source's, except within one database, where both profiles name #1.
    std::string SourceDatabase() const { return GetParam() == Path::InsideServer ? db1_ : db2_; }
    Profile Profile2() const { return UserProfile(SourceDatabase()); }
    test::Rows Destination() {
        return Query(db1_, "SELECT id::text, note, qty::text FROM dst ORDER BY id");
    }
    static std::string Kept(const QString& note) {
        const auto path = QRegularExpression("listed in (.*)\\.$").match(note);
        if (!path.hasMatch()) return {};
        QFile file(path.captured(1));
        if (!file.open(QIODevice::ReadOnly)) return "(unreadable)";
        return file.readAll().toStdString();
    }

    Outcome ThroughTheScreen() {
        SetProfiles(UserProfile(db1_), Profile2());
        Press("dst", "src");
        Outcome outcome{Destination(), {}, {}, {}};
        for (const QString& report : Reports()) outcome.reports << test::AsPrinted(report);
        outcome.last << Messages().last();
        if (!shown_.back().informative.isEmpty()) outcome.last << shown_.back().informative;
        outcome.refused_rows = Kept(shown_.back().informative);
        return outcome;
    }

    Outcome ByTheCommand(int& exit_code) {
        const QString settings = home_.filePath("profiles.conf");
        test::SaveProfiles(settings, UserProfile(db1_), Profile2());
        const test::ProgramResult run = test::RunCommand(
            QStringLiteral(TRP_PROGRAM_FILE),
            {"append", "--to", "1", "--settings", settings, "src", "dst"}, home_.path());
        exit_code = run.exited ? run.exit_code : -1;
        Outcome outcome{Destination(), test::ReportsIn(run.errors), {}, {}};
        outcome.last = run.output.split(u'\n', Qt::SkipEmptyParts);
        if (outcome.last.size() > 1) outcome.refused_rows = Kept(outcome.last[1]);
        return outcome;
    }

    QTemporaryDir home_;
};

TEST_P(CommandOutcomeTest, LeavesTheRowsAndSaysWhatTheScreenDoes) {
    Exec(SourceDatabase(), kSource);
    Exec(db1_, DestinationFor(GetParam()));
    // Within one database the rows move inside the server, where none is refused.
    if (GetParam() == Path::InsideServer) Exec(db1_, "UPDATE src SET qty = abs(qty)");
    const long long refused = GetParam() == Path::InsideServer ? 0 : 6;

    const Outcome screen = ThroughTheScreen();
    ASSERT_EQ(screen.rows.size(), static_cast<std::size_t>(3000 - refused));
    ASSERT_EQ(screen.reports.size(), refused);
    Exec(db1_, "TRUNCATE dst");
    int exit_code = -1;
    const Outcome command = ByTheCommand(exit_code);

    EXPECT_EQ(exit_code, refused > 0 ? kExitRowsRefused : 0);
    EXPECT_TRUE(command.rows == screen.rows);
    EXPECT_EQ(command.reports, screen.reports);
    ASSERT_EQ(command.last.size(), screen.last.size()) << command.last.join('\n').toStdString();
    EXPECT_EQ(command.last[0], "Done.");
    EXPECT_EQ(command.last[0], screen.last[0]);
    if (refused > 0) {
        // Each run keeps its refused rows in files of its own, with the same rows.
        const QRegularExpression path("listed in .*\\.$");
        EXPECT_EQ(QString(command.last[1]).remove(path), QString(screen.last[1]).remove(path));
        EXPECT_NE(command.last[1], screen.last[1]);
        EXPECT_FALSE(screen.refused_rows.empty());
        EXPECT_EQ(command.refused_rows, screen.refused_rows);
    }
}

INSTANTIATE_TEST_SUITE_P(EachWay, CommandOutcomeTest,
                         ::testing::Values(Path::BinaryCopy, Path::TextCopy, Path::Inserts,
                                           Path::InsideServer),
                         [](const ::testing::TestParamInfo<Path>& info) {
                             switch (info.param) {
                                 case Path::BinaryCopy:
                                     return "BinaryCopy";
                                 case Path::TextCopy:
                                     return "TextCopy";
                                 case Path::Inserts:
                                     return "Inserts";
                                 default:
                                     return "InsideServer";
                             }
                         });

}  // namespace
}  // namespace trp
