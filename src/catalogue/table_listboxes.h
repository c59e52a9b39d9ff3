#pragma once

class QListWidget;

namespace trp {

class Form1;
class OperationHost;

// Fill a list of the table selection screen with the tables of database #1 or #2, from the
// profile on the connection screen as it stands at the moment of the call. Failures are reported
// through the host under each routine's own location text; both always return normally.
void AddTablesToPostgreSQLListbox(QListWidget& list, const Form1& form1, OperationHost& host);
void AddTablesToPostgreSQLListbox2(QListWidget& list, const Form1& form1, OperationHost& host);

}  // namespace trp
