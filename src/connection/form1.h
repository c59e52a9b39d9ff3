#pragma once

#include <QWidget>
#include <memory>

#include "connection/profile.h"

class QGroupBox;
class QLabel;
class QLineEdit;

namespace trp {

class ErrorTrap;
class Form2;
class PointerState;
class PushButton;
class ProfileStore;
class ScreenHost;
class SkinEngine;

// The connection screen: two connection profiles, their tests, and the way on to the table
// selection screen. The ten fields are the profiles: every database operation reads them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(ProfileStore& store, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: appearance, caption, icon, title, cursor, the ten fields, the auto-advance.
    void Form_Load();

    Profile Profile1() const;  // Text1 … Text5
    Profile Profile2() const;  // Text6 … Text10

    // The table selection screen, created (and loaded) on first use.
    Form2& form2();
    bool HasForm2() const { return form2_ != nullptr; }

    // Handlers of the push buttons.
    void PushButton1_Click();  // "Help" of database #2
    void PushButton2_Click();  // "Next >"
    void PushButton3_Click();  // "Test Connection" of database #1
    void PushButton4_Click();  // the link button
    void PushButton5_Click();  // "Help" of database #1
    void PushButton6_Click();  // "Test Connection" of database #2

    // The screen's pointer (0 default, 11 busy, 99 the hand) and its skinning engine.
    PointerState& Pointer() { return *pointer_; }
    SkinEngine& Skin() { return *skin_; }

    // Controls; each carries its member name as object name.
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

protected:
    void closeEvent(QCloseEvent* event) override;  // Form_Unload: ends the program
    void showEvent(QShowEvent* event) override;    // centred when first shown

private:
    void CreateControls();
    void ArrangeControls();
    void WireControls();
    // The field's text goes to its key at every change.
    void WireField(QLineEdit* field, const char* key);

    // Start-up after the fields are filled: straight on to Form2 when both profiles connect.
    void AutoAdvance(ErrorTrap& trap);
    // The lists of Form2 for database #1 and #2, read from the current profiles.
    void FillTableList1();
    void FillTableList2();
    // Same-database marking of Form2 as numbered lines first_line … first_line + 16.
    void MarkForm2(ErrorTrap& trap, int first_line);
    void ShowHelp(const char* procedure);

    ProfileStore& store_;
    PointerState* pointer_ = nullptr;
    SkinEngine* skin_ = nullptr;
    std::unique_ptr<ScreenHost> host_;
    std::unique_ptr<Form2> form2_;
    bool shown_before_ = false;
    bool settings_failure_reported_ = false;
};

// The texts and addresses the connection screen shows.
inline constexpr const char* kLinkCaption = "Kestrelby Ledger Mirror";
inline constexpr const char* kLinkAddress = "https://kestrelby.example/products/ledger-mirror";
inline constexpr const char* kPgAdminDownload = "https://www.pgadmin.org/download/";
// The advice of both "Help" buttons.
QString HelpText();

// Same-database marking of the table selection screen: for the same database both direction
// options are disabled and the list frames say "(same file)"; otherwise the options are enabled
// and the captions plain. One numbered line per step: first_line + 2 … + 8 for the same
// database, + 10 … + 16 for two; the comparison itself is first_line.
void MarkSameDatabase(ErrorTrap& trap, int first_line, const Profile& profile1,
                      const Profile& profile2, QWidget* option1, QWidget* option2,
                      QGroupBox* frame3, QGroupBox* frame1);

}  // namespace trp
