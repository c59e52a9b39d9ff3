#pragma once

#include <QWidget>
#include <memory>

#include "connection/profile.h"

class QGroupBox;
class QLabel;
class QLineEdit;

namespace trp {

class Form2;
class PushButton;
class ProfileStore;

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

private:
    ProfileStore& store_;
    std::unique_ptr<Form2> form2_;
};

}  // namespace trp
