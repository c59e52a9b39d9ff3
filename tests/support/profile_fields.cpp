#include "support/profile_fields.h"

#include <QLineEdit>

#include "ui/form1.h"

namespace trp::test {

void FillProfileFields(Form1& form1, const Profile& p1, const Profile& p2) {
    QLineEdit* fields[] = {form1.Text1, form1.Text2, form1.Text3, form1.Text4, form1.Text5,
                           form1.Text6, form1.Text7, form1.Text8, form1.Text9, form1.Text10};
    const std::string* values[] = {&p1.server, &p1.port, &p1.user, &p1.password, &p1.database,
                                   &p2.server, &p2.port, &p2.user, &p2.password, &p2.database};
    for (int i = 0; i < 10; ++i) fields[i]->setText(QString::fromStdString(*values[i]));
}

}  // namespace trp::test
