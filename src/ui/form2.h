#pragma once

#include <QWidget>
#include <memory>

#include "ui/navigator.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace trp {

class PointerState;
class ProfileSource;
class ProgressBar;
class PushButton;
class RunPresence;
class ScreenDesktop;
class ScreenHost;

// The table selection screen: one table of each database, the direction, and the append. It
// reads the profiles from its profile source whenever an operation runs. Each control carries
// its name (List1, Option2, PushButton2, …) as object name.
class Form2 : public QWidget, public TableSelection {
    Q_OBJECT
public:
    // Builds the controls; the owner then runs Form_Load.
    Form2(const ProfileSource& profiles, Navigator& navigator, QWidget* parent = nullptr);
    ~Form2() override;

    void Form_Load() override;
    void FillList1() override;
    void FillList2() override;
    void Show() override { show(); }
    void MarkSameDatabase(ErrorTrap& trap, int first_line) override;

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

    void PushButton2_Click();  // "Start Appending"
    void PushButton5_Click();  // "Switch PostgreSQL DB"

    const ProfileSource& profiles_;
    Navigator& navigator_;
    PointerState* pointer_ = nullptr;  // child of this screen
    // How a run shows itself beyond the bar: the title, the bar's tooltip, the desktop.
    std::unique_ptr<ScreenDesktop> desktop_;
    std::unique_ptr<RunPresence> presence_;
    std::unique_ptr<ScreenHost> host_;

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
};

}  // namespace trp
