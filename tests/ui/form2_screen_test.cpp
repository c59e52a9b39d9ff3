// The table selection screen as built: its controls, captions, keyboard order, layout and fonts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "support/controls.h"
#include "support/fixed_profiles.h"
#include "support/recording_navigator.h"
#include "support/screen_checks.h"
#include "ui/form2.h"
#include "ui/list_widget_target.h"
#include "ui/progress_bar.h"
#include "ui/push_button.h"

namespace trp {
namespace {

using test::Control;

class Form2ScreenTest : public ::testing::Test {
protected:
    template <typename T>
    T* Find(const char* name) {
        T* widget = form2.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // The window-relative rectangle of a control.
    QRect Box(QWidget* widget) {
        return QRect(widget->mapTo(&form2, QPoint(0, 0)), widget->size());
    }

    test::FixedProfiles profiles;
    test::RecordingNavigator navigator;
    Form2 form2{profiles, navigator};
};

TEST_F(Form2ScreenTest, EveryControlHasItsNameCaptionPlaceAndAccessibleName) {
    struct Expected {
        const char* name;
        const char* inside;
        QString caption;
    };
    const QString heading = "Select Similar Table to Append";
    const Expected controls[] = {
        {"Frame3", "Form2", "PostgreSQL Database #1"},
        {"Label2", "Frame3", heading},
        {"List1", "Frame3", {}},
        {"Frame1", "Form2", "PostgreSQL Database #2"},
        {"Label1", "Frame1", heading},
        {"List2", "Frame1", {}},
        {"Frame2", "Form2", "Options"},
        {"Option1", "Frame2", "Append to Table in Database #1"},
        {"Option2", "Frame2", "Append to Table in Database #2"},
        {"Label5", "Frame2", "Duplicate field names will have this text added to end:"},
        {"Text1", "Frame2", "1"},
        {"PushButton2", "Form2", "Start Appending"},
        {"PushButton5", "Form2", "Switch PostgreSQL DB"},
        {"ProgressBar1", "Form2", "Progress Bar"},
    };
    for (const auto& expected : controls) {
        QWidget* widget = Find<QWidget>(expected.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), expected.inside) << expected.name;
        QString caption;
        if (auto* frame = qobject_cast<QGroupBox*>(widget)) caption = frame->title();
        if (auto* label = qobject_cast<QLabel*>(widget)) caption = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) caption = button->text();
        if (auto* field = qobject_cast<QLineEdit*>(widget)) caption = field->text();
        if (auto* bar = qobject_cast<ProgressBar*>(widget)) caption = bar->text();
        EXPECT_EQ(caption, expected.caption) << expected.name;
    }
    EXPECT_EQ(Control<QListWidget>(form2, "List1")->count(), 0);
    EXPECT_EQ(Control<QListWidget>(form2, "List2")->count(), 0);
    EXPECT_EQ(Control<ProgressBar>(form2, "ProgressBar1")->percent(), 0);
    EXPECT_FALSE(Control<QLineEdit>(form2, "Text1")->isReadOnly());

    EXPECT_EQ(Control<QListWidget>(form2, "List1")->accessibleName(), "PostgreSQL Database #1");
    EXPECT_EQ(Control<QListWidget>(form2, "List2")->accessibleName(), "PostgreSQL Database #2");
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             Control<QRadioButton>(form2, "Option1"), Control<QRadioButton>(form2, "Option2"),
             Control<PushButton>(form2, "PushButton2"), Control<PushButton>(form2, "PushButton5")})
        EXPECT_EQ(button->accessibleName(), button->text());
}

TEST_F(Form2ScreenTest, TheTabKeyVisitsListsOptionsFieldAndButtonsInOrder) {
    form2.show();
    form2.activateWindow();
    Control(form2, "List1")->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), Control(form2, "List1"));
    // The two options are one stop, the one the user was on last, each in its own place.
    EXPECT_EQ(test::FocusAfterTabs(7),
              (std::vector<std::string>{"List2", "Option1", "Text1", "PushButton2", "PushButton5",
                                        "List1", "List2"}));
    EXPECT_EQ(test::FocusAfterTabs(1), std::vector<std::string>{"Option1"});
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &down);
    ASSERT_EQ(QApplication::focusWidget(), Control(form2, "Option2"));
    EXPECT_TRUE(Control<QRadioButton>(form2, "Option2")->isChecked());
    EXPECT_EQ(test::FocusAfterTabs(6),
              (std::vector<std::string>{"PushButton2", "PushButton5", "List1", "List2", "Text1",
                                        "Option2"}));

    for (QWidget* still : std::initializer_list<QWidget*>{
             Control<QGroupBox>(form2, "Frame1"), Control<QGroupBox>(form2, "Frame2"),
             Control<QGroupBox>(form2, "Frame3"), Control<QLabel>(form2, "Label1"),
             Control<QLabel>(form2, "Label2"), Control<QLabel>(form2, "Label5"),
             Control<ProgressBar>(form2, "ProgressBar1")})
        EXPECT_FALSE(still->focusPolicy() & Qt::TabFocus) << still->objectName().toStdString();
}

TEST_F(Form2ScreenTest, LayoutStacksFramesButtonsAndBarInTheClientArea) {
    form2.show();
    QApplication::processEvents();
    EXPECT_EQ(form2.size(), QSize(424, 460));

    const QRect frame3 = Box(Control<QGroupBox>(form2, "Frame3")),
                frame1 = Box(Control<QGroupBox>(form2, "Frame1")),
                frame2 = Box(Control<QGroupBox>(form2, "Frame2"));
    const QRect start = Box(Control<PushButton>(form2, "PushButton2")),
                change = Box(Control<PushButton>(form2, "PushButton5"));
    const QRect bar = Box(Control<ProgressBar>(form2, "ProgressBar1"));
    EXPECT_LE(frame3.bottom(), frame1.top());
    EXPECT_LE(frame1.bottom(), frame2.top());
    EXPECT_LE(frame2.bottom(), start.top());
    EXPECT_EQ(start.top(), change.top());
    EXPECT_LE(start.right(), change.left());
    EXPECT_LE(std::abs(start.width() - change.width()), 1);
    EXPECT_GT(start.width(), 424 * 2 / 5);
    EXPECT_LE(start.bottom(), bar.top());
    EXPECT_LE(bar.bottom(), 460);
    for (const QRect& wide : {frame3, frame1, frame2, bar}) EXPECT_GT(wide.width(), 400);

    // Inside the frames: heading above list; the options one above the other, then the label
    // with the narrow field at its right, both whole.
    EXPECT_LE(Box(Control<QLabel>(form2, "Label2")).bottom(),
              Box(Control<QListWidget>(form2, "List1")).top());
    EXPECT_LE(Box(Control<QLabel>(form2, "Label1")).bottom(),
              Box(Control<QListWidget>(form2, "List2")).top());
    EXPECT_GT(Control<QListWidget>(form2, "List1")->height(), 60);
    EXPECT_GT(Control<QListWidget>(form2, "List2")->height(), 60);
    const QRect label5 = Box(Control<QLabel>(form2, "Label5")),
                text1 = Box(Control<QLineEdit>(form2, "Text1"));
    EXPECT_LE(Box(Control<QRadioButton>(form2, "Option1")).bottom(),
              Box(Control<QRadioButton>(form2, "Option2")).top());
    EXPECT_LE(Box(Control<QRadioButton>(form2, "Option2")).bottom(),
              std::min(label5.top(), text1.top()));
    EXPECT_LE(label5.right(), text1.left());
    EXPECT_LT(std::abs(label5.center().y() - text1.center().y()), 4);
    EXPECT_LT(text1.width(), 60);
    EXPECT_LE(text1.right(), frame2.right());
}

TEST_F(Form2ScreenTest, EveryCaptionFitsItsControlInArialBold) {
    form2.show();
    QApplication::processEvents();
    ASSERT_EQ(form2.logicalDpiX(), 96);
    EXPECT_TRUE(test::CutOffCaptions(form2).empty())
        << ::testing::PrintToString(test::CutOffCaptions(form2));
    // Arial, or where Arial is missing its metric twin; 9 pt, and 11.25 pt on the push buttons.
    for (const char* name : {"Frame3", "Label2", "List1", "Option1", "Label5", "Text1",
                             "PushButton2", "PushButton5"}) {
        const QFontInfo font(Control(form2, name)->font());
        if (test::ArialTwinInstalled()) {
            EXPECT_EQ(font.family(), test::kArialTwin) << name;
        }
        EXPECT_TRUE(font.bold()) << name;
        EXPECT_DOUBLE_EQ(font.pointSizeF(), QString(name).startsWith("Push") ? 11.25 : 9) << name;
    }
}

TEST_F(Form2ScreenTest, ListsKeepTheirItemsInAlphabeticalOrder) {
    for (QListWidget* list :
         {Control<QListWidget>(form2, "List1"), Control<QListWidget>(form2, "List2")}) {
        ListWidgetTarget target(*list);
        for (const char* name : {"orders", "Customers", "pg_class", "accounts", "Zones"})
            target.AddItem(name);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
        EXPECT_EQ(shown, QStringList({"accounts", "Customers", "orders", "pg_class", "Zones"}));
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    }
}

TEST_F(Form2ScreenTest, DirectionStartsOnOption1AndKeepsItsChoiceAcrossHideAndShow) {
    EXPECT_TRUE(Control<QRadioButton>(form2, "Option1")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(form2, "Option2")->isChecked());
    form2.show();
    Control<QRadioButton>(form2, "Option2")->click();
    EXPECT_FALSE(Control<QRadioButton>(form2, "Option1")->isChecked());
    form2.hide();
    form2.show();
    EXPECT_TRUE(Control<QRadioButton>(form2, "Option2")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(form2, "Option1")->isChecked());

    // The same-database marking disables the options; the choice stays in force.
    Control<QRadioButton>(form2, "Option1")->setEnabled(false);
    Control<QRadioButton>(form2, "Option2")->setEnabled(false);
    form2.hide();
    form2.show();
    EXPECT_TRUE(Control<QRadioButton>(form2, "Option2")->isChecked());
}

}  // namespace
}  // namespace trp
