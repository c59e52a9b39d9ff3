// The two table lists of the table selection screen, as the connection screen's start-up fills
// them. The first use creates the screen, whose own load has read both lists once already; each
// fill replaces a list's content, so the lists end up with one copy of each name.
#include <QListWidget>

#include "catalogue/table_listing.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/list_widget_target.h"
#include "ui/screen_host.h"

namespace trp {

void Form1::FillTableList1() {
    ListWidgetTarget target(*form2().List1);
    AddTablesToPostgreSQLListbox(target, *this, *host_);
}

void Form1::FillTableList2() {
    ListWidgetTarget target(*form2().List2);
    AddTablesToPostgreSQLListbox2(target, *this, *host_);
}

}  // namespace trp
