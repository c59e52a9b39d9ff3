#include "app/demo_environment.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/temporary_cluster.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/profile.h"
#include "settings/profile_store.h"

namespace trp {
namespace {

constexpr const char* kRole = "demo_porter";
constexpr const char* kSalesDatabase = "northwind_sales";
constexpr const char* kArchiveDatabase = "northwind_archive";

// Customers numbered {first} to {last}, with every column type the tool has to carry: text with
// apostrophes and letters beyond ASCII, numeric with cents, dates, timestamps, booleans, and
// NULLs scattered over several columns.
constexpr const char* kCustomersSql = R"sql(
CREATE TABLE customers (
    customer_id integer, name text, city text, credit_limit numeric(12,2),
    joined date, last_order timestamp, active boolean, notes text);
INSERT INTO customers
SELECT g,
       (ARRAY['O''Brien', 'Müller', 'Østergård', 'Zoë', 'François', 'Łukasz', 'D''Angelo',
              'José', 'Smith', 'Nakamura', 'Ærøskøbing Ltd', 'Дмитрий'])[1 + g % 12] || ' #' || g,
       CASE WHEN g % 11 = 0 THEN NULL
            ELSE (ARRAY['Kraków', 'São Paulo', 'Zürich', 'Reykjavík', 'L''Aquila', 'Montréal',
                        'Besançon', 'Málaga', 'Århus'])[1 + g % 9] END,
       round((g * 137.35) % 25000 + 0.05, 2),
       DATE '2015-01-01' + g * 3,
       CASE WHEN g % 13 = 0 THEN NULL
            ELSE TIMESTAMP '2023-01-01 08:00:00' + g * INTERVAL '5 hours 17 minutes 3 seconds' END,
       CASE WHEN g % 17 = 0 THEN NULL ELSE g % 3 <> 0 END,
       CASE WHEN g % 7 = 0 THEN NULL ELSE 'Customer''s note: "call first"; ' || g END
FROM generate_series({first}, {last}) AS g;
)sql";

// Orders numbered {first} to {last} in table {table}, spread over the customers.
constexpr const char* kOrdersSql = R"sql(
CREATE TABLE {table} (
    order_id integer, customer_id integer, ordered_at timestamp, amount numeric(10,2),
    quantity smallint, shipped boolean, ship_date date, comment text);
INSERT INTO {table}
SELECT g, 1 + g % 300,
       TIMESTAMP '2019-06-01 09:30:00' + g * INTERVAL '7 hours 41 minutes',
       round(((g * 73.91) % 4000)::numeric + 0.99, 2),
       (1 + g % 40)::smallint,
       g % 4 <> 0,
       CASE WHEN g % 4 = 0 THEN NULL ELSE DATE '2019-06-03' + g / 3 END,
       CASE g % 5 WHEN 0 THEN NULL
                  WHEN 1 THEN 'Leave at the neighbour''s door'
                  WHEN 2 THEN 'Livraison très fragile'
                  ELSE 'Größe ' || (g % 9) END
FROM generate_series({first}, {last}) AS g;
)sql";

// Three columns only: an append between it and a customers or orders table is refused.
constexpr const char* kContactsSql = R"sql(
CREATE TABLE contacts (contact_id integer, customer_id integer, phone text);
INSERT INTO contacts
SELECT g, 1 + g % 250,
       CASE WHEN g % 9 = 0 THEN NULL
            ELSE '+354 ' || lpad((g * 7919 % 1000000)::text, 7, '0') END
FROM generate_series(1, 250) AS g;
)sql";

// The SQL text with every "{name}" replaced by its value.
std::string Fill(std::string sql, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
        const std::string placeholder = "{" + name + "}";
        for (auto at = sql.find(placeholder); at != std::string::npos;
             at = sql.find(placeholder, at + value.size())) {
            sql.replace(at, placeholder.size(), value);
        }
    }
    return sql;
}

std::string CustomersSql(int first, int last) {
    return Fill(kCustomersSql, {{"first", std::to_string(first)}, {"last", std::to_string(last)}});
}

std::string OrdersSql(const std::string& table, int first, int last) {
    return Fill(
        kOrdersSql,
        {{"table", table}, {"first", std::to_string(first)}, {"last", std::to_string(last)}});
}

void RunAsRole(const TemporaryCluster& cluster, const std::string& password,
               const std::string& database, const std::string& sql) {
    Connection connection;
    connection.SetCommandTimeout(0);
    connection.Open(BuildConnectionString(
        Profile{cluster.Host(), std::to_string(cluster.Port()), kRole, password, database}));
    connection.Execute(sql);
}

}  // namespace

DemoEnvironment::DemoEnvironment() {
    // The demo's server is a plain loopback one, whatever encryption the user asks of servers.
    IgnoreUsersEncryptionSettings();
    cluster_ =
        std::make_unique<TemporaryCluster>(TemporaryCluster::Durability::Fast, "tessaline-demo");
    // New for every run; from here on it lives only in the owner-only settings file.
    const std::string password = RandomPassword();
    cluster_->CreateLoginRole(kRole, password);
    for (const char* database : {kSalesDatabase, kArchiveDatabase})
        cluster_->CreateDatabase(database, kRole);
    // The sales database is the usual source; the archive has a customers table of the same
    // shape (its numbers follow on from the sales ones), an orders table of the same shape under
    // another name, and a table with fewer columns.
    RunAsRole(*cluster_, password, kSalesDatabase,
              CustomersSql(1, 300) + OrdersSql("orders", 1, 400));
    RunAsRole(*cluster_, password, kArchiveDatabase,
              CustomersSql(1001, 1200) + OrdersSql("orders_2019", 5001, 5250) + kContactsSql);

    // The same store the program keeps the user's profiles in: owner-only, since it holds a
    // password.
    ProfileStore store(SettingsFile());
    const QString server = QString::fromStdString(cluster_->Host());
    const QString port = QString::number(cluster_->Port());
    const QString user = QString::fromUtf8(kRole);
    const QString secret = QString::fromStdString(password);
    const std::pair<const char*, QString> profiles[] = {
        {"Server", server},
        {"Port", port},
        {"User", user},
        {"Password", secret},
        {"Database", QString::fromUtf8(kSalesDatabase)},
        {"Server2", server},
        {"Port2", port},
        {"User2", user},
        {"Password2", secret},
        {"Database2", QString::fromUtf8(kArchiveDatabase)}};
    for (const auto& [key, value] : profiles) {
        if (!store.Save(QString::fromLatin1(key), value))
            throw std::runtime_error("could not write the demo settings file " +
                                     SettingsFile().toStdString());
    }

    if (qEnvironmentVariableIsSet("XDG_STATE_HOME")) state_home_before_ = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(Directory()));
}

DemoEnvironment::~DemoEnvironment() {
    if (state_home_before_)
        qputenv("XDG_STATE_HOME", *state_home_before_);
    else
        qunsetenv("XDG_STATE_HOME");
}

QString DemoEnvironment::Directory() const {
    return QString::fromStdString(cluster_->Directory());
}

QString DemoEnvironment::SettingsFile() const {
    return QDir(Directory()).filePath(QStringLiteral("Kestrelby.conf"));
}

}  // namespace trp
