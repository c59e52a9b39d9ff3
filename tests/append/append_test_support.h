#pragma once

#include <QLocale>
#include <QRegularExpression>
#include <QString>
#include <string>

#include "append/append_operation.h"
#include "append/destination_features.h"
#include "base/error_report.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "support/pg_fixture.h"
#include "support/recording_host.h"

namespace trp::test {

// A count as the program writes it for people: 1,600,000.
inline std::string WithSeparators(long long number) {
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .toString(static_cast<qlonglong>(number))
        .toStdString();
}

// The last message of a run that ended early.
inline std::string StoppedMessage(long long appended, long long rows) {
    return "Appending stopped. " + WithSeparators(appended) + " of " + WithSeparators(rows) +
           " rows were appended.";
}

// What the stopped message says: the rows appended, and those whose commit could not be checked
// (appended -1: it is no stopped message).
struct Stopped {
    long long appended = -1;
    long long unchecked = 0;
};

inline Stopped ReadStopped(const QString& message, long long rows) {
    const auto match =
        QRegularExpression("^Appending stopped\\. ([\\d,]+) of " +
                           QString::fromStdString(WithSeparators(rows)) +
                           " rows were appended\\.(?: Whether the last ([\\d,]+) rows were "
                           "appended could not be checked\\.)?$")
            .match(message);
    if (!match.hasMatch()) return {};
    return {match.captured(1).remove(',').toLongLong(), match.captured(2).remove(',').toLongLong()};
}

// What the engine reads of a destination table's catalogue.
inline DestinationFeatures FeaturesOf(const Profile& profile, const std::string& table) {
    Connection connection;
    connection.Open(BuildConnectionString(profile));
    RecordingHost host;
    EventPacer pacer(host);
    return DetectDestinationFeatures(connection, connection.QuoteIdentifier(table), pacer);
}

// Two fresh databases for append runs: "append_one" is database #1, "append_two" database #2.
class AppendTest : public PgTest {
protected:
    void SetUp() override {
        db1_ = CreateDatabase("append_one");
        db2_ = CreateDatabase("append_two");
    }

    // A run with `table1` selected in database #1 and `table2` in database #2; with `option1`
    // the rows of table2 go into table1, otherwise the other way round.
    AppendRequest Request(const std::string& table1, const std::string& table2,
                          bool option1 = true) const {
        return AppendRequest{table1, table2, option1, UserProfile(db1_), UserProfile(db2_)};
    }

    static std::string RowReport(const std::string& message) {
        return ComposeErrorReport(message, LocationText("Form2", "PushButton2_Click"), 212);
    }

    std::string db1_;
    std::string db2_;
};

}  // namespace trp::test
