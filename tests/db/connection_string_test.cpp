#include "db/connection_string.h"

#include <gtest/gtest.h>

namespace trp {
namespace {

TEST(BuildConnectionString, PlainValuesStandAsTyped) {
    EXPECT_EQ(
        BuildConnectionString({"localhost", "5432", "reports", "", "sales"}),
        "Driver={PostgreSQL Unicode};Server=localhost;Port=5432;Uid=reports;Pwd=;Database=sales");
    EXPECT_EQ(BuildConnectionString({}),
              "Driver={PostgreSQL Unicode};Server=;Port=;Uid=;Pwd=;Database=");
    EXPECT_EQ(
        BuildConnectionString({"db host", "54 32", "o'neil", "p=w", "Straße"}),
        "Driver={PostgreSQL Unicode};Server=db host;Port=54 32;Uid=o'neil;Pwd=p=w;Database=Straße");
}

TEST(BuildConnectionString, BracesValuesThatWouldBreakTheString) {
    EXPECT_EQ(BuildConnectionString({"h", "1", "u", "pa;ss", "d"}),
              "Driver={PostgreSQL Unicode};Server=h;Port=1;Uid=u;Pwd={pa;ss};Database=d");
    EXPECT_EQ(BuildConnectionString({"h", "1", "u", "a}b{c", "d"}),
              "Driver={PostgreSQL Unicode};Server=h;Port=1;Uid=u;Pwd={a}}b{c};Database=d");
    EXPECT_EQ(BuildConnectionString({" h", "1", "u ", "p", "d"}),
              "Driver={PostgreSQL Unicode};Server={ h};Port=1;Uid={u };Pwd=p;Database=d");
}

TEST(ParseConnectionString, RoundTripsEveryValue) {
    const Profile tricky{" lead", "trail ", "}{", "pa;ss}}", "x=y;z"};
    const auto pairs = ParseConnectionString(BuildConnectionString(tricky));
    EXPECT_EQ(pairs.at("driver"), "PostgreSQL Unicode");
    EXPECT_EQ(pairs.at("server"), tricky.server);
    EXPECT_EQ(pairs.at("port"), tricky.port);
    EXPECT_EQ(pairs.at("uid"), tricky.user);
    EXPECT_EQ(pairs.at("pwd"), tricky.password);
    EXPECT_EQ(pairs.at("database"), tricky.database);
}

TEST(ParseConnectionString, ToleratesOddInput) {
    auto pairs = ParseConnectionString("DRIVER={x};;junk;Pwd={unterminated");
    EXPECT_EQ(pairs.at("driver"), "x");
    EXPECT_EQ(pairs.at("pwd"), "unterminated");
    EXPECT_EQ(pairs.count("junk"), 0u);
    pairs = ParseConnectionString("Server=a;Server=b;Port=");
    EXPECT_EQ(pairs.at("server"), "b");
    EXPECT_EQ(pairs.at("port"), "");
    EXPECT_TRUE(ParseConnectionString("").empty());
}

TEST(AskingForWritableHost, OnlyWhereSeveralHostsAreListed) {
    const std::string one = BuildConnectionString({"db1", "5432", "u", "p", "d"});
    EXPECT_EQ(AskingForWritableHost(one), one);
    const std::string two = BuildConnectionString({"db1,db2", "5432,5433", "u", "p", "d"});
    EXPECT_EQ(LibpqParameters(AskingForWritableHost(two)).at("target_session_attrs"),
              "read-write");
    EXPECT_EQ(LibpqParameters(two).count("target_session_attrs"), 0u);
    // A password with commas lists no hosts.
    const std::string commas = BuildConnectionString({"db1", "5432", "u", "a,b", "d"});
    EXPECT_EQ(AskingForWritableHost(commas), commas);
}

}  // namespace
}  // namespace trp
