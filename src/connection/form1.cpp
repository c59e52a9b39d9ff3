#include "connection/form1.h"

#include <QCloseEvent>

#include "append/form2.h"

namespace trp {

// Placeholder: the connection screen is being built.
Form1::Form1(ProfileStore& store, QWidget* parent) : QWidget(parent), store_(store) {}
Form1::~Form1() = default;
void Form1::Form_Load() {}
Profile Form1::Profile1() const { return {}; }
Profile Form1::Profile2() const { return {}; }
Form2& Form1::form2() {
    if (!form2_) {
        form2_ = std::make_unique<Form2>(*this);
        form2_->Form_Load();
    }
    return *form2_;
}
void Form1::PushButton1_Click() {}
void Form1::PushButton2_Click() {}
void Form1::PushButton3_Click() {}
void Form1::PushButton4_Click() {}
void Form1::PushButton5_Click() {}
void Form1::PushButton6_Click() {}
void Form1::closeEvent(QCloseEvent* event) { event->accept(); }

}  // namespace trp
