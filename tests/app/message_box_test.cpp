// The refused row's report as the user meets it: a real box with "OK" and "Stop Appending", over
// its screen, where Escape and the close button mean "OK".
#include "app/message_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace trp {
namespace {

// Shows the box and, once it is up, lets `answer` act on it.
MessageBox::Choice ShowAndAnswer(QWidget& screen, std::function<void(QMessageBox&)> answer) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget(), &screen);
        QStringList captions;
        for (QAbstractButton* button : box->buttons()) captions << button->text();
        captions.sort();
        EXPECT_EQ(captions, (QStringList{"OK", "Stop Appending"}));
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
        answer(*box);
    });
    return MessageBox::ShowOfferingStop("refused", MessageBox::Icon::Warning, "Application Error",
                                        &screen);
}

TEST(RowReportBox, OffersToStopAndTakesEscapeAndClosingAsOk) {
    QWidget screen;
    screen.show();
    EXPECT_EQ(ShowAndAnswer(
                  screen,
                  [](QMessageBox& box) { box.findChild<QPushButton*>("StopAppending")->click(); }),
              MessageBox::Choice::StopAppending);
    EXPECT_EQ(ShowAndAnswer(screen, [](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); }),
              MessageBox::Choice::Ok);
    EXPECT_EQ(ShowAndAnswer(screen,
                            [](QMessageBox& box) {
                                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                                QApplication::sendEvent(&box, &escape);
                            }),
              MessageBox::Choice::Ok);
    EXPECT_EQ(ShowAndAnswer(screen, [](QMessageBox& box) { box.close(); }), MessageBox::Choice::Ok);
}

TEST(RowReportBox, RecordedBoxesTakeTheNextChoiceOnce) {
    std::vector<MessageBox::Shown> shown;
    MessageBox::SetRecorder([&](const MessageBox::Shown& box) { shown.push_back(box); });
    MessageBox::SetNextChoice(MessageBox::Choice::StopAppending);
    EXPECT_EQ(MessageBox::ShowOfferingStop("one", MessageBox::Icon::Warning, "t"),
              MessageBox::Choice::StopAppending);
    EXPECT_EQ(MessageBox::ShowOfferingStop("two", MessageBox::Icon::Warning, "t"),
              MessageBox::Choice::Ok);
    MessageBox::Show("plain");
    MessageBox::SetRecorder({});
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_TRUE(shown[0].offers_stop);
    EXPECT_FALSE(shown[2].offers_stop);
}

}  // namespace
}  // namespace trp
