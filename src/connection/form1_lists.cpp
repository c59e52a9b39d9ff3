// The two table lists of the table selection screen, as the connection screen's start-up fills
// them. The first use creates the screen, whose own load has read both lists once already; each
// fill replaces a list's content, so the lists end up with one copy of each name.
#include <QListWidget>

#include "app/screen_host.h"
#include "append/form2.h"
#include "catalogue/table_listboxes.h"
#include "connection/form1.h"

namespace trp {

void Form1::FillTableList1() {
    AddTablesToPostgreSQLListbox(*form2().List1, *this, *host_);
}

void Form1::FillTableList2() {
    AddTablesToPostgreSQLListbox2(*form2().List2, *this, *host_);
}

}  // namespace trp
