#pragma once

#include <QWidget>
#include <memory>

#include "db/profile.h"

class QGroupBox;
class QLabel;
class QLineEdit;

namespace trp {

class ErrorTrap;
class Navigator;
class PointerState;
class PushButton;
class ProfileStore;
class ScreenHost;
class SkinEngine;

// The connection screen: two connection profiles, their tests, and the way on to the table
// selection screen. The ten fields are the profiles: every database operation reads them. Each
// control carries its name (Text1, PushButton2, …) as object name.
class Form1 : public QWidget, public ProfileSource {
    Q_OBJECT
public:
    Form1(ProfileStore& store, Navigator& navigator, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: appearance, caption, icon, title, cursor, the ten fields, the auto-advance.
    void Form_Load();

    Profile Profile1() const override;  // Text1 … Text5
    Profile Profile2() const override;  // Text6 … Text10

    // The screen's pointer (0 default, 11 busy, 99 the hand) and its skinning engine.
    PointerState& Pointer() { return *pointer_; }
    SkinEngine& Skin() { return *skin_; }

protected:
    void closeEvent(QCloseEvent* event) override;  // Form_Unload: ends the program
    void showEvent(QShowEvent* event) override;    // centred when first shown

private:
    void CreateControls();
    void ArrangeControls();
    void WireControls();
    // The field's text goes to its key at every change.
    void WireField(QLineEdit* field, const char* key);

    // Handlers of the push buttons.
    void PushButton1_Click();  // "Help" of database #2
    void PushButton2_Click();  // "Next >"
    void PushButton3_Click();  // "Test Connection" of database #1
    void PushButton4_Click();  // the link button
    void PushButton5_Click();  // "Help" of database #1
    void PushButton6_Click();  // "Test Connection" of database #2
    void ShowHelp(const char* procedure);

    // Start-up after the fields are filled: straight on to the table selection screen when both
    // profiles connect.
    void AutoAdvance(ErrorTrap& trap);

    ProfileStore& store_;
    Navigator& navigator_;
    PointerState* pointer_ = nullptr;
    SkinEngine* skin_ = nullptr;
    std::unique_ptr<ScreenHost> host_;
    bool shown_before_ = false;
    bool settings_failure_reported_ = false;

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QLineEdit* Text10 = nullptr;
    PushButton* PushButton1 = nullptr;
    PushButton* PushButton2 = nullptr;
    PushButton* PushButton3 = nullptr;
    PushButton* PushButton4 = nullptr;
    PushButton* PushButton5 = nullptr;
    PushButton* PushButton6 = nullptr;
};

// The texts and addresses the connection screen shows.
inline constexpr const char* kLinkCaption = "Kestrelby Ledger Mirror";
inline constexpr const char* kLinkAddress = "https://kestrelby.example/products/ledger-mirror";
inline constexpr const char* kPgAdminDownload = "https://www.pgadmin.org/download/";

}  // namespace trp
