// The table selection screen's handlers: load, "Switch PostgreSQL DB", the close box, the
// hover rule, and the hand cursor the load puts on the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImageWriter>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <stdexcept>

#include "app/hand_cursor.h"
#include "app/message_box.h"
#include "app/pointer_state.h"
#include "app/program_end.h"
#include "app/push_button.h"
#include "append/form2.h"
#include "connection/form1.h"
#include "connection/profile_store.h"
#include "support/pg_fixture.h"
#include "support/profile_fields.h"

namespace trp {
namespace {

using test::PgTest;

// A cursor file of 32 × 32 pixels with the given hot spot: an icon file as Qt writes one, marked
// as a cursor, the hot spot in its directory entry.
QByteArray CursorFile(int hot_x, int hot_y) {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(8, 0, 8, 24, Qt::black);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "ico");
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    QByteArray bytes = buffer.data();
    bytes[2] = 2;
    bytes[10] = static_cast<char>(hot_x);
    bytes[11] = 0;
    bytes[12] = static_cast<char>(hot_y);
    bytes[13] = 0;
    return bytes;
}

// Writes a file for the duration of a test and removes it afterwards.
class TemporaryFile {
public:
    TemporaryFile(QString path, const QByteArray& bytes) : path_(std::move(path)) {
        QFile file(path_);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    ~TemporaryFile() { QFile::remove(path_); }
    const QString& path() const { return path_; }

private:
    QString path_;
};

// The line number that an error report names.
int ReportedLine(const QString& report) {
    const auto at = report.indexOf("at line ");
    return at < 0 ? -1 : report.mid(at + 8).section('\r', 0, 0).toInt();
}

class Form2HandlersTest : public PgTest {
protected:
    void SetUp() override {
        MessageBox::SetRecorder(
            [this](const MessageBox::Shown& shown) { shown_.push_back(shown); });
    }
    void TearDown() override {
        MessageBox::SetRecorder({});
        ResetProgramEnding();
    }

    void SetProfiles(const Profile& p1, const Profile& p2) {
        test::FillProfileFields(form1, p1, p2);
    }
    Profile Wrong() {
        Profile profile = UserProfile("postgres");
        profile.password = "wrong";
        return profile;
    }
    QStringList Reports() const {
        QStringList reports;
        for (const auto& shown : shown_)
            if (shown.title == "Application Error") reports << shown.text;
        return reports;
    }
    static void MoveOver(QWidget* widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }

    std::vector<MessageBox::Shown> shown_;
    ProfileStore store{QString::fromStdString(testing::TempDir() + "form2-handlers.ini")};
    Form1 form1{store};
    Form2 form2{form1};
};

TEST_F(Form2HandlersTest, LoadSetsCaptionAndIconAndLetsEachListingReportItsOwnFailures) {
    SetProfiles(Wrong(), Wrong());
    form2.List1->addItem("stale");
    form2.Form_Load();

    EXPECT_EQ(form2.windowTitle(), "Tessaline Row Porter Suite");
    EXPECT_EQ(form2.windowIcon().cacheKey(), form1.windowIcon().cacheKey());
    EXPECT_EQ(form2.List1->count(), 0);
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 6);
    const QString listing = "in TessalineRowPort2021/08/31.PostgreSQL.AddTablesToPostgreSQLListbox";
    const int lines[] = {108, 110, 112, 108, 110, 112};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ReportedLine(reports[i]), lines[i]);
        EXPECT_TRUE(reports[i].contains(listing + (i < 3 ? " at" : "2 at")))
            << reports[i].toStdString();
    }
    EXPECT_FALSE(form2.Pointer().HasCustomImage());
}

TEST_F(Form2HandlersTest, LoadFillsBothListsFromTheCurrentProfilesAndRefillsThemWhole) {
    CreateDatabase("form2_one");
    CreateDatabase("form2_two");
    Exec("form2_one", "CREATE TABLE customers (id int)");
    Exec("form2_two", "CREATE TABLE invoices (id int)");
    SetProfiles(UserProfile("form2_one"), UserProfile("form2_two"));

    form2.Form_Load();
    EXPECT_TRUE(Reports().isEmpty());
    const int count1 = form2.List1->count();
    ASSERT_EQ(form2.List1->findItems("customers", Qt::MatchExactly).size(), 1);
    EXPECT_TRUE(form2.List1->findItems("invoices", Qt::MatchExactly).isEmpty());
    ASSERT_EQ(form2.List2->findItems("invoices", Qt::MatchExactly).size(), 1);

    form2.List1->findItems("customers", Qt::MatchExactly).front()->setSelected(true);
    form2.Option2->setChecked(true);
    form2.Form_Load();
    EXPECT_EQ(form2.List1->count(), count1);
    EXPECT_TRUE(form2.List1->selectedItems().isEmpty());
    EXPECT_TRUE(form2.Option2->isChecked());
}

TEST_F(Form2HandlersTest, LoadPutsTheHandCursorOnTheScreenOrReportsAnUnreadableFile) {
    const QByteArray cursor = CursorFile(5, 7);
    const QCursor loaded =
        LoadCursorFile(TemporaryFile(QDir::tempPath() + "/hand.cur", cursor).path());
    EXPECT_EQ(loaded.hotSpot(), QPoint(5, 7));
    EXPECT_EQ(loaded.pixmap().size(), QSize(32, 32));
    EXPECT_THROW(LoadCursorFile(QDir::tempPath() + "/no-such-cursor.cur"), std::runtime_error);

    SetProfiles(Wrong(), Wrong());
    {
        TemporaryFile hand(HandCursorPath(), cursor);
        form2.Form_Load();
        EXPECT_TRUE(form2.Pointer().HasCustomImage());
        EXPECT_EQ(Reports().size(), 6);  // the two listings only
    }
    shown_.clear();
    Form2 other(form1);
    {
        TemporaryFile broken(HandCursorPath(), "not a cursor");
        other.Form_Load();
    }
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 7);
    EXPECT_TRUE(reports[0].startsWith(
        "Invalid picture\r\nin TessalineRowPort2021/08/31.Form2.Form_Load at line 108\r\r"))
        << reports[0].toStdString();
    EXPECT_FALSE(other.Pointer().HasCustomImage());
    // The load went on: caption and listings.
    EXPECT_EQ(other.windowTitle(), "Tessaline Row Porter Suite");
}

TEST_F(Form2HandlersTest, SwitchShowsTheConnectionScreenAndHidesThisOne) {
    form2.show();
    form2.List1->addItem("kept");
    form2.List1->item(0)->setSelected(true);
    form2.PushButton5->click();
    EXPECT_TRUE(form1.isVisible());
    EXPECT_FALSE(form2.isVisible());
    EXPECT_TRUE(shown_.empty());
    // Hidden, not unloaded: the list and its selection stay.
    EXPECT_EQ(form2.List1->selectedItems().size(), 1);
    EXPECT_FALSE(ProgramEnding());
}

TEST_F(Form2HandlersTest, ClosingTheScreenEndsTheProgram) {
    form2.show();
    EXPECT_FALSE(ProgramEnding());
    form2.close();
    EXPECT_TRUE(ProgramEnding());
}

TEST_F(Form2HandlersTest, SecondPressDuringARunIsIgnoredAndSwitchStillWorks) {
    form2.show();
    int messages = 0;
    bool appending_meanwhile = false;
    // Whatever the run says first (with no table selected it stops at once), the user presses
    // both buttons while its box is open.
    MessageBox::SetRecorder([&](const MessageBox::Shown&) {
        if (++messages > 1) return;
        appending_meanwhile = form2.Appending();
        form2.PushButton2->click();
        form2.PushButton5->click();
    });
    form2.PushButton2->click();
    EXPECT_EQ(messages, 1);
    EXPECT_TRUE(appending_meanwhile);
    EXPECT_FALSE(form2.Appending());
    EXPECT_FALSE(form2.isVisible());
    EXPECT_TRUE(form1.isVisible());
}

TEST_F(Form2HandlersTest, HoverShowsTheHandOverButtonsAndNeverReplacesTheBusyPointer) {
    form2.show();
    PointerState& pointer = form2.Pointer();
    EXPECT_EQ(pointer.value(), PointerState::kDefault);

    MoveOver(form2.PushButton2);
    EXPECT_EQ(pointer.value(), PointerState::kCustom);
    MoveOver(form2.Frame3);
    EXPECT_EQ(pointer.value(), PointerState::kDefault);
    for (QWidget* reset : std::initializer_list<QWidget*>{&form2, form2.Frame1, form2.Frame2,
                                                          form2.List1->viewport()}) {
        MoveOver(form2.PushButton5);
        EXPECT_EQ(pointer.value(), PointerState::kCustom);
        MoveOver(reset);
        EXPECT_EQ(pointer.value(), PointerState::kDefault) << reset->objectName().toStdString();
    }

    pointer.Set(PointerState::kBusy);
    for (QWidget* any :
         std::initializer_list<QWidget*>{form2.PushButton2, form2.PushButton5, &form2, form2.Frame3,
                                         form2.Frame1, form2.Frame2, form2.List1->viewport()}) {
        MoveOver(any);
        EXPECT_EQ(pointer.value(), PointerState::kBusy);
    }
    EXPECT_EQ(form2.cursor().shape(), Qt::WaitCursor);
}

}  // namespace
}  // namespace trp
