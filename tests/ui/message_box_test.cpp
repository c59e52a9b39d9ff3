// Message boxes as the user meets them: the error report's blank line under every style, the
// refused row's report, a real box with "OK", "Stop Appending" and "Ignore All" over its screen,
// where Escape and the close button mean "OK", and the last box of a run that refused rows, whose
// "Show Refused Rows" opens their folder.
#include "ui/message_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <vector>

#include "base/error_report.h"

namespace trp {
namespace {

// The tallest run of rows without ink between two rows with ink: the space between lines of text.
int WidestGapBetweenLines(const QImage& image) {
    int widest = 0, gap = 0;
    bool inked_before = false;
    for (int y = 0; y < image.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < image.width() && !ink; ++x) ink = qGray(image.pixel(x, y)) < 128;
        if (!ink) {
            ++gap;
            continue;
        }
        if (inked_before) widest = std::max(widest, gap);
        inked_before = true;
        gap = 0;
    }
    return widest;
}

TEST(ErrorReportBox, TheRequestStandsAfterABlankLineUnderEveryStyle) {
    const QString report =
        QString::fromStdString(ComposeErrorReport("boom", LocationText("Form1", "Form_Load"), 116));
    ASSERT_TRUE(report.contains("116\r\rPlease"));
    const QString style_before = QApplication::style()->name();
    for (const char* style : {"Windows", "Fusion"}) {
        QApplication::setStyle(QStyleFactory::create(style));
        int widest_gap = -1, line_spacing = 0;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            ASSERT_NE(label, nullptr);
            widest_gap = WidestGapBetweenLines(label->grab().toImage());
            line_spacing = label->fontMetrics().lineSpacing();
            box->accept();
        });
        MessageBox::Show(report, MessageBox::Icon::Warning, "Application Error");
        EXPECT_GE(widest_gap, line_spacing) << style;
    }
    QApplication::setStyle(QStyleFactory::create(style_before));
}

// Shows the box and, once it is up, lets `answer` act on it.
MessageBox::Choice ShowAndAnswer(QWidget& screen, std::function<void(QMessageBox&)> answer) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget(), &screen);
        QStringList captions;
        for (QAbstractButton* button : box->buttons()) captions << button->text();
        captions.sort();
        EXPECT_EQ(captions, (QStringList{"Ignore All", "OK", "Stop Appending"}));
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
    EXPECT_EQ(
        ShowAndAnswer(screen,
                      [](QMessageBox& box) { box.findChild<QPushButton*>("IgnoreAll")->click(); }),
        MessageBox::Choice::IgnoreAll);
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
    MessageBox::SetNextChoice(MessageBox::Choice::IgnoreAll);
    EXPECT_EQ(MessageBox::ShowOfferingStop("three", MessageBox::Icon::Warning, "t"),
              MessageBox::Choice::IgnoreAll);
    // A choice the box does not offer counts as "OK".
    MessageBox::SetNextChoice(MessageBox::Choice::ShowRefusedRows);
    EXPECT_EQ(MessageBox::ShowOfferingStop("four", MessageBox::Icon::Warning, "t"),
              MessageBox::Choice::Ok);
    MessageBox::Show("plain");
    MessageBox::SetRecorder({});
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_TRUE(shown[0].offers_stop);
    EXPECT_EQ(shown[0].buttons, (QStringList{"OK", "Stop Appending", "Ignore All"}));
    EXPECT_FALSE(shown[4].offers_stop);
    EXPECT_EQ(shown[4].buttons, QStringList{"OK"});
}

// The folder the desktop's file manager was asked to open, for as long as it lives.
class OpenedUrls {
public:
    OpenedUrls() {
        MessageBox::SetUrlOpener([this](const QUrl& url) {
            urls.push_back(url);
            return true;
        });
    }
    ~OpenedUrls() { MessageBox::SetUrlOpener({}); }
    std::vector<QUrl> urls;
};

const QString kFolder = QStringLiteral("/home/someone/.local/state/tessaline-row-porter/refused");
const QString kNote = "2 rows were refused; they are listed in " + kFolder + "/x.csv.";

MessageBox::Choice ShowRefusedRowsAndAnswer(QWidget& screen,
                                            std::function<void(QMessageBox&)> answer) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget(), &screen);
        EXPECT_EQ(box->text(), "Done.");
        EXPECT_EQ(box->informativeText(), kNote);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        QStringList captions;
        for (QAbstractButton* button : box->buttons()) captions << button->text();
        captions.sort();
        EXPECT_EQ(captions, (QStringList{"OK", "Show Refused Rows"}));
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
        answer(*box);
    });
    return MessageBox::ShowWithRefusedRows("Done.", kNote, kFolder, &screen);
}

TEST(RefusedRowsBox, ShowRefusedRowsOpensTheFolderAndClosesTheBox) {
    QWidget screen;
    screen.show();
    OpenedUrls opened;
    EXPECT_EQ(ShowRefusedRowsAndAnswer(screen,
                                       [](QMessageBox& box) {
                                           box.findChild<QPushButton*>("ShowRefusedRows")->click();
                                       }),
              MessageBox::Choice::ShowRefusedRows);
    EXPECT_EQ(opened.urls, std::vector<QUrl>{QUrl::fromLocalFile(kFolder)});
    EXPECT_EQ(opened.urls[0].toString(), "file://" + kFolder);

    // OK, Escape and closing open nothing.
    EXPECT_EQ(ShowRefusedRowsAndAnswer(
                  screen, [](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); }),
              MessageBox::Choice::Ok);
    EXPECT_EQ(ShowRefusedRowsAndAnswer(screen,
                                       [](QMessageBox& box) {
                                           QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape,
                                                            Qt::NoModifier);
                                           QApplication::sendEvent(&box, &escape);
                                       }),
              MessageBox::Choice::Ok);
    EXPECT_EQ(ShowRefusedRowsAndAnswer(screen, [](QMessageBox& box) { box.close(); }),
              MessageBox::Choice::Ok);
    EXPECT_EQ(opened.urls.size(), 1u);
}

TEST(RefusedRowsBox, RecordedBoxShowsItsSecondLineAndItsButtonOpensTheFolder) {
    std::vector<MessageBox::Shown> shown;
    MessageBox::SetRecorder([&](const MessageBox::Shown& box) { shown.push_back(box); });
    OpenedUrls opened;
    EXPECT_EQ(MessageBox::ShowWithRefusedRows("Done.", kNote, kFolder), MessageBox::Choice::Ok);
    EXPECT_TRUE(opened.urls.empty());
    MessageBox::SetNextChoice(MessageBox::Choice::IgnoreAll);  // not offered: "OK"
    EXPECT_EQ(MessageBox::ShowWithRefusedRows("Done.", kNote, kFolder), MessageBox::Choice::Ok);
    MessageBox::SetNextChoice(MessageBox::Choice::ShowRefusedRows);
    EXPECT_EQ(MessageBox::ShowWithRefusedRows("Done.", kNote, kFolder),
              MessageBox::Choice::ShowRefusedRows);
    MessageBox::SetRecorder({});
    EXPECT_EQ(opened.urls, std::vector<QUrl>{QUrl::fromLocalFile(kFolder)});
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "Done.");
    EXPECT_EQ(shown[0].informative, kNote);
    EXPECT_EQ(shown[0].icon, MessageBox::Icon::None);
    EXPECT_EQ(shown[0].title, AppTitle());
    EXPECT_EQ(shown[0].buttons, (QStringList{"OK", "Show Refused Rows"}));
}

}  // namespace
}  // namespace trp
