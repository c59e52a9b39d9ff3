#pragma once

#include <memory>

#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/navigator.h"

namespace trp {

class ProfileStore;

// The program's two screens and the way between them. The connection screen lives from
// start-up to the end and holds the profiles; the table selection screen is made (and loaded)
// on first use and afterwards only hidden and shown. Closing either ends the program.
class Screens : public Navigator {
public:
    explicit Screens(ProfileStore& store);
    ~Screens() override;
    Screens(const Screens&) = delete;
    Screens& operator=(const Screens&) = delete;

    // Start-up: the launcher's entry cleared of an earlier run, then the connection screen's
    // load, which goes straight on to the table selection screen when both saved profiles
    // connect; otherwise the connection screen is shown.
    void Start();

    Form1& ConnectionScreen() { return connection_; }
    Form2& TableSelectionScreen() override;
    // The table selection screen once it has been made, else nullptr.
    Form2* ExistingTableSelectionScreen() const { return table_selection_.get(); }
    void ShowConnectionScreen() override;

private:
    Form1 connection_;
    std::unique_ptr<Form2> table_selection_;
};

}  // namespace trp
