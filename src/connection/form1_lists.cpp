// The two table lists of the table selection screen, as the connection screen fills them.
#include "append/form2.h"
#include "connection/form1.h"

namespace trp {

// Creating the table selection screen runs its load, which reads both databases' catalogues
// into its lists from the current profiles; so the first use already fills both lists.
void Form1::FillTableList1() { form2(); }

// Filled together with the list of database #1 (see above).
void Form1::FillTableList2() { form2(); }

}  // namespace trp
