// The table selection screen as built: its controls, captions, keyboard order, layout and fonts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "settings/profile_store.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/list_widget_target.h"
#include "ui/progress_bar.h"
#include "ui/push_button.h"

namespace trp {
namespace {

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

    ProfileStore store{QString::fromStdString(testing::TempDir() + "form2-screen.ini")};
    Form1 form1{store};
    Form2 form2{form1};
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
    EXPECT_EQ(form2.List1->count(), 0);
    EXPECT_EQ(form2.List2->count(), 0);
    EXPECT_EQ(form2.ProgressBar1->percent(), 0);
    EXPECT_FALSE(form2.Text1->isReadOnly());

    EXPECT_EQ(form2.List1->accessibleName(), "PostgreSQL Database #1");
    EXPECT_EQ(form2.List2->accessibleName(), "PostgreSQL Database #2");
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             form2.Option1, form2.Option2, form2.PushButton2, form2.PushButton5})
        EXPECT_EQ(button->accessibleName(), button->text());
}

TEST_F(Form2ScreenTest, KeyboardVisitsListsOptionsFieldAndButtonsInOrder) {
    const QStringList focusable = {"List1",   "List2",       "Option1",    "Text1",
                                   "Option2", "PushButton2", "PushButton5"};
    QStringList visited;
    QWidget* widget = form2.List1;
    do {
        if (focusable.contains(widget->objectName())) visited << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != form2.List1 && visited.size() < 20);
    EXPECT_EQ(visited, focusable);

    for (QWidget* still :
         std::initializer_list<QWidget*>{form2.Frame1, form2.Frame2, form2.Frame3, form2.Label1,
                                         form2.Label2, form2.Label5, form2.ProgressBar1})
        EXPECT_FALSE(still->focusPolicy() & Qt::TabFocus) << still->objectName().toStdString();
}

TEST_F(Form2ScreenTest, LayoutStacksFramesButtonsAndBarInTheClientArea) {
    form2.show();
    QApplication::processEvents();
    EXPECT_EQ(form2.size(), QSize(424, 460));

    const QRect frame3 = Box(form2.Frame3), frame1 = Box(form2.Frame1), frame2 = Box(form2.Frame2);
    const QRect start = Box(form2.PushButton2), change = Box(form2.PushButton5);
    const QRect bar = Box(form2.ProgressBar1);
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
    EXPECT_LE(Box(form2.Label2).bottom(), Box(form2.List1).top());
    EXPECT_LE(Box(form2.Label1).bottom(), Box(form2.List2).top());
    EXPECT_GT(form2.List1->height(), 60);
    EXPECT_GT(form2.List2->height(), 60);
    const QRect label5 = Box(form2.Label5), text1 = Box(form2.Text1);
    EXPECT_LE(Box(form2.Option1).bottom(), Box(form2.Option2).top());
    EXPECT_LE(Box(form2.Option2).bottom(), std::min(label5.top(), text1.top()));
    EXPECT_LE(label5.right(), text1.left());
    EXPECT_LT(std::abs(label5.center().y() - text1.center().y()), 4);
    EXPECT_LT(text1.width(), 60);
    EXPECT_LE(text1.right(), frame2.right());
    EXPECT_GE(form2.Label5->width(), form2.Label5->sizeHint().width());
}

TEST_F(Form2ScreenTest, FontsAreArialBoldWithLargerPushButtons) {
    for (QWidget* widget : std::initializer_list<QWidget*>{
             form2.Frame3, form2.Label2, form2.List1, form2.Option1, form2.Label5, form2.Text1}) {
        EXPECT_EQ(widget->font().family(), "Arial") << widget->objectName().toStdString();
        EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), 9);
        EXPECT_TRUE(widget->font().bold());
    }
    for (PushButton* button : {form2.PushButton2, form2.PushButton5}) {
        EXPECT_EQ(button->font().family(), "Arial");
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), 11.25);
        EXPECT_TRUE(button->font().bold());
    }
}

TEST_F(Form2ScreenTest, ListsKeepTheirItemsInAlphabeticalOrder) {
    for (QListWidget* list : {form2.List1, form2.List2}) {
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
    EXPECT_TRUE(form2.Option1->isChecked());
    EXPECT_FALSE(form2.Option2->isChecked());
    form2.show();
    form2.Option2->click();
    EXPECT_FALSE(form2.Option1->isChecked());
    form2.hide();
    form2.show();
    EXPECT_TRUE(form2.Option2->isChecked());
    EXPECT_FALSE(form2.Option1->isChecked());

    // The same-database marking disables the options; the choice stays in force.
    form2.Option1->setEnabled(false);
    form2.Option2->setEnabled(false);
    form2.hide();
    form2.show();
    EXPECT_TRUE(form2.Option2->isChecked());
}

}  // namespace
}  // namespace trp
