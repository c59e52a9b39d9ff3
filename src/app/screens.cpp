#include "app/screens.h"

#include "ui/desktop_bus.h"

namespace trp {

Screens::Screens(ProfileStore& store) : connection_(store, *this) {}

Screens::~Screens() = default;

void Screens::Start() {
    ClearLauncher(QDBusConnection::sessionBus());
    connection_.Form_Load();
    if (!(table_selection_ && table_selection_->isVisible())) connection_.show();
}

Form2& Screens::TableSelectionScreen() {
    if (!table_selection_) {
        table_selection_ = std::make_unique<Form2>(connection_, *this);
        table_selection_->Form_Load();
    }
    return *table_selection_;
}

void Screens::ShowConnectionScreen() {
    connection_.show();
}

}  // namespace trp
