#pragma once

#include <QWidget>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace trp {

class Form1;
class PointerState;
class ProgressBar;
class PushButton;
class ScreenHost;

// The table selection screen: one table of each database, the direction, and the append.
class Form2 : public QWidget {
    Q_OBJECT
public:
    // Builds the controls; the owner then runs Form_Load, as on every "Next >".
    explicit Form2(Form1& form1, QWidget* parent = nullptr);
    ~Form2() override;

    // Colours, icon, cursor, caption, and both lists refilled from the current profiles.
    void Form_Load();

    // Same-database marking: options disabled and "(same file)" captions, or the plain state.
    // (Callers run these steps under their own error trap, one numbered line per step.)

    void PushButton2_Click();  // "Start Appending"
    void PushButton5_Click();  // "Switch PostgreSQL DB"

    // Controls; each carries its member name as object name.
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QListWidget* List1 = nullptr;
    QListWidget* List2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QLineEdit* Text1 = nullptr;
    PushButton* PushButton2 = nullptr;
    PushButton* PushButton5 = nullptr;
    ProgressBar* ProgressBar1 = nullptr;

    // The screen's pointer state (default, busy during an append, the hand over push buttons).
    PointerState& Pointer() { return *pointer_; }
    // True while "Start Appending" runs; a second press meanwhile is ignored.
    bool Appending() const;

protected:
    void closeEvent(QCloseEvent* event) override;  // Form_Unload: ends the program

private:
    void CreateControls();
    void ArrangeControls();
    void SetTabOrder();
    void WireHandlers();

    Form1& form1_;
    PointerState* pointer_ = nullptr;  // child of this screen
    std::unique_ptr<ScreenHost> host_;
};

}  // namespace trp
