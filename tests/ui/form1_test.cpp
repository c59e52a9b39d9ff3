#include "ui/form1.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QUrl>
#include <filesystem>

#include "app/screens.h"
#include "base/error_report.h"
#include "base/error_trap.h"
#include "base/program_end.h"
#include "settings/profile_store.h"
#include "support/controls.h"
#include "support/loopback_port.h"
#include "support/pg_fixture.h"
#include "support/recording_host.h"
#include "support/screen_checks.h"
#include "ui/form2.h"
#include "ui/message_box.h"
#include "ui/pointer_state.h"
#include "ui/push_button.h"
#include "ui/skin_engine.h"
#include "ui/title_and_icon.h"

namespace trp {
namespace {

using test::Control;
using test::PgTest;

// Records the links the screen opens instead of starting a browser.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void open(const QUrl& url) { opened.push_back(url); }
    std::vector<QUrl> opened;
};

class Form1Test : public PgTest {
protected:
    void SetUp() override {
        CreateDatabase("left");
        OverrideApplicationFolder(folder_.path());
        MessageBox::SetRecorder([this](const MessageBox::Shown& shown) {
            shown_.push_back(shown);
            pointer_at_message_.push_back(form1_ ? form1_->Pointer().value() : -1);
        });
        ResetProgramEnding();
    }
    void TearDown() override {
        screens_.reset();
        form1_ = nullptr;
        MessageBox::SetRecorder({});
        OverrideApplicationFolder("");
        ResetProgramEnding();
    }

    // Stores both profiles, then creates the screen and runs its start-up.
    Form1& Start(const Profile& one, const Profile& two) {
        Store(one, "");
        Store(two, "2");
        Create();
        form1_->Form_Load();
        return *form1_;
    }
    // Both screens as the program has them, nothing loaded yet.
    void Create() {
        screens_ = std::make_unique<Screens>(store_);
        form1_ = &screens_->ConnectionScreen();
    }
    // The table selection screen, once made.
    Form2* TableSelection() const {
        return screens_ ? screens_->ExistingTableSelectionScreen() : nullptr;
    }
    void Store(const Profile& p, const QString& suffix) {
        store_.Save("Server" + suffix, QString::fromStdString(p.server));
        store_.Save("Port" + suffix, QString::fromStdString(p.port));
        store_.Save("User" + suffix, QString::fromStdString(p.user));
        store_.Save("Password" + suffix, QString::fromStdString(p.password));
        store_.Save("Database" + suffix, QString::fromStdString(p.database));
    }
    Profile Unreachable() const {
        Profile p = UserProfile("left");
        p.port = closed_.Port();
        return p;
    }
    std::vector<QString> Texts() const {
        std::vector<QString> out;
        for (const auto& s : shown_) out.push_back(s.text);
        return out;
    }
    void CopyHandCursor() {
        const auto source =
            std::filesystem::path(__FILE__).parent_path() / "../../resources/HAND-M.CUR";
        ASSERT_TRUE(
            QFile::copy(QString::fromStdString(source.string()), folder_.filePath("HAND-M.CUR")));
    }

    QTemporaryDir folder_;
    QTemporaryDir settings_;
    ProfileStore store_{settings_.filePath("Kestrelby.conf")};
    test::LoopbackPort closed_{test::LoopbackPort::Kind::Refusing};
    std::unique_ptr<Screens> screens_;
    Form1* form1_ = nullptr;
    std::vector<MessageBox::Shown> shown_;
    std::vector<int> pointer_at_message_;
};

TEST_F(Form1Test, ControlsCaptionsAndTabOrder) {
    Create();
    Form1& form = *form1_;
    const std::pair<const char*, const char*> frames[] = {
        {"Frame1", "PostgreSQL Database #1"},
        {"Frame2", "PostgreSQL Database #2 (Note: Login can be the same as #1)"},
        {"Frame3", "Other Software"}};
    for (const auto& [name, caption] : frames)
        EXPECT_EQ(form.findChild<QGroupBox*>(name)->title(), caption);
    const std::tuple<const char*, const char*, const char*> labels[] = {
        {"Label2", "Server:", "Text1"},   {"Label3", "Port:", "Text2"},
        {"Label1", "Username:", "Text3"}, {"Label4", "Password:", "Text4"},
        {"Label6", "Database:", "Text5"}, {"Label7", "Server:", "Text6"},
        {"Label9", "Port:", "Text7"},     {"Label5", "Username:", "Text8"},
        {"Label8", "Password:", "Text9"}, {"Label10", "Database:", "Text10"}};
    for (const auto& [name, caption, field] : labels) {
        auto* label = form.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), caption);
        EXPECT_EQ(label->buddy(), form.findChild<QLineEdit*>(field)) << name;
    }
    const std::pair<const char*, const char*> buttons[] = {
        {"PushButton3", "Test Connection"}, {"PushButton5", "Help"},
        {"PushButton6", "Test Connection"}, {"PushButton1", "Help"},
        {"PushButton2", "Next >"},          {"PushButton4", kLinkCaption}};
    for (const auto& [name, caption] : buttons)
        EXPECT_EQ(form.findChild<PushButton*>(name)->text(), caption);
    EXPECT_TRUE(
        Control<QGroupBox>(form, "Frame3")->isAncestorOf(Control<PushButton>(form, "PushButton4")));
    EXPECT_TRUE(QString(kLinkCaption).startsWith("Kestrelby "));
}

TEST_F(Form1Test, TheTabKeyVisitsTheFieldsThenTheButtonsAndComesBack) {
    Create();
    Form1& form = *form1_;
    form.show();
    form.activateWindow();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), Control<QLineEdit>(form, "Text1"));
    EXPECT_EQ(
        test::FocusAfterTabs(16),
        (std::vector<std::string>{"Text2", "Text3", "Text4", "Text5", "Text6", "Text7", "Text8",
                                  "Text9", "Text10", "PushButton3", "PushButton5", "PushButton6",
                                  "PushButton1", "PushButton2", "PushButton4", "Text1"}));
}

TEST_F(Form1Test, EveryCaptionFitsItsControlInTheScreensFont) {
    Create();
    Form1& form = *form1_;
    form.show();
    QApplication::processEvents();
    ASSERT_EQ(form.logicalDpiX(), 96);
    EXPECT_TRUE(test::CutOffCaptions(form).empty())
        << ::testing::PrintToString(test::CutOffCaptions(form));
    // Arial, or where Arial is missing its metric twin, for frames, labels, fields and buttons.
    for (const char* name : {"Frame2", "Label4", "Label10", "Text7", "PushButton4"}) {
        const QFontInfo font(Control(form, name)->font());
        if (test::ArialTwinInstalled()) {
            EXPECT_EQ(font.family(), test::kArialTwin) << name;
        }
        EXPECT_TRUE(font.bold()) << name;
    }
    EXPECT_DOUBLE_EQ(QFontInfo(Control(form, "Label4")->font()).pointSizeF(), 9);
    EXPECT_DOUBLE_EQ(QFontInfo(Control(form, "PushButton4")->font()).pointSizeF(), 11.25);
}

TEST_F(Form1Test, WindowAndPasswordMasks) {
    Create();
    Form1& form = *form1_;
    EXPECT_EQ(form.minimumSize(), QSize(536, 502));
    EXPECT_EQ(form.maximumSize(), QSize(536, 502));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::white));

    for (QLineEdit* secret :
         {Control<QLineEdit>(form, "Text4"), Control<QLineEdit>(form, "Text9")}) {
        secret->setText("abc");
        secret->ensurePolished();
        EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
        EXPECT_EQ(secret->displayText(), "***");
        EXPECT_EQ(secret->text(), "abc");
    }
    EXPECT_EQ(Control<QLineEdit>(form, "Text3")->echoMode(), QLineEdit::Normal);

    // Centred on the screen when first shown, with the server of profile #1 in focus.
    Control<QLineEdit>(form, "Text1")->setText("localhost");
    form.show();
    form.activateWindow();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), Control<QLineEdit>(form, "Text1"));
    EXPECT_EQ(Control<QLineEdit>(form, "Text1")->selectedText(), "localhost");
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((form.frameGeometry().center() - centre).manhattanLength(), 4);
}

TEST_F(Form1Test, StartUpFillsTheFieldsWithDefaultsOnlyForAbsentKeys) {
    store_.Save("Port2", "");
    store_.Save("User", "reports");
    Create();
    form1_->Form_Load();
    const std::vector<QString> shown = {
        Control<QLineEdit>(*form1_, "Text1")->text(), Control<QLineEdit>(*form1_, "Text2")->text(),
        Control<QLineEdit>(*form1_, "Text3")->text(), Control<QLineEdit>(*form1_, "Text6")->text(),
        Control<QLineEdit>(*form1_, "Text7")->text(), Control<QLineEdit>(*form1_, "Text8")->text()};
    EXPECT_EQ(shown, (std::vector<QString>{"localhost", "5432", "reports", "localhost", "", ""}));
    // The defaults shown are written back at once.
    ProfileStore reread(store_.FilePath());
    EXPECT_EQ(reread.Get("Server", "?"), "localhost");
    EXPECT_EQ(reread.Get("Port", "?"), "5432");
    EXPECT_EQ(reread.Get("Server2", "?"), "localhost");
    EXPECT_EQ(reread.Get("Port2", "?"), "");
    EXPECT_EQ(form1_->windowTitle(), "Tessaline Row Porter Suite");
    EXPECT_FALSE(form1_->windowIcon().isNull());
    EXPECT_EQ(AppTitle(), "Tessaline Row Porter");
    EXPECT_TRUE(shown_.empty());
    EXPECT_FALSE((TableSelection() != nullptr));
}

TEST_F(Form1Test, TypingWritesEveryChangeAndFocusSelectsTheWholeText) {
    Form1& form = Start(Unreachable(), Unreachable());
    Control<QLineEdit>(form, "Text5")->clear();
    for (const char* key : {"a", "b", "c"}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, key);
        QCoreApplication::sendEvent(Control<QLineEdit>(form, "Text5"), &press);
        EXPECT_EQ(ProfileStore(store_.FilePath()).Get("Database", "?"),
                  Control<QLineEdit>(form, "Text5")->text());
    }
    EXPECT_EQ(Control<QLineEdit>(form, "Text5")->text(), "abc");
    EXPECT_EQ(form.Profile1().database, "abc");

    Control<QLineEdit>(form, "Text5")->setCursorPosition(1);
    QFocusEvent focus(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(Control<QLineEdit>(form, "Text5"), &focus);
    EXPECT_EQ(Control<QLineEdit>(form, "Text5")->selectionStart(), 0);
    EXPECT_EQ(Control<QLineEdit>(form, "Text5")->selectedText(), "abc");
    Control<QLineEdit>(form, "Text8")->clear();
    QCoreApplication::sendEvent(Control<QLineEdit>(form, "Text8"), &focus);
    EXPECT_FALSE(Control<QLineEdit>(form, "Text8")->hasSelectedText());
}

TEST_F(Form1Test, ProfileFieldsTakeTextsOfAnyLength) {
    Form1& form = Start(Unreachable(), Unreachable());
    for (const char* name : {"Text5", "Text9"}) {
        auto* field = Control<QLineEdit>(form, name);
        field->setText(QString(32767, u'd'));
        field->setCursorPosition(32767);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, "x");
        QCoreApplication::sendEvent(field, &press);
        EXPECT_EQ(field->text().size(), 32768) << name;
    }
    EXPECT_EQ(form.Profile1().database, std::string(32767, 'd') + "x");
    EXPECT_EQ(form.Profile2().password, std::string(32767, 'd') + "x");
    EXPECT_EQ(ProfileStore(store_.FilePath()).Get("Database", "").size(), 32768);
}

TEST_F(Form1Test, ASettingsFileThatCannotBeWrittenIsReportedOnceNotAtEveryKeystroke) {
    // The store's folder is taken by a file, so nothing can be written there.
    QFile blocker(settings_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ProfileStore unwritable(settings_.filePath("blocked/Kestrelby.conf"));
    Screens screens(unwritable);
    Form1& form = screens.ConnectionScreen();
    Control<QLineEdit>(form, "Text5")->setText("a");
    Control<QLineEdit>(form, "Text5")->setText("ab");
    Control<QLineEdit>(form, "Text9")->setText("secret");
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].title, "Application Error");
    EXPECT_EQ(shown_[0].icon, MessageBox::Icon::Warning);
    EXPECT_TRUE(
        shown_[0].text.startsWith("The settings could not be saved in " + unwritable.FilePath()));
    EXPECT_TRUE(shown_[0].text.contains(
        "\r\nin TessalineRowPort2021/08/31.Form1.Text5_Change at line 0\r\r"));
}

TEST_F(Form1Test, ConnectionTestsShowTheirAnswerUnderTheBusyPointer) {
    Form1& form = Start(UserProfile("left"), Unreachable());
    Control<PushButton>(form, "PushButton3")->click();
    Control<PushButton>(form, "PushButton6")->click();
    EXPECT_EQ(Texts(),
              (std::vector<QString>{"Connection successful.",
                                    "Could not connect. Please check with your administrator."}));
    EXPECT_EQ(pointer_at_message_, (std::vector<int>{PointerState::kBusy, PointerState::kBusy}));
    EXPECT_EQ(shown_.front().title, "Tessaline Row Porter");
    EXPECT_EQ(form.Pointer().value(), PointerState::kDefault);
}

TEST_F(Form1Test, NextWithProfileOneWrongSaysSoAndNeverTriesProfileTwo) {
    test::LoopbackPort second;
    Profile two = UserProfile("left");
    two.port = second.Port();
    Form1& form = Start(Unreachable(), two);
    ASSERT_FALSE(second.Contacted());
    Control<PushButton>(form, "PushButton2")->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"Database #1 does not appear to be valid."});
    EXPECT_FALSE(second.Contacted());
    EXPECT_FALSE((TableSelection() != nullptr));
}

TEST_F(Form1Test, NextWithProfileTwoWrong) {
    Form1& form = Start(UserProfile("left"), Unreachable());
    form.show();
    Control<PushButton>(form, "PushButton2")->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"Database #2 does not appear to be valid."});
    EXPECT_TRUE(form.isVisible());
}

TEST_F(Form1Test, NextWithBothProfilesRightMovesOnToTheTableSelectionScreen) {
    Form1& form = Start(UserProfile("left"), Unreachable());
    form.show();
    Control<QLineEdit>(form, "Text7")
        ->setText(QString::fromStdString(UserProfile("left").port));  // now the same
    Control<PushButton>(form, "PushButton2")->click();
    EXPECT_TRUE((TableSelection() != nullptr));
    EXPECT_TRUE((*TableSelection()).isVisible());
    EXPECT_FALSE(form.isVisible());
    for (const auto& s : shown_) EXPECT_NE(s.title, "Application Error") << s.text.toStdString();
    EXPECT_FALSE(Control<QRadioButton>(*TableSelection(), "Option1")->isEnabled());
    EXPECT_EQ(Control<QGroupBox>(*TableSelection(), "Frame3")->title(),
              "PostgreSQL Database #1 (same file)");

    // Back, a trailing blank in one field: two databases again.
    (*TableSelection()).hide();
    form.show();
    Control<QLineEdit>(form, "Text10")->setText(Control<QLineEdit>(form, "Text10")->text() + " ");
    CreateDatabase("left ");
    Control<PushButton>(form, "PushButton2")->click();
    EXPECT_TRUE(Control<QRadioButton>(*TableSelection(), "Option2")->isEnabled());
    EXPECT_EQ(Control<QGroupBox>(*TableSelection(), "Frame1")->title(), "PostgreSQL Database #2");
}

TEST_F(Form1Test, AutoAdvanceOnlyWhenBothSavedProfilesConnect) {
    Start(UserProfile("left"), Unreachable());
    EXPECT_FALSE((TableSelection() != nullptr));
    Start(Unreachable(), UserProfile("left"));
    EXPECT_FALSE((TableSelection() != nullptr));
    EXPECT_TRUE(shown_.empty());

    Exec("left", "CREATE TABLE porter_rows (id int)");
    Start(UserProfile("left"), UserProfile("left"));
    ASSERT_TRUE((TableSelection() != nullptr));
    EXPECT_TRUE((*TableSelection()).isVisible());
    EXPECT_FALSE(form1_->isVisible());
    for (const auto& s : shown_) EXPECT_NE(s.title, "Application Error") << s.text.toStdString();
    EXPECT_FALSE(Control<QRadioButton>(*TableSelection(), "Option2")->isEnabled());
    EXPECT_EQ(Control<QGroupBox>(*TableSelection(), "Frame1")->title(),
              "PostgreSQL Database #2 (same file)");
    // Read twice (the screen's own load, then start-up), listed once.
    for (QListWidget* list : {Control<QListWidget>(*TableSelection(), "List1"),
                              Control<QListWidget>(*TableSelection(), "List2")})
        EXPECT_EQ(list->findItems("porter_rows", Qt::MatchExactly).size(), 1);
}

TEST_F(Form1Test, HelpAndLink) {
    Form1& form = Start(Unreachable(), Unreachable());
    Control<PushButton>(form, "PushButton5")->click();
    Control<PushButton>(form, "PushButton1")->click();
    const QString help =
        "If you can not connect, please try downloading pgAdmin III. If you can not connect with "
        "that software, you know the login information you are providing here is incorrect."
        "\r\n\r\nhttps://www.pgadmin.org/download/";
    EXPECT_EQ(Texts(), (std::vector<QString>{help, help}));
    EXPECT_EQ(shown_[0].title, "Tessaline Row Porter");
    EXPECT_EQ(shown_[0].icon, MessageBox::Icon::None);

    shown_.clear();
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    Control<PushButton>(form, "PushButton4")->click();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.opened.size(), 1u);
    EXPECT_EQ(catcher.opened[0], QUrl(kLinkAddress));
    EXPECT_TRUE(shown_.empty());
}

void MoveOnto(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

TEST_F(Form1Test, HandOverEveryPushButtonUnlessBusy) {
    CopyHandCursor();
    Form1& form = Start(Unreachable(), Unreachable());
    ASSERT_TRUE(form.Pointer().HasCustomImage());
    for (PushButton* button :
         {Control<PushButton>(form, "PushButton1"), Control<PushButton>(form, "PushButton2"),
          Control<PushButton>(form, "PushButton3"), Control<PushButton>(form, "PushButton4"),
          Control<PushButton>(form, "PushButton5"), Control<PushButton>(form, "PushButton6")}) {
        MoveOnto(Control<QLineEdit>(form, "Text1"));
        EXPECT_EQ(form.Pointer().value(), PointerState::kDefault);
        MoveOnto(button);
        EXPECT_EQ(form.Pointer().value(), PointerState::kCustom)
            << button->objectName().toStdString();
        EXPECT_EQ(form.cursor().shape(), Qt::BitmapCursor);
    }
    for (QWidget* reset : std::initializer_list<QWidget*>{
             &form, Control<QGroupBox>(form, "Frame1"), Control<QGroupBox>(form, "Frame2"),
             Control<QGroupBox>(form, "Frame3"), Control<QLineEdit>(form, "Text2"),
             Control<QLineEdit>(form, "Text5"), Control<QLineEdit>(form, "Text6"),
             Control<QLineEdit>(form, "Text10")}) {
        form.Pointer().Set(PointerState::kCustom);
        MoveOnto(reset);
        EXPECT_EQ(form.Pointer().value(), PointerState::kDefault)
            << reset->objectName().toStdString();
    }
    form.Pointer().Set(PointerState::kBusy);
    MoveOnto(Control<PushButton>(form, "PushButton2"));
    MoveOnto(Control<QGroupBox>(form, "Frame1"));
    EXPECT_EQ(form.Pointer().value(), PointerState::kBusy);
}

TEST_F(Form1Test, WithoutTheCursorFileTheHandIsTheDefaultPointer) {
    Form1& form = Start(Unreachable(), Unreachable());
    EXPECT_FALSE(form.Pointer().HasCustomImage());
    MoveOnto(Control<PushButton>(form, "PushButton3"));
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Form1Test, ADamagedCursorFileIsReportedAndStartUpGoesOn) {
    QFile bad(folder_.filePath("HAND-M.CUR"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("garbage");
    bad.close();
    Form1& form = Start(Unreachable(), Unreachable());
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].title, "Application Error");
    EXPECT_EQ(shown_[0].text, QString::fromStdString(ComposeErrorReport(
                                  "Invalid picture", LocationText("Form1", "Form_Load"), 126)));
    EXPECT_EQ(Control<QLineEdit>(form, "Text1")->text(),
              QString::fromStdString(Unreachable().server));
}

TEST_F(Form1Test, SkinPresentOrAbsent) {
    Form1& plain = Start(Unreachable(), Unreachable());
    EXPECT_FALSE(plain.Skin().Loaded());
    EXPECT_EQ(plain.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(Control<QGroupBox>(plain, "Frame1")->palette().color(QPalette::Window),
              QColor(Qt::white));

    QDir(folder_.path()).mkpath("x");
    QFile skin(folder_.filePath("x/o.cjs"));
    ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
    skin.write("QGroupBox { color: rgb(10, 20, 30); }");
    skin.close();
    Form1& skinned = Start(Unreachable(), Unreachable());
    const QColor face = QApplication::palette().color(QPalette::Active, QPalette::Button);
    EXPECT_TRUE(skinned.Skin().Loaded());
    EXPECT_EQ(skinned.styleSheet(), "QGroupBox { color: rgb(10, 20, 30); }");
    EXPECT_EQ(skinned.palette().color(QPalette::Window), face);
    EXPECT_EQ(Control<QGroupBox>(skinned, "Frame2")->palette().color(QPalette::Window), face);
    EXPECT_EQ(Control<QLabel>(skinned, "Label10")->palette().color(QPalette::Window), face);
    EXPECT_FALSE(Control<QLineEdit>(skinned, "Text1")->autoFillBackground());
}

TEST_F(Form1Test, ClosingTheConnectionScreenEndsTheProgram) {
    Form1& form = Start(Unreachable(), Unreachable());
    form.show();
    form.close();
    EXPECT_TRUE(ProgramEnding());
}

}  // namespace
}  // namespace trp

#include "form1_test.moc"
