#include "catalogue/table_listboxes.h"

#include "app/error_report.h"
#include "catalogue/list_widget_target.h"
#include "catalogue/table_listing.h"
#include "connection/form1.h"

namespace trp {

void AddTablesToPostgreSQLListbox(QListWidget& list, const Form1& form1, OperationHost& host) {
    ListWidgetTarget target(list);
    ListTables(form1.Profile1(), target, host,
               LocationText("PostgreSQL", "AddTablesToPostgreSQLListbox"));
}

void AddTablesToPostgreSQLListbox2(QListWidget& list, const Form1& form1, OperationHost& host) {
    ListWidgetTarget target(list);
    ListTables(form1.Profile2(), target, host,
               LocationText("PostgreSQL", "AddTablesToPostgreSQLListbox2"));
}

}  // namespace trp
