#include "support/profile_fields.h"

#include <QLineEdit>

#include "support/controls.h"

namespace trp::test {

void FillProfileFields(QWidget& connection_screen, const Profile& p1, const Profile& p2) {
    const std::string* values[] = {&p1.server, &p1.port, &p1.user, &p1.password, &p1.database,
                                   &p2.server, &p2.port, &p2.user, &p2.password, &p2.database};
    for (int i = 0; i < 10; ++i) {
        const std::string name = "Text" + std::to_string(i + 1);
        Control<QLineEdit>(connection_screen, name.c_str())
            ->setText(QString::fromStdString(*values[i]));
    }
}

}  // namespace trp::test
