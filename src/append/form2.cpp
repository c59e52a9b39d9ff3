#include "append/form2.h"

#include <QCloseEvent>

#include "connection/form1.h"

namespace trp {

// Placeholder: the table selection screen is being built.
Form2::Form2(Form1& form1, QWidget* parent) : QWidget(parent), form1_(form1) {}
Form2::~Form2() = default;
void Form2::Form_Load() {}
void Form2::PushButton2_Click() {}
void Form2::PushButton5_Click() {}
void Form2::closeEvent(QCloseEvent* event) { event->accept(); }

}  // namespace trp
